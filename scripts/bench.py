#!/usr/bin/env python3
"""Tarnwick against the tools users would pick instead, on one corpus.

Runs, in one go and round-robin (so that load from elsewhere spreads over
every row), each configuration TW_BENCH_RUNS times (default 3) and reports
the median:
  - Tarnwick copy and paste under Wine, standard output to a file and to a
    character device (/dev/null, which the C runtime treats like a console);
    the copy also with 16 and with 64 packing threads (TARNWICK_PACK_THREADS),
    each held to the README's memory figure, and its processor use over the
    whole run and over its last third, with the wineserver's beside it;
  - the copy's floor: the Wine read floor (bench_floor read: every file
    read as a copy reads it, on one thread) and zlib level 9's processor
    time over the corpus (natively, measured once) divided by the
    processors, whichever is larger;
  - what Wine takes to hand a block of the copy's length to the clipboard
    (bench_floor place: fresh memory filled, then SetClipboardData, which
    under Wine copies it into the wineserver), shown beside the copy floor;
  - a Wine floor program (tools/bench_floor.cpp) that rebuilds the same tree
    with the calls a paste makes for each entry, reading each file instead of
    inflating it;
  - natively: tar | gzip -9, tar | pigz -9 -p N (N = processors), zip -9 -r,
    and their extraction.
Then a table: seconds, MB/s, output bytes, peak memory, processor use, the
ratio of Tarnwick to each peer, and the targets.

Environment:
  TW_BENCH_ARCH   x64 or win32 (default: x64 when this machine runs 64-bit
                  Wine and has the x86-64 cross compiler, else win32)
  TW_BUILD_DIR    build folder of that architecture (default build/win64 or build/win32)
  TW_BENCH_DIR    corpus and Wine prefix (default build/bench)
  TW_BENCH_OUT    where pastes, extractions and archives are written (default
                  /dev/shm when it is a tmpfs with 2 GB free, else TW_BENCH_DIR)
  TW_BENCH_RUNS   runs per configuration (default 3)
"""
import filecmp
import os
import zlib
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from bench_common import TIME, measure, wine_path  # noqa: E402
import make_corpus  # noqa: E402


# Packing threads of the rows that stand for machines with many processors:
# the most the x64 build starts, and the most that may be asked for.
WIDE = 16
WIDEST = 64


def say(text):
    print(text, flush=True)


def runs_natively(program):
    try:
        return subprocess.run([program, "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=120).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def choose_arch():
    arch = os.environ.get("TW_BENCH_ARCH")
    if arch:
        if arch not in ("x64", "win32"):
            sys.exit("bench: TW_BENCH_ARCH is x64 or win32")
        return arch
    # x64 first: it is the faster build, and the only one on machines that
    # run no 32-bit code.
    if runs_natively("/usr/lib/wine/wine64") and shutil.which("x86_64-w64-mingw32-g++-posix"):
        return "x64"
    return "win32"


def install_peers():
    missing = [p for p in ("pigz", "zip", "unzip") if not shutil.which(p)]
    if not os.path.exists(TIME):
        missing.append("time")
    if not missing:
        return
    say(f"bench: installing {' '.join(missing)}")
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True, env=env)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq"] + missing, check=True, env=env)


class Wine:
    """A private prefix of the chosen architecture with a persistent server
    and an idle session keeper, so the clipboard outlives each run."""

    def __init__(self, arch, prefix, build_dir):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)  # a message box returns at once instead of waiting
        if arch == "x64":
            self.loader, self.server = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver64"
            self.env.update(WINEARCH="win64", WINELOADER=self.loader, WINESERVER=self.server)
        else:
            # Debian's `wine` wrapper is not used: it may pick a loader this
            # machine cannot start.
            self.loader, self.server = "/usr/lib/wine/wine", "/usr/lib/wine/wineserver32"
            self.env.update(WINEARCH="win32", WINELOADER=self.loader, WINESERVER=self.server)
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        if not os.path.exists(os.path.join(prefix, ".tarnwick-ready")):
            shutil.rmtree(prefix, ignore_errors=True)
            subprocess.run([self.loader, "wineboot", "--init"], **quiet)
            subprocess.run([self.loader, "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                            "/t", "REG_DWORD", "/d", "0", "/f"], **quiet)
            subprocess.run([self.server, "-w"], **quiet)
            open(os.path.join(prefix, ".tarnwick-ready"), "w").close()
        subprocess.run([self.server, "-p"], **quiet)
        self.server_pid = self.find_server(prefix)
        self.keeper = subprocess.Popen([self.loader, os.path.join(build_dir, "tools", "session_keeper.exe")],
                                       start_new_session=True, **quiet)
        time.sleep(2)

    @staticmethod
    def find_server(prefix):
        """The pid of this prefix's wineserver, whose processor time is what
        Wine costs besides the program's own; None when it cannot be told."""
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/comm") as f:
                    if not f.read().startswith("wineserver"):
                        continue
                with open(f"/proc/{entry}/environ", "rb") as f:
                    if b"WINEPREFIX=" + os.fsencode(prefix) + b"\0" in f.read():
                        return int(entry)
            except OSError:
                continue
        return None

    def cmd(self, exe, *args):
        return [self.loader, exe] + list(args)

    def close(self):
        # Ends this prefix's server, and with it the session keeper.
        subprocess.run([self.server, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.keeper.wait()


def build(arch, build_dir):
    toolchain = os.path.join(ROOT, "cmake", "toolchain-mingw-x86_64.cmake" if arch == "x64" else
                             "toolchain-mingw-i686.cmake")
    if not os.path.exists(os.path.join(build_dir, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DCMAKE_TOOLCHAIN_FILE=" + toolchain], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "Tarnwick", "session_keeper", "bench_floor"],
                   check=True, stdout=subprocess.DEVNULL)


def tree_size(tree):
    files = total = largest = folders = 0
    for base, dirs, names in os.walk(tree):
        folders += len(dirs)
        for n in names:
            size = os.path.getsize(os.path.join(base, n))
            files, total, largest = files + 1, total + size, max(largest, size)
    return files, folders + 1, total, largest


def same_tree(a, b):
    c = filecmp.dircmp(a, b)
    if c.left_only or c.right_only or c.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, c.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in c.common_dirs)


def output_root(work):
    """Where pastes, extractions, archives and standard output files go.
    A tmpfs when there is one with room: what one run wrote back to a disk,
    and whatever else writes to that disk, would otherwise land in other
    runs' figures. TW_BENCH_OUT chooses a folder (a disk, say)."""
    chosen = os.environ.get("TW_BENCH_OUT")
    if chosen:
        return chosen
    shm = "/dev/shm"
    try:
        st = os.statvfs(shm)
        if st.f_bavail * st.f_frsize >= 2 << 30 and os.access(shm, os.W_OK):
            return shm
    except OSError:
        pass
    return work


def zlib_seconds(tree):
    """Processor seconds that zlib level 9 takes over every file of the tree
    (files under 16 bytes excepted, as the copy does), natively, on one
    thread: the compression work of a copy, whatever runs it."""
    spent = 0.0
    for base, _, names in os.walk(tree):
        for n in names:
            with open(os.path.join(base, n), "rb") as f:
                data = f.read()
            if len(data) < 16:
                continue
            start = time.process_time()
            zlib.compress(data, 9)
            spent += time.process_time() - start
    return spent


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    # What the last run wrote (and this removal) goes to disk now, not
    # during the next run's clock.
    os.sync()
    return path


def main():
    arch = choose_arch()
    build_dir = os.environ.get("TW_BUILD_DIR") or os.path.join(ROOT, "build", "win64" if arch == "x64" else "win32")
    work = os.environ.get("TW_BENCH_DIR") or os.path.join(ROOT, "build", "bench")
    runs = int(os.environ.get("TW_BENCH_RUNS", "3"))
    cores = os.cpu_count() or 1
    os.makedirs(work, exist_ok=True)

    install_peers()
    say(f"bench: building the {arch} programs in {build_dir}")
    build(arch, build_dir)
    say("bench: corpus (made once)")
    tree = make_corpus.make(os.path.join(work, "corpus"))
    files, folders, total, largest = tree_size(tree)
    corpus_dir = os.path.dirname(tree)
    scratch = os.path.join(output_root(work), f"tarnwick-bench-{os.getpid()}")
    os.makedirs(scratch, exist_ok=True)
    say(f"bench: pastes, extractions and archives go to {scratch}")

    wine = Wine(arch, os.path.join(work, "wine-" + arch), build_dir)
    try:
        tarnwick = os.path.join(build_dir, "bin", "Tarnwick.exe")
        floor = os.path.join(build_dir, "tools", "bench_floor.exe")
        tgz, pgz, zipped = (os.path.join(scratch, n) for n in ("corpus.tar.gz", "corpus-pigz.tar.gz", "corpus.zip"))
        out_file = os.path.join(scratch, "stdout.txt")
        pasted, floored, extracted = (os.path.join(scratch, n) for n in ("pasted", "floor", "extracted"))

        block = {}

        def copy_then_probe(stdout, env=wine.env):
            m = measure([wine.cmd(tarnwick, wine_path(tree))], stdout=stdout, env=env, sample=True,
                        watched=[wine.server_pid] if wine.server_pid else [])
            probe = measure([wine.cmd(floor, "block")], capture=True, env=wine.env)
            length, stored = (int(x) for x in probe.stdout.split())
            if block and block["length"] != length:
                sys.exit("bench: the copy left a block of another length this time")
            block.update(length=length, stored=stored)
            return m

        def paste(stdout):
            return measure([wine.cmd(tarnwick, "/FORCEPASTE", wine_path(fresh(pasted)))], stdout=stdout, env=wine.env)

        def rebuild():
            m = measure([wine.cmd(floor, "rebuild", wine_path(tree), wine_path(fresh(floored)))], stdout=out_file,
                        env=wine.env)
            m.note = m.stderr.decode(errors="replace").strip().replace("bench_floor: ", "")
            return m

        def place():
            m = measure([wine.cmd(floor, "place", str(block["length"]))], env=wine.env)
            m.note = m.stderr.decode(errors="replace").strip().replace("bench_floor: ", "")
            return m

        def untar(decompress, archive):
            return measure([decompress + [archive], ["tar", "-xf", "-", "-C", fresh(extracted)]])

        def zip_tree():
            if os.path.exists(zipped):
                os.remove(zipped)  # zip would add to it
            return measure([["zip", "-9", "-r", "-q", zipped, "tree"]], cwd=corpus_dir)

        # (group, label, run, output bytes or a function giving them)
        rows = [
            ("copy", "Tarnwick, stdout to a file", lambda: copy_then_probe(out_file), lambda: block["length"]),
            ("copy", "Tarnwick, stdout to a char device", lambda: copy_then_probe("/dev/null"),
             lambda: block["length"]),
            # As on a machine with 16 processors: the memory bound holds
            # whatever the number of packing threads.
            ("copy", f"Tarnwick, {WIDE} packing threads", lambda: copy_then_probe(
                out_file, dict(wine.env, TARNWICK_PACK_THREADS=str(WIDE))), lambda: block["length"]),
            ("copy", f"Tarnwick, {WIDEST} packing threads asked", lambda: copy_then_probe(
                out_file, dict(wine.env, TARNWICK_PACK_THREADS=str(WIDEST))), lambda: block["length"]),
            ("copy", "Wine read floor (bench_floor read)",
             lambda: measure([wine.cmd(floor, "read", wine_path(tree))], env=wine.env), total),
            ("paste", "Tarnwick, stdout to a file", lambda: paste(out_file), total),
            ("paste", "Tarnwick, stdout to a char device", lambda: paste("/dev/null"), total),
            ("paste", "Wine floor (bench_floor rebuild)", rebuild, total),
            # After the pastes: it replaces the block on the clipboard.
            ("copy", "Wine hand-over (bench_floor place)", place, lambda: block["length"]),
            ("copy", "tar | gzip -9", lambda: measure([["tar", "-cf", "-", "-C", corpus_dir, "tree"], ["gzip", "-9"]],
                                                        stdout=tgz), lambda: os.path.getsize(tgz)),
            ("copy", f"tar | pigz -9 -p {cores}",
             lambda: measure([["tar", "-cf", "-", "-C", corpus_dir, "tree"], ["pigz", "-9", "-p", str(cores)]],
                             stdout=pgz), lambda: os.path.getsize(pgz)),
            ("copy", "zip -9 -r", zip_tree, lambda: os.path.getsize(zipped)),
            ("paste", "gzip -d | tar -x", lambda: untar(["gzip", "-dc"], tgz), total),
            ("paste", f"pigz -d -p {cores} | tar -x", lambda: untar(["pigz", "-dc", "-p", str(cores)], pgz), total),
            ("paste", "unzip", lambda: measure([["unzip", "-q", zipped, "-d", fresh(extracted)]]), total),
        ]
        results = {group + " " + label: [] for group, label, _, _ in rows}

        say("bench: zlib level 9 over the corpus, natively (once)")
        zlib_s = zlib_seconds(tree)

        say(f"bench: {arch} build, {cores} processors, {runs} runs of each, round-robin; load before: "
            f"{' '.join('%.2f' % x for x in os.getloadavg())}")
        verified = False
        for i in range(runs):
            for group, label, run_it, output in rows:
                os.sync()
                m = run_it()
                m.output = output() if callable(output) else output
                if m.code != 0:
                    sys.exit(f"bench: {group} {label} failed (exit {m.code}): {m.stderr[-400:]!r}")
                results[group + " " + label].append(m)
                say(f"  run {i + 1}: {group:5} {label:38} {m.seconds:7.2f} s  {m.rss_mb:7.1f} MB  {m.cpu:4.0f}% cpu")
                if label.startswith("Tarnwick") and group == "paste" and not verified:
                    if not same_tree(tree, os.path.join(pasted, "tree")):
                        sys.exit("bench: the pasted tree differs from the corpus")
                    verified = True
        load_after = os.getloadavg()
    finally:
        wine.close()
        shutil.rmtree(scratch, ignore_errors=True)

    def med(label, attr="seconds"):
        return statistics.median(getattr(m, attr) for m in results[label])

    say("")
    say(f"Corpus: {files} files, {folders} folders, {total} bytes ({total / 1e6:.1f} MB), largest file "
        f"{largest} bytes. Tarnwick {arch} under Wine; {cores} processors; median of {runs} runs; load "
        f"average after: {' '.join('%.2f' % x for x in load_after)}.")
    say("")
    head = f"{'':5} {'':38} {'seconds':>8} {'MB/s':>7} {'output bytes':>13} {'peak MB':>8} {'cpu %':>6}  Tarnwick / this"
    say(head)
    say("-" * len(head))
    base = {"copy": med("copy Tarnwick, stdout to a file"), "paste": med("paste Tarnwick, stdout to a file")}
    for group, label, _, _ in rows:
        key = group + " " + label
        s = med(key)
        out = int(med(key, "output"))
        ratio = "" if label == "Tarnwick, stdout to a file" else f"{base[group] / s:.2f}"
        if label == "Tarnwick, stdout to a char device":
            ratio = f"(this / to a file: {s / base[group]:.2f})"
        say(f"{group:5} {label:38} {s:8.2f} {total / 1e6 / s:7.1f} {out:13d} {med(key, 'rss_mb'):8.1f} "
            f"{med(key, 'cpu'):6.0f}  {ratio}")
    for m in results["paste Wine floor (bench_floor rebuild)"]:
        say(f"      floor, from its own clock: {m.note}")

    for m in results["copy Wine hand-over (bench_floor place)"]:
        say(f"      hand-over, from its own clock: {m.note}")

    read_floor = med("copy Wine read floor (bench_floor read)")
    copy_floor = max(read_floor, zlib_s / cores)
    hand_over = med("copy Wine hand-over (bench_floor place)")
    say("")
    say(f"Copy floor: {copy_floor:.2f} s, the larger of the Wine read floor ({read_floor:.2f} s) and zlib level 9's "
        f"processor time over the corpus ({zlib_s:.2f} s) over {cores} processors ({zlib_s / cores:.2f} s).")
    say(f"Handing a block of this length to the clipboard takes a Wine program {hand_over:.2f} s on its own, after "
        f"everything is packed; the copy less that is {(med('copy Tarnwick, stdout to a file') - hand_over) / copy_floor:.2f}"
        f" x the copy floor.")
    say("Processor use of the copy (% of one core; median of the runs), and of its wineserver beside it:")
    for label in ("Tarnwick, stdout to a file", "Tarnwick, stdout to a char device", f"Tarnwick, {WIDE} packing threads",
                  f"Tarnwick, {WIDEST} packing threads asked"):
        ms = results["copy " + label]
        third = [m.cpu_last_third for m in ms if m.cpu_last_third is not None]
        server = [m.watched_cpu for m in ms if m.watched_cpu is not None]
        say(f"  {label:38} whole run {statistics.median(m.cpu for m in ms):4.0f} %, last third "
            f"{statistics.median(third) if third else float('nan'):4.0f} %, wineserver "
            f"{statistics.median(server) if server else float('nan'):4.0f} %")

    say("")
    say("Targets:")
    mib = 1048576
    copy_file, copy_dev = med("copy Tarnwick, stdout to a file"), med("copy Tarnwick, stdout to a char device")
    paste_file, paste_dev = med("paste Tarnwick, stdout to a file"), med("paste Tarnwick, stdout to a char device")
    pigz = med(f"copy tar | pigz -9 -p {cores}")
    floor_s = med("paste Wine floor (bench_floor rebuild)")
    peak = max(m.rss_mb for m in results["copy Tarnwick, stdout to a file"] +
               results["copy Tarnwick, stdout to a char device"])
    peak_wide = max(m.rss_mb for m in results[f"copy Tarnwick, {WIDE} packing threads"])
    peak_widest = max(m.rss_mb for m in results[f"copy Tarnwick, {WIDEST} packing threads asked"])
    limit = (2 * block["stored"] + 2 * largest + 64 * mib) / mib
    thirds = [m.cpu_last_third for m in results["copy Tarnwick, stdout to a file"] if m.cpu_last_third is not None]
    third = statistics.median(thirds) if thirds else float("nan")
    checks = [
        (f"copy to a file <= 1.2 x tar | pigz -9 -p {cores}", copy_file / pigz, 1.2),
        ("copy to a file <= 1.3 x the copy floor", copy_file / copy_floor, 1.3),
        ("copy to a char device <= 1.1 x copy to a file", copy_dev / copy_file, 1.1),
        ("paste to a char device <= 1.1 x paste to a file", paste_dev / paste_file, 1.1),
        ("paste to a file <= 1.0 x Wine floor", paste_file / floor_s, 1.0),
    ]
    for text, value, bound in checks:
        say(f"  {text:52} {value:6.2f}  {'met' if value <= bound else 'MISSED'}")
    say(f"  {'copy to a file, cpu over its last third >= 185 %':52} {third:6.0f}  {'met' if third >= 185 else 'MISSED'}")
    say(f"  {'copy peak memory <= 2 x stored + 2 x largest + 64 MiB':52} {peak:6.0f} MB of {limit:.0f} MB  "
        f"{'met' if peak <= limit else 'MISSED'}  (stored {block['stored']} bytes)")
    say(f"  {f'the same with {WIDE} packing threads':52} {peak_wide:6.0f} MB of {limit:.0f} MB  "
        f"{'met' if peak_wide <= limit else 'MISSED'}")
    say(f"  {f'the same with {WIDEST} packing threads asked':52} {peak_widest:6.0f} MB of {limit:.0f} MB  "
        f"{'met' if peak_widest <= limit else 'MISSED'}")


if __name__ == "__main__":
    main()
