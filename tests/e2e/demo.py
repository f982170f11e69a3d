#!/usr/bin/env python3
"""One installer run under Wine against loopback servers, told step by step.

usage: demo.py [--exit-code N] [--interactive]

--interactive runs the interactive build ("/u") on Xvfb with Wine's virtual
desktop, against a throttled package server so the download lasts a few
seconds, and saves screenshots of the desktop while it runs into
build/e2e/demo/.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exit-code", type=int, default=0,
                        help="exit code of the demo package (default 0)")
    parser.add_argument("--interactive", action="store_true",
                        help="the interactive build under Xvfb, with screenshots")
    args = parser.parse_args()

    variant = "interactive" if args.interactive else "silent"
    print("demo: building %s (mode %r) against package server 127.0.0.1:%d and "
          "statistics server 127.0.0.1:%d, preparing Wine ..." % (
              variant, harness.VARIANTS[variant][0]["VEXO_MODE"],
              harness.PACKAGE_PORT, harness.STATS_PORT), flush=True)
    h = harness.Harness(use_display=True if args.interactive else None)
    try:
        h.prepare(variants=[variant])
        if not h.variants.get(variant):
            print("demo: the build failed, see %s" % h.variant_logs[variant])
            with open(h.variant_logs[variant], errors="replace") as f:
                print("".join(f.readlines()[-20:]))
            return 1
        h.reset()
        url = h.package_server.url()
        print("demo: installer  %s (%d bytes)" % (os.path.relpath(h.variants[variant]),
                                                 os.path.getsize(h.variants[variant])))
        print("demo: package    %s -> the test package, which records its command line "
              "and exits with %d" % (url, args.exit_code))
        print("demo: running    wine %s (LC_ALL=%s, ANSI code page 936)\n" % (
            h.variant_path(variant), harness.WINE_LOCALE), flush=True)

        cache_before = set(h.wine.cache_files())
        if args.interactive:
            run = run_with_screenshots(h, variant, args.exit_code)
        else:
            run = h.run_installer(variant, exit_code=args.exit_code)

        print("statistics server received:")
        pings = h.log.events("stats")
        for e in pings:
            print("  %s" % e["line"])
        if not pings:
            print("  (nothing)")
        print("package server received:")
        for e in h.log.events("package") or [{"line": "(nothing)"}]:
            print("  %s" % e["line"])
        print("order of requests: %s" % ", ".join(
            "%s %s" % (e["source"], e["path"].rsplit("type=", 1)[-1]
                       if e["source"] == "stats" else "download")
            for e in h.log.events()))
        print("package command line:")
        for line in h.package_runs() or ["(the package did not run)"]:
            print("  %s" % line)
        if run.timed_out:
            print("exit code: none, the run timed out")
        else:
            print("exit code: %s" % run.status)
        entry = h.cache_entry(url)
        print("URL cache entry for %s: %s" % (
            url, "none" if entry == "absent" else entry))
        for line in h.package_runs():
            path = line.split('"')[1] if line.startswith('"') else None
            if path:
                gone = not os.path.exists(h.wine.unix_path(path))
                print("cached file %s: %s" % (path, "gone" if gone else "STILL THERE"))
        added = sorted(set(h.wine.cache_files()) - cache_before)
        if added:
            print("files this run added to Wine's cache folder (the statistics answers "
                  "are cached under their own URLs): %s" % ", ".join(added))
        ok = (not run.timed_out and run.status == args.exit_code and entry == "absent")
        return 0 if ok else 1
    except harness.HarnessError as e:
        print("demo: %s" % e)
        return 1
    finally:
        h.shutdown()


def run_with_screenshots(h, variant, exit_code, shots=6, every=0.6):
    """Runs the installer with a slow download and photographs the desktop."""
    out = os.path.join(harness.BUILD, "demo")
    os.makedirs(out, exist_ok=True)
    for old in os.listdir(out):
        if old.endswith(".png"):
            os.remove(os.path.join(out, old))
    h.package_server.mode = "throttle"     # 64 KB every 50 ms
    h.package_server.pad_to = 3 * 1024 * 1024
    print("demo: the package is padded to 3 MB and sent 64 KB every 50 ms; "
          "screenshots every %.1fs\n" % every, flush=True)
    proc = h.start_installer(variant, exit_code=exit_code)
    time.sleep(0.5)
    saved = []
    for i in range(shots):
        if proc.proc.poll() is not None:
            break
        path = os.path.join(out, "interactive-%d.png" % i)
        if h.display.screenshot(path):
            saved.append(path)
        time.sleep(every)
    run = h.finish_installer(proc, 60)
    path = os.path.join(out, "interactive-end.png")
    if h.display.screenshot(path):
        saved.append(path)
    print("screenshots:")
    for path in saved:
        print("  %s" % os.path.relpath(path))
    return run


if __name__ == "__main__":
    sys.exit(main())
