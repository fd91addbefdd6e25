#!/usr/bin/env python3
"""After the link of a Windows program: points the image's load configuration entry at the
structure SafeStartWin32.cpp leaves in the section .qrtlcf, which GNU ld does not do, and checks
that it asks for DependentLoadFlags LOAD_LIBRARY_SEARCH_SYSTEM32. Usage: point-load-configuration.py PROGRAM"""
import struct
import sys

from pe_image import Image, PE32, PE32_PLUS

SECTION = ".qrtlcf"
LOAD_CONFIG_ENTRY = 10
SEARCH_SYSTEM32 = 0x800
# Where DependentLoadFlags lies in the load configuration of each kind of image.
FLAGS_OFFSETS = {PE32: 0x36, PE32_PLUS: 0x4E}


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
        try:
            pe = Image(bytearray(program.read()))
        except ValueError as error:
            fail(str(error))
        image, flags_offset = pe.data, FLAGS_OFFSETS[pe.magic]
        entry = pe.directory_field(LOAD_CONFIG_ENTRY)
        table = pe.section(SECTION)
        if table is None:
            fail("no section .qrtlcf")
        _, address, _, raw = table
        size = struct.unpack_from("<I", image, raw)[0]
        if struct.unpack_from("<H", image, raw + flags_offset)[0] != SEARCH_SYSTEM32:
            fail("DependentLoadFlags is not 0x800")
        current = struct.unpack_from("<II", image, entry)
        if current not in ((0, 0), (address, size)):
            fail(f"the image already has a load configuration at {current[0]:#x}")
        struct.pack_into("<II", image, entry, address, size)
        # The linker sums the image; the sum is kept true.
        checksum = pe.optional + 64
        if struct.unpack_from("<I", image, checksum)[0] != 0:
            struct.pack_into("<I", image, checksum, pe_checksum(image, checksum))
        program.seek(0)
        program.write(image)


main()
