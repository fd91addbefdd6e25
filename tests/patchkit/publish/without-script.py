#!/usr/bin/python3
"""without-script.py CHROMIUM_FLAGS URL WIDTH DOM_OUT PNG_OUT

Opens URL in headless chromium with scripts disabled, as a player's browser with script off shows
it, through the DevTools protocol on a pipe (chromium's own --dump-dom and --screenshot need
script): writes the document as loaded to DOM_OUT and a screenshot WIDTH pixels wide to PNG_OUT.
"""
import base64, json, os, shlex, subprocess, sys

flags, url, width, dom_out, png_out = sys.argv[1:6]

# chromium reads commands from its fd 3 and answers on its fd 4.
to_browser_read, to_browser_write = os.pipe()
from_browser_read, from_browser_write = os.pipe()


def set_up_pipes():
    os.dup2(to_browser_read, 3)
    os.dup2(from_browser_write, 4)


browser = subprocess.Popen(shlex.split(flags) + ['--remote-debugging-pipe', 'about:blank'],
                           preexec_fn=set_up_pipes, pass_fds=(3, 4),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
os.close(to_browser_read)
os.close(from_browser_write)
answers = os.fdopen(from_browser_read, 'rb')
pending = b''
last_id = 0


def message():
    global pending
    while b'\0' not in pending:
        more = answers.read1(65536)
        if not more:
            sys.exit('chromium closed the pipe')
        pending += more
    text, pending = pending.split(b'\0', 1)
    return json.loads(text)


def send(method, params=None, session=None, wait_event=None):
    """The result of a command; with wait_event, also waits for that event of the session."""
    global last_id
    last_id += 1
    command = {'id': last_id, 'method': method, 'params': params or {}}
    if session:
        command['sessionId'] = session
    os.write(to_browser_write, json.dumps(command).encode() + b'\0')
    result, seen = None, wait_event is None
    while result is None or not seen:
        received = message()
        if received.get('id') == last_id:
            if 'error' in received:
                sys.exit(method + ': ' + json.dumps(received['error']))
            result = received['result']
        elif received.get('method') == wait_event and received.get('sessionId') == session:
            seen = True
    return result


target = send('Target.createTarget', {'url': 'about:blank'})['targetId']
session = send('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']
send('Emulation.setScriptExecutionDisabled', {'value': True}, session)
send('Emulation.setDeviceMetricsOverride',
     {'width': int(width), 'height': 900, 'deviceScaleFactor': 1, 'mobile': False}, session)
send('Page.enable', {}, session)
send('Page.navigate', {'url': url}, session, wait_event='Page.loadEventFired')
root = send('DOM.getDocument', {'depth': -1}, session)['root']['nodeId']
with open(dom_out, 'w', encoding='utf-8') as out:
    out.write(send('DOM.getOuterHTML', {'nodeId': root}, session)['outerHTML'])
shot = send('Page.captureScreenshot', {'format': 'png', 'captureBeyondViewport': True}, session)
with open(png_out, 'wb') as out:
    out.write(base64.b64decode(shot['data']))
send('Browser.close')
browser.wait(timeout=30)
