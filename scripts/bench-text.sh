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
#   TW_HANDS_FREE=0     skip the hands-free rows; =only: run only them
#
# Then the hands-free rows: a 20 MB tree of incompressible files sent with
# /SEND in this prefix and taken with /FORCERECEIVE in a second one (a
# second machine, build/wine-bench-other), through the test relay
# (tests/e2e/relay.exe of the build) capped at 4 MiB with 100 ms per
# message: both ways, against the relay alone handing over the same part
# texts one after another (their ratio; the aim is under 1.5), and one way,
# where the parts take turns.
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
bench_dir=${TW_BENCH_DIR:-$root/build/bench-copy}
: "${TW_WINEPREFIX:=$root/build/wine-bench}"
export TW_WINEPREFIX TW_BENCH_DIR="$bench_dir"

if [ "${TW_HANDS_FREE:-1}" != only ] && [ ! -f "$bench_dir/.tree-v1" ]; then
    TW_BENCH_RUNS=1 "$root/scripts/bench-copy.sh"
fi

. "$root/scripts/wine-env.sh"
tw_wine_prepare
build_dir=${TW_BUILD_DIR:-$root/build/win32}
tw_wine_keep_session "$build_dir/tools/session_keeper.exe"
exe="$build_dir/bin/Tarnwick.exe"
[ -f "$exe" ] || { echo "bench-text: $exe is missing; build first" >&2; exit 1; }
unset DISPLAY

status=0
[ "${TW_HANDS_FREE:-1}" = only ] || python3 - "$exe" "$bench_dir" "${TW_TEXT_SIZE:-3M}" "$root/scripts" <<'PY' || status=$?
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
relay="$build_dir/tests/e2e/relay.exe"
if [ "${TW_HANDS_FREE:-1}" = 0 ]; then
    exit "$status"
fi
if [ ! -f "$relay" ]; then
    echo "bench-text: hands-free rows skipped: $relay is missing (build the tests)"
    exit "$status"
fi
other_prefix="$root/build/wine-bench-other"
(TW_WINEPREFIX=$other_prefix; . "$root/scripts/wine-env.sh"; tw_wine_prepare &&
    tw_wine_keep_session "$build_dir/tools/session_keeper.exe") || exit 1
python3 - "$exe" "$relay" "$bench_dir" "$other_prefix" "$root/scripts" <<'PY' || status=$?
import filecmp, os, random, shutil, subprocess, sys, time

sys.path.insert(0, sys.argv[5])
from bench_common import wine_path

exe, relay, bench_dir, other_prefix = sys.argv[1:5]
here = dict(os.environ)
there = dict(os.environ, WINEPREFIX=other_prefix)
loader = os.environ["WINELOADER"]
cap, delay = str(4 << 20), "100"

# 20 MB in 40 incompressible files, made once.
tree = os.path.join(bench_dir, "hands-free-tree")
if not os.path.isdir(tree):
    for i in range(40):
        folder = os.path.join(tree, f"f{i % 5}", "sub" if i % 2 else "")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"data{i}.bin"), "wb") as f:
            f.write(random.Random(100 + i).randbytes(512 * 1024 + i * 97))

def same_tree(a, b):
    c = filecmp.dircmp(a, b)
    if c.left_only or c.right_only or c.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, c.common_files, shallow=False)
    return not mismatch and not errors and all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in c.common_dirs)

def start(env, *args):
    return subprocess.Popen([loader, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

class Channel:
    """The relay's two ends; one way carries only what the sender places."""
    def __init__(self, one_way=False):
        self.root = os.path.join(bench_dir, "hands-free-channel")
        shutil.rmtree(self.root, ignore_errors=True)
        self.to_receiver, self.to_sender = os.path.join(self.root, "r"), os.path.join(self.root, "s")
        os.makedirs(self.to_receiver)
        os.makedirs(self.to_sender)
        self.ends = [
            start(here, relay, "link", wine_path(self.to_receiver), wine_path(self.to_sender), cap, "keep", delay,
                  "send" if one_way else "both"),
            start(there, relay, "link", wine_path(self.to_sender), wine_path(self.to_receiver), cap, "keep", delay,
                  "receive" if one_way else "both"),
        ]
    def close(self):
        for d in (self.to_receiver, self.to_sender):
            open(os.path.join(d, "stop"), "w").close()
        for p in self.ends:
            p.wait(60)

def hands_free(one_way):
    out = os.path.join(bench_dir, "hands-free-pasted")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    channel = Channel(one_way)
    receiver = start(there, exe, "/FORCERECEIVE", wine_path(out))
    started = time.monotonic()
    send = [exe, "/SEND", "/WAIT:5", "/INTERVAL:3", wine_path(tree)] if one_way else [exe, "/SEND", wine_path(tree)]
    sender = subprocess.run([loader, *send], env=here, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    code = receiver.wait(1800)
    seconds = time.monotonic() - started
    channel.close()
    lines = sender.stdout.decode("latin-1").splitlines()
    count = next((int(l.split()[3]) for l in lines if l.startswith("The copy is ")), 0)
    ok = sender.returncode == 0 and code == 0 and same_tree(tree, os.path.join(out, "hands-free-tree"))
    shutil.rmtree(out, ignore_errors=True)
    return seconds, count, ok

def relay_alone(count):
    # The same part texts: written by /TEXT and /NEXT here, taken off the
    # clipboard by the relay; then handed to the far end at once and timed
    # until it placed the last.
    texts = os.path.join(bench_dir, "hands-free-texts")
    shutil.rmtree(texts, ignore_errors=True)
    os.makedirs(texts)
    for n in range(1, count + 1):
        args = ["/TEXT", wine_path(tree)] if n == 1 else ["/NEXT"]
        subprocess.run([loader, exe, *args], env=here, stdout=subprocess.DEVNULL, check=True)
        subprocess.run([loader, relay, "get", wine_path(os.path.join(texts, f"{n}.txt"))], env=here, check=True)
    channel = Channel()
    started = time.monotonic()
    for n in range(1, count + 1):
        os.replace(os.path.join(texts, f"{n}.txt"), os.path.join(channel.to_receiver, f"{n}.msg"))
    last = os.path.join(channel.to_receiver, f"{count}.done")
    while not os.path.exists(last) and time.monotonic() - started < 1800:
        time.sleep(0.02)
    seconds = time.monotonic() - started
    channel.close()
    shutil.rmtree(texts, ignore_errors=True)
    return seconds

two_way, count, ok = hands_free(False)
alone = relay_alone(count)
print(f"hands-free, two-way relay capped at 4 MiB, {delay} ms a message: {count} parts, {two_way:.1f} s, pasted tree "
      f"{'equals' if ok else 'DIFFERS FROM'} the source")
print(f"relay alone, the same {count} part texts one after another: {alone:.1f} s; "
      f"ratio {two_way / alone:.2f} (aim: under 1.5{'' if two_way / alone < 1.5 else ', MISSED'})")
one_way, count1, ok1 = hands_free(True)
print(f"hands-free, one-way (parts in turn, 3 s each, 3 rounds): {count1} parts, {one_way:.1f} s, pasted tree "
      f"{'equals' if ok1 else 'DIFFERS FROM'} the source")
sys.exit(0 if ok and ok1 else 1)
PY
exit "$status"
