#!/usr/bin/env python3
"""Makes the benchmark corpus: a deterministic tree of about 200 MB in about
8,000 files and 1,000 folders, the same bytes on every machine and every
run (Python's Mersenne Twister with a fixed seed; nothing is downloaded).

The mix is what people copy: source-like text (compresses 3-5x at level
9), structured binaries (tables of records, 2-4x), incompressible data
(already-compressed files, stored raw), files that are mostly runs of zeros
(sparse images, padding), empty files and files shorter than 16 bytes
(never compressed), with a few large files among many small ones.

    make_corpus.py DIR      makes DIR/tree unless DIR/.corpus-v1 says it is there
Prints one line: files, folders, bytes, largest file.
"""
import os
import random
import struct
import sys

VERSION = "v1"
SEED = 20250609
FOLDERS = 1000

KEYWORDS = ("int char unsigned const static return if else for while switch case break "
            "struct class void bool true false nullptr size_t uint32_t auto template typename "
            "namespace public private include define sizeof").split()
COMMENT_WORDS = ("the a of to in and is for with on that this it as by be from when each "
                 "file folder block record entry buffer length index parent name path size "
                 "time read write copy paste clipboard memory handle stream error checked "
                 "returns holds keeps until after before every only once").split()


def identifiers(rng, n):
    parts = ("get set make read write find open close next prev copy load store pack "
             "size len count index name path file dir block entry record buffer data info "
             "head tail list table map node tree item value key flag mode state").split()
    out = set()
    while len(out) < n:
        k = rng.randint(1, 3)
        words = [rng.choice(parts) for _ in range(k)]
        style = rng.random()
        if style < 0.4:
            out.add(words[0] + "".join(w.title() for w in words[1:]))
        elif style < 0.8:
            out.add("_".join(words))
        else:
            out.add("".join(w.title() for w in words))
    return sorted(out)


class Writer:
    """Content generators. Each takes the rng and a length and returns bytes."""

    def __init__(self, rng):
        self.ids = identifiers(rng, 1500)

    def source(self, rng, n):
        ids, out, size, depth = self.ids, [], 0, 0
        while size < n:
            r = rng.random()
            indent = "    " * depth
            if r < 0.12:
                line = indent + "// " + " ".join(rng.choices(COMMENT_WORDS, k=rng.randint(3, 12)))
            elif r < 0.22 and depth < 4:
                line = indent + "%s %s(%s %s, %s %s) {" % (
                    rng.choice(KEYWORDS), rng.choice(ids), rng.choice(KEYWORDS), rng.choice(ids),
                    rng.choice(KEYWORDS), rng.choice(ids))
                depth += 1
            elif r < 0.32 and depth > 0:
                depth -= 1
                line = "    " * depth + "}"
            elif r < 0.42:
                line = indent + "if (%s %s %d) return %s;" % (
                    rng.choice(ids), rng.choice(("==", "!=", "<", ">=")), rng.randint(0, 4096), rng.choice(ids))
            elif r < 0.47:
                line = ""
            elif r < 0.52:
                line = '#define %s 0x%08X' % (rng.choice(ids).upper(), rng.getrandbits(32))
            else:
                line = indent + "%s = %s(%s, %s + %d);" % (
                    rng.choice(ids), rng.choice(ids), rng.choice(ids), rng.choice(ids), rng.randint(0, 999))
            out.append(line)
            size += len(line) + 1
        return ("\n".join(out) + "\n").encode()[:n]

    def table(self, rng, n):
        # Records of counters, offsets, small enums and timestamps, as in
        # object files, databases and game assets.
        count = n // 24 + 1
        base, offset, stamp = rng.getrandbits(32), 0, 132000000000000000 + rng.getrandbits(40)
        rows = []
        for i in range(count):
            offset += rng.randint(1, 5000)
            stamp += rng.randint(0, 1000) * 10_000
            rows.append(struct.pack("<IIHHQf", base + i, offset, rng.randint(0, 7), rng.randint(0, 300),
                                    stamp, rng.randint(0, 400) / 4.0))
        return b"".join(rows)[:n]

    def noise(self, rng, n):
        return rng.randbytes(n)

    def zeros(self, rng, n):
        out = bytearray(n)
        # A few islands of data in the zeros.
        for _ in range(max(1, n // 65536)):
            at = rng.randrange(n)
            island = rng.randbytes(min(n - at, rng.randint(16, 2048)))
            out[at:at + len(island)] = island
        return bytes(out)


def plan(rng):
    """(relative folder paths, [(relative file path, kind, length)])."""
    folders = [""]
    tops = ("src", "include", "lib", "assets", "docs", "build", "vendor", "data")
    parents = [""]
    while len(folders) < FOLDERS + 1:
        parent = rng.choice(parents[-200:] if rng.random() < 0.7 else parents)
        if parent.count(os.sep) >= 6:
            continue
        name = (rng.choice(tops) if not parent else rng.choice(("mod", "pkg", "part", "sub", "util", "gen", "test")))
        path = os.path.join(parent, "%s%03d" % (name, len(folders)))
        folders.append(path)
        parents.append(path)
    folders = folders[1:]

    files = []
    # (kind, count, (min, max) length): about 200 MB in all.
    groups = [
        ("source", 5500, (200, 36_000)),
        ("table", 950, (1_000, 120_000)),
        ("noise", 700, (500, 140_000)),
        ("zeros", 150, (4_096, 400_000)),
        ("empty", 300, (0, 0)),
        ("tiny", 350, (1, 15)),
        ("source", 20, (400_000, 2_500_000)),
        ("table", 6, (1_000_000, 4_000_000)),
        ("noise", 4, (2_000_000, 8_000_000)),
        ("zeros", 2, (4_000_000, 12_000_000)),
        ("source", 1, (8_000_000, 8_000_000)),
        ("noise", 1, (6_000_000, 6_000_000)),
    ]
    ext = {"source": (".c", ".h", ".cpp", ".txt"), "table": (".dat", ".bin", ".idx"),
           "noise": (".gz", ".jpg", ".zip"), "zeros": (".img", ".raw"), "empty": (".lock", ".keep"),
           "tiny": (".ver", ".id")}
    serial = 0
    for kind, count, (lo, hi) in groups:
        for _ in range(count):
            serial += 1
            # Small files lean to the small end, as in real trees.
            length = lo if lo == hi else int(lo + (hi - lo) * rng.random() ** 2.5)
            folder = rng.choice(folders)
            files.append((os.path.join(folder, "f%05d%s" % (serial, rng.choice(ext[kind]))), kind, length))
    rng.shuffle(files)
    return folders, files


def make(root):
    tree = os.path.join(root, "tree")
    marker = os.path.join(root, ".corpus-" + VERSION)
    rng = random.Random(SEED)
    folders, files = plan(rng)
    if not os.path.exists(marker):
        if os.path.exists(tree):
            import shutil
            shutil.rmtree(tree)
        writer = Writer(rng)
        for f in folders:
            os.makedirs(os.path.join(tree, f), exist_ok=True)
        for rel, kind, length in files:
            if kind == "tiny":
                data = rng.randbytes(length)
            elif kind == "empty":
                data = b""
            else:
                data = getattr(writer, kind)(rng, length)
            with open(os.path.join(tree, rel), "wb") as out:
                out.write(data)
        open(marker, "w").close()
    total = sum(length for _, _, length in files)
    largest = max(length for _, _, length in files)
    print(f"corpus: {len(files)} files, {len(folders) + 1} folders, {total} bytes ({total / 1e6:.1f} MB), "
          f"largest file {largest} bytes")
    return tree


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpus.py DIR")
    make(sys.argv[1])
