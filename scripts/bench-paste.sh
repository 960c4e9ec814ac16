#!/bin/sh
# Measures the paste command on the ~100 MB tree of the copy benchmark:
# the tree is copied to the clipboard once, then pasted into a fresh folder
# a few times. Prints wall time and peak resident memory of each paste, and
# checks that every pasted file equals its source.
#   TW_ARCH, TW_BUILD_DIR  the build, as for scripts/bench-copy.sh
#   TW_BENCH_DIR        where the copy benchmark keeps its tree (default build/bench-copy)
#   TW_BENCH_RUNS       timed pastes (default 3)
#   TW_WINEPREFIX       Wine prefix (default build/wine-bench-<arch>)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
bench_dir=${TW_BENCH_DIR:-$root/build/bench-copy}
export TW_BENCH_DIR="$bench_dir"
. "$root/scripts/bench-build.sh"

# The copy benchmark makes the tree (once) and builds the programs.
if [ ! -f "$bench_dir/.tree-v1" ]; then
    TW_BENCH_RUNS=1 "$root/scripts/bench-copy.sh"
fi

tw_wine_prepare
# Without it the clipboard would not outlive the copy run for long.
tw_wine_keep_session "$build_dir/tools/session_keeper.exe"
exe="$build_dir/bin/Tarnwick.exe"
[ -f "$exe" ] || { echo "bench-paste: $exe is missing; build first" >&2; exit 1; }
# Without a display a message box returns at once instead of waiting.
unset DISPLAY

exec python3 - "$exe" "$bench_dir" "${TW_BENCH_RUNS:-3}" "$root/scripts" <<'PY'
import filecmp, os, shutil, sys

sys.path.insert(0, sys.argv[4])
from bench_common import describe_tree, print_baseline, run, wine_path

exe, bench_dir, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
tree = os.path.join(bench_dir, "tree")
out_dir = os.path.join(bench_dir, "pasted")

describe_tree(tree)
print_baseline(exe)

t, rss, code, lines = run(exe, [wine_path(tree)])
if code != 0:
    sys.exit(f"copy failed with exit code {code}: {lines[-3:]}")
print(f"copy: {t:.2f} s, peak RSS {rss:.1f} MB")

def same_tree(a, b):
    c = filecmp.dircmp(a, b)
    if c.left_only or c.right_only or c.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, c.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in c.common_dirs)

best = None
for i in range(runs):
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    t, rss, code, lines = run(exe, ["/FORCEPASTE", wine_path(out_dir)])
    if code != 0 or not lines or lines[-1].strip() != "Done.":
        sys.exit(f"paste failed with exit code {code}: {lines[-3:]}")
    ok = same_tree(tree, os.path.join(out_dir, "tree"))
    print(f"paste run {i + 1}: {t:.2f} s, peak RSS {rss:.1f} MB, {len(lines)} output lines, "
          f"pasted tree {'equals' if ok else 'DIFFERS FROM'} the source")
    if not ok:
        sys.exit(1)
    best = t if best is None else min(best, t)
shutil.rmtree(out_dir, ignore_errors=True)
print(f"best paste time {best:.2f} s")
PY
