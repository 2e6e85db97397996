#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets.

Usage: make-seeds.py QEX_BINARY OUTPUT_FOLDER

Small trees are archived with the given qex binary; the archives seed the
directory reader and the extraction, their stream parts (the archive less
its directory and trailer) seed the stream decoder, the names of their
directories seed the name decoder, and a few plain inputs seed the coder's
round trip. One folder per target below OUTPUT_FOLDER, named after it.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile

TRAILER_BYTES = 8


def write_seed(folder, data):
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def make_trees(root):
    """Each entry: (name of the source argument, a function that fills it)."""
    def tree(base):
        os.makedirs(os.path.join(base, "T", "S", "deeper"))
        with open(os.path.join(base, "T", "a.txt"), "wb") as f:
            f.write(b"abc")
        with open(os.path.join(base, "T", "S", "empty"), "wb"):
            pass
        with open(os.path.join(base, "T", "S", "deeper", "text.txt"), "wb") as f:
            f.write(b"the quick brown fox jumps over the lazy dog\n" * 40)
        return "T"

    def names(base):
        folder = os.path.join(base, "N")
        os.makedirs(folder)
        for name in ["\u00e9t\u00e9", "\u0800x", "\U0001F600", ".hidden", "line\nfeed"]:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(name.encode("utf-8", "surrogateescape"))
        with open(os.path.join(folder.encode(), b"raw\xff\xfe"), "wb") as f:
            f.write(b"\x00\x01\x02\xff" * 16)
        return "N"

    def single(base):
        with open(os.path.join(base, "one.bin"), "wb") as f:
            f.write(bytes(range(256)) * 8)
        return "one.bin"

    def empty(base):
        # The contents of an empty folder: an archive with no entries.
        os.makedirs(os.path.join(base, "E"))
        return "E/"

    result = []
    for k, fill in enumerate([tree, names, single, empty]):
        base = os.path.join(root, "src%d" % k)
        os.makedirs(base)
        result.append((base, fill(base)))
    return result


def split_archive(archive):
    n, e = struct.unpack_from("<II", archive, len(archive) - TRAILER_BYTES)
    stream_end = len(archive) - TRAILER_BYTES - n - e
    return archive[:stream_end], archive[stream_end:stream_end + n]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    qex, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    work = tempfile.mkdtemp(prefix="qex-seeds-")
    try:
        for number, (base, source) in enumerate(make_trees(work)):
            path = os.path.join(work, "seed%d.qex" % number)
            # Exit code 1: finished with a warning.
            done = subprocess.run([qex, "a", path, source], cwd=base,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if done.returncode not in (0, 1):
                sys.exit("qex a failed for %s (exit code %d)" % (source, done.returncode))
            with open(path, "rb") as f:
                archive = f.read()
            write_seed(os.path.join(out, "fuzz_directory_reader"), archive)
            write_seed(os.path.join(out, "fuzz_extract"), archive)
            stream, name_list = split_archive(archive)
            # The first byte picks the decoder's output cap (here 16 KiB).
            write_seed(os.path.join(out, "fuzz_stream_decoder"), b"\x04" + stream)
            for name in name_list.split(b"\n")[:-1]:
                write_seed(os.path.join(out, "fuzz_name_list"), name)
        for name in [b"", b"\xc0\x8a", b"\xed\xa0\xbd\xed\xb8\x80", b"\xe0\xa0\x80"]:
            write_seed(os.path.join(out, "fuzz_name_list"), name)
        for data in [b"", b"a", b"abc" * 100, bytes(range(256)), b"\x00" * 5000,
                     b"to be or not to be, that is the question\n" * 30]:
            write_seed(os.path.join(out, "fuzz_stream_roundtrip"), data)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
