"""Shared by the benchmarks: runs programs (Tarnwick.exe under Wine, or the
native tools it is compared with) and measures wall time, peak resident
memory and processor use of each process."""
import os
import subprocess
import tempfile
import threading
import time

# GNU time, for each process's own peak memory and processor time.
TIME = "/usr/bin/time"


def wine_path(p):
    return "Z:" + os.path.abspath(p).replace("/", "\\")


class Measure:
    """One run: seconds, peak RSS in MB (the sum of the peaks of processes
    that run together), processor use in % of one core, exit code; with
    sampling, also the processor use over the last third of the run and
    that of the watched processes (a wineserver) over the whole run."""

    def __init__(self, seconds, rss_mb, cpu, code, stdout=b"", stderr=b""):
        self.seconds, self.rss_mb, self.cpu, self.code = seconds, rss_mb, cpu, code
        self.stdout, self.stderr = stdout, stderr
        self.cpu_last_third = None
        self.watched_cpu = None


CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def _stat(pid):
    """(parent pid, processor seconds) of a process, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return int(fields[1]), (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


class Sampler:
    """Processor seconds of a process and everything it started, and of a few
    other processes, read from /proc every `every` seconds on a thread."""

    def __init__(self, root, watched=(), every=0.2):
        self.root, self.watched, self.every = root, list(watched), every
        self.samples = []  # (monotonic time, seconds of the tree, seconds of the watched)
        self.seen = {}  # pid -> last processor seconds, so that exited children still count
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    @staticmethod
    def children(pid):
        """The kernel's list of a process's children (cheap, unlike a scan of
        /proc, which would itself take a share of the processors)."""
        found = []
        try:
            for task in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{task}/children") as f:
                    found += [int(x) for x in f.read().split()]
        except OSError:
            pass
        return found

    def tree_seconds(self):
        tree, todo = set(), [self.root]
        while todo:
            pid = todo.pop()
            if pid in tree:
                continue
            tree.add(pid)
            st = _stat(pid)
            if st:
                self.seen[pid] = st[1]
            todo += self.children(pid)
        watched = sum(st[1] for st in map(_stat, self.watched) if st)
        return sum(self.seen.values()), watched

    def run(self):
        while not self.stop.is_set():
            tree, watched = self.tree_seconds()
            self.samples.append((time.monotonic(), tree, watched))
            self.stop.wait(self.every)

    def finish(self):
        self.stop.set()
        self.thread.join()


def measure(cmds, stdout=None, stdin=None, env=None, cwd=None, capture=False, sample=False, watched=()):
    """Runs a pipeline of commands (a list of argv lists; one for a single
    program), the first reading stdin, the last writing to stdout (a path,
    or None with capture=True to keep it), and measures each process.

    Each program is started by GNU time: a process forked from this Python
    inherits Python's own peak resident size as its starting figure, which
    would pass for the program's, while one forked from time does not.

    With sample=True (one command only), the processor use of the program
    over the last third of its run is measured too, and that of the
    processes in watched (pids) over the whole run."""
    procs = []
    sampler = None
    reports = []
    out_file = open(stdout, "wb") if stdout else None
    start = time.monotonic()
    try:
        prev = stdin
        for i, cmd in enumerate(cmds):
            last = i == len(cmds) - 1
            fd, report = tempfile.mkstemp(prefix="bench-time-")
            os.close(fd)
            reports.append(report)
            cmd = [TIME, "-f", "%M %U %S", "-o", report, "--"] + list(cmd)
            p = subprocess.Popen(cmd, stdin=prev, env=env, cwd=cwd,
                                 stdout=(out_file if out_file else subprocess.PIPE if capture else subprocess.DEVNULL)
                                 if last else subprocess.PIPE,
                                 stderr=subprocess.PIPE)
            if prev is not None and prev is not stdin:
                prev.close()  # the next process owns its end now
            prev = p.stdout if not last else None
            procs.append(p)
            if sample and last:
                sampler = Sampler(p.pid, watched)
        # Every stderr is drained on a thread of its own, so that no process
        # blocks on a full pipe while the last one's output is read.
        errs = [b""] * len(procs)

        def drain(i):
            errs[i] = procs[i].stderr.read()

        readers = [threading.Thread(target=drain, args=(i,)) for i in range(len(procs))]
        for r in readers:
            r.start()
        out = procs[-1].stdout.read() if capture and not out_file else b""
        for r in readers:
            r.join()
        errs = b"".join(errs)
        rss = cpu = 0.0
        code = 0
        for p in procs:
            code = code or p.wait()
        end = time.monotonic()
        seconds = end - start
        if sampler:
            sampler.finish()
        for report in reports:
            with open(report) as f:
                # A program that fails makes time write a line before its figures.
                kb, user, system = f.read().split()[-3:]
            rss += int(kb) / 1024.0
            cpu += float(user) + float(system)
    finally:
        if out_file:
            out_file.close()
        for report in reports:
            os.remove(report)
    m = Measure(seconds, rss, 100.0 * cpu / max(seconds, 1e-9), code, out, errs)
    if sampler and sampler.samples:
        # From the last sample at or before two thirds of the run to its
        # end, where the program's own total (from time) stands.
        mark = start + seconds * 2 / 3
        at, tree, _ = max((x for x in sampler.samples if x[0] <= mark), default=sampler.samples[0])
        m.cpu_last_third = 100.0 * max(cpu - tree, 0.0) / max(end - at, 1e-9)
        first, last = sampler.samples[0], sampler.samples[-1]
        m.watched_cpu = 100.0 * (last[2] - first[2]) / max(last[0] - first[0], 1e-9)
    return m


def run(exe, args):
    """(seconds, peak RSS in MB, exit code, output lines) of one run of a
    Windows program under the Wine loader of the environment (WINELOADER)."""
    m = measure([[os.environ.get("WINELOADER", "wine"), exe] + args], capture=True)
    return m.seconds, m.rss_mb, m.code, m.stdout.decode("latin-1").splitlines()


def describe_tree(tree):
    files = total = 0
    for base, _, names in os.walk(tree):
        for n in names:
            files += 1
            total += os.path.getsize(os.path.join(base, n))
    print(f"tree: {files} files, {total / 1048576:.1f} MB ({total} bytes)")


def print_baseline(exe):
    t, rss, _, _ = run(exe, ["/?"])
    print(f"baseline (usage text only): {t:.2f} s, peak RSS {rss:.1f} MB")
