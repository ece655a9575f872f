"""Reads the resources of a PE file (an .exe built for Windows) without any Windows tool:
the resource tree, and dialog templates in both the plain and the extended format."""
import struct

RT_DIALOG = 5
RT_MANIFEST = 24


def _sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count = struct.unpack_from("<H", data, pe + 4 + 2)[0]
    opt_size = struct.unpack_from("<H", data, pe + 4 + 16)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    res_rva, res_size = struct.unpack_from("<II", data, dirs + 2 * 8)
    table = opt + opt_size
    sections = []
    for i in range(count):
        vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        sections.append((vaddr, max(vsize, rawsize), rawptr))
    return sections, res_rva, res_size


def _offset(sections, rva):
    for vaddr, size, rawptr in sections:
        if vaddr <= rva < vaddr + size:
            return rawptr + rva - vaddr
    raise ValueError("RVA 0x%x outside every section" % rva)


def read_resources(path):
    """{(type, name): {lang: bytes}}; ids are ints, names are strings."""
    data = open(path, "rb").read()
    sections, res_rva, _ = _sections(data)
    if res_rva == 0:
        return {}
    base = _offset(sections, res_rva)

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, at)[0]
                key = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            else:
                key = name
            yield key, target

    result = {}
    for rtype, t_target in entries(0):
        for rname, n_target in entries(t_target & 0x7FFFFFFF):
            for lang, l_target in entries(n_target & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + l_target)
                start = _offset(sections, rva)
                result.setdefault((rtype, rname), {})[lang] = data[start:start + size]
    return result


def resource(path, rtype, rname):
    """The bytes of one resource (its first language), or None."""
    found = read_resources(path).get((rtype, rname))
    if not found:
        return None
    return next(iter(found.values()))


class _Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def u8(self):
        v = self.data[self.pos]
        self.pos += 1
        return v

    def u16(self):
        v = struct.unpack_from("<H", self.data, self.pos)[0]
        self.pos += 2
        return v

    def s16(self):
        v = struct.unpack_from("<h", self.data, self.pos)[0]
        self.pos += 2
        return v

    def u32(self):
        v = struct.unpack_from("<I", self.data, self.pos)[0]
        self.pos += 4
        return v

    def wstr(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def sz_or_ord(self):
        first = struct.unpack_from("<H", self.data, self.pos)[0]
        if first == 0:
            self.pos += 2
            return None
        if first == 0xFFFF:
            self.pos += 2
            return self.u16()
        return self.wstr()

    def align4(self):
        self.pos = (self.pos + 3) & ~3


DS_SETFONT = 0x40


def parse_dialog(data):
    """A dialog template as a dict: style, exstyle, x, y, cx, cy, menu, class, caption,
    font_size, font_name (plus font_weight, italic, charset for the extended format), and
    items: a list of dicts with style, exstyle, x, y, cx, cy, id, class (an int for the
    predefined classes: 0x80 button, 0x81 edit, 0x82 static, ...), text, extra."""
    r = _Reader(data)
    extended = struct.unpack_from("<HH", data, 0) == (1, 0xFFFF)
    d = {"extended": extended}
    if extended:
        r.pos = 4
        d["help_id"] = r.u32()
        d["exstyle"] = r.u32()
        d["style"] = r.u32()
    else:
        d["style"] = r.u32()
        d["exstyle"] = r.u32()
    count = r.u16()
    d["x"], d["y"], d["cx"], d["cy"] = r.s16(), r.s16(), r.s16(), r.s16()
    d["menu"] = r.sz_or_ord()
    d["class"] = r.sz_or_ord()
    d["caption"] = r.wstr()
    if d["style"] & DS_SETFONT:
        d["font_size"] = r.u16()
        if extended:
            d["font_weight"] = r.u16()
            d["italic"] = r.u8()
            d["charset"] = r.u8()
        d["font_name"] = r.wstr()
    items = []
    for _ in range(count):
        r.align4()
        item = {}
        if extended:
            item["help_id"] = r.u32()
            item["exstyle"] = r.u32()
            item["style"] = r.u32()
        else:
            item["style"] = r.u32()
            item["exstyle"] = r.u32()
        item["x"], item["y"], item["cx"], item["cy"] = r.s16(), r.s16(), r.s16(), r.s16()
        item["id"] = r.u32() if extended else r.u16()
        item["class"] = r.sz_or_ord()
        item["text"] = r.sz_or_ord()
        extra = r.u16()
        item["extra"] = data[r.pos:r.pos + extra]
        r.pos += extra
        items.append(item)
    d["items"] = items
    return d
