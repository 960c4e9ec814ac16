"""Shared by the copy and paste benchmarks: runs Tarnwick.exe under Wine
and measures wall time and peak resident memory of the process."""
import os
import subprocess
import time


def wine_path(p):
    return "Z:" + p.replace("/", "\\")


def run(exe, args):
    """(seconds, peak RSS in MB, exit code, output lines) of one run."""
    start = time.monotonic()
    proc = subprocess.Popen(["wine", exe] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    code = os.waitstatus_to_exitcode(status)
    return time.monotonic() - start, usage.ru_maxrss / 1024.0, code, out.decode("latin-1").splitlines()


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
