#!/usr/bin/env python3
"""Checks what a Windows program's link could silently break, reading the image (and the linker's
map): its unwind tables still serve every catch after code was dropped from it (each entry names
either a function in the code or nothing, address zero, which the unwinder skips, and each routine
an entry hands unwinding to lies in the code), and every delay-import slot starts at the code that
loads its DLL. Usage: check-linked-image.py PROGRAM [MAP]"""
import re
import struct
import sys

from pe_image import Image, PE32, PE32_PLUS

# 32-bit images keep DWARF unwind tables in .eh_frame; 64-bit ones .pdata and .xdata.
EXCEPTION_DIRECTORY = 3
UNW_FLAG_EHANDLER, UNW_FLAG_UHANDLER, UNW_FLAG_CHAININFO = 1, 2, 4
DW_EH_PE_PCREL_SDATA4, DW_EH_PE_INDIRECT = 0x1B, 0x80


def uleb(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def pcrel(image, table, at):
    """The address (relative to the image) a pc-relative 4-byte field at offset `at` of the
    table names, or None."""
    raw = struct.unpack_from("<i", image.data, table[3] + at)[0]
    return None if raw == 0 else table[1] + at + raw


def check_cie(image, table, at, problems):
    """Reads a CIE's augmentation; returns whether its FDEs carry an LSDA pointer."""
    data, start = image.data, table[3]
    cursor = start + at + 9
    augmentation = data[cursor:data.index(b"\0", cursor)].decode()
    cursor += len(augmentation) + 1
    _, cursor = uleb(data, cursor)
    _, cursor = uleb(data, cursor)  # data alignment: its sign does not matter here
    _, cursor = uleb(data, cursor)
    if augmentation.startswith("z"):
        _, cursor = uleb(data, cursor)
    for letter in augmentation[1:]:
        encoding = data[cursor]
        cursor += 1
        if letter == "P":
            if encoding & ~DW_EH_PE_INDIRECT != DW_EH_PE_PCREL_SDATA4:
                problems.append(f"CIE at {at:#x}: personality encoding {encoding:#x}")
                return False
            slot = pcrel(image, table, cursor - start)
            routine = slot
            if slot is not None and encoding & DW_EH_PE_INDIRECT:
                routine = struct.unpack_from("<I", data, image.offset(slot))[0] - image.base
            if routine is None or not image.in_code(routine):
                problems.append(f"CIE at {at:#x}: its personality routine is not in the code")
            cursor += 4
        elif letter in "LR" and encoding != DW_EH_PE_PCREL_SDATA4:
            problems.append(f"CIE at {at:#x}: pointer encoding {encoding:#x}")
    return "L" in augmentation


def check_eh_frame(image, problems):
    table = image.section(".eh_fram")  # names are cut to 8 bytes when stripped
    if table is None:
        problems.append("no .eh_frame")
        return
    data, start, at = image.data, table[3], 0
    with_lsda = {}
    while at + 4 <= table[2]:
        length = struct.unpack_from("<I", data, start + at)[0]
        if length == 0:
            break
        cie_pointer = struct.unpack_from("<I", data, start + at + 4)[0]
        if cie_pointer == 0:
            with_lsda[at] = check_cie(image, table, at, problems)
        else:
            cie = at + 4 - cie_pointer
            function = pcrel(image, table, at + 8)
            if function is not None and not image.in_code(function):
                problems.append(f"FDE at {at:#x} names {function:#x}, outside the code")
            if function is not None and with_lsda.get(cie):
                _, field = uleb(data, start + at + 16)
                lsda = pcrel(image, table, field - start)
                if lsda is not None:
                    image.offset(lsda)
        at += 4 + length


def check_pdata(image, problems):
    rva, size = image.directory(EXCEPTION_DIRECTORY)
    if size == 0:
        problems.append("no exception directory")
        return
    data, table = image.data, image.offset(rva)
    previous = 0
    for index in range(size // 12):
        begin, end, unwind = struct.unpack_from("<III", data, table + 12 * index)
        if begin < previous:
            problems.append(f"function entry {index} is out of order")
        previous = begin
        if begin == 0:
            continue
        if not (image.in_code(begin) and begin <= end):
            problems.append(f"function entry {index} names {begin:#x}, outside the code")
        info = image.offset(unwind & ~1)
        flags, codes = data[info] >> 3, data[info + 2]
        if flags & (UNW_FLAG_EHANDLER | UNW_FLAG_UHANDLER) and not flags & UNW_FLAG_CHAININFO:
            handler = struct.unpack_from("<I", data, info + 4 + 2 * (codes + (codes & 1)))[0]
            if not image.in_code(handler):
                problems.append(f"function entry {index}: its handler is not in the code")


# A function's delay-import slot in the map: its address, its size and its member of the
# delay-import library (dlltool names them <dll>s<number>.o; the head and tail hold no slot).
DELAY_SLOT = re.compile(r"^ \.idata\$5\s+0x([0-9a-f]+)\s+0x([0-9a-f]+) (\S*_delay\.a\(\w+s\d+\.o\))$")


def check_delay_slots(image, map_path, problems):
    """Each slot holds, until its first call, the address of the thunk that loads the DLL; a
    linker that dropped the thunk leaves zero there, and the first call jumps to it."""
    width = 8 if image.magic == PE32_PLUS else 4
    with open(map_path) as linker_map:
        for line in linker_map:
            slot = DELAY_SLOT.match(line)
            if not slot or int(slot.group(2), 16) != width or int(slot.group(1), 16) == 0:
                continue
            at = image.offset(int(slot.group(1), 16) - image.base)
            thunk = int.from_bytes(image.data[at:at + width], "little")
            if thunk == 0 or not image.in_code(thunk - image.base):
                problems.append(f"the delay-import slot of {slot.group(3)} names no loading code")


def main():
    with open(sys.argv[1], "rb") as program:
        image = Image(program.read())
    problems = []
    try:
        if image.magic == PE32:
            check_eh_frame(image, problems)
        else:
            check_pdata(image, problems)
        if len(sys.argv) > 2:
            check_delay_slots(image, sys.argv[2], problems)
    except (ValueError, IndexError, struct.error) as error:
        problems.append(str(error))
    for problem in problems[:20]:
        print(f"check-linked-image: {sys.argv[1]}: {problem}", file=sys.stderr)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
