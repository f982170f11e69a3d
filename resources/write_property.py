#!/usr/bin/env python3
"""Writes the data of a property resource (type 40): the UTF-8 text of
INPUT as UTF-16LE followed by one NUL character (two zero bytes).

    python3 write_property.py INPUT OUTPUT

The build runs this because windres mis-encodes non-ASCII text in inline
wide strings of user-type resources; the .rc references the binary file.
"""
import sys


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    src, dst = argv
    with open(src, 'rb') as f:
        text = f.read().decode('utf-8')
    data = (text + '\0').encode('utf-16-le')
    with open(dst, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv[1:])
