#!/usr/bin/env python3
"""The post-link check passes both updaters as linked and refuses copies carrying the faults it is
there to catch. Usage: check-linked-image-test.py CHECKER WIN32_EXE WIN32_MAP WIN64_EXE WIN64_MAP"""
import importlib.util
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

CHECKER, WIN32_EXE, WIN32_MAP, WIN64_EXE, WIN64_MAP = sys.argv[1:6]
# The checker's own folder holds the PE reading it imports.
sys.path.insert(0, os.path.dirname(os.path.abspath(CHECKER)))
spec = importlib.util.spec_from_file_location("check", CHECKER)
check = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check)


def run_check(program, linker_map=None):
    arguments = [sys.executable, CHECKER, program] + ([linker_map] if linker_map else [])
    result = subprocess.run(arguments, capture_output=True, text=True)
    return result.returncode, result.stderr


class LinkedImageCheck(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.work)

    def broken_copy(self, program, change):
        """A copy of the program with change(image) applied to its bytes."""
        with open(program, "rb") as original:
            image = check.Image(bytearray(original.read()))
        change(image)
        copy = os.path.join(self.work, os.path.basename(program))
        with open(copy, "wb") as file:
            file.write(image.data)
        return copy

    def test_both_updaters_pass_as_linked(self):
        for program, linker_map in ((WIN32_EXE, WIN32_MAP), (WIN64_EXE, WIN64_MAP)):
            self.assertEqual(run_check(program, linker_map), (0, ""))

    def test_a_delay_import_slot_left_at_zero_is_refused(self):
        for program, linker_map, width in ((WIN32_EXE, WIN32_MAP, 4), (WIN64_EXE, WIN64_MAP, 8)):
            with open(linker_map) as lines:
                slot = next(m for m in map(check.DELAY_SLOT.match, lines) if m)

            def clear_slot(image):
                at = image.offset(int(slot.group(1), 16) - image.base)
                image.data[at:at + width] = bytes(width)

            status, errors = run_check(self.broken_copy(program, clear_slot), linker_map)
            self.assertEqual(status, 1)
            self.assertIn(f"slot of {slot.group(3)} names no loading code", errors)

    def eh_frame_records(self, image):
        """(offset in .eh_frame, is a CIE) of each record."""
        table, at = image.section(".eh_fram"), 0
        while True:
            length, pointer = struct.unpack_from("<II", image.data, table[3] + at)
            if length == 0:
                return
            yield at, pointer == 0
            at += 4 + length

    def test_32_bit_unwind_entries_that_lost_their_code_are_refused(self):
        def misplace_first_function(image):
            table = image.section(".eh_fram")
            at = next(at for at, is_cie in self.eh_frame_records(image) if not is_cie)
            # pc-relative: 16 bytes on from the field, inside the table itself.
            struct.pack_into("<i", image.data, table[3] + at + 8, 16)

        status, errors = run_check(self.broken_copy(WIN32_EXE, misplace_first_function))
        self.assertEqual(status, 1)
        self.assertRegex(errors, r"FDE at 0x[0-9a-f]+ names 0x[0-9a-f]+, outside the code")

        def drop_personality(image):
            table = image.section(".eh_fram")
            for at, is_cie in self.eh_frame_records(image):
                start = table[3] + at
                if is_cie and image.data[start + 9:start + 13] == b"zPLR":
                    # Version, "zPLR\0", three one-byte fields, the length, the encoding.
                    struct.pack_into("<i", image.data, start + 9 + 5 + 3 + 1 + 1, 0)
                    return
            self.fail("no CIE names a personality routine")

        status, errors = run_check(self.broken_copy(WIN32_EXE, drop_personality))
        self.assertEqual(status, 1)
        self.assertIn("its personality routine is not in the code", errors)

    def test_64_bit_function_table_out_of_order_is_refused(self):
        def swap_last_two(image):
            rva, size = image.directory(check.EXCEPTION_DIRECTORY)
            last = image.offset(rva) + size - 12
            entries = image.data[last - 12:last + 12]
            image.data[last - 12:last + 12] = entries[12:] + entries[:12]

        status, errors = run_check(self.broken_copy(WIN64_EXE, swap_last_two))
        self.assertEqual(status, 1)
        self.assertTrue(re.search(r"function entry \d+ is out of order", errors), errors)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
