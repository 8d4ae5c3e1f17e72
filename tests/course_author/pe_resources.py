"""Reads resources back out of a built Windows program, from the PE format's
own layout (no tool of the build's): the resource data by type and id, and a
version resource's fixed version numbers and strings."""
import struct

RESOURCE_DIRECTORY = 2  # index of the resource table among the data directories
VERSION_SIGNATURE = 0xFEEF04BD


def file_offset(sections, rva):
    for address, size, offset in sections:
        if address <= rva < address + size:
            return offset + rva - address
    raise ValueError(f"address {rva:#x} is in no section")


def resources(program):
    """{(type, id): data} for every resource, of its first language."""
    with open(program, "rb") as image:
        data = image.read()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        raise ValueError(f"{program} is not a PE image")
    section_count, optional_size = struct.unpack_from("<H12xH", data, header + 6)
    optional = header + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        raise ValueError(f"{program} is not a 64-bit image")
    directory_rva = struct.unpack_from("<I", data, optional + 112 + 8 * RESOURCE_DIRECTORY)[0]
    sections = []
    for index in range(section_count):
        entry = optional + optional_size + 40 * index
        size, address, _, offset = struct.unpack_from("<IIII", data, entry + 8)
        sections.append((address, size, offset))
    root = file_offset(sections, directory_rva)

    def entries(table):
        named, numbered = struct.unpack_from("<HH", data, table + 12)
        for index in range(named + numbered):
            yield struct.unpack_from("<II", data, table + 16 + 8 * index)

    found = {}
    for kind, kind_target in entries(root):
        for name, name_target in entries(root + (kind_target & 0x7FFFFFFF)):
            _, language_target = next(entries(root + (name_target & 0x7FFFFFFF)))
            rva, size = struct.unpack_from("<II", data, root + language_target)
            found[(kind, name)] = data[file_offset(sections, rva):file_offset(sections, rva) + size]
    return found


def _align(offset):
    return (offset + 3) & ~3


def _block(data, offset):
    """One node of a version resource: (end, key, value bytes, children)."""
    length, value_length, text = struct.unpack_from("<HHH", data, offset)
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    value_start = _align(key_end + 2)
    value_end = value_start + (value_length * 2 if text else value_length)
    children, child = [], _align(value_end)
    while child < offset + length:
        node = _block(data, child)
        children.append(node)
        child = _align(node[0])
    return offset + length, key, data[value_start:value_end], children


def version_info(data):
    """The file and product versions, as four numbers each, and the strings
    of every string table, from a version resource's data."""
    _, key, fixed, children = _block(data, 0)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if key != "VS_VERSION_INFO" or signature != VERSION_SIGNATURE:
        raise ValueError("not a version resource")
    strings = {}
    for _, child_key, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, _, entries in tables:
                for _, name, value, _ in entries:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")

    def numbers(most, least):
        return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)

    return numbers(file_ms, file_ls), numbers(product_ms, product_ls), strings
