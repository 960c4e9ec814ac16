#!/bin/sh
# Measures a copy made as text (/TEXT, then /NEXT for each further part)
# and its paste part by part, on the ~100 MB tree of the copy benchmark, in
# one Wine prefix (the paste reads the text, since a /TEXT copy places no
# registered format). Prints the seconds of each side, and what the text
# adds per MB of it over a copy and paste of the same tree through the
# registered format (each run's Wine start included), and checks that the
# pasted tree equals the source.
#   TW_BUILD_DIR        build folder of the Windows tree (default build/win32)
#   TW_BENCH_DIR        where the copy benchmark keeps its tree (default build/bench-copy)
#   TW_TEXT_SIZE        the /TEXT size (default 3M, the default of /TEXT)
#   TW_WINEPREFIX       Wine prefix (default build/wine-bench)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
bench_dir=${TW_BENCH_DIR:-$root/build/bench-copy}
: "${TW_WINEPREFIX:=$root/build/wine-bench}"
export TW_WINEPREFIX TW_BENCH_DIR="$bench_dir"

if [ ! -f "$bench_dir/.tree-v1" ]; then
    TW_BENCH_RUNS=1 "$root/scripts/bench-copy.sh"
fi

. "$root/scripts/wine-env.sh"
tw_wine_prepare
build_dir=${TW_BUILD_DIR:-$root/build/win32}
tw_wine_keep_session "$build_dir/tools/session_keeper.exe"
exe="$build_dir/bin/Tarnwick.exe"
[ -f "$exe" ] || { echo "bench-text: $exe is missing; build first" >&2; exit 1; }
unset DISPLAY

exec python3 - "$exe" "$bench_dir" "${TW_TEXT_SIZE:-3M}" "$root/scripts" <<'PY'
import filecmp, glob, os, re, shutil, sys

sys.path.insert(0, sys.argv[4])
from bench_common import describe_tree, run, wine_path

exe, bench_dir, size = sys.argv[1], sys.argv[2], sys.argv[3]
tree = os.path.join(bench_dir, "tree")
out_dir = os.path.join(bench_dir, "pasted-text")
describe_tree(tree)

def same_tree(a, b):
    c = filecmp.dircmp(a, b)
    if c.left_only or c.right_only or c.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, c.common_files, shallow=False)
    return not mismatch and not errors and all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in c.common_dirs)

# The same tree through the registered format, for comparison.
shutil.rmtree(out_dir, ignore_errors=True)
os.makedirs(out_dir)
plain_copy, _, code, lines = run(exe, [wine_path(tree)])
plain_paste, _, code2, _ = run(exe, ["/FORCEPASTE", wine_path(out_dir)])
if code or code2:
    sys.exit(f"plain copy or paste failed ({code}, {code2})")
shutil.rmtree(out_dir, ignore_errors=True)
os.makedirs(out_dir)
t, rss, code, lines = run(exe, [f"/TEXT:{size}", wine_path(tree)])
if code != 0:
    sys.exit(f"copy failed with exit code {code}: {lines[-3:]}")
copy_side, copy_rss = t, rss
count = 1
for line in lines:
    m = re.match(r"The copy is (\d+) parts of text", line)
    if m:
        count = int(m.group(1))
# The payload kept for /NEXT gives the length of the text: 4 characters for
# every 3 bytes, a line end after every 76 of them.
kept = glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c/users/*/Temp/Tarnwick/outgoing.dat"))
payload = os.path.getsize(kept[0]) if kept and count > 1 else None

paste_side = 0.0
paste_rss = 0.0
for n in range(1, count + 1):
    if n > 1:
        t, rss, code, lines = run(exe, ["/NEXT"])
        if code != 0:
            sys.exit(f"/NEXT failed with exit code {code}: {lines[-3:]}")
        copy_side += t
        copy_rss = max(copy_rss, rss)
    t, rss, code, lines = run(exe, ["/FORCEPASTE", wine_path(out_dir)])
    if code != 0:
        sys.exit(f"paste of part {n} failed with exit code {code}: {lines[-3:]}")
    paste_side += t
    paste_rss = max(paste_rss, rss)
ok = same_tree(tree, os.path.join(out_dir, "tree"))
shutil.rmtree(out_dir, ignore_errors=True)
print(f"/TEXT:{size}: {count} parts, pasted tree {'equals' if ok else 'DIFFERS FROM'} the source")
if payload:
    text_mb = payload * 4 / 3 * 78 / 76 / 1e6
    print(f"text: about {text_mb:.1f} MB (characters)")
    print(f"registered format: copy {plain_copy:.2f} s, paste {plain_paste:.2f} s")
    print(f"copy side (/TEXT and every /NEXT): {copy_side:.2f} s, peak RSS {copy_rss:.1f} MB; "
          f"{(copy_side - plain_copy) / text_mb:.3f} s per MB of text over the plain copy")
    print(f"paste side (every part): {paste_side:.2f} s, peak RSS {paste_rss:.1f} MB; "
          f"{(paste_side - plain_paste) / text_mb:.3f} s per MB of text over the plain paste")
else:
    print(f"copy side: {copy_side:.2f} s; paste side: {paste_side:.2f} s (one part; use a smaller TW_TEXT_SIZE for figures per MB)")
sys.exit(0 if ok else 1)
PY
