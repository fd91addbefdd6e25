"""A PE image's headers as the post-link scripts read and mend them: the kind of optional header,
the image base, the data directories and the sections."""
import struct

# PE32 (32-bit) and PE32+ (64-bit) optional headers.
PE32, PE32_PLUS = 0x10B, 0x20B
# Where the image base and the data directories lie in each kind of optional header.
LAYOUTS = {PE32: (28, 96), PE32_PLUS: (24, 112)}


class Image:
    def __init__(self, data):
        self.data = data
        header = struct.unpack_from("<I", data, 0x3C)[0]
        if data[header:header + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        count, optional_size = struct.unpack_from("<H12xH", data, header + 6)
        self.optional = header + 24
        self.magic = struct.unpack_from("<H", data, self.optional)[0]
        if self.magic not in LAYOUTS:
            raise ValueError(f"unknown optional header {self.magic:#x}")
        base_at, directories = LAYOUTS[self.magic]
        self.base = struct.unpack_from("<Q" if self.magic == PE32_PLUS else "<I", data,
                                       self.optional + base_at)[0]
        self.directories = self.optional + directories
        symbols, symbol_count = struct.unpack_from("<II", data, header + 12)
        strings = symbols + 18 * symbol_count
        self.sections = []
        for index in range(count):
            at = self.optional + optional_size + 40 * index
            name = data[at:at + 8].rstrip(b"\0").decode()
            if name.startswith("/"):  # a long name, kept in the symbol table's strings
                start = strings + int(name[1:])
                name = data[start:data.index(b"\0", start)].decode()
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, address, size, raw))

    def directory_field(self, index):
        """Where data directory `index` (its address and size) lies in the image."""
        return self.directories + 8 * index

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directory_field(index))

    def section(self, prefix):
        return next((s for s in self.sections if s[0].startswith(prefix)), None)

    def offset(self, rva):
        for _, address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"address {rva:#x} lies in no section")

    def in_code(self, rva):
        code = self.section(".text")
        return code[1] <= rva < code[1] + code[2]
