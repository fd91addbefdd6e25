// Answers "which packages do I need?" from the page's own data; the table works without it.
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('page-data').textContent);
  var packages = data.packages; // oldest first, one step each
  var texts = data.texts;
  var oldest = packages[0].to - 1;
  var newest = packages[packages.length - 1].to;
  var megabyte = 1048576;

  // The version texts the history itself shows, for the versions it holds.
  var shownOf = {};
  var versionOfShown = {};
  packages.forEach(function (item) {
    shownOf[item.to - 1] = item.fromShown;
    shownOf[item.to] = item.toShown;
  });
  Object.keys(shownOf).forEach(function (version) {
    versionOfShown[shownOf[version]] = Number(version);
  });

  // As the updater shows a version: divided by 100 in single precision, two decimals.
  function shown(version) {
    return shownOf.hasOwnProperty(version) ? shownOf[version]
                                           : Math.fround(version / 100).toFixed(2);
  }

  // As the page's table writes sizes: hundredths of a MB rounded half up, in whole numbers.
  function megabytes(bytes) {
    var hundredths = Math.floor(bytes / megabyte) * 100 +
                     Math.floor(((bytes % megabyte) * 100 + megabyte / 2) / megabyte);
    var fraction = String(hundredths % 100);
    return Math.floor(hundredths / 100) + '.' + (fraction.length < 2 ? '0' : '') + fraction + ' MB';
  }

  function grouped(number) {
    return String(number).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
  }

  function fill(template, values) {
    return template.replace(/\{(\w+)\}/g, function (whole, name) {
      return values.hasOwnProperty(name) ? String(values[name]) : whole;
    });
  }

  // 31.85 as the updater's label shows it, or 3185 as its messages print it; full-width digits
  // and points from a Chinese input method too. null when it is no version.
  function versionOf(typed) {
    var text = typed.trim()
      .replace(/[\uFF10-\uFF19]/g, function (digit) {
        return String.fromCharCode(digit.charCodeAt(0) - 0xFEE0);
      })
      .replace(/[\uFF0E\u3002]/g, '.');
    var parts = /^(\d{1,10})(?:\.(\d{1,2}))?$/.exec(text);
    if (!parts) {
      return null;
    }
    if (parts[2] !== undefined && versionOfShown.hasOwnProperty(text)) {
      return versionOfShown[text];
    }
    var version = parts[2] === undefined
      ? Number(parts[1])
      : Number(parts[1]) * 100 + Number((parts[2] + '0').slice(0, 2));
    return version <= 4294967295 ? version : null;
  }

  function paragraph(text) {
    var element = document.createElement('p');
    element.textContent = text;
    return element;
  }

  function stepList(needed) {
    var list = document.createElement('ol');
    needed.forEach(function (item) {
      var link = document.createElement('a');
      link.href = item.link;
      link.textContent = item.file;
      var details = document.createElement('span');
      details.textContent = item.fromShown + ' \u2192 ' + item.toShown + ', ' + megabytes(item.size);
      var entry = document.createElement('li');
      entry.appendChild(link);
      entry.appendChild(details);
      list.appendChild(entry);
    });
    return list;
  }

  // The answer's nodes for what the player typed.
  function answerFor(typed) {
    var version = versionOf(typed);
    if (version === null) {
      return [paragraph(texts.notAVersion)];
    }
    var values = { from: shown(version), oldest: shown(oldest), newest: shown(newest) };
    if (version === newest) {
      return [paragraph(fill(texts.current, values))];
    }
    if (version > newest) {
      return [paragraph(fill(texts.newer, values))];
    }
    if (version < oldest) {
      return [paragraph(fill(texts.notReached, values))];
    }
    var needed = packages.filter(function (item) { return item.to > version; });
    var bytes = needed.reduce(function (sum, item) { return sum + item.size; }, 0);
    values.count = needed.length;
    values.size = megabytes(bytes);
    values.bytes = grouped(bytes);
    return [paragraph(fill(texts.steps, values)), stepList(needed)];
  }

  var box = document.getElementById('which');
  var form = document.getElementById('which-form');
  var input = document.getElementById('from');
  var answer = document.getElementById('answer');

  function show(typed) {
    while (answer.firstChild) {
      answer.removeChild(answer.firstChild);
    }
    answerFor(typed).forEach(function (node) { answer.appendChild(node); });
  }

  form.addEventListener('submit', function (event) {
    event.preventDefault();
    show(input.value);
    try {
      // The address now leads back to this answer, for a support reply to quote.
      history.replaceState(null, '', '?from=' + encodeURIComponent(input.value.trim()));
    } catch (refused) {
      // Some browsers keep file: addresses as they are; the answer is shown all the same.
    }
  });

  box.hidden = false;
  var from = new URLSearchParams(window.location.search).get('from');
  if (from !== null) {
    input.value = from;
    show(from);
  }
}());
