#!/usr/bin/env python3
"""Checks the resources of a built vexo_setup.exe against the expected
values beside this script: strings.json (the string table, trailing blanks
included) and expected.json (the rest). Strings 126 and 127 and the
type-40 properties are checked against the build's configuration, read from the
CMakeCache.txt beside the executable.

    check.py EXE        prints each failed check, then "resources: N passed, N failed"
"""
import json
import os
import struct
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST, RT_PROPERTY = 3, 5, 6, 14, 16, 24, 40
counts = [0, 0]


def check(what, ok, seen):
    counts[0 if ok else 1] += 1
    if not ok:
        print('FAIL %s: got %r' % (what, seen))


def compare(what, got, want):
    """One check per value of want; dicts by key, lists of dicts by position."""
    if isinstance(want, dict):
        for key, value in want.items():
            compare('%s / %s' % (what, key), got.get(key) if isinstance(got, dict) else None, value)
    elif isinstance(want, list) and want and isinstance(want[0], dict):
        got = got if isinstance(got, list) else []
        check(what + ' / count', len(got) == len(want), len(got))
        for i, value in enumerate(want):
            compare('%s [%d]' % (what, i), got[i] if i < len(got) else None, value)
    else:
        check(what, got == want, got)


def read_resources(path):
    """{(type, name): [(language, data)]} from the PE32 resource directory."""
    with open(path, 'rb') as f:
        img = f.read()
    pe = struct.unpack_from('<I', img, 0x3C)[0]
    nsections, optsize = struct.unpack_from('<H12xH', img, pe + 6)
    rva = struct.unpack_from('<I', img, pe + 24 + 96 + 2 * 8)[0]
    sections = [struct.unpack_from('<8xIIII', img, pe + 24 + optsize + 40 * i) for i in range(nsections)]

    def offset(r):
        return next(raw + r - va for vsize, va, rawsize, raw in sections if va <= r < va + max(vsize, rawsize))

    base = offset(rva)

    def entries(at):
        named, ids = struct.unpack_from('<12xHH', img, base + at)
        for i in range(named + ids):
            name, target = struct.unpack_from('<II', img, base + at + 16 + 8 * i)
            if name & 0x80000000:
                p = base + (name & 0x7FFFFFFF)
                name = img[p + 2:p + 2 + 2 * struct.unpack_from('<H', img, p)[0]].decode('utf-16-le')
            yield name, target & 0x7FFFFFFF

    found = {}
    for rtype, t in entries(0):
        for name, n in entries(t):
            for lang, leaf in entries(n):
                data, size = struct.unpack_from('<II', img, base + leaf)
                found.setdefault((rtype, name), []).append((lang, img[offset(data):offset(data) + size]))
    return found


def wide(d, at):
    """A NUL-terminated UTF-16 text, or an ordinal after 0xFFFF; and the offset behind it."""
    if d[at:at + 2] == b'\xff\xff':
        return struct.unpack_from('<H', d, at + 2)[0], at + 4
    end = at
    while d[end:end + 2] != b'\0\0':
        end += 2
    return d[at:end].decode('utf-16-le'), end + 2


def dialog(d):
    ver, sig, _, ex, style, count, x, y, cx, cy = struct.unpack_from('<HHIIIHhhhh', d)
    menu, at = wide(d, 26)
    cls, at = wide(d, at)
    title, at = wide(d, at)
    points = struct.unpack_from('<H', d, at)[0]
    face, at = wide(d, at + 6)
    got = {'template': [ver, sig], 'style': '0x%08X' % style, 'ex_style': '0x%08X' % ex, 'rect': [x, y, cx, cy],
           'menu': menu, 'class': cls, 'title': title, 'font': [face, points], 'controls': []}
    for _ in range(count):
        at = (at + 3) & ~3
        _, ex, style, x, y, cx, cy, cid = struct.unpack_from('<IIIhhhhI', d, at)
        cls, at = wide(d, at + 24)
        text, at = wide(d, at)
        at += 2 + struct.unpack_from('<H', d, at)[0]
        got['controls'].append({'id': cid, 'class': cls, 'text': text, 'style': '0x%08X' % style,
                                'ex_style': '0x%08X' % ex, 'rect': [x, y, cx, cy]})
    return got


def jpeg_frame(d):
    """The first frame header: baseline or not, width, height, components."""
    at = 2
    while d[:2] == b'\xff\xd8' and at + 4 <= len(d) and d[at] == 0xFF:
        marker, length = d[at + 1], struct.unpack_from('>H', d, at + 2)[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width, components = struct.unpack_from('>HHB', d, at + 5)
            return {'frame': 'baseline' if marker == 0xC0 else 'SOF%d' % (marker - 0xC0),
                    'width': width, 'height': height, 'components': components}
        at += 2 + length
    return None


def version_block(d, at=0):
    """(key, value, children, length) of one block of a version record."""
    length, vlen, vtype = struct.unpack_from('<HHH', d, at)
    key, p = wide(d, at + 6)
    p = (p + 3) & ~3
    value = d[p:p + (2 * vlen if vtype == 1 else vlen)]
    p = (p + len(value) + 3) & ~3
    children = []
    while p < at + length:
        children.append(version_block(d, p))
        p = (p + children[-1][3] + 3) & ~3
    return key, value, children, length


def version(d):
    _, fixed, blocks, _ = version_block(d)
    ms, ls, pms, pls = struct.unpack_from('<8x4I', fixed)
    blocks = {key: children for key, _, children, _ in blocks}
    tables = {k.lower(): {f: v.decode('utf-16-le').rstrip('\0') for f, v, _, _ in c}
              for k, _, c, _ in blocks.get('StringFileInfo', [])}
    strings = next(iter(tables.values()), {})
    return {'file': [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF], 'string blocks': list(tables),
            'product': [pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF], 'strings': strings,
            'fields': sorted(strings), 'translation': [list(struct.unpack('<HH', v))
                                                      for _, v, _, _ in blocks.get('VarFileInfo', [])]}


def manifest(d):
    elements = {}
    for e in ET.fromstring(d).iter():
        elements.setdefault(e.tag.split('}')[-1], []).append(e)
    return {'requestedExecutionLevel': [e.attrib for e in elements.get('requestedExecutionLevel', [])],
            'dependentAssembly': [c.attrib for e in elements.get('dependentAssembly', []) for c in e],
            'supportedOS': sorted(e.get('Id') for e in elements.get('supportedOS', []))}


def string_table(one):
    strings = {}
    for (rtype, block), data in one.items():
        at = 0
        for i in range(16 if rtype == RT_STRING else 0):
            n = struct.unpack_from('<H', data, at)[0]
            if n:
                strings[str((block - 1) * 16 + i)] = data[at + 2:at + 2 + 2 * n].decode('utf-16-le')
            at += 2 + 2 * n
    return strings


def icon_images(one, group):
    """[width, height, bits] of each image of a group, as the group and the image header agree."""
    data, images = one.get((RT_GROUP_ICON, int(group)), b'\0' * 6), []
    for i in range(struct.unpack_from('<4xH', data)[0]):
        w, h, _, _, _, bits, _, iid = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
        _, iw, ih, _, ibits = struct.unpack_from('<IiiHH', one.get((RT_ICON, iid), b'\0' * 16))
        images.append([w, h, bits] if [w, h, bits] == [iw, ih // 2, ibits] else [[w, h, bits], [iw, ih // 2, ibits]])
    return images


def main():
    exe = sys.argv[1]
    cache = os.path.join(os.path.dirname(os.path.abspath(exe)), 'CMakeCache.txt')
    lines = open(cache, encoding='utf-8').read().splitlines() if os.path.exists(cache) else []
    config = {k.split(':')[0]: v for k, _, v in (line.partition('=') for line in lines)}
    properties = {name: config[key] for name, key in (('PRODUCTNAME', 'VEXO_PRODUCT_NAME'),
                                                      ('OPERATION', 'VEXO_OPERATION')) if config.get(key)}
    with open(os.path.join(HERE, 'expected.json'), encoding='utf-8') as f:
        want = json.load(f)
    with open(os.path.join(HERE, 'strings.json'), encoding='utf-8') as f:
        want['strings'] = dict(json.load(f), **{'126': config.get('VEXO_PACKAGE_BASE_URL'),
                                                '127': config.get('VEXO_PACKAGE_FILE_NAME')})
    want['string ids'] = sorted(want['strings'], key=int)
    want['properties'] = {name: (text + '\0').encode('utf-16-le') for name, text in properties.items()}
    want['property names'] = sorted(properties)

    try:
        res = read_resources(exe)
    except (OSError, struct.error, StopIteration) as e:
        print('FAIL reading the resources of %s: %s\nresources: 0 passed, 1 failed' % (exe, e))
        return 1
    one = {key: entries[0][1] for key, entries in res.items()}
    got = {
        'languages': {'%s %s' % key: [lang for lang, _ in entries] for key, entries in res.items()},
        'names (string and icon images aside)': sorted('%s %s' % key for key in one
                                                       if key[0] not in (RT_ICON, RT_STRING, RT_PROPERTY)),
        'strings': string_table(one),
        'dialog': dialog(one[(RT_DIALOG, 101)]) if (RT_DIALOG, 101) in one else None,
        'icon groups: [width, height, bits] of each image': {
            group: icon_images(one, group) for group in want['icon groups: [width, height, bits] of each image']},
        'slides': {n: jpeg_frame(one[('JPG', int(n))]) for n in want['slides'] if ('JPG', int(n)) in one},
        'manifest': manifest(one[(RT_MANIFEST, 1)]) if (RT_MANIFEST, 1) in one else None,
        'version': version(one[(RT_VERSION, 1)]) if (RT_VERSION, 1) in one else None,
        'properties': {name: data for (rtype, name), data in one.items() if rtype == RT_PROPERTY},
    }
    got['string ids'] = sorted(got['strings'], key=int)
    got['property names'] = sorted(got['properties'])
    want['languages'] = {key: [want['manifest language' if key.startswith('24 ') else 'language']]
                         for key in got['languages']}
    del want['language'], want['manifest language']
    compare('resources', got, want)
    print('resources: %d passed, %d failed' % tuple(counts))
    return 1 if counts[1] else 0


if __name__ == '__main__':
    sys.exit(main() if len(sys.argv) == 2 else __doc__)
