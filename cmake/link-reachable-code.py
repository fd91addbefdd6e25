#!/usr/bin/env python3
"""Links a Windows program with only the code it can reach. Usage, as a linker launcher:
link-reachable-code.py COMPILER ARG... (the link command CMake would run).

GNU ld keeps the unwind tables of PE images whole (KEEP(.eh_frame), .pdata, .xdata), and every
entry there refers to its function, so --gc-sections keeps every function of every object the
link draws in, reached or not: about half the updater. The first link treats the unwind tables as
ordinary sections, so the functions nothing else reaches are collected and listed; the second, the
real one, discards those functions by name. Their unwind entries stay, pointing at address zero,
which the unwinders skip as they skip the copies of inline functions the linker dropped.
check-linked-image.py then reads the image (and the linker's map, when the link writes one)."""
import os
import re
import subprocess
import sys
import tempfile

UNWIND_TABLES = (".eh_frame", ".pdata", ".xdata")
# Reached only from unwind entries, yet needed by every catch: the routines that read them (32-bit
# names carry a leading underscore). The first link keeps them as roots; check-linked-image.py
# proves the real one kept every routine an entry names.
UNWIND_ROUTINES = ("___gxx_personality_v0", "___gcc_personality_v0", "__gxx_personality_seh0",
                   "__gcc_personality_seh0", "_GCC_specific_handler", "__C_specific_handler")
MAP_OPTION = "-Wl,-Map="
REMOVED = re.compile(r"removing unused section '([^']*)' in file '([^']*)'")
# What a pattern in a linker script may hold without changing its meaning.
PLAIN_NAME = re.compile(r"[A-Za-z0-9_.$/+-]+")


def fail(message):
    sys.exit(f"link-reachable-code: {message}")


def default_script(compiler):
    ld = subprocess.run([compiler, "-print-prog-name=ld"], capture_output=True, text=True,
                        check=True).stdout.strip()
    verbose = subprocess.run([ld, "--verbose"], capture_output=True, text=True, check=True).stdout
    parts = verbose.split("=" * 50)
    if len(parts) < 3 or "SECTIONS" not in parts[1]:
        fail(f"{ld} --verbose shows no default linker script")
    return parts[1].strip("=\n") + "\n"


def without_kept_unwind_tables(script):
    for table in UNWIND_TABLES:
        script, count = re.subn(r"KEEP\s*\(\*\(" + re.escape(table) + r"\*\)\)",
                                f"*({table}*)", script)
        if count == 0 and table == ".eh_frame":
            fail(f"the default linker script keeps no {table}")
    return script


def pattern(file, section):
    """The script pattern naming one input section: archive members as archive:member."""
    member = re.fullmatch(r"(.*)\((.*)\)", file)
    names = [member.group(1), member.group(2)] if member else [file]
    # Sections of inline functions are shown with their symbol in brackets.
    section = re.sub(r"\[.*\]$", "", section)
    for name in names + [section]:
        if not PLAIN_NAME.fullmatch(name):
            fail(f"cannot name {name!r} in a linker script")
    return f"{':'.join(names)}({section})"


def unreached_code(command, script_path, output):
    """Links once with the unwind tables collectable; the code sections the linker removed. Only
    the list serves: the image may not link, its unwind entries naming what was removed."""
    roots = [f"-Wl,--undefined={routine}" for routine in UNWIND_ROUTINES]
    first = subprocess.run(command + roots + ["-o", output, f"-Wl,-T,{script_path}",
                                              "-Wl,--print-gc-sections"],
                           capture_output=True, text=True)
    removed = [REMOVED.search(line) for line in first.stderr.splitlines()]
    removed = [found.groups() for found in removed if found]
    if not removed:
        sys.stderr.write(first.stderr)
        fail("the first link listed nothing it removed")
    return [pattern(file, section) for section, file in removed if section.startswith(".text")]


def with_discarded(script, patterns):
    start = script.index("SECTIONS\n{") + len("SECTIONS\n{")
    listing = "".join(f"    {name}\n" for name in patterns)
    return f"{script[:start]}\n  /DISCARD/ :\n  {{\n{listing}  }}\n{script[start:]}"


def output_of(command):
    for index, argument in enumerate(command[:-1]):
        if argument == "-o":
            return index + 1
    fail("the link command names no output (-o)")


def main():
    command = sys.argv[1:]
    if not command:
        fail("no link command")
    at = output_of(command)
    script = default_script(command[0])
    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(command[at]))) as work:
        collectable = os.path.join(work, "collectable.x")
        with open(collectable, "w") as file:
            file.write(without_kept_unwind_tables(script))
        rest = command[:at - 1] + command[at + 1:]
        removed = unreached_code(rest, collectable, os.path.join(work, "first.exe"))
        final = os.path.join(work, "reachable.x")
        with open(final, "w") as file:
            file.write(with_discarded(script, removed))
        linked = subprocess.run(command + [f"-Wl,-T,{final}"]).returncode
    if linked != 0:
        sys.exit(linked)
    checker = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check-linked-image.py")
    maps = [argument[len(MAP_OPTION):] for argument in command if argument.startswith(MAP_OPTION)]
    if subprocess.run([sys.executable, checker, command[at]] + maps[-1:]).returncode != 0:
        os.remove(command[at])
        fail(f"{command[at]}: the linked image would fail where the check says")


if __name__ == "__main__":
    main()
