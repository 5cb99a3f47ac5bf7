#!/usr/bin/python3
"""Reads the resources of a Windows program (PE32 or PE32+) without Windows:
    pe_resources.py FILE list            one line a resource: type id language size
    pe_resources.py FILE dump TYPE ID    the resource's bytes (the first language) to stdout
Types and ids are numbers (3 icon, 14 icon group, 16 version, 24 manifest) or names."""
import struct
import sys


def resources(data):
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe : pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", data, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    rsrc_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    spans = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + i * 40 + 8)
        spans.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, length, raw in spans:
            if start <= rva < start + length:
                return raw + rva - start
        raise ValueError("address 0x%x outside the sections" % rva)

    base = offset(rsrc_rva)

    def entries(directory):
        """(number or name, target) of a directory's entries; names come before numbers."""
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + i * 8)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                (length,) = struct.unpack_from("<H", data, at)
                name = data[at + 2 : at + 2 + 2 * length].decode("utf-16-le")
            yield name, target

    found = []
    for kind, types in entries(0):
        for ident, ids in entries(types & 0x7FFFFFFF):
            for language, leaf in entries(ids & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found.append((kind, ident, language, data[offset(rva) : offset(rva) + size]))
    return found


def main(argv):
    with open(argv[1], "rb") as f:
        found = resources(f.read())
    if argv[2] == "list":
        for kind, ident, language, body in found:
            print(kind, ident, language, len(body))
    elif argv[2] == "dump":
        for kind, ident, _, body in found:
            if str(kind) == argv[3] and str(ident) == argv[4]:
                sys.stdout.buffer.write(body)
                return 0
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
