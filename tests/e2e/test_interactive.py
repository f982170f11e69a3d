"""End-to-end runs of the interactive build ("/u") on Wine's virtual desktop.

The installer shows its progress window while it downloads from a throttled
package server (64 KB every 50 ms), so there is time to look at it: where it
stands, what its banner, bar, status line and button show, what a click on
Cancel does, the balloon at the end of the download, and the boxes it owns.
Everything on the Windows side is read from inside Wine by the helpers
(window_probe: the window, the work area, the balloon, reference drawings of
the status line; box_reader: message boxes), and pixels are compared on
screenshots of the X display.

A slow statistics answer holds the run at a chosen point: the installer waits
for the answer to each ping, so a delayed "finished" keeps the end of the
download (status line and balloon) on screen until the window closes.

What this Wine (8.0) does that Windows does not, and what the cases do about it:
- The desktop shows its taskbar, and takes its 20 pixels off the work area,
  only while an icon is in the notification area, and a process keeps the
  work area it found when it began to use windows: SPI_GETWORKAREA does not
  follow the taskbar coming up later. On an empty desktop the installer, whose own icon brings
  the taskbar up, centres in the whole screen (x 314, y 235 in 1024 x 768),
  while anything started afterwards reads the smaller work area (where y
  would be 225). The centring case keeps an icon of a helper in the
  notification area before it starts the installer.
- Drawing outside WM_PAINT may reach the screen only when the drawing
  thread next looks at its queue: held at the "start" ping, the window
  showed its first slide without the status line drawn over it just before.
  The case looks at the status line during the download instead.
- A balloon comes up 2 seconds after it is asked for, and goes with its
  icon. The installer removes the icon right after the "finished" ping, so in
  a plain run under Wine the completion balloon is never on screen.
- Balloons are tooltip windows (class tooltips_class32, style TTS_BALLOON)
  of the desktop's explorer.exe; their text answers WM_GETTEXT.
"""

import json
import os
import re
import subprocess
import time
import unittest

import harness
import servers
import test_install

CAPTION = test_install.CAPTION
PACKAGE_URL = test_install.PACKAGE_URL
BASE_OS_NAME = test_install.BASE_OS_NAME

VARIANT = "interactive"
CONVERT = "/usr/bin/convert"  # ImageMagick

# Long enough to be watched: 64 chunks of 64 KB, 50 ms apart, about 3.3 s.
SLOW_PACKAGE_BYTES = 4 * 1024 * 1024
SHORT_PACKAGE_BYTES = 2 * 1024 * 1024

IDOK, IDYES, IDNO = 1, 6, 7
CANCEL_BUTTON = 112
STRING_CANCELLED = 112
STRING_PACKAGE_NOT_FOUND = 123
STRING_RESTART = 106
STRING_STATUS_DOWNLOADING = 111
STRING_DEFAULT_PRODUCT = 110
STRING_DOWNLOAD_COMPLETE = 125
ERROR_INSTALL_USEREXIT = 1602
ERROR_SUCCESS_REBOOT_REQUIRED = 3010

# Seconds from the window's first appearance within which the first slide and
# the first status line are surely still shown (the rotation is every 5 s).
FIRST_ROTATION = 4.0

# Ends the helper that keeps an icon in the notification area.
HOLD_RELEASE_FILE = harness.DATA_DIR + r"\hold.release"

# The window and its layout, in pixels.
WINDOW_SIZE = (396, 297)
BANNER_SIZE = (392, 209)
BACKGROUND = (240, 240, 240)
STATUS_LEFT, STATUS_RIGHT, ROW_HEIGHT = 5, 285, 24
SLIDES = [os.path.join(harness.REPO, "resources", "slides", "slide%d.jpg" % n)
          for n in range(1, 5)]


def row_top(client_height):
    """Top of the status line and the button: centred in the strip below the
    bar, the half taken toward zero."""
    return 233 + int((client_height - 257) / 2)


def centred(work, size):
    """Where a window of this size stands when centred in the work area."""
    left, top, right, bottom = work
    return (left + int((right - left - size[0]) / 2),
            top + int((bottom - top - size[1]) / 2))


# ---------------------------------------------------------------- pictures

class Picture:
    """Pixels of an image file (or a part of it) as 8-bit RGB."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @classmethod
    def load(cls, path, box=None):
        """box: (x, y, width, height) to cut out first."""
        args = [CONVERT, path]
        if box:
            args += ["-crop", "%dx%d+%d+%d" % (box[2], box[3], box[0], box[1]), "+repage"]
        size = subprocess.run(args + ["-format", "%w %h", "info:"], capture_output=True,
                              timeout=30, check=True).stdout.split()
        width, height = int(size[0]), int(size[1])
        data = subprocess.run(args + ["-depth", "8", "rgb:-"], capture_output=True,
                              timeout=30, check=True).stdout
        if len(data) != width * height * 3:
            raise harness.HarnessError("%s: %d bytes for %dx%d" % (path, len(data), width, height))
        return cls(width, height, data)

    def crop(self, x, y, width, height):
        rows = []
        for row in range(y, y + height):
            start = (row * self.width + x) * 3
            rows.append(self.data[start:start + width * 3])
        return Picture(width, height, b"".join(rows))

    def mean_difference(self, other):
        """Mean absolute difference per channel, 0..255."""
        assert (self.width, self.height) == (other.width, other.height)
        return sum(abs(a - b) for a, b in zip(self.data, other.data)) / len(self.data)

    def share_differing(self, other, threshold=48):
        """Share of pixels where some channel differs by more than threshold."""
        assert (self.width, self.height) == (other.width, other.height)
        a, b = self.data, other.data
        differ = 0
        for i in range(0, len(a), 3):
            if (abs(a[i] - b[i]) > threshold or abs(a[i + 1] - b[i + 1]) > threshold or
                    abs(a[i + 2] - b[i + 2]) > threshold):
                differ += 1
        return differ / (self.width * self.height)

    def share_of_colour(self, colour, tolerance=8):
        d = self.data
        count = sum(1 for i in range(0, len(d), 3)
                    if all(abs(d[i + c] - colour[c]) <= tolerance for c in range(3)))
        return count / (self.width * self.height)


# ---------------------------------------------------------------- the cases

class InteractiveCase(test_install.InstallerCase):
    """Runs of the interactive build; each needs the X display."""

    def setUp(self):
        super().setUp()
        if not self.h.display:
            self.skipTest("no X display: the window is not drawn")
        self.folder = os.path.join(harness.ARTIFACTS,
                                   re.sub(r"[^A-Za-z0-9_.-]+", "_", self.id()))
        os.makedirs(self.folder, exist_ok=True)
        self.background = []  # helpers started by the case, each bounded in time

    def tearDown(self):
        if self.background:
            with open(self.h.wine.unix_path(HOLD_RELEASE_FILE), "w") as f:
                f.write("go\n")
        for proc in self.background:
            proc.wait(20)
        super().tearDown()

    # -- helpers inside Wine

    def probe(self, *args, timeout=30):
        r = self.h.wine.run(["%s\\window_probe.exe" % harness.BIN_DIR] + list(args),
                            timeout=timeout)
        text = r.stdout.decode(errors="replace").strip()
        try:
            return json.loads(text)
        except ValueError:
            raise harness.HarnessError("window probe %s said: %r %r" % (
                args, text, r.stderr[-500:]))

    def progress_window(self):
        found = self.probe("/window", CAPTION)
        return found if found.get("window") else None

    def wait_for_window(self, timeout):
        """Waits until the progress window is there; returns the time it was seen."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            # Listed without a message to the window: the installer answers
            # none while a request holds it.
            if any(w["visible"] and w["title"] == CAPTION and w["class"] == "#32770"
                   for w in self.h.windows_of()["windows"]):
                return time.monotonic()
            time.sleep(0.05)
        self.fail("no progress window within %ds%s" % (timeout, self.context()))

    def wait_for_progress(self, timeout, above=0):
        """Waits until the window's bar stands above `above`; returns the probe."""
        deadline = time.monotonic() + timeout
        seen = None
        while time.monotonic() < deadline:
            seen = self.progress_window()
            if seen and seen.get("bar") and seen["bar"]["pos"] > above:
                return seen
            time.sleep(0.1)
        self.fail("the progress bar did not move past %d within %ds (last seen: %r)%s" % (
            above, timeout, seen, self.context()))

    def hold_taskbar(self, seconds):
        """Keeps a helper's icon in the notification area, so the taskbar is up
        and the work area settled; returns that work area."""
        hold = self.h.wine.popen(
            ["%s\\window_probe.exe" % harness.BIN_DIR, "/hold", str(int(seconds * 1000)),
             HOLD_RELEASE_FILE], timeout=seconds + 10)
        self.background.append(hold)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            area = self.probe("/workarea")
            if area.get("taskbar"):
                return area
            time.sleep(0.2)
        self.fail("the taskbar did not come up with an icon in the notification area: %r"
                  % area)

    def watch_for_balloon(self, seconds):
        """Starts looking for a balloon; balloon_seen() tells what was found."""
        watcher = self.h.wine.popen(["%s\\window_probe.exe" % harness.BIN_DIR, "/balloon",
                                     str(int(seconds * 1000))], timeout=seconds + 10)
        self.background.append(watcher)
        return watcher

    def balloon_seen(self, watcher, timeout):
        self.background.remove(watcher)
        text = watcher.wait(timeout).stdout.decode(errors="replace").strip()
        try:
            return json.loads(text)
        except ValueError:
            return {"balloon": None, "output": text}

    def render_status(self, text, name):
        """The status line as the installer draws it, drawn by a helper with the
        same calls; returns its Picture."""
        width, height = STATUS_RIGHT - STATUS_LEFT, ROW_HEIGHT
        win_path = "%s\\%s.bmp" % (harness.DATA_DIR, name)
        found = self.probe("/render", win_path, str(width), str(height),
                           text.encode("utf-16-le").hex())
        self.assertTrue(found.get("rendered"), "the reference status line was not drawn")
        return Picture.load(self.h.wine.unix_path(win_path))

    def screenshot(self, name):
        path = os.path.join(self.folder, name + ".png")
        self.assertTrue(self.h.display.screenshot(path), "no screenshot " + name)
        return path

    def string(self, string_id):
        text = self.h.resource_string(VARIANT, string_id)
        self.assertTrue(text, "string %d missing" % string_id)
        return text

    # -- looking at the screen

    @staticmethod
    def status_box(window):
        """Screen rectangle (x, y, width, height) of the status line."""
        cx, cy, _cw, ch = window["client"]
        return (cx + STATUS_LEFT, cy + row_top(ch), STATUS_RIGHT - STATUS_LEFT, ROW_HEIGHT)

    def assert_status_line(self, shot, window, expected, other, msg=""):
        """The status strip of the screenshot shows `expected` as the installer
        draws it, and not `other` (which proves the comparison tells texts apart)."""
        strip = Picture.load(shot, self.status_box(window))
        want = self.render_status(expected, "expected")
        not_want = self.render_status(other, "other")
        self.assertLess(want.share_of_colour(BACKGROUND), 0.98,
                        "the reference drawing holds no text" + msg)
        off = strip.share_differing(want)
        off_other = strip.share_differing(not_want)
        self.assertLess(off, 0.02, "the status line does not show %r: %.1f%% of its pixels "
                        "differ (screenshot %s)" % (expected, off * 100, shot) + msg)
        self.assertGreater(off_other, 0.05, "the comparison does not tell %r from %r" %
                           (expected, other) + msg)

    def best_slide(self, shot, window):
        """(index of the slide the banner matches best, its mean difference,
        the next best difference)."""
        cx, cy, cw, _ch = window["client"]
        width, height = min(BANNER_SIZE[0], cw), BANNER_SIZE[1]
        banner = Picture.load(shot, (cx, cy, width, height))
        scores = sorted((Picture.load(path).crop(0, 0, width, height).mean_difference(banner), i)
                        for i, path in enumerate(SLIDES))
        return scores[0][1], scores[0][0], scores[1][0]

    # -- running

    def start(self, **package):
        return self.h.start_installer(VARIANT, timeout=45, **package)

    def finish(self, proc):
        return self.h.finish_installer(proc, 60)

    def wait_for_event(self, predicate, timeout, what):
        self.assertTrue(self.h.log.wait_for(predicate, timeout),
                        "%s did not happen within %ds%s" % (what, timeout, self.context()))


def ping_seen(kind):
    return lambda events: any(e["source"] == "stats" and "type=" + kind in e["line"]
                              for e in events)


def download_seen(events):
    return any(e["source"] == "package" and e["path"] == servers.PACKAGE_PATH for e in events)


class ProgressWindowDuringTheDownload(InteractiveCase):

    def test_window_while_the_package_downloads(self):
        expected_status = self.string(STRING_STATUS_DOWNLOADING).replace(
            "%s", self.string(STRING_DEFAULT_PRODUCT))
        complete = self.string(STRING_DOWNLOAD_COMPLETE)
        area = self.hold_taskbar(40)
        self.h.package_server.mode = "throttle"
        self.h.package_server.pad_to = SLOW_PACKAGE_BYTES

        proc = self.start()
        try:
            shown_at = self.wait_for_window(20)
            mid = self.wait_for_progress(10)
            mid_shot = self.screenshot("mid-download")
            shot_after = time.monotonic() - shown_at
            later = self.wait_for_progress(10, above=mid["bar"]["pos"])
        finally:
            run = self.finish(proc)

        window = mid
        check = self.subTest
        with check("outer size 396 x 297"):
            left, top, right, bottom = window["rect"]
            self.assertEqual((right - left, bottom - top), WINDOW_SIZE)
        with check("centred in the work area"):
            self.assertEqual(window["work_area"], area["work_area"],
                             "the work area changed during the run")
            self.assertEqual(tuple(window["rect"][:2]), centred(area["work_area"], WINDOW_SIZE),
                             "work area %r, taskbar %r" % (area["work_area"], area["taskbar"]))
        with check("exactly the bar and the button"):
            self.assertEqual(sorted((c["id"], c["class"]) for c in window["controls"]),
                             [(112, "Button"), (114, "msctls_progress32")])
        with check("banner shows a slide"):
            slide, difference, runner_up = self.best_slide(mid_shot, window)
            self.assertLess(difference, 8, "banner matches no slide (best: slide%d.jpg, mean "
                            "difference %.1f) in %s" % (slide + 1, difference, mid_shot))
            self.assertGreater(runner_up, difference * 3, "the slides are too alike to tell")
            if shot_after < FIRST_ROTATION:
                self.assertEqual(slide, 0, "the first slide is slide1.jpg")
        with check("progress bar follows the download"):
            bar = window["bar"]
            self.assertEqual((bar["low"], bar["high"]), (0, SLOW_PACKAGE_BYTES))
            self.assertTrue(0 < bar["pos"] < later["bar"]["pos"] <= SLOW_PACKAGE_BYTES,
                            "positions %d, then %d" % (bar["pos"], later["bar"]["pos"]))
            cx, cy, cw, _ch = window["client"]
            self.assertEqual(bar["rect"], [cx, cy + 210, cx + cw, cy + 233])
        with check("Cancel button text and place"):
            button = window["button"]
            self.assertEqual(bytes.fromhex(button["text_acp"]), "取消".encode("gbk"))
            self.assertEqual(button["text"], "取消")
            self.assertTrue(button["visible"] and button["enabled"])
            cx, cy, cw, ch = window["client"]
            top = cy + row_top(ch)
            self.assertEqual(button["rect"], [cx + cw - 95, top, cx + cw - 5, top + 24])
        with check("status line"):
            # The first slide is painted as the window is shown, the status line
            # over it; the next slide, 5 seconds on, paints it over.
            if shot_after >= FIRST_ROTATION:
                self.skipTest("the screenshot came %.1fs after the window: the status line "
                              "may be painted over" % shot_after)
            self.assert_status_line(mid_shot, window, expected_status, complete)
        with check("run ends well"):
            self.assert_status(run, 0)
            self.assert_pings(BASE_OS_NAME, ["start", "finished"])
            self.assert_package_ran(package_silent=False)
            self.assert_cache_clean()


class CancelDuringTheDownload(InteractiveCase):
    """A click on Cancel while data still arrives aborts the download; the
    cancelled box is owned by the window."""

    def test_cancel(self):
        rows = [
            # name, how the button is clicked
            ("click posted by a helper", "message"),
            ("pointer click with xdotool", "pointer"),
        ]
        expected = self.string(STRING_CANCELLED)
        self.assertTrue(expected.endswith(" " * 29) and not expected.endswith(" " * 30),
                        "string 112 should end in 29 blanks: %r" % expected)
        for name, how in rows:
            with self.subTest(name):
                self.h.reset()
                msg = " [%s]" % name
                self.h.package_server.mode = "throttle"
                self.h.package_server.pad_to = SLOW_PACKAGE_BYTES
                proc = self.start()
                box = during_box = None
                try:
                    self.wait_for_event(download_seen, 20, "the download" + msg)
                    window = self.wait_for_progress(10)
                    if how == "message":
                        self.assertTrue(self.h.press(CAPTION, CANCEL_BUTTON),
                                        "the helper found no button to click" + msg)
                    else:
                        self.click(window["button"]["rect"])
                    box = self.h.read_box(CAPTION, timeout=20)
                    during_box = self.progress_window()
                    self.screenshot("cancelled-box-" + how)
                finally:
                    self.h.read_box(CAPTION, timeout=5, press=IDOK)
                    run = self.finish(proc)
                self.assertIsNotNone(box, "no box after Cancel" + msg + self.context(run))
                self.assertLess(window["bar"]["pos"], SLOW_PACKAGE_BYTES,
                                "clicked only after the download" + msg)
                self.assertEqual(box["text"], expected, msg)
                self.assertEqual(box["icon"], "warning", msg)
                self.assertEqual([b["id"] for b in box["buttons"]], [IDOK], msg)
                self.assertIsNotNone(during_box, "the window was gone under its box" + msg)
                self.assertEqual(box["owner"], window["window"],
                                 "the box is not owned by the progress window" + msg)
                self.assert_status(run, ERROR_INSTALL_USEREXIT, msg)
                self.assert_pings(BASE_OS_NAME, ["start"], msg)
                self.assert_package_not_run(msg)
                self.assert_cache_clean(msg)

    def click(self, rect):
        """One real pointer click in the middle of a screen rectangle."""
        x, y = (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2
        env = dict(os.environ, DISPLAY=self.h.display.name)
        r = subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=env,
                           capture_output=True, timeout=15)
        self.assertEqual(r.returncode, 0, "xdotool: %r" % r.stderr)


class CompleteRun(InteractiveCase):

    def test_balloon_then_the_package(self):
        exit_code = 0x80070643
        complete = self.string(STRING_DOWNLOAD_COMPLETE)
        self.h.package_server.mode = "throttle"
        self.h.package_server.pad_to = SHORT_PACKAGE_BYTES
        # Holds the end of the download on screen. This Wine puts a balloon up
        # 2 seconds after it is asked for, and drops it with its icon, which
        # the installer removes right after the "finished" ping.
        self.h.stats_server.answer_delay = {"finished": 4.0}
        watcher = self.watch_for_balloon(30)
        proc = self.start(exit_code=exit_code, find_title=CAPTION)
        try:
            self.wait_for_event(download_seen, 20, "the download")
            window = self.wait_for_progress(10)
            self.wait_for_event(ping_seen("finished"), 20, "the finished ping")
            time.sleep(0.4)
            end_shot = self.screenshot("download-complete")
            balloon = self.balloon_seen(watcher, 35)
            if balloon.get("balloon"):
                self.screenshot("balloon")
        finally:
            run = self.finish(proc)

        with self.subTest("completion balloon"):
            self.assertTrue(balloon.get("balloon"), "no balloon was seen" + self.context(run))
            self.assertEqual(balloon["text"], complete)
            self.assertEqual(balloon["process"].lower(), "explorer.exe")
        with self.subTest("status line at the end of the download"):
            self.assert_status_line(end_shot, window, complete,
                                    self.string(STRING_STATUS_DOWNLOADING))
        with self.subTest("package runs after the window is gone"):
            self.assert_status(run, exit_code)
            pings = self.assert_pings(BASE_OS_NAME, ["start", "finished"])
            self.assert_download_between(pings)
            self.assert_package_ran(package_silent=False)
            self.assertEqual(self.h.package_window_seen(), ["window=no"],
                             "the progress window was still open when the package started")
            self.assert_cache_clean()


class BoxesOwnedByTheWindow(InteractiveCase):

    def test_package_server_down(self):
        expected = self.string(STRING_PACKAGE_NOT_FOUND)
        self.assertIn("%1", expected)
        expected = expected.replace("%1", PACKAGE_URL)
        self.assertEqual(expected, "安装程序无法找到包'%s'。" % PACKAGE_URL)
        self.h.package_server.stop()
        proc = self.start()
        box = window = None
        try:
            box = self.h.read_box(CAPTION, timeout=25)
            window = self.progress_window()
            self.screenshot("box")
        finally:
            self.h.read_box(CAPTION, timeout=5, press=IDOK)
            run = self.finish(proc)
        self.assertIsNotNone(box, "no box appeared" + self.context(run))
        self.assertEqual(box["text"], expected)
        self.assertEqual(box["icon"], "error")
        self.assertEqual([b["id"] for b in box["buttons"]], [IDOK])
        self.assertIsNotNone(window, "no progress window under the box")
        self.assertEqual(box["owner"], window["window"],
                         "the box is not owned by the progress window")
        self.assert_status(run, 2)
        self.assert_pings(BASE_OS_NAME, ["start", "failed"])
        self.assert_package_not_run()
        self.assert_cache_clean()

    def test_package_asking_for_a_restart(self):
        """The prompt comes after the window is gone and has no owner; the test
        answers No, never Yes (Yes restarts the machine)."""
        expected = self.string(STRING_RESTART)
        proc = self.start(exit_code=ERROR_SUCCESS_REBOOT_REQUIRED)
        box = window = None
        try:
            box = self.h.read_box(CAPTION, timeout=25)
            window = self.progress_window() if box else None
            self.screenshot("restart-prompt")
        finally:
            self.h.read_box(CAPTION, timeout=5, press=IDNO)
            run = self.finish(proc)
        self.assertIsNotNone(box, "no restart prompt" + self.context(run))
        self.assertEqual(box["text"], expected)
        self.assertEqual(box["icon"], "question")
        self.assertEqual(sorted(b["id"] for b in box["buttons"]), [IDYES, IDNO])
        self.assertEqual(box["owner"], 0, "the prompt has no owner")
        self.assertIsNone(window, "the progress window is still there at the prompt")
        self.assert_status(run, ERROR_SUCCESS_REBOOT_REQUIRED)
        self.assert_pings(BASE_OS_NAME, ["start", "finished"])
        self.assert_package_ran(package_silent=False)
        self.assert_cache_clean()


if __name__ == "__main__":
    unittest.main()
