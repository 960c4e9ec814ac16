#!/bin/sh
# Measures a copy made as text (/TEXT, then /NEXT for each further part)
# and its paste part by part, on the ~100 MB tree of the copy benchmark, in
# one Wine prefix (the paste reads the text, since a /TEXT copy places no
# registered format). Prints the seconds of each side, and what the text
# adds per MB of it over a copy and paste of the same tree through the
# registered format (each run's Wine start included), and checks that the
# pasted tree equals the source.
#   TW_ARCH, TW_BUILD_DIR  the build, as for scripts/bench-copy.sh (default:
#                       the one this machine runs)
#   TW_BENCH_DIR        where the copy benchmark keeps its tree (default build/bench-copy)
#   TW_TEXT_SIZE        the /TEXT size (default 3M, the default of /TEXT)
#   TW_WINEPREFIX       Wine prefix (default build/wine-bench-<arch>)
#   TW_HANDS_FREE=0     skip the hands-free rows; =only: run only them
#
# Then the hands-free rows: a 20 MB tree of incompressible files sent with
# /SEND in this prefix and taken with /FORCERECEIVE in a second one (a
# second machine, build/wine-bench-other-<arch>), through the test relay
# (tests/e2e/relay.exe of the build) with 100 ms per message: both ways,
# capped at 4 MiB with parts of 3M characters and at 256 KiB with parts of
# 250K, each against the relay alone handing over the same part texts one
# after another (their ratio; the aims are under 1.5 and under 2), with a
# row per step of where each part's time went (the relay's own event log
# and the two programs' console lines, on one clock); and one way, where
# the parts take turns.
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
bench_dir=${TW_BENCH_DIR:-$root/build/bench-copy}
export TW_BENCH_DIR="$bench_dir"
. "$root/scripts/bench-build.sh"

if [ "${TW_HANDS_FREE:-1}" != only ] && [ ! -f "$bench_dir/.tree-v1" ]; then
    TW_BENCH_RUNS=1 "$root/scripts/bench-copy.sh"
fi

tw_wine_prepare
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
other_prefix="$root/build/wine-bench-other-$TW_ARCH"
(TW_WINEPREFIX=$other_prefix; . "$root/scripts/wine-env.sh"; tw_wine_prepare &&
    tw_wine_keep_session "$build_dir/tools/session_keeper.exe") || exit 1
python3 - "$exe" "$relay" "$bench_dir" "$other_prefix" "$root/scripts" <<'PY' || status=$?
import filecmp, glob, os, random, re, shutil, subprocess, sys, threading, time

sys.path.insert(0, sys.argv[5])
from bench_common import wine_path

exe, relay, bench_dir, other_prefix = sys.argv[1:5]
here = dict(os.environ)
there = dict(os.environ, WINEPREFIX=other_prefix)
loader = os.environ["WINELOADER"]
delay = "100"

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

class Lines:
    """A program's console lines, each with the time it arrived (the
    program writes a line at a time)."""
    def __init__(self, process):
        self.process, self.lines = process, []
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()
    def read(self):
        for raw in self.process.stdout:
            self.lines.append((time.time(), raw.decode("latin-1").rstrip("\r\n")))
    def wait(self, timeout):
        code = self.process.wait(timeout)
        self.thread.join(10)
        return code

class Channel:
    """The relay's two ends; one way carries only what the sender places.
    End "r" carries the sender's text to the receiver, end "s" back."""
    def __init__(self, cap, one_way=False):
        self.root = os.path.join(bench_dir, "hands-free-channel")
        shutil.rmtree(self.root, ignore_errors=True)
        self.to_receiver, self.to_sender = os.path.join(self.root, "r"), os.path.join(self.root, "s")
        os.makedirs(self.to_receiver)
        os.makedirs(self.to_sender)
        self.log = os.path.join(self.root, "relay.log")
        logged = {"TARNWICK_RELAY_LOG": wine_path(self.log)}
        self.ends = [
            start(dict(here, **logged), relay, "link", wine_path(self.to_receiver), wine_path(self.to_sender),
                  str(cap), "keep", delay, "send" if one_way else "both"),
            start(dict(there, **logged), relay, "link", wine_path(self.to_sender), wine_path(self.to_receiver),
                  str(cap), "keep", delay, "receive" if one_way else "both"),
        ]
    def close(self):
        for d in (self.to_receiver, self.to_sender):
            open(os.path.join(d, "stop"), "w").close()
        for p in self.ends:
            p.wait(60)
        events = []
        if os.path.exists(self.log):
            with open(self.log) as f:
                for line in f:
                    # The two ends append to one file: a line they wrote at
                    # the same moment may be cut into another.
                    try:
                        t, end, event, number, chars, label = line.split()
                        events.append((float(t), end, event, int(number), int(chars), label))
                    except ValueError:
                        continue
        return events

def fresh_start():
    # Each row is a new transfer: neither side keeps a copy from the last
    # one (the kept copy would be resumed, or found pasted already).
    for prefix in (os.environ["WINEPREFIX"], other_prefix):
        for kept in glob.glob(os.path.join(prefix, "drive_c/users/*/Temp/Tarnwick")):
            shutil.rmtree(kept, ignore_errors=True)
    # Nor does the last row's text wait on a clipboard.
    for env in (here, there):
        subprocess.run([loader, exe, "/CLEAR"], env=env, stdout=subprocess.DEVNULL, check=True)

def hands_free(one_way, part_chars, cap):
    fresh_start()
    out = os.path.join(bench_dir, "hands-free-pasted")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    channel = Channel(cap, one_way)
    receiver = Lines(start(there, exe, "/FORCERECEIVE", wine_path(out)))
    started = time.monotonic()
    size = f"/SEND:{part_chars}"
    send = [exe, size, "/WAIT:5", "/INTERVAL:3", wine_path(tree)] if one_way else [exe, size, wine_path(tree)]
    sender = Lines(start(here, *send))
    sent_code = sender.wait(1800)
    code = receiver.wait(1800)
    seconds = time.monotonic() - started
    events = channel.close()
    count = next((int(l.split()[3]) for _, l in sender.lines if l.startswith("The copy is ")), 0)
    # The whole story on one clock, for a closer look.
    with open(os.path.join(bench_dir, f"hands-free-{'one-way' if one_way else part_chars}.log"), "w") as f:
        story = [(t, "sender", l) for t, l in sender.lines] + [(t, "receiver", l) for t, l in receiver.lines]
        story += [(t, f"relay {end}", f"{event} {number} {chars} {label}")
                  for t, end, event, number, chars, label in events]
        for t, who, what in sorted(story):
            f.write(f"{t:.4f} {who}: {what}\n")
    # One way, nothing confirms the paste: the sender ends with 2.
    ok = sent_code == (2 if one_way else 0) and code == 0 and same_tree(tree, os.path.join(out, "hands-free-tree"))
    shutil.rmtree(out, ignore_errors=True)
    return seconds, count, ok, breakdown(sender.lines, receiver.lines, events) if not one_way else None

STEPS = ("sender: its acknowledgement placed here to the next part placed",
         "relay, part: placed by the sender to taken off its clipboard and sent",
         "relay, part: sent to placed on the receiver's clipboard (the delay included)",
         "receiver: part placed there to read, checked and kept",
         "receiver: kept to its acknowledgement placed",
         "relay, acknowledgement: placed to placed on the sender's clipboard (the delay included)")

def breakdown(sender, receiver, events):
    """Where each part's time went, summed over the parts that went the
    whole way once: the relay's events and the two programs' console lines
    on one clock. The relay's ends number their messages each in its own
    order; end "r" carries the parts, end "s" the acknowledgements."""
    def first(pairs, after):
        return next((t for t, ok in pairs if ok and t >= after), None)
    def part_of(label):
        m = re.match(r"TARNWICK_PART_v1_(\d+)/", label)
        return m.group(1) if m else None
    rows = dict.fromkeys(STEPS, 0.0)
    counted = 0
    for t_placed, line in sender:
        m = re.match(r"Part (\d+) of \d+ placed", line)
        if not m:
            continue
        n = m.group(1)
        sent = next(((t, k) for t, end, ev, k, _, label in events
                     if end == "r" and ev == "sent" and part_of(label) == n and t >= t_placed - 1), None)
        if not sent:
            continue
        across = next((t for t, end, ev, k, _, _ in events if end == "s" and ev == "placed" and k == sent[1]), None)
        if across is None:
            continue
        arrived = first(((t, re.match(rf"Part {n} of \d+ (arrived|had arrived)", l)) for t, l in receiver), across)
        if arrived is None:
            continue
        ack = next(((t, k) for t, end, ev, k, _, _ in events if end == "s" and ev == "seen" and t >= arrived), None)
        back = ack and next((t for t, end, ev, k, _, _ in events if end == "r" and ev == "placed" and k == ack[1]),
                            None)
        following = back and first(((t, re.match(r"Part \d+ of \d+ placed", l)) for t, l in sender), back)
        if not following:
            continue
        for step, spent in zip(STEPS, (following - back, sent[0] - t_placed, across - sent[0], arrived - across,
                                       ack[0] - arrived, back - ack[0])):
            rows[step] += spent
        counted += 1
    return rows, counted

def relay_alone(count, part_chars, cap):
    # The same part texts: written by /TEXT and /NEXT here, taken off the
    # clipboard by the relay; then handed to the far end at once and timed
    # until it placed the last.
    texts = os.path.join(bench_dir, "hands-free-texts")
    shutil.rmtree(texts, ignore_errors=True)
    os.makedirs(texts)
    for n in range(1, count + 1):
        args = [f"/TEXT:{part_chars}", wine_path(tree)] if n == 1 else ["/NEXT"]
        subprocess.run([loader, exe, *args], env=here, stdout=subprocess.DEVNULL, check=True)
        subprocess.run([loader, relay, "get", wine_path(os.path.join(texts, f"{n}.txt"))], env=here, check=True)
    channel = Channel(cap)
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

failed = False
for label, part_chars, cap, aim in (("4 MiB", "3M", 4 << 20, 1.5), ("256 KiB", "250K", 256 << 10, 2.0)):
    print(f"bench-text: hands-free, two-way, parts of {part_chars} characters through a relay capped at {label} ...",
          flush=True)
    two_way, count, ok, (rows, counted) = hands_free(False, part_chars, cap)
    print(f"bench-text: the relay alone with the same {count} part texts ...", flush=True)
    alone = relay_alone(count, part_chars, cap)
    ratio = two_way / alone
    print(f"hands-free, two-way relay capped at {label}, {delay} ms a message: {count} parts, {two_way:.1f} s, "
          f"pasted tree {'equals' if ok else 'DIFFERS FROM'} the source")
    print(f"relay alone, the same {count} part texts one after another: {alone:.1f} s; "
          f"ratio {ratio:.2f} (aim: under {aim}{'' if ratio < aim else ', MISSED'})")
    print(f"  where the time went, summed over the {counted} parts that went the whole way once:")
    for what, spent in rows.items():
        print(f"    {spent:7.2f} s  {spent / max(counted, 1) * 1000:6.0f} ms a part  {what}")
    failed |= not ok

print("bench-text: hands-free, one-way ...", flush=True)
one_way, count1, ok1, _ = hands_free(True, "3M", 4 << 20)
print(f"hands-free, one-way (parts in turn, 3 s each, 3 rounds): {count1} parts, {one_way:.1f} s, pasted tree "
      f"{'equals' if ok1 else 'DIFFERS FROM'} the source")
sys.exit(0 if not failed and ok1 else 1)
PY
exit "$status"
