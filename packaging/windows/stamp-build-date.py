#!/usr/bin/env python3
"""Writes the link date into a Windows executable's resource directory header.

    stamp-build-date.py EXE

MinGW's linker leaves the time stamp of the resource directory 0; the program reads its build date
from there (util.cpp, ReadPeBuildDate) as an MS-DOS date and time in local time. The date is now,
or SOURCE_DATE_EPOCH when set (reproducible builds). It is also written to EXE.build-date as
YYYY-MM-DDTHH:MM:SS (seconds even, as the DOS format holds them) for the tests to compare.
"""
import os
import struct
import sys
import time


def resource_directory_offset(image: bytes) -> int:
    if image[:2] != b"MZ":
        raise ValueError("not an MZ image")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    sections, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    header = pe + 24 + optional_size
    for i in range(sections):
        at = header + 40 * i
        name = image[at:at + 8].split(b"\0", 1)[0]
        if name == b".rsrc":
            raw, = struct.unpack_from("<I", image, at + 20)
            if raw + 16 > len(image):
                raise ValueError(".rsrc lies outside the file")
            return raw
    raise ValueError("no .rsrc section (the executable needs a resource, e.g. its version)")


def dos_stamp(t: time.struct_time) -> int:
    date = (t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday
    clock = t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2
    return date << 16 | clock


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = sys.argv[1]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
    local = time.localtime(epoch)
    with open(path, "r+b") as f:
        image = f.read()
        try:
            offset = resource_directory_offset(image)
        except (ValueError, struct.error) as e:
            print(f"stamp-build-date: {path}: {e}", file=sys.stderr)
            return 1
        f.seek(offset + 4)
        f.write(struct.pack("<I", dos_stamp(local)))
    with open(path + ".build-date", "w", encoding="ascii") as f:
        f.write(time.strftime("%Y-%m-%dT%H:%M:", local) + f"{local.tm_sec - local.tm_sec % 2:02d}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
