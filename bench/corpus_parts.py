#!/usr/bin/env python3
"""Builds the parts of the benchmark corpus (called by make-corpus.sh).

usage: corpus_parts.py ROOT PART...     PART: text source binary big tiny

Determinism: every part is taken from a fixed list of source folders, in that
order; within a folder, files are taken in bytewise-sorted path order. A
missing folder is skipped without changing the order of the rest. Each folder
has a byte budget and each part a cap; a file that would exceed either is
skipped. The text and binary parts skip files whose contents were already
taken (same size and CRC-32), so packaged duplicates do not look like long
repeats. `tiny` is a pure function of this file. Standard library only.
"""
import gzip
import os
import sys
import zlib

MiB = 1 << 20

# (folder, descend into subfolders, byte budget)
TEXT = dict(cap=30_000_000, max_file=2 * MiB, kind='prose', folders=[
    ('/usr/share/common-licenses', True, 1_000_000),
    ('/usr/share/doc', True, 16_000_000),
    ('/usr/share/info', False, 5_000_000),
    ('/usr/share/man/man1', False, 12_000_000),
    ('/usr/share/man/man2', False, 2_000_000),
    ('/usr/share/man/man3', False, 3_000_000),
    ('/usr/share/man/man5', False, 2_000_000),
    ('/usr/share/man/man7', False, 2_000_000),
    ('/usr/share/man/man8', False, 2_000_000),
])
SOURCE = dict(cap=45_000_000, max_file=1 * MiB, kind='source', folders=[
    ('/usr/include', True, 45_000_000),
    ('/usr/lib/python3.11', True, 20_000_000),
    ('/usr/lib/python3', True, 20_000_000),
    ('/usr/share/perl', True, 20_000_000),
    ('/usr/share/perl5', True, 20_000_000),
])
BINARY = dict(cap=30_000_000, max_file=4 * MiB, kind='elf', folders=[
    ('/usr/bin', False, 14_000_000),
    ('/usr/sbin', False, 3_000_000),
    ('/usr/lib/x86_64-linux-gnu', False, 14_000_000),
    ('/usr/lib/aarch64-linux-gnu', False, 14_000_000),
    ('/usr/lib', True, 14_000_000),
])
# Text, sources and machine code in long stretches, so that the model fills
# its memory and restarts several times.
BIG = dict(cap=160_000_000, max_file=16 * MiB, kind='any', folders=[
    ('/usr/share/doc', True, 40_000_000),
    ('/usr/include', True, 40_000_000),
    ('/usr/lib/x86_64-linux-gnu', False, 50_000_000),
    ('/usr/lib/aarch64-linux-gnu', False, 50_000_000),
    ('/usr/bin', False, 40_000_000),
    ('/usr/lib', True, 160_000_000),
])
BIG_MIN = 150_000_000

PROSE_EXT = ('.txt', '.md', '.rst', '.Debian', '.info') + tuple('.%d' % d for d in range(1, 9))
SOURCE_EXT = ('.h', '.hh', '.hpp', '.hxx', '.h++', '.inc', '.def', '.tcc', '.ipp',
              '.c', '.cc', '.cpp', '.py', '.pl', '.pm')


def die(msg):
    sys.exit('make-corpus: ' + msg)


def sorted_files(folder, deep):
    """Regular files (not links) under folder as (path, size), sorted by path bytes."""
    if not os.path.isdir(folder) or os.path.islink(folder):
        return []
    out = []
    def scan(d):
        try:
            entries = list(os.scandir(d))
        except OSError:
            return
        for e in entries:
            try:
                if e.is_symlink():
                    continue
                if e.is_file():
                    out.append((os.fsencode(e.path), e.stat().st_size))
                elif deep and e.is_dir():
                    scan(e.path)
            except OSError:
                pass
    scan(folder)
    out.sort()
    return out


def prose_name(path):
    name = os.path.basename(path)
    if name.endswith(b'.gz'):
        name = name[:-3]
    name = name.decode('utf-8', 'replace')
    dot = name.rfind('.')
    return dot <= 0 or name.endswith(PROSE_EXT) or '.info-' in name


def source_name(path):
    name = os.path.basename(path).decode('utf-8', 'replace')
    if '.' not in name:
        return b'/include/c++/' in path  # the standard C++ headers have no extension
    return name.endswith(SOURCE_EXT)


HIGH_BYTES = bytes(range(0x80, 0x100))
CONTROL_BYTES = bytes(c for c in range(1, 0x20) if c not in (9, 10, 12, 13))


def looks_like_prose(b):
    """Mostly English text: no NUL, control bytes under 1 %, bytes above 0x7F under 5 %."""
    if not b or b'\0' in b:
        return False
    high = len(b) - len(b.translate(None, HIGH_BYTES))
    control = len(b) - len(b.translate(None, CONTROL_BYTES))
    return control * 100 < len(b) and high * 20 < len(b)


def read(path, limit):
    try:
        with open(path, 'rb') as f:
            return f.read(limit + 1)
    except OSError:
        return None


def unpack(path, limit):
    try:
        with gzip.open(path, 'rb') as f:
            return f.read(limit + 1)
    except (OSError, EOFError, zlib.error):
        return None


def select(plan):
    """Yields (source path, contents, stored name) for the files a part takes."""
    cap, max_file, kind = plan['cap'], plan['max_file'], plan['kind']
    total = 0
    seen = set()
    names = set()
    for folder, deep, budget in plan['folders']:
        used = 0
        for path, size in sorted_files(folder, deep):
            def fits(n):
                return 0 < n <= max_file and used + n <= budget and total + n <= cap
            if kind == 'prose' and not prose_name(path):
                continue
            if kind == 'source' and not source_name(path):
                continue
            if not fits(size):  # for gzip'd prose: its packed size, then its unpacked size
                continue
            name = path
            if kind == 'prose' and path.endswith(b'.gz'):
                data = unpack(path, max_file)
                name = path[:-3]
            else:
                data = read(path, max_file)
            if data is None or not fits(len(data)) or name in names:
                continue
            if kind == 'elf' and not data.startswith(b'\x7fELF'):
                continue
            if kind == 'prose' and not looks_like_prose(data):
                continue
            if kind in ('prose', 'elf'):
                key = (len(data), zlib.crc32(data))
                if key in seen:
                    continue
                seen.add(key)
            names.add(name)
            used += len(data)
            total += len(data)
            yield path, data, name


def write_tree(root, part, plan):
    total = 0
    for _, data, name in select(plan):
        out = os.path.join(os.fsencode(root), part.encode(), name.lstrip(b"/"))
        os.makedirs(os.path.dirname(out), exist_ok=True)
        with open(out, 'wb') as f:
            f.write(data)
        total += len(data)
    return total


def write_big(root):
    out = os.path.join(root, 'big', 'big.bin')
    os.makedirs(os.path.dirname(out), exist_ok=True)
    total = 0
    with open(out, 'wb') as f:
        for _, data, _ in select(BIG):
            f.write(data)
            total += len(data)
    if total < BIG_MIN:
        die('only %d bytes found for part big (%d needed)' % (total, BIG_MIN))
    return total


class ParkMiller:
    """Minimal standard generator: tiny, and the same everywhere."""
    def __init__(self, seed):
        self.x = seed
    def below(self, n):
        self.x = self.x * 16807 % 2147483647
        return self.x % n


WORDS = ('the of and to in is for on with as by this that from at be are file files folder name size '
         'time data archive stream model byte bytes context order value table entry list path read '
         'write open close error return count mask').split()


def write_tiny(root):
    """2,000 files of 20 to 900 bytes: short lines of words, in 200 folders two levels deep."""
    r = ParkMiller(20240607)
    total = 0
    for i in range(2000):
        want = 20 + r.below(881)
        text, line = '', ''
        while len(text) + len(line) < want:
            word = WORDS[r.below(len(WORDS))]
            if len(line) + len(word) >= 60:
                text, line = text + line + '\n', ''
            line = line + (' ' if line else '') + word
        data = (text + line + '\n')[:want].encode()
        folder = os.path.join(root, 'tiny', 'd%02d' % (i % 25), 's%d' % (i // 25 % 8))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, 'f%04d.txt' % i), 'wb') as f:
            f.write(data)
        total += len(data)
    return total


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    root = sys.argv[1]
    for part in sys.argv[2:]:
        if part == 'text':
            n = write_tree(root, part, TEXT)
        elif part == 'source':
            n = write_tree(root, part, SOURCE)
        elif part == 'binary':
            n = write_tree(root, part, BINARY)
        elif part == 'big':
            n = write_big(root)
        elif part == 'tiny':
            n = write_tiny(root)
        else:
            die('unknown part "%s"' % part)
        print('make-corpus: %s: %d bytes' % (part, n), file=sys.stderr)


if __name__ == '__main__':
    main()
