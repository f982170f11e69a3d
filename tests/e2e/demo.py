#!/usr/bin/env python3
"""One installer run under Wine against loopback servers, told step by step.

usage: demo.py [--exit-code N] [--interactive]
The shipped configuration (mode "/s"), or with --interactive the "/u" build
against a throttled package server, photographed into build/e2e/demo/.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exit-code", type=int, default=0, help="exit code of the demo package")
    parser.add_argument("--interactive", action="store_true", help="the /u build, with screenshots")
    args = parser.parse_args()
    variant, shots = "interactive" if args.interactive else "shipped", os.path.join(harness.BUILD, "demo")
    print("demo: building %s against 127.0.0.1:%d (package) and :%d (statistics), preparing Wine ..." % (
        variant, harness.PORT, harness.PORT + 1), flush=True)
    h = harness.Harness()
    try:
        h.prepare([variant])
        h.reset()
        if args.interactive:
            os.makedirs(shots, exist_ok=True)
            h.package_server.mode, h.package_server.size = "throttle", 3 << 20
        print("demo: running %s\\%s.exe (ANSI code page 936); the package exits with %d\n" % (
            harness.WIN, variant, args.exit_code), flush=True)
        proc = h.start(variant, env={"VEXO_E2E_EXIT": str(args.exit_code)})
        for i in range(6 if args.interactive else 0):
            time.sleep(0.6)
            if proc.poll() is None and h.display.screenshot(os.path.join(shots, "interactive-%d.png" % i)):
                print("screenshot: build/e2e/demo/interactive-%d.png" % i)
        run = h.finish(proc)
        print("\n".join("%-8s server received: %s" % e[:2] for e in run.events))
        print("package command line: %s" % (run.package_runs or ["(the package did not run)"])[0])
        print("exit code: %s" % ("none, the run timed out" if run.timed_out else run.status))
        entry = h.cache(harness.PACKAGE_URL)[harness.PACKAGE_URL]
        print("URL-cache entry of %s: %s" % (harness.PACKAGE_URL, entry))
        return 0 if run.status == args.exit_code and entry == "absent" else 1
    finally:
        h.shutdown()


if __name__ == "__main__":
    sys.exit(main())
