#!/usr/bin/env python3
"""Lists every build and every test that did not run, by name, with the
reason, from the JUnit files CTest wrote for scripts/test.sh.

A test did not run when CTest or GoogleTest skipped it (the reason is the
text after "Skipped"), when its build's CTest run left no results, or when
its whole build was not run on this machine (the 32-bit build where the
kernel runs no 32-bit code): then its tests are named from a list of them
(the output of `ctest -N`, or one name a line).

A test that can only run as root says so in its skip reason, which starts
with "needs root:" (mounting a file system, for example). Run as root, such
a skip means the test met a fault instead of a limit, and the run fails:
CI runs as root, and there a quiet skip would hide it.

    test-summary.py [--not-run BUILD=REASON] [--names BUILD=FILE] BUILD=JUNIT-FILE...
BUILD=JUNIT-FILE     the results of one build's CTest run
--not-run BUILD=WHY  a build that was not run at all, and why
--names BUILD=FILE   the tests of a build that left no results
Exits 1 when a test that needs only root was skipped while running as root.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

NEEDS_ROOT = "needs root:"


def skip_reason(output):
    """The text GoogleTest prints after "<file>:<line>: Skipped"."""
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if line.rstrip().endswith(": Skipped"):
            for text in lines[i + 1:]:
                if text.strip():
                    return text.strip()
    return ""


def test_names(path):
    """Test names from `ctest -N` output ("  Test #3: name") or one a line;
    None when the file cannot be read."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return None
    listed = re.findall(r"^\s*Test\s+#\d+:\s+(\S+)", text, re.M)
    if listed or "Total Tests:" in text:
        return listed
    return [line.strip() for line in text.splitlines() if line.strip()]


def pairs(values):
    return dict(value.partition("=")[::2] for value in values)


def parse_arguments(arguments):
    results, not_run, names = [], [], []
    i = 0
    while i < len(arguments):
        argument = arguments[i]
        if argument in ("--not-run", "--names"):
            if i + 1 == len(arguments):
                sys.exit(f"test-summary: {argument} needs BUILD=VALUE")
            (not_run if argument == "--not-run" else names).append(arguments[i + 1])
            i += 2
            continue
        results.append(argument)
        i += 1
    return [tuple(r.partition("=")[::2]) for r in results], pairs(not_run), pairs(names)


def main(arguments):
    as_root = os.geteuid() == 0
    results, builds_not_run, names_of = parse_arguments(arguments)

    skipped = []          # (build, test, reason)
    whole_builds = []     # (build, reason, [tests] or None)
    for build, path in results:
        try:
            suite = ET.parse(path).getroot()
        except (OSError, ET.ParseError):
            builds_not_run.setdefault(build, "its CTest run ended before it ran any test (no results)")
            continue
        for case in suite.iter("testcase"):
            if case.get("status") not in ("notrun", "disabled") and case.find("skipped") is None:
                continue
            reason = skip_reason(case.findtext("system-out") or "")
            if not reason:
                element = case.find("skipped")
                reason = element.get("message", "") if element is not None else case.get("status", "")
            skipped.append((build, case.get("name", "?"), reason))
    for build, reason in builds_not_run.items():
        whole_builds.append((build, reason, test_names(names_of[build]) if build in names_of else None))

    if not skipped and not whole_builds:
        print("test: every test ran")
        return 0

    faults = 0
    count = len(skipped) + sum(len(tests or []) for _, _, tests in whole_builds)
    unlisted = sum(tests is None for _, _, tests in whole_builds)
    besides = f", besides {unlisted} whole build{'' if unlisted == 1 else 's'} whose tests could not be listed"
    print(f"test: {count} test{'' if count == 1 else 's'} did not run" + (besides if unlisted else "") + ":")
    for build, reason, tests in whole_builds:
        if tests is None:
            print(f"  {build}: the whole build did not run: {reason}; its tests could not be listed")
            continue
        print(f"  {build}: the whole build did not run ({len(tests)} tests): {reason}")
        for name in tests:
            print(f"    {build}: {name}")
    for build, name, reason in skipped:
        fault = as_root and reason.startswith(NEEDS_ROOT)
        faults += fault
        print(f"  {build}: {name}: {reason or '(no reason given)'}{'  <- FAULT: this run is root' if fault else ''}")
    if faults:
        print(f"test: {faults} tests that need only root were skipped although this run is root")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
