#!/usr/bin/env python3
"""Lists the tests that did not run, from the JUnit files CTest wrote for
scripts/test.sh, with the reason each one gave.

A test that can only run as root says so in its skip reason, which starts
with "needs root:" (mounting a file system, for example). Run as root, such
a skip means the test met a fault instead of a limit, and the run fails:
CI runs as root, and there a quiet skip would hide it.

    test-summary.py BUILD=JUNIT-FILE...
Exits 1 when a test that needs only root was skipped while running as root.
"""
import os
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


def main(arguments):
    as_root = os.geteuid() == 0
    not_run = []
    for argument in arguments:
        build, _, path = argument.partition("=")
        try:
            suite = ET.parse(path).getroot()
        except (OSError, ET.ParseError):
            continue  # that CTest run did not get as far as its tests
        for case in suite.iter("testcase"):
            if case.get("status") not in ("notrun", "disabled") and case.find("skipped") is None:
                continue
            reason = skip_reason(case.findtext("system-out") or "")
            if not reason:
                skipped = case.find("skipped")
                reason = skipped.get("message", "") if skipped is not None else case.get("status", "")
            not_run.append((build, case.get("name", "?"), reason))

    if not not_run:
        print("test: every test ran")
        return 0
    print(f"test: {len(not_run)} tests did not run:")
    faults = 0
    for build, name, reason in not_run:
        fault = as_root and reason.startswith(NEEDS_ROOT)
        faults += fault
        print(f"  {build}: {name}: {reason or '(no reason given)'}{'  <- FAULT: this run is root' if fault else ''}")
    if faults:
        print(f"test: {faults} tests that need only root were skipped although this run is root")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
