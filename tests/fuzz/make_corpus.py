#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs into tests/fuzz/corpus/<fuzzer>/.

Each seed is a valid input or an edge case that the fuzzers' input layouts
(described at the top of each fuzzer) can express; the fuzzers mutate from
here. Run it again after changing a layout:  python3 tests/fuzz/make_corpus.py
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def record(name, offset, size, reserved=b"\0" * 8):
    assert len(name) <= 16
    return name.ljust(16, b"\0") + struct.pack("<II", offset, size) + reserved


def package(entries, count=None, signature=b"PackFile    "):
    """entries: (name, data) laid out back to back, as the packer does."""
    directory = b""
    data = b""
    for name, payload in entries:
        directory += record(name, len(data), len(payload))
        data += payload
    n = len(entries) if count is None else count
    return signature + struct.pack("<I", n) + directory + data


def raw_package(records, data, count=None):
    n = len(records) if count is None else count
    return b"PackFile    " + struct.pack("<I", n) + b"".join(records) + data


# The package fuzzer's control byte.
LONG_FOLDER = 0x01
def LIST(preset): return preset << 1
LIST_READ_ONLY = 0x10
OLD_ARCHIVE = 0x20
PREFIX_65520 = 0x80
PREFIX_1000 = 0xC0

THREE = [(b"a.arc", b"A" * 45), (b"b.arc", b"B" * 96), (b"c.arc", b"C" * 123)]


def package_seeds():
    seeds = {
        "three_entries": bytes([0]) + package(THREE),
        "no_entries": bytes([0]) + package([]),
        "sixteen_entries": bytes([0]) + package([(b"e%02d.arc" % i, bytes([i]) * i) for i in range(16)]),
        "seventeen_announced": bytes([0]) + package(THREE, count=17),
        "count_top_bit": bytes([0]) + package(THREE, count=0x80000003),
        "directory_cut": bytes([0]) + package(THREE)[:16 + 32 + 10],
        "header_cut": bytes([0]) + b"PackFile",
        "nothing_appended": bytes([0]),
        "last_entry_cut": bytes([0]) + package(THREE)[:-1],
        "empty_entry": bytes([0]) + package([(b"empty.arc", b""), (b"a.arc", b"xyz")]),
        "other_signature": bytes([0]) + package(THREE, signature=b"NotAPackage!"),
        "subfolder_name": bytes([0]) + package([(b"a.arc", b"1"), (b"sub\\b.arc", b"2")]),
        "parent_name": bytes([0]) + package([(b"a.arc", b"1"), (b"..\\b.arc", b"2")]),
        "dots_spaces_name": bytes([0]) + package([(b". .", b"1")]),
        "colon_name": bytes([0]) + package([(b"a.arc:s", b"1")]),
        "rooted_name": bytes([0]) + package([(b"/etc.arc", b"1")]),
        "no_nul_name": bytes([0]) + raw_package([record(b"sixteen-bytes.ar", 0, 1)], b"1"),
        "empty_name": bytes([0]) + package([(b"", b"1")]),
        "list_as_entry": bytes([0]) + package([(b"uninst.lst", b"x.arc\n\0"), (b"y.arc", b"y")]),
        "duplicate_names": bytes([0]) + package([(b"a.arc", b"first"), (b"a.arc", b"second")]),
        "shared_and_gaps": bytes([0]) + raw_package(
            [record(b"a.arc", 8, 4), record(b"b.arc", 0, 12), record(b"c.arc", 20, 0)], b"0123456789ABCDEFGHIJ"),
        "offset_wraps": bytes([0]) + raw_package([record(b"a.arc", 0xFFFFFFF0, 0x20)], b"z" * 32),
        "size_huge": bytes([0]) + raw_package([record(b"a.arc", 0, 0xFFFFFFFF)], b"z" * 32),
        "long_folder_fits": bytes([LONG_FOLDER]) + package([(b"fourteen.bytes", b"14")]),
        "long_folder_too_long": bytes([LONG_FOLDER]) + package([(b"a.arc", b"1"), (b"fifteen.bytes!!", b"15")]),
        "old_archive_replaced": bytes([OLD_ARCHIVE]) + package(THREE),
        "old_archive_kept": bytes([OLD_ARCHIVE]) + package(THREE)[:-1],
        "list_read_only": bytes([LIST_READ_ONLY]) + package(THREE),
        "list_read_only_replaced": bytes([LIST_READ_ONLY]) + package([(b"uninst.lst", b"\0")]),
        "prefix_65520": bytes([PREFIX_65520]) + b"\0" * 16 + package(THREE),
        "prefix_1000": bytes([PREFIX_1000]) + package(THREE),
    }
    for preset in range(1, 8):
        seeds["list_preset_%d" % preset] = bytes([LIST(preset)]) + package(THREE)
    return seeds


# The uninstall list fuzzer's header: control, filler, parameter, list length.
FILLER = 0x03
def INJECT(kind): return kind << 2
READ_ONLY = 0x20
MISSING = 0x40
LONG = 0x80


def list_input(list_bytes, names, control=0, filler=0, parameter=0):
    return (bytes([control, filler, parameter]) + struct.pack("<H", len(list_bytes)) + list_bytes +
            b"\0".join(names))


NAMES = [b"a.arc", b"b.arc"]


def list_seeds():
    return {
        "two_names": list_input(b"\0", NAMES),
        "lines_kept": list_input(b"old.arc\nx\r\n\0", NAMES + [b"old.arc"]),
        "no_names": list_input(b"old.arc\n\0", []),
        "empty_name": list_input(b"old.arc\n\0", [b""]),
        "substring_present": list_input(b"data\\a.arc.bak\n\0", NAMES),
        "names_inside_names": list_input(b"\0", [b"aa.arc", b"a.arc", b"b", b"bb"]),
        "duplicates": list_input(b"\0", [b"a.arc", b"a.arc"]),
        "empty_file": list_input(b"", NAMES),
        "no_closing_nul": list_input(b"old.arc\n", NAMES),
        "nul_inside": list_input(b"a\0b\0", NAMES),
        "no_line_feed": list_input(b"tail.arc\0", NAMES),
        "near_capacity": list_input(b"", [b"x" * 60, b"y" * 60, b"z" * 40], control=FILLER, filler=0),
        "at_capacity": list_input(b"\0", [b"q"], control=FILLER, filler=0x02 | (39 << 2)),
        "over_capacity": list_input(b"\0", NAMES, control=FILLER, filler=0x02 | (63 << 2)),
        "size_query_fails": list_input(b"old.arc\n\0", NAMES, control=INJECT(4)),
        "short_read": list_input(b"old.arc\n\0", NAMES, control=INJECT(5), parameter=3),
        "rewrite_open_fails": list_input(b"old.arc\n\0", NAMES, control=INJECT(6)),
        "short_write": list_input(b"old.arc\n\0", NAMES, control=INJECT(7), parameter=8),
        "write_fails_part_way": list_input(b"old.arc\n\0", NAMES, control=INJECT(7), parameter=9),
        "read_only": list_input(b"old.arc\n\0", NAMES, control=READ_ONLY),
        "missing": list_input(b"", NAMES, control=MISSING),
        "folder_248": list_input(b"\0", NAMES, control=LONG, filler=0),
        "folder_249": list_input(b"\0", NAMES, control=LONG, filler=1),
    }


def write(fuzzer, seeds):
    folder = os.path.join(HERE, "corpus", fuzzer)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in sorted(seeds.items()):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


write("package_fuzzer", package_seeds())
write("uninstall_list_fuzzer", list_seeds())
