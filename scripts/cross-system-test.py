#!/usr/bin/env python3
"""Archives cross between the Linux and the Windows program.

Usage: cross-system-test.py LINUX_QEX WINDOWS_QEX_EXE WINE

Makes a tree (names outside the basic plane and from U+0800 up, spaces,
an empty file and folder, nested folders, a file spanning several chunks,
times with 100 ns digits), adds it with the Linux program and extracts it
with the Windows one under wine (drive Z: is the Linux root), then the
other way round, and compares names, contents and modification times of
every item with the original. The tree holds a symbolic link, which the
Windows program extracts as a small file holding the link's target: the
Windows side adds the tree as it extracted it. The two archives of that
tree must list its items in one order (the NTFS order, the Linux program
folding case through the NTFS uppercase table as the folder listing under
wine does), so their streams and name lists are the same. And an archive
made on Linux of names differing only in case extracts on Windows with
the first of them kept whole and each later one refused, naming it.
Exits 1 on the first difference."""
import os
import subprocess
import sys
import tempfile

# 2021-03-04 05:06:07.1234567 UTC in nanoseconds; FILETIME keeps 100 ns.
BASE_NS = 1614834367_123456700
HOUR_NS = 3600 * 10**9

class Link(str):
    """A symbolic link's target."""


TREE = {
    "T": None,
    "T/a.txt": b"abc",
    "T/\U0001F600 smile.txt": "outside the basic plane".encode(),
    "T/\u0800\u0fff": None,
    "T/\u0800\u0fff/caf\u00e9 au lait.bin": bytes(range(256)) * 1200,
    "T/\u0800\u0fff/deeper": None,
    "T/\u0800\u0fff/deeper/empty": b"",
    "T/empty folder": None,
    "T/link": Link("\u0800\u0fff/deeper"),
    "T/order": None,
}
# Names whose NTFS order folds case beyond ASCII (e acute with E acute, y
# diaeresis to U+0178, final sigma alone, fullwidth and Cyrillic letters),
# and ones that do not fold (sharp s, dotless i). Each file holds its own
# name, so the stream shows the order too. Left out: the 151 lower-case
# letters that wine's listing folds and an NTFS volume's table does not
# (U+023F, U+0240, U+0252, the Georgian U+10D0 to U+10FF, U+AB70 to
# U+ABBF...), where wine's order is not NTFS's.
ORDER_NAMES = ["a", "B", "_x", "\u00e4", "\u00e91", "\u00c92", "\u00f8", "\u00d83", "\u00df", "\u0130",
               "\u0131", "\u00ff", "\u03c3", "\u03a32", "\u03c2", "\u0436", "\u04161", "\uff41", "\uff211",
               "\u01c5", "\u01c4x", "\U0001F600", "\uffe0"]
for _name in ORDER_NAMES:
    TREE["T/order/" + _name] = _name.encode()


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def make_tree(root):
    for k, (name, content) in enumerate(TREE.items()):
        path = os.path.join(root, name)
        if content is None:
            os.mkdir(path)
        elif isinstance(content, Link):
            os.symlink(content, path)
        else:
            with open(path, "wb") as f:
                f.write(content)
    # Times last, deepest first, so that making items does not move them.
    for k, name in reversed(list(enumerate(TREE))):
        ns = BASE_NS + k * HOUR_NS
        os.utime(os.path.join(root, name), ns=(ns + HOUR_NS // 2, ns), follow_symlinks=False)


def snapshot(root, links_as_files):
    items = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            content = None
            if os.path.islink(path):
                # The original's link is expected back as a file holding its target.
                content = os.fsencode(os.readlink(path)) if links_as_files else "a link"
            elif name in files:
                with open(path, "rb") as f:
                    content = f.read()
            items[os.path.relpath(path, root)] = (content, st.st_mtime_ns)
    return items


def compare(expected_root, actual_root, direction):
    expected, actual = snapshot(expected_root, True), snapshot(actual_root, False)
    problems = []
    for name in sorted(set(expected) | set(actual)):
        if name not in actual:
            problems.append(f"missing: {name!r}")
        elif name not in expected:
            problems.append(f"extra: {name!r}")
        else:
            (ec, et), (ac, at) = expected[name], actual[name]
            if ec != ac:
                problems.append(f"content differs: {name!r}")
            if et != at:
                problems.append(f"modification time differs: {name!r}: {et} vs {at}")
    if problems:
        print(f"{direction}: {len(problems)} differences", *problems, sep="\n  ")
        return False
    print(f"{direction}: {len(expected)} items alike (names, contents, modification times)")
    return True


def directory_of(path):
    """The stream's bytes and the names, in order, of an archive."""
    with open(path, "rb") as f:
        data = f.read()
    names_size, entries_size = int.from_bytes(data[-8:-4], "little"), int.from_bytes(data[-4:], "little")
    stream_end = len(data) - 8 - entries_size - names_size
    names = data[stream_end:stream_end + names_size].split(b"\n")[:-1]
    return data[:stream_end], names


def same_order(linux_archive, windows_archive):
    linux_stream, linux_names = directory_of(linux_archive)
    windows_stream, windows_names = directory_of(windows_archive)
    if linux_names != windows_names or linux_stream != windows_stream:
        print("Linux and Windows order the same tree differently:",
              *(f"{l!r} {w!r}" for l, w in zip(linux_names, windows_names) if l != w), sep="\n  ")
        return False
    print(f"Linux and Windows order the same tree alike ({len(linux_names)} names, streams equal)")
    return True


def case_collisions(linux_qex, windows_qex, wine, scratch):
    """Names differing only in case, made on Linux, extracted on Windows."""
    folder = os.path.join(scratch, "case", "c")
    os.makedirs(folder)
    for name, content in (("Case.txt", b"first"), ("case.txt", b"second"), ("CASE.TXT", b"third")):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
    run([linux_qex, "a", "case.qex", folder], scratch)
    target = os.path.join(scratch, "case-on-windows")
    os.mkdir(target)
    result = subprocess.run([wine, windows_qex, "x", wine_path(os.path.join(scratch, "case.qex")), wine_path(target)],
                            cwd=scratch, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    kept = os.listdir(os.path.join(target, "c"))
    with open(os.path.join(target, "c", kept[0]), "rb") as f:
        content = f.read()
    refused = result.stderr.count(b'", extracted earlier by this run, has that name here (it is kept)')
    # The archive holds them in NTFS order, upper case first: CASE.TXT is the first.
    if result.returncode != 1 or refused != 2 or kept != ["CASE.TXT"] or content != b"third":
        print("names differing in case:", result.returncode, result.stderr.decode(errors="replace"), kept, content)
        return False
    print("names differing in case: the first kept, the two later ones refused")
    return True


def run(command, cwd):
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0 or result.stderr:
        sys.stdout.buffer.write(result.stdout + result.stderr)
        raise SystemExit(f"{command[0]} failed with exit code {result.returncode}")


def main():
    linux_qex, windows_qex, wine = (os.path.abspath(p) for p in sys.argv[1:4])
    with tempfile.TemporaryDirectory(prefix="qex-cross-") as scratch:
        source = os.path.join(scratch, "source")
        os.mkdir(source)
        make_tree(source)
        ok = True
        # Linux adds, Windows extracts.
        run([linux_qex, "a", "linux.qex", os.path.join(source, "T")], scratch)
        os.mkdir(os.path.join(scratch, "on-windows"))
        run([wine, windows_qex, "x", wine_path(os.path.join(scratch, "linux.qex")),
             wine_path(os.path.join(scratch, "on-windows"))], scratch)
        ok &= compare(source, os.path.join(scratch, "on-windows"), "Linux -> Windows")
        # Windows adds what it extracted, Linux extracts.
        run([wine, windows_qex, "a", wine_path(os.path.join(scratch, "windows.qex")),
             wine_path(os.path.join(scratch, "on-windows", "T"))], scratch)
        os.mkdir(os.path.join(scratch, "on-linux"))
        run([linux_qex, "x", "windows.qex", "on-linux"], scratch)
        ok &= compare(source, os.path.join(scratch, "on-linux"), "Windows -> Linux")
        ok &= same_order(os.path.join(scratch, "linux.qex"), os.path.join(scratch, "windows.qex"))
        ok &= case_collisions(linux_qex, windows_qex, wine, scratch)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
