#!/usr/bin/env python3
"""Checks the resources of a built vexo_setup.exe against the expected
values in this folder: strings.json (the string table, trailing blanks
included) and expected.json (the rest of the resource set).

    check.py EXE [--url URL] [--property NAME=TEXT ...]

String 126 must be URL and the type-40 properties exactly the given ones;
both default to the configuration in the CMakeCache.txt beside EXE
(VEXO_PACKAGE_BASE_URL, VEXO_PRODUCT_NAME, VEXO_OPERATION). Prints every
failed check and ends with "resources: N passed, N failed".
"""
import argparse
import json
import os
import struct
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST, RT_PROPERTY = 3, 5, 6, 14, 16, 24, 40
counts = [0, 0]


def check(what, ok, seen=...):
    counts[0 if ok else 1] += 1
    if not ok:
        print('FAIL %s%s' % (what, '' if seen is ... else ': got %r' % (seen,)))


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
    got = dict(template=[ver, sig], style='0x%08X' % style, ex_style='0x%08X' % ex, rect=[x, y, cx, cy],
               menu=menu, title=title, font=[face, points], controls=[], **{'class': cls})
    for _ in range(count):
        at = (at + 3) & ~3
        _, ex, style, x, y, cx, cy, cid = struct.unpack_from('<IIIhhhhI', d, at)
        cls, at = wide(d, at + 24)
        text, at = wide(d, at)
        at += 2 + struct.unpack_from('<H', d, at)[0]
        got['controls'].append(dict(id=cid, text=text, style='0x%08X' % style, ex_style='0x%08X' % ex,
                                    rect=[x, y, cx, cy], **{'class': cls}))
    return got


def jpeg_frame(d):
    """(baseline or not, width, height, components) from the first frame header."""
    at = 2
    while d[:2] == b'\xff\xd8' and at + 4 <= len(d) and d[at] == 0xFF:
        marker, length = d[at + 1], struct.unpack_from('>H', d, at + 2)[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width, components = struct.unpack_from('>HHB', d, at + 5)
            return dict(frame='baseline' if marker == 0xC0 else 'SOF%d' % (marker - 0xC0),
                        width=width, height=height, components=components)
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


def cache_config(exe):
    config = {}
    path = os.path.join(os.path.dirname(os.path.abspath(exe)), 'CMakeCache.txt')
    for line in open(path, encoding='utf-8') if os.path.exists(path) else []:
        key, _, value = line.rstrip('\n').partition('=')
        config[key.split(':')[0]] = value
    return config


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('exe')
    parser.add_argument('--url')
    parser.add_argument('--property', action='append', default=None, metavar='NAME=TEXT')
    args = parser.parse_args()
    config = cache_config(args.exe)
    url = args.url if args.url is not None else config.get('VEXO_PACKAGE_BASE_URL')
    properties = dict(p.split('=', 1) for p in args.property) if args.property is not None else {
        name: config[key] for name, key in (('PRODUCTNAME', 'VEXO_PRODUCT_NAME'), ('OPERATION', 'VEXO_OPERATION'))
        if config.get(key)}
    with open(os.path.join(HERE, 'expected.json'), encoding='utf-8') as f:
        want = json.load(f)
    with open(os.path.join(HERE, 'strings.json'), encoding='utf-8') as f:
        texts = {int(k): v for k, v in json.load(f).items()}
    if url is None:
        check('string 126: the configured base URL (no CMakeCache.txt beside the executable, no --url)', False)
    else:
        texts[126] = url
    res = read_resources(args.exe)
    one = {key: entries[0][1] for key, entries in res.items()}

    for (rtype, name), entries in sorted(res.items(), key=str):
        lang = want['manifest_language'] if rtype == RT_MANIFEST else want['language']
        check('%s %s: one entry, language %d' % (rtype, name, lang), [e[0] for e in entries] == [lang],
              [e[0] for e in entries])
    names = {str(t): sorted(n for (rt, n) in res if rt == t) for t in {rt for rt, _ in res}}
    for rtype in (set(names) | set(want['names'])) - {str(RT_ICON), str(RT_STRING), str(RT_PROPERTY)}:
        check('names of resource type %s' % rtype, names.get(rtype) == want['names'].get(rtype), names.get(rtype))

    strings = {}
    for (rtype, block), data in one.items():
        at = 0
        for i in range(16 if rtype == RT_STRING else 0):
            n = struct.unpack_from('<H', data, at)[0]
            if n:
                strings[(block - 1) * 16 + i] = data[at + 2:at + 2 + 2 * n].decode('utf-16-le')
            at += 2 + 2 * n
    for sid in sorted(set(strings) | set(texts)):
        check('string %d' % sid, strings.get(sid) == texts.get(sid), strings.get(sid))

    got = dialog(one[(RT_DIALOG, 101)]) if (RT_DIALOG, 101) in one else {}
    for key, value in want['dialog'].items():
        if key != 'controls':
            check('dialog 101 %s' % key, got.get(key) == value, got.get(key))
    for i, control in enumerate(want['dialog']['controls']):
        seen = got.get('controls', [])[i] if i < len(got.get('controls', [])) else {}
        for key, value in control.items():
            check('dialog 101 control %d %s' % (control['id'], key), seen.get(key) == value, seen.get(key))
    check('dialog 101: number of controls', len(got.get('controls', [])) == len(want['dialog']['controls']))

    icon = want['icon']
    for group in want['names'][str(RT_GROUP_ICON)]:
        data = one.get((RT_GROUP_ICON, group), b'\0' * 6)
        images = struct.unpack_from('<4xH', data)[0]
        seen = []
        for i in range(images):
            w, h, _, _, _, bits, _, iid = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
            head = struct.unpack_from('<IiiHH', one.get((RT_ICON, iid), b'\0' * 16))
            seen.append((w, h, bits, head[1], head[2] // 2, head[4]))
        check('icon group %d: one %dx%d %d-bit image' % (group, icon['width'], icon['height'], icon['bits']),
              seen == [(icon['width'], icon['height'], icon['bits']) * 2], seen)

    for slide in want['names']['JPG']:
        frame = jpeg_frame(one.get(('JPG', slide), b''))
        check('slide %d: %s' % (slide, want['slide']), frame == want['slide'], frame)

    manifest = want['manifest']
    root = ET.fromstring(one.get((RT_MANIFEST, 1), b'<none/>'))
    elements = {}
    for e in root.iter():
        elements.setdefault(e.tag.split('}')[-1], []).append(e)
    level = [e.attrib for e in elements.get('requestedExecutionLevel', [])]
    check('manifest requestedExecutionLevel', level == [manifest['requestedExecutionLevel']], level)
    dependency = [child.attrib for e in elements.get('dependentAssembly', []) for child in e
                  if child.tag.endswith('assemblyIdentity')]
    check('manifest dependentAssembly', [{k: d.get(k) for k in manifest['dependentAssembly']} for d in dependency]
          == [manifest['dependentAssembly']], dependency)
    supported = sorted(e.get('Id') for e in elements.get('supportedOS', []))
    check('manifest supportedOS', supported == sorted(manifest['supportedOS']), supported)

    version = want['version']
    record = version_block(one.get((RT_VERSION, 1), b'\0' * 6))
    ms, ls, pms, pls = struct.unpack_from('<8x4I', record[1]) if len(record[1]) >= 24 else (0, 0, 0, 0)
    for what, high, low in (('file', ms, ls), ('product', pms, pls)):
        numbers = [high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF]
        check('version record: %s version %s' % (what, version['fixed']), numbers == version['fixed'], numbers)
    blocks = {k: c for k, _, c, _ in record[2]}
    tables = {k.lower(): {f: v.decode('utf-16-le').rstrip('\0') for f, v, _, _ in c}
              for k, _, c, _ in blocks.get('StringFileInfo', [])}
    check('version record: one string block %s' % version['block'], list(tables) == [version['block']], list(tables))
    fields = tables.get(version['block'], {})
    for key, value in version['strings'].items():
        check('version record: %s' % key, fields.get(key) == value, fields.get(key))
    check('version record: descriptive fields', sorted(fields) == sorted(version['fields']), sorted(fields))
    translation = [list(struct.unpack('<HH', v)) for k, v, _, _ in blocks.get('VarFileInfo', [])]
    check('version record: translation', translation == [version['translation']], translation)

    seen = {name: data for (rtype, name), data in one.items() if rtype == RT_PROPERTY}
    check('properties (type 40): %s' % sorted(properties), sorted(seen) == sorted(properties), sorted(seen))
    for name, text in properties.items():
        check('property %s: UTF-16LE text and NUL' % name, seen.get(name) == (text + '\0').encode('utf-16-le'),
              seen.get(name))

    print('resources: %d passed, %d failed' % tuple(counts))
    return 1 if counts[1] else 0


if __name__ == '__main__':
    sys.exit(main())
