#!/usr/bin/env python3
"""Compiles app.rc with each cross windres and checks the compiled bytes.

Host-side check, standard library only:  python3 res/check_resources.py
Exits non-zero and lists every mismatch if a resource is not as expected.
"""
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
WINDRES = ["i686-w64-mingw32-windres", "x86_64-w64-mingw32-windres"]

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 5, 6, 14, 16
BUTTON, STATIC = 0x80, 0x82

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
WS_EX_APPWINDOW = 0x00040000
BS_PUSHBUTTON, BS_DEFPUSHBUTTON = 0, 1
SS_LEFT, SS_ICON, SS_NOPREFIX = 0, 3, 0x80
CHILD = WS_CHILD | WS_VISIBLE

STATUS_TEXT = ('the Board ID is wrong, Please press "ReFlash" button '
               'to program eeprom ')

# id, class, text, x, y, cx, cy, style
FLASHER = dict(
    ex=True, x=0, y=0, cx=169, cy=124, caption="Bravik",
    style=DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU,
    exstyle=WS_EX_APPWINDOW, font=(8, 0, 0, 1, "MS Sans Serif"),
    items=[
        (1, BUTTON, "&Exit", 27, 86, 48, 21, CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON),
        (1004, STATIC, STATUS_TEXT, 28, 19, 116, 26, CHILD | WS_GROUP | SS_LEFT),
        (1013, "msctls_progress32", "Progress1", 27, 54, 113, 16, CHILD | WS_BORDER),
        (1000, BUTTON, "ReFlash", 94, 86, 46, 21, CHILD | WS_TABSTOP | BS_PUSHBUTTON),
    ])
ABOUT = dict(
    ex=False, x=0, y=0, cx=235, cy=55, caption="About Bravik",
    style=DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    exstyle=0, font=(8, "MS Sans Serif"),
    items=[
        (-1, STATIC, 128, 11, 17, 20, 20, CHILD | SS_ICON),
        (-1, STATIC, "REVADAD86IRaziz Version 1.0", 40, 10, 119, 8,
         CHILD | WS_GROUP | SS_NOPREFIX | SS_LEFT),
        (-1, STATIC, "Checks and repairs the board identity", 40, 25, 119, 8,
         CHILD | WS_GROUP | SS_LEFT),
        (1, BUTTON, "OK", 178, 7, 50, 14,
         CHILD | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON),
    ])
ICONS = [(16, 16, 4), (16, 0, 8), (32, 16, 4), (32, 0, 8), (48, 0, 32)]
VERSION_STRINGS = {
    "Comments": "", "CompanyName": "", "LegalTrademarks": "",
    "PrivateBuild": "", "SpecialBuild": "",
    "FileDescription": "REVADAD86IRaziz", "InternalName": "REVADAD86IRaziz",
    "ProductName": "REVADAD86IRaziz", "OriginalFilename": "REVADAD86IRaziz.exe",
    "FileVersion": "1.0", "ProductVersion": "1.0",
}


class Reader:
    def __init__(self, data, pos=0):
        self.d, self.p = data, pos

    def u16(self):
        v, = struct.unpack_from("<H", self.d, self.p)
        self.p += 2
        return v

    def i16(self):
        v, = struct.unpack_from("<h", self.d, self.p)
        self.p += 2
        return v

    def u32(self):
        v, = struct.unpack_from("<I", self.d, self.p)
        self.p += 4
        return v

    def u8(self):
        v = self.d[self.p]
        self.p += 1
        return v

    def wstr(self):
        end = self.p
        while self.d[end:end + 2] != b"\0\0":
            end += 2
        s = self.d[self.p:end].decode("utf-16-le")
        self.p = end + 2
        return s

    def sz_or_ord(self):
        first, = struct.unpack_from("<H", self.d, self.p)
        if first == 0xFFFF:
            self.p += 2
            return self.u16()
        return self.wstr()

    def align(self, n=4):
        self.p += -self.p % n


def read_res(data):
    """{(type, name): (language, bytes)} of a .res file."""
    out, r = {}, Reader(data)
    while r.p < len(data):
        start = r.p
        size, header = r.u32(), r.u32()
        rtype, name = r.sz_or_ord(), r.sz_or_ord()
        r.align()
        r.u32()
        r.u16()
        lang = r.u16()
        r.p = start + header
        if size:
            out[(rtype, name)] = (lang, data[r.p:r.p + size])
        r.p += size
        r.align()
    return out


def parse_dialog(data):
    r = Reader(data)
    d = {}
    if struct.unpack_from("<HH", data) == (1, 0xFFFF):
        d["ex"] = True
        r.p = 4
        r.u32()
        d["exstyle"], d["style"] = r.u32(), r.u32()
    else:
        d["ex"] = False
        d["style"], d["exstyle"] = r.u32(), r.u32()
    count = r.u16()
    d["x"], d["y"], d["cx"], d["cy"] = r.i16(), r.i16(), r.i16(), r.i16()
    d["menu"], d["class"], d["caption"] = r.sz_or_ord(), r.sz_or_ord(), r.sz_or_ord()
    if d["style"] & DS_SETFONT:
        if d["ex"]:
            d["font"] = (r.u16(), r.u16(), r.u8(), r.u8(), r.wstr())
        else:
            d["font"] = (r.u16(), r.wstr())
    items = []
    for _ in range(count):
        r.align()
        if d["ex"]:
            r.u32()
            exstyle, style = r.u32(), r.u32()
        else:
            style, exstyle = r.u32(), r.u32()
        x, y, cx, cy = r.i16(), r.i16(), r.i16(), r.i16()
        cid = r.u32() if d["ex"] else r.u16()
        cls, text = r.sz_or_ord(), r.sz_or_ord()
        extra = r.u16()
        r.p += extra
        if cid in (0xFFFF, 0xFFFFFFFF):
            cid = -1
        items.append(dict(id=cid, cls=cls, text=text, x=x, y=y, cx=cx, cy=cy,
                          style=style, exstyle=exstyle, extra=extra))
    d["items"] = items
    return d


def parse_version(data, pos=0):
    """(key, value, children) of one version block."""
    r = Reader(data, pos)
    length, vlen, vtype = r.u16(), r.u16(), r.u16()
    key = r.wstr()
    r.align()
    if vtype == 1:
        value = data[r.p:r.p + 2 * vlen].decode("utf-16-le").rstrip("\0")
        r.p += 2 * vlen
    else:
        value = data[r.p:r.p + vlen]
        r.p += vlen
    r.align()
    children = []
    while r.p < pos + length:
        child, end = parse_version(data, r.p)
        children.append(child)
        r.p = end
        r.align()
    return (key, value, children), pos + length


def check_dialog(name, want, got, errors):
    for key in ("ex", "x", "y", "cx", "cy", "caption", "style", "exstyle", "font"):
        if got.get(key) != want[key]:
            errors.append("%s %s: %r, want %r" % (name, key, got.get(key), want[key]))
    if got["menu"] != "" or got["class"] != "":
        errors.append("%s has a menu or class: %r %r" % (name, got["menu"], got["class"]))
    if len(got["items"]) != len(want["items"]):
        errors.append("%s: %d controls, want %d" % (name, len(got["items"]), len(want["items"])))
    fields = ("id", "cls", "text", "x", "y", "cx", "cy", "style")
    for i, (w, g) in enumerate(zip(want["items"], got["items"])):
        for f, wv in zip(fields, w):
            gv = g[f]
            if f == "cls" and isinstance(gv, str):
                # Class names are matched case-insensitively; windres
                # stores them in upper case.
                gv, wv = gv.lower(), wv.lower()
            if gv != wv:
                fmt = "%#010x" if f == "style" else "%r"
                errors.append(("%s control %d %s: " + fmt + ", want " + fmt)
                              % (name, i + 1, f, g[f], wv))
        if g["exstyle"] or g["extra"]:
            errors.append("%s control %d has exstyle or creation data" % (name, i + 1))


def check(res):
    errors = []
    for key in res:
        if res[key][0] != 0x409:
            errors.append("resource %r has language %#x" % (key, res[key][0]))

    check_dialog("IDD_FLASHER", FLASHER, parse_dialog(res[(RT_DIALOG, 102)][1]), errors)
    check_dialog("IDD_ABOUT", ABOUT, parse_dialog(res[(RT_DIALOG, 100)][1]), errors)

    # String 101 sits in block 101 / 16 + 1 at index 101 % 16.
    r = Reader(res[(RT_STRING, 101 // 16 + 1)][1])
    strings = []
    for _ in range(16):
        n = r.u16()
        strings.append(r.d[r.p:r.p + 2 * n].decode("utf-16-le"))
        r.p += 2 * n
    if strings[101 % 16] != "&About REVADAD86IRaziz...":
        errors.append("IDS_ABOUT_MENU: %r" % strings[101 % 16])
    if [s for i, s in enumerate(strings) if s and i != 101 % 16]:
        errors.append("unexpected strings in the table")

    grp = Reader(res[(RT_GROUP_ICON, 128)][1])
    grp.u16()
    grp.u16()
    entries = []
    for _ in range(grp.u16()):
        w, h, colours, _, planes, bpp = struct.unpack_from("<BBBBHH", grp.d, grp.p)
        size, iid = struct.unpack_from("<IH", grp.d, grp.p + 8)
        grp.p += 14
        dib = res[(RT_ICON, iid)][1]
        hdr = struct.unpack_from("<IiiHH", dib)
        if len(dib) != size or hdr != (40, w, 2 * h, 1, bpp) or h != w:
            errors.append("icon image %d is not a %dx%d %d-bit DIB" % (iid, w, w, bpp))
        entries.append((w, colours, bpp))
    if entries != ICONS:
        errors.append("icon group: %r, want %r" % (entries, ICONS))

    (key, fixed, children), _ = parse_version(res[(RT_VERSION, 1)][1])
    ffi = struct.unpack_from("<13I", fixed)
    if key != "VS_VERSION_INFO" or ffi[0] != 0xFEEF04BD:
        errors.append("version block header")
    if ffi[2:6] != (0, 1, 0, 1):
        errors.append("numeric versions: %r" % (ffi[2:6],))
    if (ffi[8], ffi[9]) != (4, 1):
        errors.append("file OS / type: %r" % ((ffi[8], ffi[9]),))
    blocks = {c[0]: c for c in children}
    tables = blocks["StringFileInfo"][2]
    if [t[0] for t in tables] != ["040904b0"]:
        errors.append("string tables: %r" % [t[0] for t in tables])
    values = {c[0]: c[1] for c in tables[0][2]}
    for k, v in VERSION_STRINGS.items():
        if values.get(k) != v:
            errors.append("version %s: %r, want %r" % (k, values.get(k), v))
    if not values.get("LegalCopyright"):
        errors.append("version LegalCopyright is empty")
    translation = blocks["VarFileInfo"][2][0]
    if translation[0] != "Translation" or struct.unpack("<HH", translation[1]) != (0x409, 1200):
        errors.append("version translation: %r" % (translation[1],))
    return errors


def main():
    failed = False
    compiled = []
    with tempfile.TemporaryDirectory() as tmp:
        for tool in WINDRES:
            out = os.path.join(tmp, tool + ".res")
            subprocess.run([tool, "-I", HERE, os.path.join(HERE, "app.rc"),
                            "-O", "res", "-o", out], check=True, cwd=HERE)
            with open(out, "rb") as f:
                data = f.read()
            compiled.append(data)
            errors = check(read_res(data))
            for e in errors:
                print("%s: %s" % (tool, e))
            failed |= bool(errors)
    if len(set(compiled)) != 1:
        print("the targets compile to different resources")
        failed = True
    if not failed:
        print("resources OK")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
