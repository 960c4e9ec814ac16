#!/bin/sh
# Measures the copy command on a tree of about 100 MB: wall time and peak
# resident memory of the Tarnwick process under Wine, for a few runs, and
# the same for a run that only prints the usage text (Wine's own share).
#   TW_ARCH             win32 or x64 (default: the build this machine runs,
#                       the 32-bit one where it runs 32-bit code)
#   TW_BUILD_DIR        build folder of that tree (default build/win32 or build/win64)
#   TW_BENCH_DIR        where the tree is made once and kept (default build/bench-copy)
#   TW_BENCH_RUNS       timed runs (default 3)
#   TW_WINEPREFIX       Wine prefix (default build/wine-bench-<arch>)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null

bench_dir=${TW_BENCH_DIR:-$root/build/bench-copy}
. "$root/scripts/bench-build.sh"
tw_wine_prepare
tw_wine_keep_session "$build_dir/tools/session_keeper.exe"

exe="$build_dir/bin/Tarnwick.exe"
# Without a display a message box returns at once instead of waiting.
unset DISPLAY

exec python3 - "$exe" "$bench_dir" "${TW_BENCH_RUNS:-3}" "$root/scripts" <<'PY'
import os, random, sys

sys.path.insert(0, sys.argv[4])
from bench_common import describe_tree, print_baseline, run, wine_path

exe, bench_dir, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
tree = os.path.join(bench_dir, "tree")
marker = os.path.join(bench_dir, ".tree-v1")

WORDS = ("clipboard folder archive record stored bytes compress level nine window "
         "handle memory block index parent attribute time size name path copy paste "
         "the a of to in and is for with on that this it as by be from").split()

def make_tree():
    rng = random.Random(20240611)
    def text(n):
        out, size = [], 0
        while size < n:
            line = " ".join(rng.choices(WORDS, k=rng.randint(4, 14))) + "\n"
            out.append(line)
            size += len(line)
        return "".join(out)[:n].encode()
    def put(rel, data):
        path = os.path.join(tree, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    # Text that compresses, spread over nested folders.
    for i in range(600):
        put(f"text/part{i % 6}/sub{i % 4}/doc{i:04}.txt", text(70_000))
    # Data that does not: stored raw.
    for i in range(40):
        put(f"binary/blob{i:02}.bin", rng.randbytes(1_000_000))
    # Many small files.
    for i in range(3000):
        n = rng.randint(0, 12_000)
        data = text(n) if i % 3 else rng.randbytes(n)
        put(f"small/d{i % 50:02}/f{i:04}.dat", data)
    for i in range(20):
        os.makedirs(os.path.join(tree, f"empty/e{i:02}"), exist_ok=True)
    open(marker, "w").close()

if not os.path.exists(marker):
    print("bench-copy: making the tree (once)...", flush=True)
    make_tree()

describe_tree(tree)
print_baseline(exe)

best = None
for i in range(runs):
    t, rss, code, lines = run(exe, [wine_path(tree)])
    if code != 0:
        sys.exit(f"copy failed with exit code {code}: {lines[-3:]}")
    totals = [l for l in lines if " -> " in l and ":" not in l]
    print(f"run {i + 1}: {t:.2f} s, peak RSS {rss:.1f} MB, {len(lines)} output lines, totals: {totals[-1] if totals else '-'}")
    best = t if best is None else min(best, t)
print(f"best copy time {best:.2f} s")
PY
