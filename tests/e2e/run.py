#!/usr/bin/env python3
"""The end-to-end suite: the real vexo_setup.exe under Wine, the scenarios as
tables, a line per case (a table row is a case), then "e2e: N passed, N failed".
usage: run.py [-k PATTERN] [--show (what each run did)]
       run.py --show --vendor [-D VAR=VALUE]... [--package FILE] [--interactive]   (tools/demo: a vendor's build)
"""

import argparse
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import PACKAGE_URL, PORT, WIN  # noqa: E402

# The texts of the boxes and the status line, written down from the string
# table; never read from the executable under test.
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
HOPS = ["http://127.0.0.1:%d%s/vexo_303.exe" % (PORT, harness.PACKAGE_DIR + "/moved" * n) for n in range(1, 12)]
MOVED_URL = HOPS[0]
SPACED = "http://127.0.0.1:%d%s dir/vexo_303.exe" % (PORT, harness.PACKAGE_DIR)   # as composed
SPACED_CANONICAL = SPACED.replace(" ", "%20")
PROXIED_URL = "http://vexo-packages.test:%d%s" % (PORT, harness.PACKAGE_PATH)
HOST_MACS = {open(p).read().strip().replace(":", "").upper() for p in glob.glob("/sys/class/net/*/address")}
PING = re.compile(r"GET /\?method='fetchlet'&platform=pc&os=([^&]*)&macid=([0-9A-F]{12}|)&type=(\w+) HTTP/1\.[01]")

H = None     # the harness
SHOW = False
CASE = ""    # the running case, for its artifacts
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


OOM, CANCELLED, USAGE = box(TEXT[108]), box(TEXT[112], "warning"), box(TEXT[105], "information", "none")


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


def window(moving_past=None):
    """The progress window, once its bar stands beyond moving_past if given."""
    w = H.wine.probe("window")
    return w.get("window") and (moving_past is None or w["bar"]["pos"] > moving_past) and w


def expect(run, status, pings=(), boxes=(), ran=False, package_silent=True, os_name="Win7", seam=True,
           urls=(PACKAGE_URL,), wall=None, late_requests=False, window_at_package=True):
    """What every run is held to: exit code; pings well formed and around
    the download; boxes; the package run from the cache, with the window
    closed, and its file gone; nothing outstanding; no cache entry left."""
    print("  " + repr(run).replace("\n", "\n  ")) if SHOW else None
    check(not run.timed_out, "the run did not end on its own (stopped after %.0fs)" % run.wall, run)
    eq(run.status, status, "exit code", run)
    eq(run.pings, list(pings), "pings", run)
    for source, line, _ in run.events:
        m = PING.fullmatch(line) if source == "stats" else None
        check(source != "stats" or (m and os_name in (None, m.group(1)) and m.group(2) in HOST_MACS),
              "ping %r: os=%s and the macid of an adapter of this machine expected" % (line, os_name), run)
    order = "".join("p" if e[0] == "package" else "a" if "type=start" in e[1] else "z" for e in run.events
                    if e[0] in ("package", "stats"))
    # A redirect Wine's network layer had already sent when the chain was
    # cut may reach the server after the last ping (late_requests).
    check(re.fullmatch(r"a?p*z?p*" if late_requests else r"a?p*z?", order),
          "the download is not between the start ping and the last", run)
    eq(run.boxes, list(boxes), "boxes", run)
    if ran:
        eq(len(run.package_runs), 1, "package starts", run)
        m = re.fullmatch(r'"(C:\\windows\\temp\\vexo-[0-9a-f]{32})\\([^"\\]+)" /norestart' + (
            " /S" if package_silent else ""), run.package_runs[0], re.I)
        check(m, "package command line %r" % run.package_runs[0], run)
        check(not os.path.exists(H.wine.path(m.group(1))), "the private folder is still there", run)
        eq([f for f in run.new_cache_files if "vexo_303" in f], [], "the downloaded package left in the cache", run)
        if window_at_package:   # as the tests' package tells
            eq([[p.lower() for p in w] for w in run.package_where], [[m.group(1).lower() + t for t in (
                "\\" + m.group(2).lower(), "", "\\tmp", "\\tmp")]], "the package's path, current folder, TEMP and TMP",
               run)
            eq(run.window_at_package, ["window=no"], "a window of the installer open while the package ran", run)
        check(not seam or only_administrators_write(run.report["folder_access"]), "the private folder's access %r"
              % (run.report or {}).get("folder_access"), run)
    else:
        eq(run.package_runs, [], "package starts", run)
        NOTES.extend("%s: Wine left %s in its cache folder" % (CASE, os.path.basename(f))
                     for f in run.new_cache_files if "vexo_303" in f)
    if seam:
        check(run.report, "no end-of-run report: the program did not end through its clean-up", run)
        counts = {k: int(run.report[k]) for k in ("heap", "handles", "dcs", "gdi", "sids", "certs", "inet")}
        # GDI+ keeps its library loaded for the life of the process.
        counts["libraries"] = [n for n in run.report["libraries_left"].split(",") if n and n.lower() != "gdiplus.dll"]
        eq({k: v for k, v in counts.items() if v}, {}, "outstanding at exit", run)
    eq(run.left_in_temp, [], "left in the Windows folder's Temp", run)
    present = [u for u, state in H.cache(*urls).items() if state != "absent"] if urls else []
    eq(present, [], "URL-cache entries left", run)
    check(wall is None or run.wall <= wall, "took %.1fs, promised at most %ss" % (run.wall, wall), run)


RIGHTS = {"FA": 0x1F01FF, "FR": 0x120089, "FW": 0x120116, "FX": 0x1200A0, "GA": 1 << 28, "GX": 1 << 29,
          "GW": 1 << 30, "GR": 1 << 31, "SD": 0x10000, "RC": 0x20000, "WD": 0x40000, "WO": 0x80000}
WRITING = 0x500D0156   # data, append, attributes, delete (child), the access list, the owner, generic write or all


def only_administrators_write(sddl):
    """A protected access list (nothing inherited) in which only SYSTEM and
    Administrators may write, both fully."""
    aces = re.findall(r"\(A;[^;]*;([^;]*);;;(\w+)\)", sddl)
    mask = lambda r: int(r, 16) if r.startswith("0x") else sum(RIGHTS.get(r[i:i + 2], 1 << 27) for i in range(0, len(r), 2))
    full = {sid for r, sid in aces if mask(r) & RIGHTS["FA"] == RIGHTS["FA"]}
    return sddl.startswith("D:P") and {sid for r, sid in aces if mask(r) & WRITING} <= {"SY", "BA"} <= full


def row(variant, setup, status, pings=(), boxes=(), ran=False, **more):
    """One run of a table row. setup: the server modes ("down": stopped),
    size, args, exe, timeout, the launcher's flags, and the seam's and the
    package's environment."""
    env = dict(setup)
    for server in (H.package_server, H.stats_server):
        mode = env.pop(server.name, server.mode)
        server.stop() if mode == "down" else setattr(server, "mode", mode)
    H.package_server.size, H.package_server.hops, at_prompt = env.pop("size", 0), env.pop("hops", 1), []

    def on_box(b):
        shot("box")
        if b["buttons"] == [6, 7]:   # the restart prompt: after the clean-up
            at_prompt.append(H.cache(PACKAGE_URL)[PACKAGE_URL])
    run = H.run(variant, args=env.pop("args", ""), exe=env.pop("exe", None), timeout=env.pop("timeout", 60),
                flags=env.pop("flags", "") + "h", env=env, on_box=on_box)
    expect(run, status, pings, boxes, ran, **more)
    eq(at_prompt, ["absent"] * len(at_prompt), "the package's cache entry at the restart prompt")
    return run


# ---------------------------------------------------------------- the failure table

# Every row of the driver's failure table that can happen, run by the silent
# (/s) and the interactive (/u) build: name, setup, exit code, pings, the
# box (/s shows only those without owner), the package ran. Elsewhere: the
# failing allocations (every allocation fails in turn, below) and the
# cancel sites (the first status line: the mode table; the download: the
# window cases). Not at all: the copy of "DEFAULT" and the bounded
# composition of the URL, which cannot fail (their buffers are sized for
# their texts); a Cancel seen first by status text 122 or 124, before which
# no message pump runs.
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
    ("a login page answered with 200", {"package": "login"}, 2, SFAIL, box(TEXT[123] % PACKAGE_URL), False),
    ("an empty body", {"package": "empty"}, 2, SFAIL, box(TEXT[123] % PACKAGE_URL), False),
    ("MZ, but no PE signature where its header says (a DOS program)", {"package": "dos"}, 2, SFAIL,
     box(TEXT[123] % PACKAGE_URL), False),
    ("a folder of the package's path cannot be held", {"VEXO_FAIL": "CreateFileA@28:32:4294967295:1"}, 2, SFAIL,
     box(TEXT[123] % PACKAGE_URL), False),
    ("the private folder cannot be made", {"VEXO_FAIL": "CreateDirectoryA@8:5:0:1"}, 2, SFAIL,
     box(TEXT[123] % PACKAGE_URL), False),
    ("the private copy cannot be written: disk full", {"VEXO_FAIL": "WriteFile@20:112:0:1"}, 2, SFAIL,
     box(TEXT[123] % PACKAGE_URL), False),
    # The first thread made is the download's, the second the start ping's.
    ("download thread not made", {"VEXO_FAIL": "CreateThread@24:8:0:1"}, 2, SFAIL, box(TEXT[123] % PACKAGE_URL), False),
    ("start ping's thread not made", dict(EXIT7, VEXO_FAIL="CreateThread@24:8:0:2"), 7, ["finished"], None, True),
    ("download service missing", {"VEXO_MISSING_DLL": "urlmon.dll"}, 2, SFAIL, box(TEXT[123] % PACKAGE_URL), False),
    ("package does not start", {"VEXO_FAIL": "CreateProcessA@40:5"}, 5, SF, None, False),
    ("GDI+ unavailable", dict(EXIT7, VEXO_MISSING_DLL="gdiplus.dll"), 7, SF, None, True),   # loaded at run time
    ("package asks for a restart: prompt answered No", {"VEXO_E2E_EXIT": "3010"}, 3010, SF,
     box(TEXT[106], "question", "none", (6, 7)), True),   # the one box also shown by /s
    ("a full heap: the download's record does not fit", {"VEXO_HEAP_LIMIT": "0"}, 14, [], OOM, False),
]


def failure_row(interactive, setup, status, pings, shown, ran):
    boxes = [shown] if shown and (interactive or shown["owner"] == "none") else []   # /s shows unowned boxes only
    row("interactive" if interactive else "silent", setup, status, pings, boxes, ran, package_silent=not interactive)


def every_allocation(variant):
    """Each allocation of a good run fails in turn: the run ends through
    its clean-up with nothing outstanding, with the package's code (a ping
    missing or naming the fallback system), or with 14 or the property
    lookup's 1814, nothing run, and in /u the out-of-memory box once the
    mode is known (before, nothing can be shown; after the download, the
    window is closed)."""
    good = H.run(variant, env=EXIT7)
    expect(good, 7, SF, ran=True, package_silent=variant == "silent")
    total, statuses, boxed = int(good.report["allocations"]), [], False
    for n in range(1, total + 1):
        H.reset()
        run = H.run(variant, env=dict(EXIT7, VEXO_FAIL_ALLOC=str(n)))
        check(run.report and int(run.report["allocations"]) >= n, "allocation %d of %d: no clean end" % (n, total), run)
        statuses.append(run.status)
        if run.status == 7:
            expect(run, 7, [p for p in SF if p in run.pings], ran=True, package_silent=variant == "silent", os_name=None)
        else:
            check(run.status in (14, 1814), "allocation %d of %d: exit code %s" % (n, total, run.status), run)
            late = run.status == 14 and run.pings == SF and not run.boxes   # the package's command line
            boxed = boxed or bool(run.boxes)
            expect(run, run.status, SF if late else [], [OOM] if variant == "interactive" and boxed and not late else [])
    eq(statuses.count(1814), 2, "runs ending with the lookup's 1814 (the fallback buffers of both properties)")


# ---------------------------------------------------------------- the network

# The silent build: name, setup, exit code, pings, the package ran, promised bound (s), URLs of the chain
NETWORK = [
    ("package server refuses", {"package": "down"}, 2, SFAIL, False, 20, ()),
    ("statistics server refuses", dict(EXIT7, stats="down"), 7, [], True, 20, ()),
    # The service may store an error page as the download (Wine does): the
    # installer looks at the HTTP status itself.
    ("404 with an error page", {"package": "404"}, 2, SFAIL, False, 20, ()),
    ("body shorter than announced", {"package": "short_body", "size": 1 << 20}, 2, SFAIL, False, 20, ()),
    # Wine's urlmon reports 2^31 - 1 for any longer length; 5 GiB alike.
    ("3 GiB announced: refused as the data begins", {"package": "huge"}, 2, SFAIL, False, 10, ()),
    ("302 ten times, to distinct paths: the most followed", dict(EXIT7, package="redirect", hops=10), 7, SF, True, 20,
     tuple(HOPS[:10])),
    ("302 eleven times, to distinct paths", {"package": "redirect", "hops": 11}, 2, SFAIL, False, 15, tuple(HOPS)),
    ("302 loop A-B-A", {"package": "redirect_loop"}, 2, SFAIL, False, 15, (MOVED_URL,)),
    ("headers, then nothing", {"package": "stall_after_headers"}, 2, SFAIL, False, 38, ()),
    ("statistics server drips its answer", dict(EXIT7, stats="drip"), 7, SF, True, 23, ()),
    ("statistics server silent: each ping ends by its receive time-out", dict(EXIT7, stats="stall"), 7, SF, True,
     12, ()),
]


def cancel_during(server, mode, env=None):
    """Cancel pressed while no byte arrives (of the package: the binding is
    aborted; of the answer to the start ping, seen at once and again before
    the download, which here does not look at Cancel itself), or, with no
    relay windows (nothing can abort the binding), while data arrives (the
    next notification's answer), ends the run within 2 s (Wine: a ping's
    thread gets 2 s more), no request after."""
    server = getattr(H, server + "_server")
    server.mode, H.package_server.size = mode, 32 << 20
    proc = H.start("interactive", env=env, timeout=40, flags="h")
    try:
        w = wait_for(lambda: H.events(server.name) and window(), 20, "the window while %s is busy" % server.name)
        time.sleep(1)
        click(w["button"]["rect"])
        clicked = time.monotonic()
        wait_for(lambda: H.boxes(proc), 40, "a box after Cancel")
        took = time.monotonic() - clicked
        shot("cancelled")
    finally:
        run = H.finish(proc)
    expect(run, 1602, ["start"], [CANCELLED])
    eq([e[0] for e in run.events][-1], server.name, "the last request", run)
    bound = 4 if server.name == "stats" else 2.5   # under Wine the ping's thread gets its 2 s: 2.3 s
    check(took <= bound, "the box came %.1fs after Cancel, promised within %ss" % (took, bound))


def filled_cache(n=3000):
    """A cache that holds the user's own entries, a download redirected
    three times: the user's entries are all there after the run, with their
    files, and no entry of the run's own URLs is left."""
    prefix = "http://vexo-user.test/page"
    eq(H.wine.probe("fill", prefix, str(n)), {"made": n}, "the user's entries made")
    try:
        row("silent", dict(EXIT7, package="redirect", hops=3), 7, SF, ran=True, urls=(PACKAGE_URL,) + tuple(HOPS[:3]))
        eq(H.wine.probe("entries", prefix), {"entries": n, "files": n}, "the user's entries and their files")
    finally:
        H.wine.probe("entries", prefix, "/delete")


def https_row(cert, pings):
    """The statistics server at https://localhost (Wine matches a certificate
    to host names, never to IP addresses): each ping connects; one whose
    certificate the machine does not trust, or names another host, sends
    nothing."""
    H.tls_server.cert = os.path.join(harness.BUILD, "bin", cert)
    row("https", EXIT7, 7, pings, ran=True)
    eq(len(H.events("tls")), 2, "TLS connections")


def proxy_row():
    """The download and both pings through the proxy of the Internet
    settings, to host names only the proxy resolves."""
    key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
    for name, kind, value in (("ProxyServer", "REG_SZ", "127.0.0.1:%d" % (PORT + 3)), ("ProxyEnable", "REG_DWORD", "1")):
        H.wine.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"])
    try:
        row("proxied", EXIT7, 7, SF, ran=True, urls=(PROXIED_URL,))
    finally:
        H.wine.run(["wine", "reg", "add", key, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f"])
    eq([re.match(r"GET http://([\w.-]+):\d+/\S*?(?:type=(\w+))? ", e[1]).groups() for e in H.events("proxy")],
       [("vexo-stats.test", "start"), ("vexo-packages.test", None), ("vexo-stats.test", "finished")], "proxy requests")


# ---------------------------------------------------------------- the window

def click(rect, *keys):
    """A click in the middle of the rectangle, then the keys pressed."""
    x, y = (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"] + ["key", *keys] * bool(keys),
                   env=dict(os.environ, DISPLAY=H.display.name), capture_output=True, timeout=15, check=True)


def difference(screenshot, part, reference, metric):
    """ImageMagick's difference of a part (x, y, w, h) of the screenshot and a picture."""
    cut = screenshot[:-4] + "-%d.png" % part[1]
    subprocess.run(["convert", screenshot, "-crop", "%dx%d+%d+%d" % (part[2], part[3], part[0], part[1]), "+repage",
                    cut], timeout=30, check=True)
    r = subprocess.run(["compare", "-metric", metric, "-fuzz", "19%", cut, reference, "null:"], capture_output=True,
                       timeout=30)
    m = re.search(rb"\(([\d.e+-]+)\)", r.stderr) or re.match(rb"([\d.e+-]+)", r.stderr)
    check(m, "compare said %r" % r.stderr)
    return float(m.group(1))


def status_line_shows(screenshot, w, text, other):
    """The status strip (centred below the bar) shows text as the installer
    draws it (a reference drawn inside Wine), and the comparison tells it
    from other."""
    cx, cy, _, ch = w["client"]
    share = []
    for t in (text, other):
        H.wine.probe("render", WIN + "\\ref.bmp", t.encode("utf-16-le").hex())
        part = (cx + 5, cy + 233 + (ch - 257) // 2, 280, 24)
        share.append(difference(screenshot, part, H.wine.path(WIN + "\\ref.bmp"), "AE") / (280 * 24))
    check(share[0] < 0.02 and share[1] > 0.05, "status line: %.1f%% of the pixels differ from %r, %.1f%% from %r "
          "(%s)" % (share[0] * 100, text, share[1] * 100, other, screenshot))


def window_case(variant, product, cancel):
    """The window mid-download: size, centred in the work area, banner,
    bar, button, status line; then the close box, Alt+F4 and Esc, which
    stop only the slide rotation (slide 1 stays past its time, the download
    goes on), and Cancel by pointer; or two slide changes, after each of
    which the status line still shows, and the end."""
    size = (16 if cancel else 20) << 20   # 13 s: time to press them; 16 s: slides 2 and 3 shown
    hold = H.wine.start(["wine", WIN + "\\probe.exe", "hold", "60000", WIN + "\\release"], 70)
    try:
        wait_for(lambda: "taskbar" in harness.output(hold), 20, "the taskbar with an icon in the notification area")
        H.package_server.mode, H.package_server.size = "throttle", size
        proc = H.start(variant, env=EXIT7, flags="h")
        w = wait_for(window, 20, "the window")
        screens, shown = [(shot("window"), 1)], time.monotonic()
        if cancel:   # the close box: the caption's last square, inside the frame
            (left, top, right, _), (cx, cy) = w["rect"], w["client"][:2]
            click([right - cy + top, top + cx - left, right - cx + left, cy], "alt+F4", "Escape")
        moving = wait_for(lambda: window(0), 10, "the bar moving")
        later = wait_for(lambda: window(moving["bar"]["pos"]), 10, "the bar moving on")
        shot("mid-download")
        for slide in () if cancel else (2, 3):   # each 2.5 s after its turn
            time.sleep(max(0, shown + 5 * slide - 2.5 - time.monotonic()))
            screens.append((shot("slide%d" % slide), slide))
        if cancel:
            time.sleep(max(0, shown + 6 - time.monotonic()))   # past the slides' first turn
            screens.append((shot("closed"), 1))
            eq(H.boxes(proc), [], "boxes after the close box, Alt+F4 and Esc")
            check(window(later["bar"]["pos"]), "the window gone or the download stopped by the close box, Alt+F4, Esc")
            click(w["button"]["rect"])
        run = H.finish(proc, on_box=lambda b: shot("box"))
    finally:
        open(H.wine.path(WIN + "\\release"), "w").close()
        hold.wait(30)
    (left, top, right, bottom), (cx, cy, cw, ch), work = w["rect"], w["client"], w["work_area"]
    eq((right - left, bottom - top), (396, 297), "window size")
    eq((left, top), (work[0] + (work[2] - work[0] - 396) // 2, work[1] + (work[3] - work[1] - 297) // 2),
       "window place (centred in the work area %r)" % work)
    eq(w["bar"]["rect"], [cx, cy + 210, cx + cw, cy + 233], "bar rectangle")
    check(moving["bar"]["high"] == size and 0 < moving["bar"]["pos"] < later["bar"]["pos"], "bar %r, then %r" % (
        moving["bar"], later["bar"]))
    top = cy + 233 + (ch - 257) // 2
    eq(w["button"], {"text": "取消", "rect": [cx + cw - 95, top, cx + cw - 5, top + 24]}, "Cancel button")
    # The first line may be drawn after the first picture: the seam's record.
    eq(run.report["drawn"].split(" | ")[0], TEXT[111] % (product or TEXT[110]), "first status line drawn", run)
    for screen, shown in screens:
        slides = [difference(screen, (cx, cy, 392, 209), os.path.join(harness.REPO, "resources", "slides",
                                                                      "slide%d.jpg" % n), "MAE") for n in (1, 2, 3, 4)]
        want, others = slides[shown - 1], slides[:shown - 1] + slides[shown:]
        check(want < 0.04 and min(others) > 3 * want, "banner of %s against slides 1-4: %r" % (
            os.path.basename(screen), slides))
        if shown > 1:   # the slide paint covers the strip: the line was drawn again
            status_line_shows(screen, w, TEXT[111] % product, TEXT[125])
    expect(run, 1602, ["start"], [CANCELLED]) if cancel else expect(run, 7, SF, ran=True, package_silent=False)


def end_of_download():
    """The balloon and status line 125 at the end of the download (held on
    screen by a slow answer to "finished"); a Cancel pressed then, during
    the ping, ends the run unstarted."""
    H.package_server.mode, H.package_server.size, H.stats_server.hold = "throttle", 2 << 20, {"finished": 8}
    watcher = H.wine.start(["wine", WIN + "\\probe.exe", "balloon", "30000"], 40)
    proc = H.start("interactive", env=EXIT7)
    w = wait_for(window, 20, "the window")
    wait_for(lambda: "finished" in str(H.events("stats")), 20, "the finished ping")
    time.sleep(0.5)
    screen = shot("download-complete")
    watcher.wait(35)
    shot("balloon")
    click(w["button"]["rect"])
    run = H.finish(proc)
    eq([json.loads(l) for l in harness.output(watcher).splitlines() if l.startswith("{")], [{"balloon": TEXT[125]}],
       "the completion balloon")
    status_line_shows(screen, w, TEXT[125], TEXT[111] % TEXT[110])
    expect(run, 1602, SF, [CANCELLED])


def vendor_demo(package, url, interactive):
    """tools/demo with a vendor's configuration and package (served as it
    is): their build's run, told as the shipped build's; with interactive,
    a slow download, photographed every 2.5 s while the window is up (the
    "finished" ping answered after 4 s, so that its end shows)."""
    H.package_server.package, H.package_server.file_name = package, url.rsplit("/", 1)[1]
    if interactive:
        H.package_server.mode, H.stats_server.hold = "throttle", {"finished": 4}
        watcher = H.wine.start(["wine", WIN + "\\probe.exe", "balloon", "60000"], 70)
    proc = H.start("vendor", timeout=300, flags="h", trace=True)
    for n in range(100 if interactive else 0):
        if not (wait_for(window, 20, "the window") if n == 0 else window()):
            break
        shot("window-%02d" % n)
        time.sleep(2.5)
    run = H.finish(proc, on_box=lambda b: shot("box"))
    for line in harness.output(watcher).splitlines() if interactive else ():
        print("  the balloon: " + json.loads(line)["balloon"]) if line.startswith('{"balloon"') else None
    # The tests' own package tells its command line; any package is seen
    # started in Wine's trace.
    eq(run.package_runs or run.started, run.started, "the package's command line, as it and Wine's trace tell", run)
    run.package_runs = run.started
    mode = harness.VARIANTS["vendor"][1].get("VEXO_MODE", "/s")
    expect(run, run.status, SF, ran=True, package_silent=mode in ("/s", "/u /s"), seam=False,
           urls=(url, url.replace(" ", "%20")), window_at_package=bool(run.window_at_package))


# ---------------------------------------------------------------- builds, copies, systems, options

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
    if interactive:
        row(variant, {"flags": "c"}, 1602, [], [CANCELLED])
        H.reset()
    row(variant, EXIT7, 7, SF, ran=True, package_silent=package_silent)


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
            run = H.run("interactive", env={"VEXO_SEAM_REPORT": WIN + "\\seam2.txt", "VEXO_FAIL_ALLOC": str(n)})
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
    ("nt40", None, "silent", 1603, None),
    ("win10", None, "silent", 7, "Microsoft%20Windows%20NT%203.0"),   # not in the table: the fallback
]


def windows_row(version, service_pack, variant, status, os_name):
    H.wine.set_version(version, service_pack)
    try:   # Windows 2000's advapi32 has no RtlGenRandom (Wine's has it in every version)
        run = H.run(variant, env=dict(EXIT7, VEXO_MISSING_ENTRY="SystemFunction036" if version == "win2k" else ""))
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
        row("silent", dict(EXIT7, exe=exe), status, SF if status == 7 else [], ran=status == 7)
    finally:
        os.remove(H.wine.path(exe))


# A base URL with a blank, which canonicalisation escapes, so the composed
# and the canonical URL differ; the admin option: name, build, setup, exit
# code, pings, boxes, the package ran
OPTIONS = [
    ("URL with a blank: the canonical URL downloaded, its entry removed", "spaced", EXIT7, 7, SF, [], True),
    ("URL with a blank: canonicaliser error shows the composed URL", "spaced",
     {"VEXO_FAIL": "InternetCanonicalizeUrlA@16:87:0:1"}, 87, [], [box(TEXT[113] % SPACED)], False),
    ("URL with a blank: failed download shows the canonical URL", "spaced", {"package": "down"}, 2, SFAIL,
     [box(TEXT[123] % SPACED_CANONICAL)], False),
    ("admin option: the option alone", "admin", dict(EXIT7, args="/a"), 7, SF, [], True),
    ("admin option: a second token", "admin", {"args": "/a extra"}, 160, [], [dict(USAGE, owner="progress")], False),
]
FOLDER = WIN + "\\目标 文件"   # a blank and double-byte characters
# The verify build (/s, signed): name, what follows "/v", seam, exit code,
# the trust interface the last verification asked for (Windows shows it,
# Wine never does): 1 all, 4 only on failure, 0 no verification
VERIFY = [
    ("same signer", '"%s\\signed_a.exe"' % WIN, {}, 0, 4),
    ("the program itself", '"%s\\verify_signed.exe"' % WIN, {}, 0, 4),
    ("quoted path with a blank and double-byte characters", '"%s\\signed_a.exe"' % FOLDER, {}, 0, 4),
    ("another signer", '"%s\\signed_b.exe"' % WIN, {}, 0, 1),   # Wine trusts self-signed roots
    ("unsigned target", '"%s\\unsigned.exe"' % WIN, {}, 0x800B0004, 1),
    ("altered target", '"%s\\altered.exe"' % WIN, {}, 0x800B0004, 1),   # Wine names no signer of it
    ("missing target", '"%s\\missing.exe"' % WIN, {}, 0x800B0004, 1),
    ("wintrust.dll missing", '"%s\\signed_a.exe"' % WIN, {"VEXO_MISSING_DLL": "wintrust.dll"}, 0x800B0001, 0),
    ("no path", "", {}, 160, 0),
    ("unquoted path with a blank", "%s\\signed_a.exe" % FOLDER, {}, 160, 0),
]


def verify_row(target, env, status, trust_ui):
    os.makedirs(H.wine.path(FOLDER), exist_ok=True)
    shutil.copy(H.wine.path(WIN + "\\signed_a.exe"), H.wine.path(FOLDER + "\\signed_a.exe"))
    run = row("verify", dict(env, exe=WIN + "\\verify_signed.exe", args=("/v " + target).strip()), status,
              boxes=[USAGE] if status == 160 else [], urls=())
    eq(run.report["trust_ui"], str(trust_ui), "trust interface asked for", run)


# The package as served, against the builds that record its publisher (A:
# the build's own signing certificate, "same"; or a certificate file) and
# the shipped kind that records none: name, package, program, exit code,
# the seam's environment.
SIGNED = [
    ("signed by the recorded publisher", "signed_a.exe", "same", 7, {}),
    ("signed by another publisher", "signed_b.exe", "same", 0x800B0004, {}),
    ("unsigned", "unsigned.exe", "same", 0x800B0004, {}),
    ("signed by the recorded publisher, then altered", "altered.exe", "same", 0x800B0004, {}),
    ("no way to verify: wintrust.dll missing", "signed_a.exe", "same", 0x800B0001, {"VEXO_MISSING_DLL": "wintrust.dll"}),
    ("certificate file: signed by that publisher", "signed_a.exe", "signer_file", 7, {}),
    ("certificate file: signed by another publisher", "signed_b.exe", "signer_file", 0x800B0004, {}),
    ("no check: signed by another signer", "signed_b.exe", "silent", 7, {}),
    ("no check: unsigned", "unsigned.exe", "silent", 7, {}),
    ("pinned digest: the package", "package.exe", "digest", 7, {}),
    ("pinned digest: another package", "signed_b.exe", "digest", 0x80096010, {}),
    ("pinned digest: the package altered by one byte", "package_altered.exe", "digest", 0x80096010, {}),
]


def serve(package):
    """The package server serves this file of the builds' folder until the next case."""
    H.package_server.package = os.path.join(os.path.dirname(H.package_server.served), package)


def tamper(variant, package="package.exe"):
    """Another program of the user overwrites, renames and deletes the cached
    package while the "finished" ping is held, and plants a DLL that the
    package loads by name beside it and in the user's TEMP: the changes are
    refused, the package that was downloaded and checked runs, and the
    planted DLL does not run with it."""
    serve(package)
    H.stats_server.hold = {"finished": 4}
    marker = WIN + "\\planted.mark"
    proc = H.start(variant, env=dict(EXIT7, VEXO_E2E_PLANTED=marker))
    try:
        wait_for(lambda: "type=finished" in str(H.events("stats")), 30, "the finished ping")
        tried = H.wine.probe("tamper", PACKAGE_URL)
    finally:
        run = H.finish(proc)
        for planted in glob.glob(H.wine.path("C:\\users") + "/**/vexo_plant.dll", recursive=True):
            os.remove(planted)
    eq(tried, {"overwrite": 32, "rename": 32, "delete": 32, "rename folder": 32, "plant": 0}, "what another program did",
       run)
    check(not os.path.exists(H.wine.path(marker)), "the planted DLL ran with the package")
    expect(run, 7, SF, ran=True, package_silent=variant != "interactive")


def signed_row(package, program, status, env):
    serve(package)
    run = row(program, dict(EXIT7, **env), status, SF if status == 7 else SFAIL, ran=status == 7)
    # No trust interface ever (2), or no verification at all (0).
    eq(run.report["trust_ui"], "0" if program in ("silent", "digest") or env else "2", "trust interface asked for", run)


def renamed_installer(program):
    """While the start ping is out, another program of the user renames the
    running installer and puts a program signed by B under its name; the
    server sends a package signed by B: refused, whom to trust was fixed
    when the installer was built."""
    serve("signed_b.exe")
    H.stats_server.hold = {"start": 2}
    exe = WIN + "\\renamed\\" + program + ".exe"
    shutil.rmtree(H.wine.path(WIN + "\\renamed"), ignore_errors=True)
    os.makedirs(H.wine.path(WIN + "\\renamed"))
    shutil.copy(H.wine.path(WIN + "\\%s.exe" % program), H.wine.path(exe))
    proc = H.start(program, env=EXIT7, exe=exe)
    try:
        wait_for(lambda: H.events("stats"), 20, "the start ping")
        os.rename(H.wine.path(exe), H.wine.path(exe) + ".old")
        shutil.copy(H.wine.path(WIN + "\\signed_b.exe"), H.wine.path(exe))
    finally:
        run = H.finish(proc)
    expect(run, 0x800B0004, SFAIL)


def real_package(program):
    """A package made by NSIS installs through the build: its file under
    Program Files and its uninstall registration appear."""
    serve("nsis_signed.exe" if program == "same" else "nsis_package.exe")
    key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VexoE2E"
    installed = H.wine.path("C:\\Program Files\\Vexo E2E\\payload.nsi")
    try:
        run = H.run(program, timeout=60)
        check(os.path.exists(installed), "the package's file under Program Files", run)
        check("Vexo E2E" in H.wine.run(["wine", "reg", "query", key, "/v", "DisplayName"]), "its uninstall key", run)
    finally:
        shutil.rmtree(os.path.dirname(installed), ignore_errors=True)
        H.wine.run(["wine", "reg", "delete", key, "/f"])
    eq((run.status, run.pings, run.left_in_temp), (0, SF, []), "exit code, pings, left in the Windows folder's Temp",
       run)


# Copies of a DLL of the tests' own, next to the program, named like
# libraries it loads, and like one that a system library loads by bare
# name for itself (user32: the theme library, once a window is made):
# program, the names of each kind, command line, exit code.
PLANTED = [
    ("verify_signed", ["wintrust.dll", "crypt32.dll"], ["uxtheme.dll"], '/v "%s\\signed_a.exe"' % WIN, 0),
    ("interactive", ["gdiplus.dll", "netapi32.dll", "urlmon.dll", "wininet.dll", "comctl32.dll"], ["uxtheme.dll"],
     "", 7),
]
# Each layer of the search alone, with entry points the seam hides: the
# search flags of our own loads alone (no process-wide restriction), and
# the older systems' search (neither), where the program's folder stays
# first for the system libraries' own loads by bare name.
SEARCHES = [("", ""), (", our loads' flags alone", "SetDefaultDllDirectories"),
            (", older search", "SetDefaultDllDirectories,AddDllDirectory")]


def planted_row(program, names, their_names, args, status, missing):
    """Wine is told to prefer such copies (as Windows searches a program's
    folder first for a library that is not a known DLL): a plain program in
    that folder loads one, the installer none (a copy leaves a marker)."""
    names = names + their_names * (not missing)
    folder, marker = WIN + "\\planted", H.wine.path(WIN + "\\planted.mark")
    shutil.rmtree(H.wine.path(folder), ignore_errors=True)
    os.makedirs(H.wine.path(folder))
    for name in [program + ".exe", "probe.exe"] + names:
        shutil.copy(H.wine.path(WIN + "\\" + (name if name.endswith(".exe") else "cancel_hook.dll")),
                    H.wine.path(folder + "\\" + name))
    env = {"VEXO_E2E_PLANTED": WIN + "\\planted.mark", "WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(
        n[:-4] for n in names), "VEXO_MISSING_ENTRY": missing}
    H.wine.run(["wine", folder + "\\probe.exe", "load", names[0]], 30, env)
    check(os.path.exists(marker), "a plain program in the folder did not load the planted " + names[0])
    os.remove(marker)
    try:
        row(program, dict(env, exe=folder + "\\" + program + ".exe", args=args, timeout=20, **EXIT7), status,
            SF if status == 7 else [], ran=status == 7, package_silent=False)
    finally:
        check(not os.path.exists(marker), "the program loaded a planted library")


# ---------------------------------------------------------------- the runner

def cases():
    both = (("/s", False), ("/u", True))
    return ([("shipped build: %s" % n, lambda c=c: row("shipped", {"VEXO_E2E_EXIT": str(c)}, c, SF, ran=True,
                                                       seam=False)) for n, c in (
        ("a successful install", 0), ("the package's exit code, all 32 bits of it", 0x80070643))] +
            [("mode %r" % r[1], lambda r=r: mode_row(r[0], *r[2:])) for r in MODES] +
            [("failure table: %s (%s)" % (r[0], m), lambda r=r, i=i: failure_row(i, *r[1:])) for r in FAILURES
             for m, i in both] +
            [("every allocation fails in turn (%s)" % m, lambda i=i: every_allocation(
                "interactive" if i else "silent")) for m, i in both] +
            [("second copy: 1618 before any property or ping", second_copy),
             ("window during the download; close box, Alt+F4, Esc; Cancel by pointer (/u)",
              lambda: window_case("interactive", None, True)),
             ('PRODUCTNAME in the first status line (mode "/S")',
              lambda: window_case("upper_s_product", "Vexo 播放器", False)),
             ("end of the download: balloon, status line, Cancel during the finished ping (/u)", end_of_download)] +
            [("Windows %s%s (%s)" % (r[0], " SP%d" % r[1] if r[1] else "", r[2]), lambda r=r: windows_row(*r))
             for r in WINDOWS] +
            [("module path of %d bytes" % n, lambda n=n, s=s: long_path(n, s)) for n, s in ((258, 7), (259, 7),
                                                                                          (260, 122))] +
            [(r[0], lambda r=r: row(*r[1:], package_silent=False, urls=(PACKAGE_URL, SPACED, SPACED_CANONICAL)))
             for r in OPTIONS] +
            [("verify option: " + r[0], lambda r=r: verify_row(*r[1:])) for r in VERIFY] +
            [("package signer: " + r[0], lambda r=r: signed_row(*r[1:])) for r in SIGNED] +
            [("package signer: the installer renamed and replaced by one signed by another (%s)" % p,
              lambda p=p: renamed_installer(p)) for p in ("same", "signer_file")] +
            [("a real package (NSIS) installs (%s)" % p, lambda p=p: real_package(p)) for p in ("shipped", "same")] +
            [("network: " + r[0], lambda r=r: row("silent", dict(r[1], timeout=r[5] + 3), r[2], r[3], ran=r[4],
                                                  urls=(PACKAGE_URL,) + r[6], wall=r[5],
                                                  late_requests="302 " in r[0] and not r[4])) for r in NETWORK] +
            [("network: %s; Cancel (/u)" % n, lambda a=a: cancel_during(*a)) for n, a in (
                ("headers, then nothing", ("package", "stall_after_headers")),
                ("data flowing, no relay windows", ("package", "throttle", {"VEXO_FAIL": "CreateWindowExA@48:8"})),
                ("the start ping held, the download blind to Cancel",
                 ("stats", "drip", {"VEXO_DOWNLOAD_UNWATCHED": "1"})))] +
            [("network: statistics over HTTPS, " + n, lambda a=a: https_row(*a)) for n, a in (
                ("certificate from a CA the machine trusts", ("trusted", SF)),
                ("self-signed certificate", ("self_signed", [])),
                ("trusted certificate for another host name", ("other_host", [])))] +
            [("network: the download and both pings through the proxy of the Internet settings", proxy_row),
             ("a cache full of the user's entries keeps them all", filled_cache)] +
            [("planted libraries next to the %s build%s" % ("/u" if r[4] else "verify", n),
              lambda r=r, m=m: planted_row(*r, m)) for r in PLANTED for n, m in SEARCHES] +
            [("held package: another program cannot change it or plant a DLL beside it (%s)" % n,
              lambda a=a: tamper(*a)) for n, a in (("/s", ("silent",)), ("/u", ("interactive",)),
                                                    ("/s, publisher recorded", ("same", "signed_a.exe")))])


def main():
    global H, CASE, SHOW
    parser = argparse.ArgumentParser()
    parser.add_argument("-k", dest="pattern", default="", help="run only the cases whose name holds this")
    parser.add_argument("--show", action="store_true", help="print what each run did")
    parser.add_argument("--vendor", action="store_true", help="instead: a vendor's build and package (tools/demo)")
    parser.add_argument("-D", dest="defines", action="append", default=[], help="the vendor's VAR=VALUE")
    parser.add_argument("--package", help="the vendor's package (default: the tests' own)")
    parser.add_argument("--interactive", action="store_true", help="the vendor's run photographed")
    args = parser.parse_args()
    selected, SHOW = [c for c in cases() if args.pattern in c[0]], args.show
    if args.vendor:
        url = harness.vendor_variant(args.defines)
        selected = [("vendor's build: %s" % " ".join(args.defines), lambda: vendor_demo(
            os.path.abspath(args.package or H.package_server.served), url, args.interactive))]
    started, counts, failures = time.monotonic(), {"passed": 0, "failed": 0}, []
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))   # a time-out still stops Xvfb, servers, wineserver
    print("e2e: preparing builds, Wine prefix and servers (port %d)" % PORT, flush=True)
    try:
        H = harness.Harness()
        H.prepare(["vendor"] if args.vendor else None)
        print("e2e: prepared in %.0fs" % (time.monotonic() - started), flush=True)
        for CASE, fn in selected:
            t, error = time.monotonic(), None
            try:
                H.reset(*HOPS, SPACED, SPACED_CANONICAL)
                fn()
            except Fail as e:
                error = str(e)
            except Exception:   # the harness's own trouble
                lines = traceback.format_exc().rstrip().splitlines()
                error = "\n".join(lines[-1:] + lines[:-1])
            outcome = "failed" if error else "passed"
            counts[outcome] += 1
            line = "%s %s (%.1fs)" % ({"passed": "ok   ", "failed": "FAIL "}[outcome], CASE,
                                      time.monotonic() - t)
            if error:
                shot("at-failure")
                with open(os.path.join(harness.ARTIFACTS, re.sub(r"[^\w.-]+", "_", CASE), "failure.txt"), "w") as f:
                    f.write(error)
                failures += [(CASE, error)]
            print(line + (": " + error.splitlines()[0][:200] if error else ""), flush=True)
    except Exception:   # the preparation, or the harness between cases
        traceback.print_exc()
        counts["failed"] += 1
    finally:
        H and H.shutdown()
    for name, error in failures:
        print("\n==== %s\n%s" % (name, error))
    for note in sorted(set(NOTES)):
        print("note: " + note)
    print("\ne2e: took %.0fs, artifacts in %s" % (time.monotonic() - started, os.path.relpath(harness.ARTIFACTS)))
    print("e2e: %d passed, %d failed" % (counts["passed"], counts["failed"]))
    return 1 if counts["failed"] or not counts["passed"] else 0


if __name__ == "__main__":
    sys.exit(main())
