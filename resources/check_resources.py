#!/usr/bin/env python3
"""Lists and checks the resources of a built vexo_setup.exe (PE32).

    check_resources.py EXE                  list every resource and decode it
    check_resources.py EXE --check [--url URL] [--property NAME=TEXT ...]
                                            compare with the expected set

The listing shows each resource's type, name, language and size, decodes the
string table blocks, dumps dialog 101's template, the icons, the JPEG frame
headers, the manifest, the version record and the type-40 properties.

--check compares the executable with the resource set the installer expects
(exact string bytes including trailing blanks, dialog template fields,
baseline 392 x 209 JPEGs, 32 x 32 32-bpp icons, the manifest's contents,
the version record). --url is the expected text of string 126 (default: any
non-empty http:// or https:// URL without a trailing slash); each --property names a
type-40 resource that must exist with that text, and no other type-40
resource may exist. It prints one line per check and ends with
"N passed, N failed"; the exit code is 1 when a check failed.

Pure Python 3, no dependencies: it reads the PE resource directory itself.
"""
import argparse
import struct
import sys
import xml.etree.ElementTree as ET

RT_NAMES = {
    1: 'RT_CURSOR', 2: 'RT_BITMAP', 3: 'RT_ICON', 4: 'RT_MENU', 5: 'RT_DIALOG',
    6: 'RT_STRING', 9: 'RT_ACCELERATOR', 10: 'RT_RCDATA', 12: 'RT_GROUP_CURSOR',
    14: 'RT_GROUP_ICON', 16: 'RT_VERSION', 24: 'RT_MANIFEST',
}
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
RT_PROPERTY = 40
LANG_ZH_CN = 2052
LANG_EN_US = 1033


# ---------------------------------------------------------------------------
# PE resource directory

class PeError(Exception):
    pass


class Resource:
    def __init__(self, rtype, name, lang, data, codepage):
        self.type = rtype      # int or str
        self.name = name       # int or str
        self.lang = lang       # int
        self.data = data       # bytes
        self.codepage = codepage

    def label(self):
        return '%s %s lang %d' % (type_label(self.type), name_label(self.name), self.lang)


def type_label(t):
    if isinstance(t, str):
        return '"%s"' % t
    return RT_NAMES.get(t, str(t))


def name_label(n):
    return '"%s"' % n if isinstance(n, str) else str(n)


def read_resources(path):
    with open(path, 'rb') as f:
        img = f.read()
    if img[:2] != b'MZ':
        raise PeError('not an MZ executable')
    pe = struct.unpack_from('<I', img, 0x3C)[0]
    if img[pe:pe + 4] != b'PE\0\0':
        raise PeError('no PE signature')
    machine, nsections, _, _, _, opt_size, _ = struct.unpack_from('<HHIIIHH', img, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from('<H', img, opt)[0]
    if magic == 0x10B:
        dd = opt + 96
    elif magic == 0x20B:
        dd = opt + 112
    else:
        raise PeError('unknown optional header magic 0x%x' % magic)
    rsrc_rva, rsrc_size = struct.unpack_from('<II', img, dd + 2 * 8)
    sections = []
    sec = opt + opt_size
    for i in range(nsections):
        name, vsize, va, rawsize, rawptr = struct.unpack_from('<8sIIII', img, sec + 40 * i)
        sections.append((va, max(vsize, rawsize), rawptr))

    def off(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise PeError('RVA 0x%x is in no section' % rva)

    info = {'machine': machine, 'rsrc_size': rsrc_size}
    if rsrc_rva == 0:
        return info, []
    base = off(rsrc_rva)

    def entries(dir_off):
        _, _, _, _, n_named, n_id = struct.unpack_from('<IIHHHH', img, base + dir_off)
        out = []
        for i in range(n_named + n_id):
            name, target = struct.unpack_from('<II', img, base + dir_off + 16 + 8 * i)
            if name & 0x80000000:
                p = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from('<H', img, p)[0]
                key = img[p + 2:p + 2 + 2 * length].decode('utf-16-le')
            else:
                key = name
            out.append((key, target))
        return out

    resources = []
    for rtype, t1 in entries(0):
        for rname, t2 in entries(t1 & 0x7FFFFFFF):
            for lang, t3 in entries(t2 & 0x7FFFFFFF):
                data_rva, size, codepage, _ = struct.unpack_from('<IIII', img, base + t3)
                p = off(data_rva)
                resources.append(Resource(rtype, rname, lang, img[p:p + size], codepage))
    return info, resources


# ---------------------------------------------------------------------------
# Decoders

def decode_string_block(data):
    """16 counted UTF-16 strings -> list of 16 texts (None when length 0)."""
    out = []
    p = 0
    for _ in range(16):
        n = struct.unpack_from('<H', data, p)[0]
        p += 2
        out.append(data[p:p + 2 * n].decode('utf-16-le') if n else None)
        p += 2 * n
    return out


def string_table(resources):
    """{(id, lang): text} of every RT_STRING entry."""
    table = {}
    for r in resources:
        if r.type == RT_STRING and isinstance(r.name, int):
            for i, text in enumerate(decode_string_block(r.data)):
                if text is not None:
                    table[((r.name - 1) * 16 + i, r.lang)] = text
    return table


def _sz_or_ord(data, p):
    first = struct.unpack_from('<H', data, p)[0]
    if first == 0xFFFF:
        return struct.unpack_from('<H', data, p + 2)[0], p + 4
    end = p
    while struct.unpack_from('<H', data, end)[0] != 0:
        end += 2
    return data[p:end].decode('utf-16-le'), end + 2


def _align4(p):
    return (p + 3) & ~3


def decode_dialogex(data):
    ver, sig, help_id, ex_style, style, count, x, y, cx, cy = \
        struct.unpack_from('<HHIIIHhhhh', data, 0)
    if ver != 1 or sig != 0xFFFF:
        raise ValueError('not an extended dialog template')
    p = 26
    menu, p = _sz_or_ord(data, p)
    cls, p = _sz_or_ord(data, p)
    title, p = _sz_or_ord(data, p)
    d = {'help_id': help_id, 'ex_style': ex_style, 'style': style, 'count': count,
         'rect': (x, y, cx, cy), 'menu': menu, 'class': cls, 'title': title, 'font': None}
    if style & 0x40 or style & 0x48 == 0x48:  # DS_SETFONT (DS_SHELLFONT includes it)
        size, weight, italic, charset = struct.unpack_from('<HHBB', data, p)
        face, p = _sz_or_ord(data, p + 6)
        d['font'] = (size, weight, italic, charset, face)
    items = []
    for _ in range(count):
        p = _align4(p)
        ihelp, iex, istyle, ix, iy, icx, icy, iid = struct.unpack_from('<IIIhhhhI', data, p)
        p += 24
        icls, p = _sz_or_ord(data, p)
        ititle, p = _sz_or_ord(data, p)
        extra = struct.unpack_from('<H', data, p)[0]
        p += 2 + extra
        items.append({'help_id': ihelp, 'ex_style': iex, 'style': istyle,
                      'rect': (ix, iy, icx, icy), 'id': iid, 'class': icls,
                      'title': ititle, 'extra': extra})
    d['items'] = items
    d['end'] = p
    return d


def jpeg_frame(data):
    """(marker, width, height, components) of the first SOFn, or None."""
    if data[:2] != b'\xFF\xD8':
        return None
    p = 2
    while p + 4 <= len(data):
        if data[p] != 0xFF:
            return None
        marker = data[p + 1]
        if marker == 0xFF:
            p += 1
            continue
        length = struct.unpack_from('>H', data, p + 2)[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            _, h, w, n = struct.unpack_from('>BHHB', data, p + 4)
            return marker, w, h, n
        if marker == 0xDA:
            return None
        p += 2 + length
    return None


def decode_group_icon(data):
    _, kind, count = struct.unpack_from('<HHH', data, 0)
    out = []
    for i in range(count):
        w, h, colors, _, planes, bpp, size, icon_id = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
        out.append({'width': w or 256, 'height': h or 256, 'bpp': bpp, 'size': size, 'id': icon_id})
    return kind, out


def decode_icon_image(data):
    if data[:8] == b'\x89PNG\r\n\x1a\n':
        return {'format': 'PNG'}
    hsize, w, h, planes, bpp, compression = struct.unpack_from('<IiiHHI', data, 0)
    return {'format': 'DIB', 'header': hsize, 'width': w, 'height': h // 2,
            'bpp': bpp, 'compression': compression}


def decode_version(data):
    """Returns (fixed info tuple, {block: {key: value}}, translations)."""

    def node(p):
        length, vlen, vtype = struct.unpack_from('<HHH', data, p)
        end = p + length
        key, q = _sz_or_ord(data, p + 6)
        q = _align4(q)
        if vtype == 1:
            value = data[q:q + 2 * vlen].decode('utf-16-le')
            q += 2 * vlen
        else:
            value = data[q:q + vlen]
            q += vlen
        children = []
        q = _align4(q)
        while q < end:
            child, q = node(q)
            children.append(child)
            q = _align4(q)
        return (key, value, children), end

    (key, value, children), _ = node(0)
    fixed = struct.unpack('<13I', value) if len(value) == 52 else None
    strings = {}
    translations = []
    for ckey, _, sub in children:
        if ckey == 'StringFileInfo':
            for table_key, _, pairs in sub:
                strings[table_key] = {k: v for k, v, _ in pairs}
        elif ckey == 'VarFileInfo':
            for vkey, vvalue, _ in sub:
                if vkey == 'Translation':
                    translations = [struct.unpack_from('<HH', vvalue, i)
                                    for i in range(0, len(vvalue), 4)]
    return fixed, strings, translations


def version_text(ms, ls):
    return '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


# ---------------------------------------------------------------------------
# Listing

def list_resources(info, resources):
    print('resource section: %d bytes, %d resources' % (info['rsrc_size'], len(resources)))
    for r in resources:
        print('  %-16s %-14s lang %-5d %6d bytes' % (type_label(r.type), name_label(r.name),
                                                     r.lang, len(r.data)))
    print()
    print('string table:')
    for (sid, lang), text in sorted(string_table(resources).items()):
        print('  %d [%d] %r' % (sid, lang, text))
    for r in resources:
        if r.type == RT_DIALOG:
            print()
            print('dialog %s [%d]:' % (name_label(r.name), r.lang))
            try:
                d = decode_dialogex(r.data)
            except ValueError as e:
                print('  ' + str(e))
                continue
            print('  style 0x%08X ex_style 0x%08X help_id %d rect %s' % (
                d['style'], d['ex_style'], d['help_id'], d['rect']))
            print('  menu %r class %r title %r font %r' % (d['menu'], d['class'], d['title'], d['font']))
            for it in d['items']:
                cls = '0x%04X' % it['class'] if isinstance(it['class'], int) else repr(it['class'])
                print('  control %d class %s title %r style 0x%08X ex_style 0x%08X help_id %d rect %s extra %d'
                      % (it['id'], cls, it['title'], it['style'], it['ex_style'], it['help_id'],
                         it['rect'], it['extra']))
            print('  template %d bytes, parsed %d' % (len(r.data), d['end']))
    icons = {r.name: r for r in resources if r.type == RT_ICON}
    for r in resources:
        if r.type == RT_GROUP_ICON:
            print()
            kind, entries = decode_group_icon(r.data)
            print('icon group %s [%d], type %d:' % (name_label(r.name), r.lang, kind))
            for e in entries:
                img = icons.get(e['id'])
                detail = decode_icon_image(img.data) if img else 'missing'
                print('  icon %d: %dx%d %d bpp %d bytes; image %s' % (
                    e['id'], e['width'], e['height'], e['bpp'], e['size'], detail))
    for r in resources:
        if r.type == 'JPG':
            frame = jpeg_frame(r.data)
            print()
            if frame:
                marker, w, h, n = frame
                kind = {0xC0: 'baseline', 0xC1: 'extended sequential', 0xC2: 'progressive'}.get(marker, '?')
                print('JPG %s [%d]: %d bytes, SOF%d (%s), %dx%d, %d components' % (
                    name_label(r.name), r.lang, len(r.data), marker - 0xC0, kind, w, h, n))
            else:
                print('JPG %s [%d]: %d bytes, no JPEG frame header' % (name_label(r.name), r.lang, len(r.data)))
    for r in resources:
        if r.type == RT_PROPERTY:
            print()
            print('property %s [%d]: %r' % (name_label(r.name), r.lang, r.data.decode('utf-16-le', 'replace')))
    for r in resources:
        if r.type == RT_VERSION:
            fixed, strings, translations = decode_version(r.data)
            print()
            print('version %s [%d]:' % (name_label(r.name), r.lang))
            if fixed:
                print('  file %s product %s' % (version_text(fixed[2], fixed[3]), version_text(fixed[4], fixed[5])))
            for block, pairs in strings.items():
                print('  block %s' % block)
                for k, v in pairs.items():
                    print('    %s = %r' % (k, v))
            print('  translations %s' % ', '.join('0x%04X/%d' % t for t in translations))
    for r in resources:
        if r.type == RT_MANIFEST:
            print()
            print('manifest %s [%d]:' % (name_label(r.name), r.lang))
            print(r.data.decode('utf-8', 'replace'))


# ---------------------------------------------------------------------------
# Expected resource set

USAGE = ('说明：\n'
         '   /? :  显示此对话框\n'
         '   /a :  使用管理员权限进行安装.\n'
         '   /a <对已存在完整路径使用管理员权限进行安装> :  .\n'
         '   /v <文件完整路径> :  使用文件默认的权限验证。\n'
         '"')

EXPECTED_STRINGS = {
    103: 'Vexo影音在线安装',
    104: '取消',
    105: USAGE,
    106: '请重新启动您的电脑以使更改生效。 按确定重启电脑，手动重启请按取消。',
    107: '程序运行期间发生了一个致命的内部错误！',
    108: '内存溢出' + ' ' * 51,
    109: 'Vexo影音在线安装',
    110: 'Vexo影音安装包',
    111: '%s正在下载，请耐心等待...',
    112: 'Vexo影音安装已被取消。' + ' ' * 29,
    113: "路径'%1'无效。",
    114: "安装程序无法找到安装文件'%1'。",
    115: '正在下载Vexo影音安装包...' + ' ' * 18,
    116: '此版本程序不支持数字签名。' + ' ' * 17,
    117: 'Vexo影音安装已被取消。' + ' ' * 29,
    118: '安装程序无法升级程序包',
    119: '运行程序需要管理员权限' + ' ' * 29,
    120: '准备下载Vexo影音安装包，是否继续？',
    121: "资源ID'%s'未找到。" + ' ' * 33,
    122: "正在下载安装包'%s'...",
    123: "安装程序无法找到包'%1'。",
    124: "正在验证数字签名'%s'",
    125: '下载完成。',
    # 126: the package base URL, checked separately
    127: 'vexo_303.exe',
}

SLIDE_IDS = (129, 130, 131, 132)


class Checker:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what, detail=''):
        if ok:
            self.passed += 1
            print('ok     %s' % what)
        else:
            self.failed += 1
            print('FAILED %s%s' % (what, (': ' + detail) if detail else ''))
        return ok


def find(resources, rtype, name):
    return [r for r in resources if r.type == rtype and r.name == name]


def check_resources(resources, expected_url, expected_props):
    c = Checker()

    # Languages: everything zh-CN but the manifest (en-US).
    for r in resources:
        want = LANG_EN_US if r.type == RT_MANIFEST else LANG_ZH_CN
        c.check(r.lang == want, '%s has language %d' % (r.label(), want), 'language %d' % r.lang)

    # String table: exact texts, nothing outside 103..127.
    table = string_table(resources)
    ids = sorted(sid for sid, _ in table)
    c.check(ids == list(range(103, 128)), 'string ids are exactly 103..127', str(ids))
    for sid, want in sorted(EXPECTED_STRINGS.items()):
        got = table.get((sid, LANG_ZH_CN))
        c.check(got == want, 'string %d' % sid, 'got %r, want %r' % (got, want))
    url = table.get((126, LANG_ZH_CN))
    if expected_url is not None:
        c.check(url == expected_url, 'string 126 is the package base URL', 'got %r, want %r' % (url, expected_url))
    else:
        c.check(url is not None and url.startswith(('http://', 'https://')) and len(url) > 8 and not url.endswith('/'),
                'string 126 is an http(s) URL without a trailing slash', repr(url))

    # Dialog 101.
    dialogs = find(resources, RT_DIALOG, 101)
    if c.check(len(dialogs) == 1, 'one dialog 101'):
        try:
            d = decode_dialogex(dialogs[0].data)
        except (ValueError, struct.error) as e:
            c.check(False, 'dialog 101 is an extended template', str(e))
        else:
            c.check(d['style'] == 0x80CA01CC, 'dialog style 0x80CA01CC', '0x%08X' % d['style'])
            c.check(d['ex_style'] == 0 and d['help_id'] == 0, 'dialog ex_style and help id 0',
                    '0x%08X, %d' % (d['ex_style'], d['help_id']))
            c.check(d['rect'] == (150, 150, 195, 129), 'dialog at 150,150 size 195x129', str(d['rect']))
            c.check(d['menu'] == '' and d['class'] == '' and d['title'] == '',
                    'dialog has no menu, no class, empty title', '%r %r %r' % (d['menu'], d['class'], d['title']))
            c.check(d['font'] == (9, 0, 0, 0, 'MS Shell Dlg'), 'dialog font "MS Shell Dlg" 9, weight 0, charset 0',
                    repr(d['font']))
            items = d['items']
            c.check(len(items) == 2, 'dialog has two controls', str(len(items)))
            want_items = [
                {'id': 112, 'class': 0x0080, 'title': '取消', 'style': 0x50010000, 'rect': (140, 110, 50, 14)},
                {'id': 114, 'class': 'msctls_progress32', 'title': '', 'style': 0x50800000, 'rect': (0, 95, 195, 10)},
            ]
            for want, got in zip(want_items, items):
                got_part = {k: got[k] for k in want}
                c.check(got_part == want and got['ex_style'] == 0 and got['help_id'] == 0 and got['extra'] == 0,
                        'control %d' % want['id'], repr(got))
            c.check(d['end'] == len(dialogs[0].data), 'dialog template has nothing after the controls',
                    '%d of %d bytes parsed' % (d['end'], len(dialogs[0].data)))

    # Icon groups 107 and 108: one 32 x 32 32-bpp DIB image each.
    groups = sorted(r.name for r in resources if r.type == RT_GROUP_ICON)
    c.check(groups == [107, 108], 'icon groups are 107 and 108', str(groups))
    icons = {r.name: r for r in resources if r.type == RT_ICON}
    for gid in (107, 108):
        for g in find(resources, RT_GROUP_ICON, gid):
            kind, entries = decode_group_icon(g.data)
            ok = kind == 1 and len(entries) == 1 and entries[0]['width'] == 32 \
                and entries[0]['height'] == 32 and entries[0]['bpp'] == 32
            c.check(ok, 'icon group %d: one 32x32 32-bpp entry' % gid, repr(entries))
            for e in entries:
                img = icons.get(e['id'])
                detail = decode_icon_image(img.data) if img else None
                c.check(detail is not None and detail['format'] == 'DIB' and detail['width'] == 32
                        and detail['height'] == 32 and detail['bpp'] == 32 and detail['compression'] == 0
                        and len(img.data) == e['size'],
                        'icon %d of group %d is a 32x32 32-bpp DIB' % (e['id'], gid), repr(detail))

    # Slides.
    jpgs = sorted(r.name for r in resources if r.type == 'JPG')
    c.check(jpgs == list(SLIDE_IDS), 'JPG resources are 129..132', str(jpgs))
    for sid in SLIDE_IDS:
        for r in find(resources, 'JPG', sid):
            frame = jpeg_frame(r.data)
            c.check(frame == (0xC0, 392, 209, 3), 'JPG %d is a baseline 392x209 3-component JPEG' % sid, repr(frame))
            c.check(4 * 1024 <= len(r.data) <= 10 * 1024, 'JPG %d is 4..10 KB' % sid, '%d bytes' % len(r.data))
            c.check(r.data.endswith(b'\xFF\xD9'), 'JPG %d ends with EOI' % sid)

    # Manifest.
    manifests = [r for r in resources if r.type == RT_MANIFEST]
    if c.check(len(manifests) == 1 and manifests[0].name == 1, 'one manifest, id 1',
               str([(r.name, r.lang) for r in manifests])):
        check_manifest(c, manifests[0].data)

    # Version record.
    versions = find(resources, RT_VERSION, 1)
    if c.check(len(versions) == 1, 'one version record, id 1'):
        fixed, strings, translations = decode_version(versions[0].data)
        c.check(fixed is not None and fixed[0] == 0xFEEF04BD, 'version record has VS_FIXEDFILEINFO')
        if fixed:
            c.check(version_text(fixed[2], fixed[3]) == '1.0.0.1' and version_text(fixed[4], fixed[5]) == '1.0.0.1',
                    'file and product version 1.0.0.1')
        c.check(list(strings) == ['080403a8'], 'one string block 080403a8', str(list(strings)))
        fields = strings.get('080403a8', {})
        for key in ('FileDescription', 'FileVersion', 'InternalName', 'LegalCopyright',
                    'OriginalFilename', 'ProductName', 'ProductVersion'):
            c.check(bool(fields.get(key, '').rstrip('\0')), 'version field %s' % key, repr(fields.get(key)))
        c.check(fields.get('FileVersion', '').rstrip('\0') == '1, 0, 0, 1', 'FileVersion text "1, 0, 0, 1"')
        c.check(fields.get('ProductVersion', '').rstrip('\0') == '1, 0, 0, 1', 'ProductVersion text "1, 0, 0, 1"')
        c.check(translations == [(0x0804, 936)], 'translation 0x0804 / 936', repr(translations))

    # Properties (type 40).
    props = {r.name: r for r in resources if r.type == RT_PROPERTY}
    c.check(sorted(props, key=str) == sorted(expected_props, key=str), 'type-40 resources are exactly %s'
            % (sorted(expected_props) or 'none'), str(sorted(props, key=str)))
    for name, text in sorted(expected_props.items()):
        r = props.get(name)
        want = (text + '\0').encode('utf-16-le')
        c.check(r is not None and r.data == want, 'property %s is %r as UTF-16LE + NUL' % (name, text),
                repr(r.data if r else None))

    # Nothing unexpected.
    known = {RT_STRING, RT_DIALOG, RT_ICON, RT_GROUP_ICON, RT_MANIFEST, RT_VERSION, RT_PROPERTY, 'JPG'}
    extra = sorted({type_label(r.type) for r in resources if r.type not in known})
    c.check(not extra, 'no other resource types', str(extra))

    print('%d passed, %d failed' % (c.passed, c.failed))
    return c.failed == 0


def check_manifest(c, data):
    asm = '{urn:schemas-microsoft-com:asm.v1}'
    asm3 = '{urn:schemas-microsoft-com:asm.v3}'
    compat = '{urn:schemas-microsoft-com:compatibility.v1}'
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        c.check(False, 'manifest is well-formed XML', str(e))
        return
    ident = root.find(asm + 'assemblyIdentity')
    c.check(ident is not None and ident.get('version') == '1.0.0.0' and ident.get('type') == 'win32'
            and ident.get('processorArchitecture') == 'X86' and bool(ident.get('name')),
            'manifest identity: version 1.0.0.0, X86, win32', repr(ident.attrib if ident is not None else None))
    deps = root.findall('%sdependency/%sdependentAssembly/%sassemblyIdentity' % (asm, asm, asm))
    want_dep = {'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls', 'version': '6.0.0.0',
                'processorArchitecture': 'X86', 'publicKeyToken': '6595b64144ccf1df', 'language': '*'}
    c.check([d.attrib for d in deps] == [want_dep], 'manifest depends on Common-Controls 6.0.0.0',
            repr([d.attrib for d in deps]))
    level = None
    for ns in (asm3, asm):
        level = root.find('%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel'
                          % (ns, ns, ns, ns))
        if level is not None:
            break
    c.check(level is not None and level.get('level') == 'requireAdministrator' and level.get('uiAccess') == 'false',
            'manifest requires administrator, uiAccess false', repr(level.attrib if level is not None else None))
    oses = [e.get('Id') for e in root.findall('%scompatibility/%sapplication/%ssupportedOS' % (compat, compat, compat))]
    c.check(oses == ['{e2011457-1546-43c5-a5fe-008deee3d3f0}', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}'],
            'manifest supports Vista and Windows 7', repr(oses))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('exe')
    ap.add_argument('--check', action='store_true', help='compare with the expected resource set')
    ap.add_argument('--url', help='expected text of string 126')
    ap.add_argument('--property', action='append', default=[], metavar='NAME=TEXT',
                    help='expected type-40 resource (repeatable)')
    args = ap.parse_args(argv)
    props = {}
    for p in args.property:
        name, sep, text = p.partition('=')
        if not sep:
            ap.error('--property wants NAME=TEXT')
        props[name] = text
    try:
        info, resources = read_resources(args.exe)
    except (OSError, PeError, struct.error) as e:
        print('%s: %s' % (args.exe, e), file=sys.stderr)
        return 2
    if not args.check:
        list_resources(info, resources)
        return 0
    return 0 if check_resources(resources, args.url, props) else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
