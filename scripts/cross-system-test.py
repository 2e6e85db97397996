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
Windows side adds the tree as it extracted it. Exits 1 on the first
difference."""
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
}


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
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
