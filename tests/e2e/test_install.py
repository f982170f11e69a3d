"""End-to-end runs of the real vexo_setup.exe under Wine.

Each case runs an installer build (configured against the loopback package and
statistics servers) through a launcher inside Wine that reports the full exit
code, and then checks what the servers saw, what the test package recorded,
and what the URL cache holds.

What this Wine (8.0) does differently from Windows, and so what the cases
expect:
- A 404 (or any HTTP error) still "succeeds" as a download: the error page is
  stored in the cache under the package URL, the run reports "finished" and
  then fails to start the page as a program.
- After a refused or aborted download Wine leaves partial files in its cache
  folder although no cache entry remains; the cases record them as notes.
- A download whose last path segment has no dot fails on an IP host, which is
  why the package is served under a *.exe name.
- Netbios reports the address of one of this machine's own adapters.
"""

import os
import re
import unittest

import harness
import servers

PACKAGE_URL = "http://127.0.0.1:%d%s" % (harness.PACKAGE_PORT, servers.PACKAGE_PATH)

BASE_OS_NAME = "Win7"  # the name of harness.BASE_WINDOWS_VERSION

# String 103: the caption of every box and the title of the progress window.
CAPTION = "Vexo影音在线安装"

CACHE_ABSENT = "absent"  # the cache checker's answer for a URL with no entry


def ping_pattern(os_name, event):
    """The request line of one ping; os_name as it must reach the server."""
    query = "/?method='fetchlet'&platform=pc&os=%s&macid=" % os_name
    return re.compile("^GET " + re.escape(query) + "(?P<mac>[0-9A-F]{12}|)" +
                      re.escape("&type=" + event) + r" HTTP/1\.[01]$")


def package_command_pattern(package_silent):
    tail = " /norestart" + (" /S" if package_silent else "")
    return re.compile(r'^"(?P<path>[A-Za-z]:\\[^"]+)"' + re.escape(tail) + "$")


class InstallerCase(unittest.TestCase):
    """Common steps and checks of a run."""

    maxDiff = None

    def setUp(self):
        self.h = harness.get()
        self.h.reset()
        self.cache_files_before = set(self.h.wine.cache_files())

    def tearDown(self):
        new_files = sorted(set(self.h.wine.cache_files()) - self.cache_files_before)
        self.h.save_artifacts(self.id(), {"new_cache_files": new_files})
        # Files named after the package with no entry left: Wine's partial
        # downloads. (The other new files are the statistics answers, which
        # stay in the cache under their own entries.)
        stray = [f for f in new_files
                 if os.path.basename(f).lower().startswith("vexo_303")]
        if stray:
            self.h.notes.append("%s: Wine left files in its cache folder with no entry: %s"
                                % (self.id().split(".")[-1], ", ".join(stray)))

    # -- what the servers saw

    def events(self, source=None):
        return self.h.log.events(source)

    def context(self, run=None):
        """Everything a failure message needs."""
        lines = ["run: %r" % (run,)]
        lines += ["%s: %s" % (e["source"], e["line"]) for e in self.events()]
        lines += ["package: %s" % c for c in self.h.package_runs()]
        return "\n" + "\n".join(lines)

    def assert_status(self, run, status, msg=""):
        self.assertFalse(run.timed_out, "run timed out" + msg + self.context(run))
        self.assertEqual(run.status, status, msg + self.context(run))

    def assert_pings(self, os_name, kinds, msg=""):
        """The statistics server saw exactly these pings, in this order."""
        pings = self.events("stats")
        self.assertEqual(len(pings), len(kinds),
                         "pings %s expected" % (kinds,) + msg + self.context())
        macs = set()
        for ping, kind in zip(pings, kinds):
            m = ping_pattern(os_name, kind).match(ping["line"])
            self.assertTrue(m, "ping %r does not read as %s/%s" % (ping["line"], os_name, kind)
                            + msg + self.context())
            macs.add(m.group("mac"))
        self.assertLessEqual(len(macs), 1, "pings disagree on macid" + msg)
        mac = macs.pop() if macs else ""
        if mac:
            self.assertIn(mac, harness.host_mac_addresses(),
                          "macid is no adapter address of this machine" + msg)
        return pings

    def assert_nothing_sent(self, msg=""):
        self.assertEqual(self.events(), [], "no request expected" + msg + self.context())

    def assert_download_between(self, pings, msg=""):
        """The package was fetched after the first ping and before the second."""
        downloads = [e for e in self.events("package") if e["path"] == servers.PACKAGE_PATH]
        self.assertTrue(downloads, "the package was never requested" + msg + self.context())
        for d in downloads:
            self.assertTrue(pings[0]["seq"] < d["seq"] < pings[1]["seq"],
                            "download outside start..end pings" + msg + self.context())

    def assert_package_ran(self, package_silent, msg=""):
        """The package ran once with the exact command line; returns its path."""
        runs = self.h.package_runs()
        self.assertEqual(len(runs), 1, "one package start expected" + msg + self.context())
        m = package_command_pattern(package_silent).match(runs[0])
        self.assertTrue(m, "package command line %r" % runs[0] + msg)
        path = m.group("path")
        self.assertRegex(os.path.basename(path.replace("\\", "/")).lower(),
                         r"^vexo_303.*\.exe$", msg)
        unix = os.path.realpath(self.h.wine.unix_path(path))
        folders = [os.path.realpath(f) for f in self.h.wine.cache_folders()]
        self.assertTrue(any(unix.startswith(f + os.sep) for f in folders),
                        "package not run from the URL cache: %s" % path + msg)
        return unix

    def assert_package_not_run(self, msg=""):
        self.assertEqual(self.h.package_runs(), [], "the package must not run" + msg)

    def assert_cache_clean(self, msg=""):
        self.assertEqual(self.h.cache_entry(PACKAGE_URL), CACHE_ABSENT,
                         "a URL-cache entry for the package remains" + msg)

    def assert_successful_run(self, variant, package_silent, os_name=BASE_OS_NAME,
                              exit_code=0, msg=""):
        run = self.h.run_installer(variant, exit_code=exit_code, find_title=CAPTION)
        self.assert_status(run, exit_code, msg)
        pings = self.assert_pings(os_name, ["start", "finished"], msg)
        self.assert_download_between(pings, msg)
        cached = self.assert_package_ran(package_silent, msg)
        self.assertEqual(self.h.package_window_seen(), ["window=no"],
                         "a window of the installer was open while the package ran" + msg)
        self.assertFalse(os.path.exists(cached), "the cached package is still there" + msg)
        self.assert_cache_clean(msg)
        return run


class SilentInstall(InstallerCase):

    def test_success(self):
        self.assert_successful_run("silent", package_silent=True)

    def test_package_exit_code_is_the_run_status(self):
        rows = [
            ("exit code 3", 3),
            ("exit code beyond 8 bits", 1618),
            ("exit code with the top bit set", 0x80070643),
        ]
        for name, code in rows:
            with self.subTest(name):
                self.h.reset()
                self.assert_successful_run("silent", package_silent=True, exit_code=code,
                                           msg=" [%s]" % name)

    def test_package_server_down(self):
        self.h.package_server.stop()
        run = self.h.run_installer("silent")
        self.assert_status(run, 2)
        self.assert_pings(BASE_OS_NAME, ["start", "failed"])
        self.assert_package_not_run()
        self.assert_cache_clean()

    def test_package_server_answers_404(self):
        # Wine stores the error page as the download, so the run goes on to
        # start the page as a program, which fails. On Windows the download
        # itself fails (status 2, "failed"). Either way nothing may run and no
        # entry may remain.
        self.h.package_server.mode = "404"
        run = self.h.run_installer("silent")
        self.assertFalse(run.timed_out, self.context(run))
        self.assertIsNotNone(run.status, self.context(run))
        self.assertNotEqual(run.status, 0, "a 404 must not end as success" + self.context(run))
        pings = [e["line"] for e in self.events("stats")]
        if len(pings) == 2 and "type=failed" in pings[1]:
            self.assert_pings(BASE_OS_NAME, ["start", "failed"])
            self.assertEqual(run.status, 2)
        else:
            self.assert_pings(BASE_OS_NAME, ["start", "finished"])
            self.h.notes.append("404: the download succeeded with the error page; "
                                "run status %d" % run.status)
        self.assert_package_not_run()
        self.assert_cache_clean()

    def test_statistics_server_down_changes_nothing(self):
        self.h.stats_server.stop()
        run = self.h.run_installer("silent")
        self.assert_status(run, 0)
        self.assert_package_ran(package_silent=True)
        self.assert_cache_clean()

    def test_second_copy_while_the_first_waits(self):
        first = self.h.start_installer("silent", timeout=90,
                                       wait_for=harness.RELEASE_FILE, wait_ms=60000)
        try:
            self.assertTrue(self.h.wait_for_package_start(30),
                            "the first copy's package did not start" + self.context())
            seen_before = self.events()
            second = self.h.run_installer("silent", timeout=30)
            self.assert_status(second, 1618, " (second copy)")
            self.assertEqual(self.events(), seen_before,
                             "the second copy sent a request" + self.context(second))
        finally:
            self.h.release_package()
            first_run = self.h.finish_installer(first, 60)
        self.assert_status(first_run, 0, " (first copy)")
        self.assert_pings(BASE_OS_NAME, ["start", "finished"])
        self.assertEqual(len(self.h.package_runs()), 1, self.context(first_run))
        self.assert_cache_clean()

    def test_user_outside_administrators(self):
        run = self.h.run_installer("silent", restricted=True)
        self.assertIn("admin-member=0", run.output,
                      "the restricted token still counts as Administrators")
        self.assert_status(run, 1603)
        self.assert_nothing_sent()
        self.assert_package_not_run()
        self.assert_cache_clean()


class BuildVariants(InstallerCase):

    def test_successful_run_of_each_build(self):
        rows = [
            # name, variant, package started with " /S"
            ('mode "/s /u": package not silent', "silent_no_package_s", False),
            ("with a PRODUCTNAME resource", "product_name", True),
            ('interactive mode "/u"', "interactive", False),
        ]
        for name, variant, package_silent in rows:
            with self.subTest(name):
                self.h.reset()
                self.assert_successful_run(variant, package_silent, msg=" [%s]" % name)


class WindowsDuringTheDownload(InstallerCase):
    """What the installer shows while a slow download runs."""

    def test_visible_windows(self):
        rows = [
            # name, variant, titles of the visible top-level windows
            ('mode "/s" shows nothing', "silent", []),
            ('mode "/u" shows its window', "interactive", [CAPTION]),
        ]
        for name, variant, titles in rows:
            with self.subTest(name):
                if titles and not self.h.display:
                    self.skipTest("no X display: windows are not shown")
                self.h.reset()
                msg = " [%s]" % name
                self.h.package_server.mode = "throttle"   # about 1.6 s for 2 MB
                self.h.package_server.pad_to = 2 * 1024 * 1024
                proc = self.h.start_installer(variant, timeout=40)
                try:
                    started = self.h.log.wait_for(
                        lambda ev: any(e["source"] == "package" for e in ev), 20)
                    seen = self.h.windows_of() if started else None
                finally:
                    run = self.h.finish_installer(proc, 60)
                self.assertTrue(started, "the download never started" + msg + self.context(run))
                self.assertEqual(seen["processes"], 1,
                                 "the installer was not running mid-download" + msg)
                visible = [w["title"] for w in seen["windows"] if w["visible"]]
                self.assertEqual(visible, titles, msg)
                self.assert_status(run, 0, msg)
                self.assert_cache_clean(msg)


class RestartPrompt(InstallerCase):
    """A package that asks for a restart (3010) gets the restart prompt, in
    the silent mode too; the test answers No (never Yes: that would restart)."""

    IDYES, IDNO = 6, 7
    ERROR_SUCCESS_REBOOT_REQUIRED = 3010

    def test_package_asking_for_a_restart(self):
        if not self.h.display:
            self.skipTest("no X display: boxes are not drawn")
        expected = self.h.resource_string("silent", 106)
        self.assertTrue(expected, "string 106 missing")
        proc = self.h.start_installer("silent", timeout=40,
                                      exit_code=self.ERROR_SUCCESS_REBOOT_REQUIRED)
        try:
            box = self.h.read_box(CAPTION, timeout=25)
            # The clean-up has removed the cache entry before it asks.
            entry_while_asking = self.h.cache_entry(PACKAGE_URL) if box else None
        finally:
            self.h.read_box(CAPTION, timeout=5, press=self.IDNO)
            run = self.h.finish_installer(proc, 60)
        self.assertIsNotNone(box, "no restart prompt" + self.context(run))
        self.assertEqual(entry_while_asking, CACHE_ABSENT,
                         "the package's cache entry is still there at the prompt")
        self.assertEqual(box["text"], expected)
        self.assertEqual(box["icon"], "question")
        self.assertEqual(sorted(b["id"] for b in box["buttons"]), [self.IDYES, self.IDNO])
        self.assertEqual(box["owner"], 0, "the prompt has no owner")
        self.assert_status(run, self.ERROR_SUCCESS_REBOOT_REQUIRED)
        self.assert_pings(BASE_OS_NAME, ["start", "finished"])
        self.assert_package_ran(package_silent=True)
        self.assert_cache_clean()


class InteractiveBoxes(InstallerCase):
    """Failures of the interactive build end with their box (no owner while no
    window is drawn), read from inside Wine and answered with OK."""

    IDOK = 1

    def test_failure_boxes(self):
        if not self.h.display:
            self.skipTest("no X display: boxes are not drawn")
        url = PACKAGE_URL
        rows = [
            # name, what to break, string id, "%1" argument, status, pings
            ("package server down", "package server", 123, url, 2, ["start", "failed"]),
            ("user outside Administrators", "membership", 119, None, 1603, []),
        ]
        for name, broken, string_id, argument, status, pings in rows:
            with self.subTest(name):
                self.h.reset()
                msg = " [%s]" % name
                expected = self.h.resource_string("interactive", string_id)
                self.assertTrue(expected, "string %d missing" % string_id + msg)
                if argument is not None:
                    self.assertIn("%1", expected, msg)
                    expected = expected.replace("%1", argument)
                if broken == "package server":
                    self.h.package_server.stop()
                proc = self.h.start_installer("interactive", timeout=40,
                                              restricted=(broken == "membership"))
                box = self.h.read_box(CAPTION, timeout=25, press=self.IDOK)
                run = self.h.finish_installer(proc, 60)
                self.assertIsNotNone(box, "no box appeared" + msg + self.context(run))
                self.assertEqual(box["text"], expected, msg)
                self.assertEqual(box["icon"], "error", msg)
                self.assertEqual([b["id"] for b in box["buttons"]], [self.IDOK], msg)
                self.assert_status(run, status, msg)
                if pings:
                    self.assert_pings(BASE_OS_NAME, pings, msg)
                else:
                    self.assert_nothing_sent(msg)
                self.assert_package_not_run(msg)
                self.assert_cache_clean(msg)


class WindowsVersions(InstallerCase):

    def tearDown(self):
        self.h.wine.set_version(harness.BASE_WINDOWS_VERSION)
        super().tearDown()

    def test_reported_version(self):
        rows = [
            # Wine version, the os= value on the wire, or None: refused with 1603
            ("winxp", "WindowsXP"),
            ("win2k", "Windows2000"),
            ("win10", "Microsoft%20Windows%20NT%203.0"),
            ("win98", None),
            ("nt40", None),
        ]
        # Refused versions end without a box in every mode: a box would hold
        # the run until its time-out.
        refused_variants = ["silent", "interactive"]
        for version, os_name in rows:
            with self.subTest(version):
                self.h.reset()
                self.h.wine.set_version(version)
                msg = " [%s]" % version
                if os_name:
                    self.assert_successful_run("silent", True, os_name=os_name, msg=msg)
                    continue
                for variant in refused_variants:
                    run = self.h.run_installer(variant, timeout=30)
                    self.assert_status(run, 1603, msg + " " + variant)
                    self.assert_nothing_sent(msg + " " + variant)
                    self.assert_package_not_run(msg + " " + variant)
                self.assert_cache_clean(msg)


if __name__ == "__main__":
    unittest.main()
