"""Just enough of a PE32 reader for the test game's tools: the section table
and the raw bytes of the last code section."""
import struct


class Section:
    def __init__(self, name, virtual_size, virtual_address, raw_size, raw_pointer, characteristics):
        self.name = name
        self.virtual_size = virtual_size
        self.virtual_address = virtual_address
        self.raw_size = raw_size
        self.raw_pointer = raw_pointer
        self.characteristics = characteristics

    @property
    def is_code(self):
        return bool(self.characteristics & 0x20)


class Image:
    def __init__(self, data):
        self.data = bytearray(data)
        lfanew = struct.unpack_from("<I", data, 0x3C)[0]
        if data[lfanew:lfanew + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        count = struct.unpack_from("<H", data, lfanew + 6)[0]
        optional_size = struct.unpack_from("<H", data, lfanew + 20)[0]
        self.image_base = struct.unpack_from("<I", data, lfanew + 24 + 28)[0]
        table = lfanew + 24 + optional_size
        self.sections = []
        for i in range(count):
            name, vsize, vaddr, rsize, rptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            characteristics = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append(Section(name.rstrip(b"\0").decode(), vsize, vaddr, rsize, rptr,
                                         characteristics))

    def code_section(self):
        code = [s for s in self.sections if s.is_code]
        if not code:
            raise ValueError("no code section")
        return code[-1]  # the last one decides the digest

    def code_raw(self):
        s = self.code_section()
        return bytes(self.data[s.raw_pointer:s.raw_pointer + s.raw_size])

    def set_code_raw(self, raw):
        s = self.code_section()
        assert len(raw) == s.raw_size
        self.data[s.raw_pointer:s.raw_pointer + s.raw_size] = raw

    def write(self, path):
        with open(path, "wb") as f:
            f.write(self.data)


def read(path):
    with open(path, "rb") as f:
        return Image(f.read())
