#!/usr/bin/env python3
"""After the link of a Windows program: points the image's load configuration entry at the
structure SafeStartWin32.cpp leaves in the section .qrtlcf, which GNU ld does not do, and checks
that it asks for DependentLoadFlags LOAD_LIBRARY_SEARCH_SYSTEM32. Usage: point-load-configuration.py PROGRAM"""
import struct
import sys

SECTION = b".qrtlcf\0"
LOAD_CONFIG_ENTRY = 10
SEARCH_SYSTEM32 = 0x800
# PE32 and PE32+: where the data directories start in the optional header, and where
# DependentLoadFlags lies in the load configuration.
LAYOUTS = {0x10B: (96, 0x36), 0x20B: (112, 0x4E)}


def fail(message):
    sys.exit(f"point-load-configuration: {sys.argv[1]}: {message}")


def pe_checksum(image, field):
    """The sum the image's CheckSum field holds, computed with that field as zero."""
    data = image[:field] + b"\0\0\0\0" + image[field + 4:]
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16) + len(image)) & 0xFFFFFFFF


def main():
    with open(sys.argv[1], "r+b") as program:
        image = bytearray(program.read())
        header = struct.unpack_from("<I", image, 0x3C)[0]
        if image[header:header + 4] != b"PE\0\0":
            fail("not a PE image")
        sections, optional_size = struct.unpack_from("<H12xH", image, header + 6)
        optional = header + 24
        magic = struct.unpack_from("<H", image, optional)[0]
        if magic not in LAYOUTS:
            fail(f"unknown optional header {magic:#x}")
        directories, flags_offset = LAYOUTS[magic]
        entry = optional + directories + 8 * LOAD_CONFIG_ENTRY
        for index in range(sections):
            at = optional + optional_size + 40 * index
            if image[at:at + 8] == SECTION:
                address, raw = struct.unpack_from("<I4xI", image, at + 12)
                break
        else:
            fail("no section .qrtlcf")
        size = struct.unpack_from("<I", image, raw)[0]
        if struct.unpack_from("<H", image, raw + flags_offset)[0] != SEARCH_SYSTEM32:
            fail("DependentLoadFlags is not 0x800")
        current = struct.unpack_from("<II", image, entry)
        if current not in ((0, 0), (address, size)):
            fail(f"the image already has a load configuration at {current[0]:#x}")
        struct.pack_into("<II", image, entry, address, size)
        # The linker sums the image; the sum is kept true.
        checksum = optional + 64
        if struct.unpack_from("<I", image, checksum)[0] != 0:
            struct.pack_into("<I", image, checksum, pe_checksum(image, checksum))
        program.seek(0)
        program.write(image)


main()
