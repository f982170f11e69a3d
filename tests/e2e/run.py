#!/usr/bin/env python3
"""Runs the end-to-end suite and prints one line per case (or table row).

The last line reads "e2e: N passed, N failed"; the exit status is non-zero
when a case failed, the preparation failed, or no case ran.

usage: run.py [-k PATTERN]   (PATTERN selects cases by a part of their name)
"""

import argparse
import os
import re
import sys
import time
import traceback
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import test_install  # noqa: E402
import test_interactive  # noqa: E402

# The suites, in the order they run.
MODULES = [test_install, test_interactive]


class Result(unittest.TestResult):
    """Counts every table row as a case of its own; plain tests count once."""

    def __init__(self):
        super().__init__()
        self.passed = 0
        self.failed = 0
        self.skipped_count = 0
        self.failures_text = []
        self._rows = 0
        self._row_failures = 0
        self._start = 0.0

    @staticmethod
    def _name(test):
        return test.id().split(".", 1)[-1]

    def startTest(self, test):
        super().startTest(test)
        self._rows = 0
        self._row_failures = 0
        self._start = time.monotonic()

    def _report(self, ok, name, test, err=None):
        secs = time.monotonic() - self._start
        if ok:
            self.passed += 1
            print("ok    %s (%.1fs)" % (name, secs), flush=True)
        else:
            self.failed += 1
            text = self._exc_info_to_string(err, test) if err else ""
            self.failures_text.append((name, text))
            lines = text.strip().splitlines()
            heads = [l for l in lines if re.match(r"^[A-Za-z_.]+(Error|Exception|Expired)\b", l)]
            print("FAIL  %s (%.1fs): %s" % (name, secs, (heads or lines or [""])[-1]),
                  flush=True)
            try:
                h = harness.get()
                h.save_artifacts(name, {"failure": text}, screenshot=True)
            except Exception:  # the artifacts must not hide the failure
                pass
        self._start = time.monotonic()

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        self._rows += 1
        row = "%s [%s]" % (self._name(test), subtest._message)
        if err is not None:
            self._row_failures += 1
        self._report(err is None, row, test, err)

    def addSuccess(self, test):
        super().addSuccess(test)
        if self._rows == 0:
            self._report(True, self._name(test), test)

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._report(False, self._name(test), test, err)

    def addError(self, test, err):
        super().addError(test, err)
        self._report(False, self._name(test), test, err)

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.skipped_count += 1
        print("skip  %s: %s" % (self._name(test), reason), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-k", dest="pattern", help="run only cases whose name holds this")
    args = parser.parse_args()

    tests = []
    for module in MODULES:
        suite = unittest.defaultTestLoader.loadTestsFromModule(module)
        tests += [t for group in suite for t in group]
    if args.pattern:
        tests = [t for t in tests if args.pattern in t.id()]

    started = time.monotonic()
    print("e2e: preparing builds, Wine prefix and servers", flush=True)
    try:
        h = harness.get()
    except Exception:
        traceback.print_exc()
        print("e2e: preparation failed")
        print("e2e: 0 passed, %d failed" % max(len(tests), 1))
        return 1
    for name, secs in h.timings.items():
        print("  %-28s %6.1fs" % (name, secs))
    for name, exe in sorted(h.variants.items()):
        if not exe:
            print("  build %s FAILED: see %s" % (name, h.variant_logs[name]))

    result = Result()
    try:
        unittest.TestSuite(tests).run(result)
    finally:
        harness.release()

    for name, text in result.failures_text:
        if "harness.HarnessError:" in text:  # the cause is the harness, not the case
            text = text.strip().splitlines()[-1]
        print("\n==== %s\n%s" % (name, text.rstrip()))
    if h.notes:
        print("\nnotes:")
        for note in dict.fromkeys(h.notes):
            count = h.notes.count(note)
            print("  " + note + (" (%d times)" % count if count > 1 else ""))
    print("\ne2e: took %.0fs, artifacts in %s" % (time.monotonic() - started,
                                                    os.path.relpath(harness.ARTIFACTS)))
    skipped = ", %d skipped" % result.skipped_count if result.skipped_count else ""
    print("e2e: %d passed, %d failed%s" % (result.passed, result.failed, skipped))
    return 0 if result.failed == 0 and result.passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
