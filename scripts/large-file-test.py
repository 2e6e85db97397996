#!/usr/bin/env python3
"""A file just over 4 GiB through add and extract.

Usage: large-file-test.py QEX [WINE]

Makes a sparse file of 2^32 + 65553 bytes, zeros but for a few marked bytes
on both sides of 2^31 and 2^32 and at the end, adds it with QEX (a Windows
program under WINE when that is given) and extracts it with the same
program. Checks that the archive's entry holds the file's size and CRC-32
and that the extracted file has the same size and CRC-32 as the original.
Sizes and offsets kept in 32 bits anywhere in the program (the 32-bit
Windows program's size_t and long are 32 bits) break one of these. Needs
about 4.1 GiB of free disk for the extracted file; exits 1 on a difference."""
import os
import subprocess
import sys
import tempfile
import time
import zlib

SIZE = 2**32 + 65553
MARKS = {2**31 - 1: 0x31, 2**31: 0x32, 2**32 - 1: 0x41, 2**32: 0x42, 2**32 + 65536: 0x43, SIZE - 1: 0x5A}
NAME = "large.bin"
ENTRY_SIZE = 40
READ_BLOCK = 1 << 24


def make_sparse(path):
    with open(path, "wb") as f:
        f.truncate(SIZE)
        for offset, value in MARKS.items():
            f.seek(offset)
            f.write(bytes([value]))


def size_and_crc(path):
    crc = 0
    with open(path, "rb") as f:
        while block := f.read(READ_BLOCK):
            crc = zlib.crc32(block, crc)
    return os.path.getsize(path), crc


def archived_size_and_crc(archive):
    """The single entry's size (32-bit low part, 8-bit high part) and the
    CRC-32 of the file's bytes, read from the entries before the trailer."""
    with open(archive, "rb") as f:
        data = f.read()
    names, entries = int.from_bytes(data[-8:-4], "little"), int.from_bytes(data[-4:], "little")
    if entries != ENTRY_SIZE:
        raise SystemExit(f"archive holds {entries // ENTRY_SIZE} entries, not one")
    entry = data[-8 - entries:-8]
    size = int.from_bytes(entry[0:4], "little") | entry[4] << 32
    return size, int.from_bytes(entry[32:36], "little")


def run(command, cwd):
    started = time.monotonic()
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0 or result.stderr:
        sys.stdout.buffer.write(result.stdout + result.stderr)
        raise SystemExit(f"{' '.join(command)} failed with exit code {result.returncode}")
    return time.monotonic() - started


def main():
    qex = os.path.abspath(sys.argv[1])
    wine = sys.argv[2:3]
    path = (lambda p: "Z:" + p.replace("/", "\\")) if wine else (lambda p: p)
    with tempfile.TemporaryDirectory(prefix="qex-large-", dir=os.environ.get("TMPDIR")) as scratch:
        source, target = os.path.join(scratch, NAME), os.path.join(scratch, "out")
        archive = os.path.join(scratch, "large.qex")
        make_sparse(source)
        expected = size_and_crc(source)
        add = run(wine + [qex, "a", path(archive), path(source)], scratch)
        os.mkdir(target)
        extract = run(wine + [qex, "x", path(archive), path(target)], scratch)
        stored = archived_size_and_crc(archive)
        extracted = size_and_crc(os.path.join(target, NAME))
        ok = True
        for what, actual in (("archive entry", stored), ("extracted file", extracted)):
            if actual != expected:
                print(f"{what}: size {actual[0]}, CRC-32 {actual[1]:08X}; "
                      f"the file has size {expected[0]}, CRC-32 {expected[1]:08X}")
                ok = False
        print(f"{SIZE} bytes: add {add:.0f} s, extract {extract:.0f} s, "
              f"archive {os.path.getsize(archive)} bytes; "
              + ("size and CRC-32 alike" if ok else "DIFFERENT"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
