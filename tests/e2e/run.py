#!/usr/bin/env python3
"""The end-to-end suite: the real vexo_setup.exe under Wine, its scenarios
as tables. One line per case (a table row is a case), then the closing line
"e2e: N passed, N failed". Rows named in PENDING_ISSUE_7 expect behaviour
that issue 7 asks for and the program does not have yet: they run, and
their failure is reported as pending instead of failed.

usage: run.py [-k PATTERN]   (only the cases whose name holds PATTERN)
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import CAPTION, PACKAGE_URL, PORT, WIN  # noqa: E402

# The texts of the boxes, written down from the string table; never read
# from the executable under test.
TEXT = {
    105: "说明：\n   /? :  显示此对话框\n   /a :  使用管理员权限进行安装.\n"
         "   /a <对已存在完整路径使用管理员权限进行安装> :  .\n   /v <文件完整路径> :  使用文件默认的权限验证。\n\"",
    106: "请重新启动您的电脑以使更改生效。 按确定重启电脑，手动重启请按取消。",
    108: "内存溢出" + " " * 51,
    110: "Vexo影音安装包",
    111: "%s正在下载，请耐心等待...",
    112: "Vexo影音安装已被取消。" + " " * 29,
    113: "路径'%s'无效。",
    119: "运行程序需要管理员权限" + " " * 29,
    123: "安装程序无法找到包'%s'。",
    125: "下载完成。",
}
SF, SFAIL, EXIT7 = ["start", "finished"], ["start", "failed"], {"VEXO_E2E_EXIT": "7"}
MOVED_URL = "http://127.0.0.1:%d%s" % (PORT, harness.PackageServer.MOVED)
SPACED = "http://127.0.0.1:%d%s dir/vexo_303.exe" % (PORT, harness.PACKAGE_DIR)  # as composed
SPACED_CANONICAL = SPACED.replace(" ", "%20")
HOST_MACS = {open(p).read().strip().replace(":", "").upper() for p in glob.glob("/sys/class/net/*/address")}
PING = re.compile(r"GET /\?method='fetchlet'&platform=pc&os=([^&]*)&macid=([0-9A-F]{12}|)&type=(\w+) HTTP/1\.[01]")
COUNTS = ("heap", "handles", "libraries", "dcs", "gdi", "sids", "certs", "inet")

# Rows that wait for issue 7 (hostile networks, planted libraries).
PENDING_ISSUE_7 = {
    "network: 404", "network: body shorter than announced", "network: 302 to another path",
    "network: 302 to itself", "network: 302 loop A-B-A", "network: accepts, never answers",
    "network: headers, then nothing", "network: statistics server never answers",
    "network: headers, then nothing; Cancel (/u)", "failure table: canonicaliser out of memory (/u)", "planted libraries: next to the /u build",
}

H = None           # the harness
CASE = ""          # the running case, for its artifacts
NOTES = []


class Fail(Exception):
    pass


def check(ok, message, run=None):
    if not ok:
        raise Fail(message + ("\n  %r" % run if run is not None else ""))


def eq(got, want, what, run=None):
    check(got == want, "%s: %r, expected %r" % (what, got, want), run)


def box(text, icon="error", owner="progress", buttons=(1,)):
    return {"box": text, "icon": icon, "owner": owner, "buttons": list(buttons)}


OOM, CANCELLED = box(TEXT[108]), box(TEXT[112], "warning")


def wait_for(probe, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.1)
    raise Fail("%s: not within %ds" % (what, timeout))


def shot(name):
    return H.screenshot(CASE, name)


def expect(run, status, pings=(), boxes=(), ran=False, package_silent=True, os_name="Win7", macid=True,
           seam=True, urls=(PACKAGE_URL,), wall=None):
    """The checks every run gets: exit code, pings (well formed, in order
    around the download), boxes, the package, nothing outstanding, no
    cache entry left."""
    check(not run.timed_out, "the run did not end (time-out)", run)
    eq(run.status, status, "exit code", run)
    eq(run.pings, list(pings), "pings", run)
    for source, line, _ in run.events:
        m = PING.fullmatch(line) if source == "stats" else None
        check(source != "stats" or (m and os_name in (None, m.group(1)) and (m.group(2) in HOST_MACS) == macid),
              "ping %r: os=%s and the macid of an adapter of this machine expected" % (line, os_name), run)
    order = "".join("p" if e[0] == "package" else "a" if "type=start" in e[1] else "z" for e in run.events)
    check(re.fullmatch(r"a?p*z?", order), "the download is not between the start ping and the last", run)
    eq(run.boxes, list(boxes), "boxes", run)
    if ran:
        eq(len(run.package_runs), 1, "package starts", run)
        m = re.fullmatch(r'"(C:\\users\\[^"]*\\Content\.IE5\\[^"]*)" /norestart' + (" /S" if package_silent else ""),
                         run.package_runs[0])
        check(m, "package command line %r" % run.package_runs[0], run)
        check(not os.path.exists(H.wine.path(m.group(1))), "the cached package is still there", run)
        eq(run.window_at_package, ["window=no"], "a window of the installer open while the package ran", run)
    else:
        eq(run.package_runs, [], "package starts", run)
        NOTES.extend("%s: Wine left %s in its cache folder" % (CASE, os.path.basename(f))
                     for f in run.new_cache_files if "vexo_303" in f)
    if seam:
        check(run.report, "no end-of-run report: the program did not end through its clean-up", run)
        left = [n for n in run.report["libraries_left"].split(",") if n and n.lower() != "gdiplus.dll"]
        counts = dict((k, int(run.report[k])) for k in COUNTS)
        counts["libraries"] = len(left)   # GDI+ keeps its library for the life of the process
        eq({k: v for k, v in counts.items() if v}, {}, "outstanding at exit", run)
    present = [u for u, state in H.cache(*urls).items() if state != "absent"] if urls else []
    eq(present, [], "URL-cache entries left", run)
    if wall is not None:
        check(run.wall <= wall, "took %.1fs, promised at most %ds" % (run.wall, wall), run)


def setup(row):
    """Applies a row's server modes; returns the seam and package
    environment and the launcher's flags."""
    env, flags = dict(row), row.get("flags", "")
    for key, server in (("package", H.package_server), ("stats", H.stats_server)):
        mode = env.pop(key, None)
        if mode == "down":
            server.stop()
        elif mode:
            server.mode = mode
    H.package_server.size = env.pop("size", 0)
    env.pop("flags", None)
    return env, flags


# ---------------------------------------------------------------- the failure table

# Every row of the driver's failure table that can happen, in the silent
# (/s) and the interactive (/u) build: name, what is made to fail, exit
# code, pings, the box of /u (owned by the progress window), package ran.
# Not here: the rows whose allocations fail (the loop below fails every
# allocation in turn); the copy of "DEFAULT" and the bounded composition of
# the URL, which cannot fail (their buffers are sized for their texts); a
# Cancel seen only by status texts 122 or 124, which no message pump comes
# before (the cancel sites are the first status line and the download).
FAILURES = [
    ("module path unreadable", {"VEXO_FAIL": "GetModuleFileNameA@12:5"}, 5, [], None, False),
    ("system too old", {"VEXO_FAIL": "VerifyVersionInfoA@16:1150"}, 1603, [], None, False),
    ("setup mutex refused", {"VEXO_FAIL": "CreateMutexA@12:5"}, 1618, [], None, False),
    ("user outside Administrators", {"flags": "r"}, 1603, [], box(TEXT[119]), False),
    ("Administrators SID not made", {"VEXO_FAIL": "AllocateAndInitializeSid@44:8"}, 1603, [], box(TEXT[119]), False),
    ("canonicaliser error", {"VEXO_FAIL": "InternetCanonicalizeUrlA@16:87:0:1"}, 87, [],
     box(TEXT[113] % PACKAGE_URL), False),
    ("canonicaliser out of memory", {"VEXO_FAIL": "InternetCanonicalizeUrlA@16:14:0:1"}, 14, [],
     box(TEXT[113] % PACKAGE_URL), False),
    ("canonicaliser wants more room twice", {"VEXO_FAIL": "InternetCanonicalizeUrlA@16:122"}, 122, [],
     box(TEXT[113] % PACKAGE_URL), False),
    ("canonicaliser wants more room once", dict(EXIT7, VEXO_FAIL="InternetCanonicalizeUrlA@16:122:0:1"), 7, SF,
     None, True),
    ("package server down", {"package": "down"}, 2, SFAIL, box(TEXT[123] % PACKAGE_URL), False),
    ("package does not start", {"VEXO_FAIL": "CreateProcessA@40:5"}, 5, SF, None, False),
]


def failure_row(mode, row, status, pings, shown, ran):
    env, flags = setup(row)
    interactive = mode == "/u"
    run = H.run("interactive" if interactive else "silent", env=env, flags=flags + ("h" if interactive else ""),
                on_box=lambda b: shot("box"))
    expect(run, status, pings, [shown] if shown and interactive else [], ran, package_silent=not interactive)


def every_allocation(variant):
    """Fails each allocation of a good run in turn: each run ends through
    the clean-up with nothing outstanding, with the package's code (a ping
    missing or naming the fallback system), or with 14 or the property
    lookup's 1814 and nothing run."""
    good = H.run(variant, env=EXIT7)
    expect(good, 7, SF, ran=True, package_silent=variant == "silent")
    total, statuses = int(good.report["allocations"]), []
    for n in range(1, total + 1):
        H.reset()
        run = H.run(variant, env=dict(EXIT7, VEXO_FAIL_ALLOC=str(n)))
        at = " (allocation %d of %d)" % (n, total)
        check(not run.timed_out and run.report, "no clean end" + at, run)
        check(int(run.report["allocations"]) >= n, "allocation %d was never made%s" % (n, at), run)
        statuses.append(run.status)
        if run.status == 7:
            expect(run, 7, [p for p in SF if p in run.pings], ran=True, package_silent=variant == "silent",
                   os_name=None)   # the fallback name where the version record was not allocated
        else:
            check(run.status in (14, 1814), "exit code %s%s" % (run.status, at), run)
            pings = run.pings if run.pings == SF and not run.boxes else []   # SF: the package's command line
            expect(run, run.status, pings, run.boxes and [OOM] if variant == "interactive" else [])
    eq(statuses.count(1814), 2, "runs ending with the property lookup's 1814 (the two fallback buffers)")


# ---------------------------------------------------------------- the network

# name, build, setup, exit code, pings, package ran, promised bound (s), URLs of the chain
NETWORK = [
    ("package server refuses", "silent", {"package": "down"}, 2, SFAIL, False, 20, ()),
    ("statistics server refuses", "silent", dict(EXIT7, stats="down"), 7, [], True, 20, ()),
    ("404", "silent", {"package": "404"}, 2, SFAIL, False, 20, ()),
    ("body shorter than announced", "silent", {"package": "short_body", "size": 1 << 20}, 2, SFAIL, False, 20, ()),
    ("302 to another path", "silent", dict(EXIT7, package="redirect"), 7, SF, True, 20, (MOVED_URL,)),
    ("302 to itself", "silent", {"package": "redirect_self"}, 2, SFAIL, False, 15, ()),
    ("302 loop A-B-A", "silent", {"package": "redirect_loop"}, 2, SFAIL, False, 15, (MOVED_URL,)),
    ("accepts, never answers", "silent", {"package": "stall_accept"}, 2, SFAIL, False, 38, ()),
    ("headers, then nothing", "silent", {"package": "stall_after_headers"}, 2, SFAIL, False, 38, ()),
    ("statistics server never answers", "silent", dict(EXIT7, stats="stall"), 7, SF, True, 25, ()),
]


def network_row(variant, row, status, pings, ran, bound, urls):
    env, flags = setup(row)
    run = H.run(variant, env=env, flags=flags, timeout=bound + 3)
    expect(run, status, pings, ran=ran, urls=(PACKAGE_URL,) + urls, wall=bound)


def cancel_in_stall():
    """Cancel pressed while no byte arrives ends the run within 2 s."""
    H.package_server.mode = "stall_after_headers"
    proc = H.start("interactive", timeout=40, flags="h")
    try:
        w = wait_for(lambda: H.log.get("package") and (lambda p: p.get("window") and p)(H.wine.probe("window")), 20,
                     "the window during the stalled download")
        time.sleep(1)
        click(w["button"]["rect"])
        clicked = time.monotonic()
        wait_for(lambda: H.boxes(proc), 40, "a box after Cancel")
        took = time.monotonic() - clicked
        shot("cancelled")
    finally:
        run = H.finish(proc)
    expect(run, 1602, ["start"], [CANCELLED])
    check(took <= 2.5, "the box came %.1fs after Cancel, promised within 2 s" % took)


# ---------------------------------------------------------------- the window

def click(rect):
    x, y = (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=dict(os.environ, DISPLAY=H.display.name),
                   capture_output=True, timeout=15, check=True)


def magick_difference(args):
    r = subprocess.run(["compare"] + args + ["null:"], capture_output=True, timeout=30)
    m = re.search(rb"\(([\d.e+-]+)\)", r.stderr) or re.match(rb"([\d.e+-]+)", r.stderr)
    check(m, "compare said %r" % r.stderr)
    return float(m.group(1))


def status_line_shows(screenshot, window, text, other):
    """The status strip of the screenshot shows text drawn the installer's
    way (a reference drawn inside Wine), and the comparison tells it from
    other."""
    cx, cy, cw, ch = window["client"]
    top = 233 + (ch - 257) // 2    # centred in the strip below the bar
    crop = os.path.join(os.path.dirname(screenshot), "status.png")
    subprocess.run(["convert", screenshot, "-crop", "280x24+%d+%d" % (cx + 5, cy + top), "+repage", crop],
                   timeout=30, check=True)
    share = []
    for t in (text, other):
        H.wine.probe("render", WIN + "\\ref.bmp", "280", "24", t.encode("utf-16-le").hex())
        share.append(magick_difference(["-metric", "AE", "-fuzz", "19%", crop, H.wine.path(WIN + "\\ref.bmp")]) / 6720)
    check(share[0] < 0.02 and share[1] > 0.05, "status line: %.1f%% of the pixels differ from %r, %.1f%% from %r "
          "(%s)" % (share[0] * 100, text, share[1] * 100, other, screenshot))


def window_case(variant, product, cancel):
    """The window mid-download: size, centred in the work area, banner,
    bar, button, status line; then Cancel by pointer, or the end."""
    hold = H.wine.start(["wine", WIN + "\\probe.exe", "hold", "60000", WIN + "\\release"], 70)
    try:
        area = wait_for(lambda: H.wine.probe("workarea")["taskbar"] and H.wine.probe("workarea"), 20,
                        "the taskbar with an icon in the notification area")
        H.package_server.mode, H.package_server.size = "throttle", 4 << 20
        proc = H.start(variant, env=EXIT7, flags="h")
        w = wait_for(lambda: (lambda p: p.get("window") and p["bar"]["pos"] > 0 and p)(H.wine.probe("window")), 20,
                     "the bar moving")
        screen = shot("mid-download")
        later = wait_for(lambda: (lambda p: p.get("bar", {}).get("pos", 0) > w["bar"]["pos"] and p)(
            H.wine.probe("window")), 10, "the bar moving on")
        if cancel:
            click(w["button"]["rect"])
        run = H.finish(proc, on_box=lambda b: shot("box"))
    finally:
        open(H.wine.path(WIN + "\\release"), "w").close()
        hold.wait(30)
    (left, top, right, bottom), (cx, cy, cw, ch) = w["rect"], w["client"]
    work = area["work_area"]
    eq((right - left, bottom - top), (396, 297), "window size")
    eq((left, top), (work[0] + (work[2] - work[0] - 396) // 2, work[1] + (work[3] - work[1] - 297) // 2),
       "window place (centred in the work area %r)" % work)
    eq(w["bar"]["rect"], [cx, cy + 210, cx + cw, cy + 233], "bar rectangle")
    check(w["bar"]["high"] == 4 << 20 and 0 < w["bar"]["pos"] < later["bar"]["pos"], "bar %r, then %r" % (
        w["bar"], later["bar"]))
    row = cy + 233 + (ch - 257) // 2
    eq(w["button"], {"text": "取消", "rect": [cx + cw - 95, row, cx + cw - 5, row + 24]}, "Cancel button")
    status_line_shows(screen, w, TEXT[111] % (product or TEXT[110]), TEXT[111] % (TEXT[110] if product else "X"))
    banner = os.path.join(os.path.dirname(screen), "banner.png")
    subprocess.run(["convert", screen, "-crop", "392x209+%d+%d" % (cx, cy), "+repage", banner], timeout=30, check=True)
    slides = [magick_difference(["-metric", "MAE", banner, os.path.join(harness.REPO, "resources", "slides",
                                                                        "slide%d.jpg" % n)]) for n in (1, 2, 3, 4)]
    check(slides[0] < 0.04 and min(slides[1:]) > 3 * slides[0], "banner against slides 1-4: %r" % slides)
    if cancel:
        expect(run, 1602, ["start"], [CANCELLED])
    else:
        expect(run, 7, SF, ran=True, package_silent=False)


def end_of_download():
    """The balloon and status line 125 at the end of the download (held on
    screen by a slow answer to "finished"); a Cancel pressed then changes
    nothing; the package runs once the window is gone."""
    H.package_server.mode, H.package_server.size, H.stats_server.hold = "throttle", 2 << 20, 4
    watcher = H.wine.start(["wine", WIN + "\\probe.exe", "balloon", "30000"], 40)
    proc = H.start("interactive", env=EXIT7)
    w = wait_for(lambda: (lambda p: p.get("window") and p)(H.wine.probe("window")), 20, "the window")
    wait_for(lambda: "finished" in str(H.log.get("stats")), 20, "the finished ping")
    time.sleep(0.5)
    screen = shot("download-complete")
    watcher.wait(35)
    shot("balloon")
    click(w["button"]["rect"])
    run = H.finish(proc)
    eq(H.output(watcher).strip().splitlines()[-1:], ['{"balloon": "\\u4e0b\\u8f7d\\u5b8c\\u6210\\u3002"}'],
       "the completion balloon (string 125)")
    status_line_shows(screen, w, TEXT[125], TEXT[111] % TEXT[110])
    expect(run, 7, SF, ran=True, package_silent=False)


# ---------------------------------------------------------------- builds, modes, options

def shipped():
    """The shipped configuration (no seam): a full-width exit code of the
    package becomes the run's."""
    run = H.run("shipped", env={"VEXO_E2E_EXIT": str(0x80070643)})
    expect(run, 0x80070643, SF, ran=True, seam=False)


# build, its mode string, interactive, the package gets " /S"
MODES = [
    ("silent", "/s", False, True),
    ("silent_package_shown", "/s /u", False, False),
    ("interactive", "/u", True, False),
    ("interactive_package_silent", "/u /s", True, True),
    ("upper_s_product", "/S", True, False),
    ("s_blank", "/s ", True, False),
]


def mode_row(variant, interactive, package_silent):
    # The hook presses Cancel as soon as a progress window exists: an
    # interactive build ends at its first status line, a silent one runs on.
    run = H.run(variant, env=EXIT7, flags="c")
    if interactive:
        expect(run, 1602, [], [CANCELLED])
        H.reset()
        run = H.run(variant, env=EXIT7)
    expect(run, 7, SF, ran=True, package_silent=package_silent)


def restart_prompt(variant):
    """A package asking for a restart (3010) gets the prompt, without owner,
    once the clean-up has removed the cache entry; answered No (Yes would
    restart the machine)."""
    at_prompt = []
    run = H.run(variant, env={"VEXO_E2E_EXIT": "3010"}, flags="h",
                on_box=lambda b: at_prompt.append(H.cache(PACKAGE_URL)) or shot("prompt"))
    expect(run, 3010, SF, [box(TEXT[106], "question", "none", (6, 7))], ran=True, package_silent=variant == "silent")
    eq(at_prompt, [{PACKAGE_URL: "absent"}], "the cache entry at the prompt")


def second_copy():
    """While a first copy's package runs, a second copy ends with 1618 before
    it reads a property or sends anything, whichever of its allocations
    fails; the first copy ends normally."""
    total = int(H.run("interactive", env=EXIT7).report["allocations"])
    H.reset()
    first = H.start("silent", env=dict(EXIT7, VEXO_E2E_WAIT_FOR=WIN + "\\release"), timeout=120)
    try:
        wait_for(lambda: H.read(WIN + "\\package.log"), 30, "the first copy's package")
        for n in range(total + 1):
            env = {"VEXO_SEAM_REPORT": WIN + "\\seam2.txt", "VEXO_FAIL_ALLOC": str(n)}
            run = H.run("interactive", env=env)
            check(run.status == 1618 or n and run.status == 14, "second copy, allocation %d failing" % n, run)
            expect(run, run.status, urls=())
    finally:
        open(H.wine.path(WIN + "\\release"), "w").close()
        run = H.finish(first)
    expect(run, 7, SF, ran=True)


# Wine's version, its service pack, build, exit code, os= on the wire (None: nothing sent)
WINDOWS = [
    ("winxp", None, "silent", 7, "WindowsXP"),
    ("win2k", 3, "silent", 7, "Windows2000"),
    ("win2k", 2, "silent", 1603, None),
    ("win2k", 2, "interactive", 1603, None),
    ("nt40", None, "silent", 1603, None),
    ("win10", None, "silent", 7, "Microsoft%20Windows%20NT%203.0"),   # not in the table: the fallback
]


def windows_row(version, service_pack, variant, status, os_name):
    H.wine.set_version(version, service_pack)
    try:
        run = H.run(variant, env=EXIT7)
    finally:
        H.wine.set_version("win7")
    expect(run, status, SF if os_name else [], ran=bool(os_name), os_name=os_name)


def long_path(nbytes, status):
    """The installer at a path of nbytes in code page 936: 260 fill the
    module-path buffer with no room for its terminator."""
    folder = "C:\\vexo_long\\" + "目" * 50 + "\\" + "录" * 50
    exe = folder + "\\" + "f" * (nbytes - len(folder.encode("gbk")) - 5) + ".exe"
    os.makedirs(H.wine.path(folder), exist_ok=True)
    shutil.copy(H.wine.path(WIN + "\\silent.exe"), H.wine.path(exe))
    try:
        run = H.run("silent", exe=exe, env=EXIT7)
    finally:
        os.remove(H.wine.path(exe))
    expect(run, status, SF if status == 7 else [], ran=status == 7)


# A base URL with a blank, which canonicalisation escapes, so the composed
# and the canonical URL differ: name, setup, exit code, pings, boxes, ran.
SPACED_ROWS = [
    ("the canonical URL downloaded and its entry removed", EXIT7, 7, SF, [], True),
    ("canonicaliser error shows the composed URL", {"VEXO_FAIL": "InternetCanonicalizeUrlA@16:87:0:1"}, 87, [],
     [box(TEXT[113] % SPACED)], False),
    ("failed download shows the canonical URL", {"package": "down"}, 2, SFAIL, [box(TEXT[123] % SPACED_CANONICAL)],
     False),
]


def spaced_row(row, status, pings, boxes, ran):
    env, flags = setup(row)
    run = H.run("spaced", env=env, flags="h", on_box=lambda b: shot("box"))
    expect(run, status, pings, boxes, ran, package_silent=False, urls=(SPACED, SPACED_CANONICAL))


USAGE = box(TEXT[105], "information", "none")
# The admin option's build (/u): name, command line, exit code, pings, boxes, ran
ADMIN = [
    ("the option alone", "/a", 7, SF, [], True),
    ("a second token", "/a extra", 160, [], [dict(USAGE, owner="progress")], False),
]


def admin_row(args, status, pings, boxes, ran):
    run = H.run("admin", args=args, env=EXIT7, flags="h", on_box=lambda b: shot("box"))
    expect(run, status, pings, boxes, ran, package_silent=False)


FOLDER = WIN + "\\目标 文件"   # a blank and double-byte characters
# The verify option's build (/s, signed with A): name, command line, seam, exit code, boxes
VERIFY = [
    ("same signer", '/v "%s\\signed_a.exe"' % WIN, {}, 0, []),
    ("the program itself", '/v "%s\\verify_signed.exe"' % WIN, {}, 0, []),
    ("quoted path with a blank and double-byte characters", '/v "%s\\signed_a.exe"' % FOLDER, {}, 0, []),
    ("unsigned target", '/v "%s\\unsigned.exe"' % WIN, {}, 0x800B0004, []),
    ("altered target", '/v "%s\\altered.exe"' % WIN, {}, 0x800B0004, []),
    ("missing target", '/v "%s\\missing.exe"' % WIN, {}, 0x800B0004, []),
    ("wintrust.dll missing", '/v "%s\\signed_a.exe"' % WIN, {"VEXO_MISSING_DLL": "wintrust.dll"}, 0x800B0001, []),
    ("no path", "/v", {}, 160, [USAGE]),
    ("two paths", '/v "%s\\signed_a.exe" "%s\\unsigned.exe"' % (WIN, WIN), {}, 160, [USAGE]),
    ("unquoted path with a blank", "/v %s\\signed_a.exe" % FOLDER, {}, 160, [USAGE]),
]


def verify_row(args, env, status, boxes):
    os.makedirs(H.wine.path(FOLDER), exist_ok=True)
    shutil.copy(H.wine.path(WIN + "\\signed_a.exe"), H.wine.path(FOLDER + "\\signed_a.exe"))
    run = H.run("verify", exe=WIN + "\\verify_signed.exe", args=args, env=env, flags="h", on_box=lambda b: shot("box"))
    expect(run, status, boxes=boxes, urls=())


# Copies of a DLL of the tests' own, named like libraries the program
# loads, next to it: name, program, the names, command line, exit code.
PLANTED = [
    ("next to the verify build", "verify_signed", ["wintrust.dll", "crypt32.dll"], '/v "%s\\signed_a.exe"' % WIN, 0),
    ("next to the /u build", "interactive", ["gdiplus.dll", "netapi32.dll", "urlmon.dll", "wininet.dll"], "", 7),
]


def planted_row(program, names, args, status):
    """Wine is told to prefer such copies (as Windows searches a program's
    folder first for a library that is not a known DLL): a plain program in
    that folder loads one, the installer none (a copy leaves a marker)."""
    folder, marker = WIN + "\\planted", WIN + "\\planted.mark"
    shutil.rmtree(H.wine.path(folder), ignore_errors=True)
    os.makedirs(H.wine.path(folder))
    for name in (program + ".exe", "probe.exe"):
        shutil.copy(H.wine.path(WIN + "\\" + name), H.wine.path(folder + "\\" + name))
    for name in names:
        shutil.copy(H.wine.path(WIN + "\\cancel_hook.dll"), H.wine.path(folder + "\\" + name))
    env = {"VEXO_E2E_PLANTED": marker, "WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(n[:-4] for n in names)}
    H.wine.run(["wine", folder + "\\probe.exe", "load", names[0]], 30, env)
    check(os.path.exists(H.wine.path(marker)), "a plain program in the folder did not load the planted " + names[0])
    os.remove(H.wine.path(marker))
    run = H.run(program, exe=folder + "\\" + program + ".exe", args=args, env=dict(env, **EXIT7), timeout=20)
    check(not os.path.exists(H.wine.path(marker)), "the program loaded a planted library", run)
    expect(run, status, SF if status == 7 else [], ran=status == 7, package_silent=False)


# ---------------------------------------------------------------- the runner

def cases():
    both = (("/s", "silent"), ("/u", "interactive"))
    return ([("shipped build: package's exit code, pings, command line, clean cache", shipped)] +
            [("mode %r" % m, mode_row, v, i, s) for v, m, i, s in MODES] +
            [("failure table: %s (%s)" % (r[0], m), failure_row, m) + r[1:] for r in FAILURES for m, _ in both] +
            [("every allocation fails in turn (%s)" % m, every_allocation, v) for m, v in both] +
            [("restart prompt answered No (%s)" % m, restart_prompt, v) for m, v in both] +
            [("second copy: 1618 before any property or ping", second_copy),
             ("window during the download; Cancel by pointer (/u)", window_case, "interactive", None, True),
             ("PRODUCTNAME in the first status line (mode \"/S\")", window_case, "upper_s_product", "Vexo 播放器", False),
             ("end of the download: balloon, status line, a late Cancel (/u)", end_of_download)] +
            [("Windows %s%s (%s)" % (r[0], " SP%d" % r[1] if r[1] else "", r[2]), windows_row) + r for r in WINDOWS] +
            [("module path of %d bytes" % n, long_path, n, s) for n, s in ((258, 7), (259, 7), (260, 122))] +
            [("URL with a blank: " + r[0], spaced_row) + r[1:] for r in SPACED_ROWS] +
            [("admin option: " + r[0], admin_row) + r[1:] for r in ADMIN] +
            [("verify option: " + r[0], verify_row) + r[1:] for r in VERIFY] +
            [("network: " + r[0], network_row) + r[1:] for r in NETWORK] +
            [("network: headers, then nothing; Cancel (/u)", cancel_in_stall)] +
            [("planted libraries: " + r[0], planted_row) + r[1:] for r in PLANTED])


def main():
    global H, CASE
    parser = argparse.ArgumentParser()
    parser.add_argument("-k", dest="pattern", default="", help="run only the cases whose name holds this")
    selected = [c for c in cases() if parser.parse_args().pattern in c[0]]
    started, counts, failures = time.monotonic(), {"passed": 0, "failed": 0, "pending": 0}, []
    print("e2e: preparing builds, Wine prefix and servers (port %d)" % PORT, flush=True)
    try:
        H = harness.Harness()
        H.prepare()
    except Exception:
        traceback.print_exc()
        print("e2e: 0 passed, %d failed" % max(len(selected), 1))
        return 1
    try:
        for name, fn, *args in selected:
            CASE, t = name, time.monotonic()
            H.reset(MOVED_URL, SPACED, SPACED_CANONICAL)
            try:
                fn(*args)
                error = None
            except Fail as e:
                error = str(e)
            except Exception:
                error = traceback.format_exc().rstrip().splitlines()
                error = "\n".join(error[-1:] + error[:-1])
            pending = name in PENDING_ISSUE_7
            outcome = "passed" if not error else "pending" if pending else "failed"
            counts[outcome] += 1
            line = {"passed": "ok   ", "failed": "FAIL ", "pending": "pend "}[outcome] + " %s (%.1fs)" % (name, time.monotonic() - t)
            if error:
                line += ": " + error.splitlines()[0][:200]
                shot("at-failure")
                folder = os.path.join(harness.ARTIFACTS, re.sub(r"[^\w.-]+", "_", name))
                os.makedirs(folder, exist_ok=True)
                with open(os.path.join(folder, "failure.txt"), "w") as f:
                    f.write(error)
                failures += [(name, error)] if not pending else []
            elif pending:
                line += " (passes now: take it off PENDING_ISSUE_7)"
            print(line, flush=True)
    finally:
        H.shutdown()
    for name, error in failures:
        print("\n==== %s\n%s" % (name, error.rstrip()))
    for note in sorted(set(NOTES)):
        print("note: " + note)
    print("\ne2e: took %.0fs, artifacts in %s" % (time.monotonic() - started, os.path.relpath(harness.ARTIFACTS)))
    print("e2e: %d passed, %d failed, %d pending issue 7" % (counts["passed"], counts["failed"], counts["pending"]))
    return 1 if counts["failed"] or not counts["passed"] else 0


if __name__ == "__main__":
    sys.exit(main())
