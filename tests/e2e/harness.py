"""The end-to-end harness: builds, the Wine prefix, the X display, the servers.

One Harness is prepared per test run (prepare()) and torn down at the end
(shutdown()). It builds the test helpers and every installer variant (in
parallel, each once), makes or reuses the Wine prefix, starts Xvfb when it can
(Wine's virtual desktop then draws windows, boxes and the tray like a desktop
would), starts the package and statistics servers on fixed loopback ports, and
offers the calls the tests make: run an installer, ask the URL cache, read the
package log, switch the Windows version Wine reports, take a screenshot.

Every external command runs under a time-out.
"""

import concurrent.futures
import glob
import json
import os
import re
import shutil
import subprocess
import tempfile
import time

import servers

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.join(REPO, "build", "e2e")
HELPERS_OUT = os.path.join(BUILD, "helpers")
ARTIFACTS = os.path.join(BUILD, "artifacts")
TOOLCHAIN = os.path.join(REPO, "cmake", "mingw-i686.cmake")
CC = "i686-w64-mingw32-gcc"

# Ports are compiled into the installer builds, so they are fixed.
PACKAGE_PORT = int(os.environ.get("VEXO_E2E_PORT", "48081"))
STATS_PORT = PACKAGE_PORT + 1

# Windows side of the tests.
BIN_DIR = r"C:\vexo_e2e_bin"      # helpers and installer builds
DATA_DIR = r"C:\vexo_e2e"         # what the test package writes
PACKAGE_LOG = DATA_DIR + r"\package.log"
PACKAGE_WINDOW_LOG = DATA_DIR + r"\package.window"
RELEASE_FILE = DATA_DIR + r"\release"

# The version Wine reports when a test has not asked for another one.
BASE_WINDOWS_VERSION = "win7"

WINE_LOCALE = "zh_CN.UTF-8"  # ANSI code page 936, as on a Chinese Windows

# name: (sources, extra flags). GUI programs carry -mwindows.
HELPERS = {
    "run_exit": (["run_exit.c"], []),
    "run_restricted": (["run_restricted.c"], []),
    "cache_check": (["cache_check.c"], ["-lwininet"]),
    "box_reader": (["box_reader.c"], ["-lshell32", "-lgdi32"]),
    "window_check": (["window_check.c"], ["-lshell32"]),
    "window_probe": (["window_probe.c"], ["-lshell32", "-lgdi32"]),
    "test_package": (["test_package.c"], ["-mwindows"]),
}

# Installer builds: name -> (cache variables, what the build is for).
VARIANTS = {
    "silent": ({"VEXO_MODE": "/s"}, "the shipped mode"),
    "silent_no_package_s": ({"VEXO_MODE": "/s /u"}, "silent, package not silent"),
    "product_name": ({"VEXO_MODE": "/s", "VEXO_PRODUCT_NAME": "Vexo 播放器"},
                     "with a PRODUCTNAME resource"),
    "interactive": ({"VEXO_MODE": "/u"}, "interactive mode"),
}


class HarnessError(Exception):
    pass


def _run(cmd, timeout, log=None, **kw):
    """Runs a command under a time-out; output goes to log (a file) or is captured."""
    if log:
        with open(log, "ab") as f:
            f.write(("$ %s\n" % " ".join(cmd)).encode())
            f.flush()
            return subprocess.run(cmd, stdout=f, stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL, timeout=timeout, **kw)
    return subprocess.run(cmd, capture_output=True, stdin=subprocess.DEVNULL,
                          timeout=timeout, **kw)


def _newer(target, sources):
    if not os.path.exists(target):
        return False
    t = os.path.getmtime(target)
    return all(os.path.getmtime(s) <= t for s in sources)


def host_mac_addresses():
    """Hardware addresses of this machine's adapters, as the installer writes them."""
    macs = set()
    for path in glob.glob("/sys/class/net/*/address"):
        try:
            with open(path) as f:
                macs.add(f.read().strip().replace(":", "").upper())
        except OSError:
            pass
    return macs


# ---------------------------------------------------------------- builds

def build_helpers():
    """Compiles the helpers of the tests; returns {name: exe path}."""
    os.makedirs(HELPERS_OUT, exist_ok=True)
    src_dir = os.path.join(HERE, "helpers")
    headers = glob.glob(os.path.join(src_dir, "*.h"))
    out = {}
    for name, (sources, flags) in HELPERS.items():
        srcs = [os.path.join(src_dir, s) for s in sources]
        exe = os.path.join(HELPERS_OUT, name + ".exe")
        if not _newer(exe, srcs + headers):
            r = _run([CC, "-Os", "-s", "-Wall", "-Wextra", "-o", exe] + srcs + flags,
                     timeout=120)
            if r.returncode != 0:
                raise HarnessError("helper %s did not build:\n%s" %
                                   (name, (r.stdout + r.stderr).decode(errors="replace")))
        out[name] = exe
    return out


def build_variant(name, defines):
    """Configures and builds one installer variant; returns (exe or None, log path, seconds)."""
    start = time.monotonic()
    bdir = os.path.join(BUILD, "variants", name)
    log = os.path.join(BUILD, "variants", name + ".log")
    os.makedirs(bdir, exist_ok=True)
    open(log, "w").close()
    args = ["cmake", "-S", REPO, "-B", bdir, "--toolchain", TOOLCHAIN,
            "-DCMAKE_BUILD_TYPE=MinSizeRel",
            "-DVEXO_PACKAGE_BASE_URL=http://127.0.0.1:%d/ext/common/Vexo" % PACKAGE_PORT,
            "-DVEXO_STATS_BASE_URL=http://127.0.0.1:%d" % STATS_PORT,
            "-DVEXO_OPTION=none", "-DVEXO_PRODUCT_NAME=", "-DVEXO_OPERATION="]
    args += ["-D%s=%s" % kv for kv in defines.items()]
    try:
        if _run(args, timeout=300, log=log).returncode != 0:
            return None, log, time.monotonic() - start
        if _run(["cmake", "--build", bdir, "--parallel", "1"], timeout=600,
                log=log).returncode != 0:
            return None, log, time.monotonic() - start
    except subprocess.TimeoutExpired:
        with open(log, "a") as f:
            f.write("\n(time-out)\n")
        return None, log, time.monotonic() - start
    exe = os.path.join(bdir, "vexo_setup.exe")
    if not os.path.exists(exe):
        found = glob.glob(os.path.join(bdir, "**", "vexo_setup.exe"), recursive=True)
        exe = found[0] if found else None
    return exe, log, time.monotonic() - start


# ---------------------------------------------------------------- X display

class Display:
    """An Xvfb server of our own, for Wine's virtual desktop."""

    def __init__(self):
        self.number = None
        self.proc = None

    @staticmethod
    def available():
        return shutil.which("Xvfb") is not None

    def start(self, timeout=15):
        for n in range(93, 140):
            if os.path.exists("/tmp/.X%d-lock" % n) or \
               os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            proc = subprocess.Popen(
                ["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline and proc.poll() is None:
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    self.number, self.proc = n, proc
                    return self
                time.sleep(0.05)
            proc.kill()
            proc.wait(timeout=5)
        raise HarnessError("Xvfb did not start")

    @property
    def name(self):
        return ":%d" % self.number

    def screenshot(self, path):
        if not self.proc:
            return False
        try:
            r = _run(["/usr/bin/import", "-display", self.name, "-window", "root", path],
                     timeout=20)
            return r.returncode == 0
        except (OSError, subprocess.TimeoutExpired):
            return False

    def stop(self):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=5)
            self.proc = None


# ---------------------------------------------------------------- Wine

class WineProcess:
    """A started wine command whose output is collected in files."""

    def __init__(self, proc, out, err):
        self.proc, self._out, self._err = proc, out, err

    def _read(self, f):
        f.seek(0)
        data = f.read()
        f.close()
        return data

    def wait(self, timeout):
        """Waits for the end (killing the command after timeout seconds)."""
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)
            code = 124
        return subprocess.CompletedProcess(self.proc.args, code, self._read(self._out),
                                           self._read(self._err))


class Wine:
    """Our own 32-bit Wine prefix, every command of it under a time-out."""

    def __init__(self, prefix, display=None):
        self.prefix = prefix
        self.display = display

    def env(self, extra=None):
        env = dict(os.environ)
        for key in list(env):
            if key.startswith("VEXO_E2E_"):
                del env[key]
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEARCH": "win32",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "LC_ALL": WINE_LOCALE,
            "LANG": WINE_LOCALE,
        })
        if self.display:
            env["DISPLAY"] = self.display.name
        else:
            env.pop("DISPLAY", None)
        env.update(extra or {})
        return env

    def _spawn(self, cmd, timeout, extra_env):
        # Output goes to files, never pipes: Wine's background processes
        # (wineserver, services, the desktop) inherit the standard handles and
        # would hold a pipe open long after the command itself has ended.
        out = tempfile.TemporaryFile()
        err = tempfile.TemporaryFile()
        proc = subprocess.Popen(["timeout", "-k", "5", str(timeout)] + cmd,
                                stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                env=self.env(extra_env))
        return WineProcess(proc, out, err)

    def run(self, args, timeout, extra_env=None, check=False):
        """Runs wine with args to its end; returns a CompletedProcess."""
        r = self._spawn(["wine"] + list(args), timeout, extra_env).wait(timeout + 15)
        if check and r.returncode != 0:
            raise HarnessError("wine %s failed (%d): %s" % (
                " ".join(args), r.returncode, r.stderr.decode(errors="replace")[-2000:]))
        return r

    def popen(self, args, timeout, extra_env=None):
        """Starts wine with args in the background; returns a WineProcess."""
        return self._spawn(["wine"] + list(args), timeout, extra_env)

    def wineserver(self, *args, timeout=60):
        return self._spawn(["wineserver"] + list(args), timeout, None).wait(timeout + 15)

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def unix_path(self, win_path):
        """Maps C:\\... to the prefix, matching each component without regard to case."""
        m = re.match(r"^[cC]:\\(.*)$", win_path)
        if not m:
            return None
        path = self.drive_c
        for part in [p for p in m.group(1).split("\\") if p]:
            candidate = os.path.join(path, part)
            if not os.path.exists(candidate) and os.path.isdir(path):
                for entry in os.listdir(path):
                    if entry.lower() == part.lower():
                        candidate = os.path.join(path, entry)
                        break
            path = candidate
        return path

    def ensure_prefix(self):
        """Makes the prefix unless it is there; then applies its settings.
        Returns whether it was made."""
        stamp = os.path.join(self.prefix, ".vexo_e2e_ready")
        created = not os.path.exists(stamp)
        if created:
            self._make_prefix(stamp)
        self.configure_desktop()
        return created

    def _make_prefix(self, stamp):
        if os.path.exists(self.prefix):
            shutil.rmtree(self.prefix)
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        r = self._spawn(["wineboot", "-i"], 240, None).wait(260)
        if r.returncode != 0:
            raise HarnessError("wineboot failed (%d): %s" % (
                r.returncode, r.stderr.decode(errors="replace")[-2000:]))
        self.wineserver("-w", timeout=120)
        fonts = os.path.join(self.drive_c, "windows", "Fonts")
        os.makedirs(fonts, exist_ok=True)
        for font in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf"):
            src = os.path.join("/usr/share/wine/fonts", font)
            if os.path.exists(src):
                shutil.copy(src, fonts)
        self.wineserver("-w", timeout=120)
        open(stamp, "w").close()

    def configure_desktop(self):
        """Registry settings of the prefix, applied on every run (idempotent)."""
        def multi_sz(*items):
            data = ("\0".join(items) + "\0\0").encode("utf-16-le")
            return "hex(7):" + ",".join("%02x" % b for b in data)

        lines = [
            "Windows Registry Editor Version 5.00", "",
            # Wine's virtual desktop: a desktop window with its own taskbar
            # and notification area, so captions, the tray and balloons are
            # drawn.
            "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]",
            '"Desktop"="Default"', "",
            "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]",
            '"Default"="1024x768"', "",
            # A Chinese Windows draws double-byte characters with an ANSI font
            # through its font association; Wine has none, so the faces it
            # picks for a font with no face name and character set 0 are
            # linked to the CJK font instead.
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion"
            "\\FontLink\\SystemLink]",
        ]
        cjk = "wqy-microhei.ttc,WenQuanYi Micro Hei"
        for face in ("Liberation Sans", "Liberation Serif", "DejaVu Sans", "Arial",
                     "Times New Roman", "Tahoma", "Microsoft Sans Serif", "MS Sans Serif"):
            lines.append('"%s"=%s' % (face, multi_sz(cjk)))
        reg = os.path.join(self.drive_c, "vexo_e2e.reg")
        with open(reg, "w", encoding="utf-16") as f:
            f.write("\r\n".join(lines) + "\r\n")
        self.run(["regedit", "/S", r"C:\vexo_e2e.reg"], timeout=60, check=True)

    def set_version(self, version):
        self.run(["winecfg", "/v", version], timeout=60, check=True)
        now = self.get_version()
        if now != version:
            raise HarnessError("Wine reports %r after asking for %r" % (now, version))

    def get_version(self):
        r = self.run(["winecfg", "/v"], timeout=60)
        return r.stdout.decode(errors="replace").strip()

    def cache_folders(self):
        """Folders of the URL cache's files (the layout differs between Wine versions)."""
        found = []
        for root, dirs, _files in os.walk(os.path.join(self.drive_c, "users")):
            for d in dirs:
                if d.lower() == "content.ie5":
                    found.append(os.path.join(root, d))
        return found

    def cache_files(self):
        files = []
        for folder in self.cache_folders():
            for root, _dirs, names in os.walk(folder):
                for n in names:
                    if n.lower() in ("index.dat", "desktop.ini"):
                        continue
                    files.append(os.path.relpath(os.path.join(root, n), folder))
        return sorted(files)


class Run:
    """The outcome of one installer run."""

    def __init__(self, status, output, timed_out):
        self.status = status          # full 32-bit exit code, or None
        self.output = output          # what the launcher printed
        self.timed_out = timed_out

    def __repr__(self):
        return "Run(status=%r, timed_out=%r, output=%r)" % (
            self.status, self.timed_out, self.output)


def parse_launcher_output(text, timed_out=False):
    m = re.search(r"^exit=(\d+)\s*$", text, re.M)
    status = int(m.group(1)) if m else None
    return Run(status, text, timed_out or bool(re.search(r"^timeout\s*$", text, re.M)))


# ---------------------------------------------------------------- the harness

class Harness:
    def __init__(self, use_display=None):
        if use_display is None:
            use_display = os.environ.get("VEXO_E2E_DISPLAY", "1") != "0" and Display.available()
        self.display = Display() if use_display else None
        # VEXO_E2E_PREFIX: another prefix, for a run beside one that uses the default.
        prefix = os.environ.get("VEXO_E2E_PREFIX") or os.path.join(BUILD, "wineprefix")
        self.wine = Wine(os.path.abspath(prefix), self.display)
        self.log = servers.EventLog()
        self.package_server = None
        self.stats_server = None
        self.helpers = {}
        self.variants = {}          # name -> exe path (None when the build failed)
        self.variant_logs = {}
        self.timings = {}
        self.notes = []             # observations worth reporting at the end

    # -- preparation

    def prepare(self, variants=None):
        os.makedirs(BUILD, exist_ok=True)
        os.makedirs(ARTIFACTS, exist_ok=True)
        busy = [p for p in (PACKAGE_PORT, STATS_PORT) if not servers.port_is_free(p)]
        if busy:
            raise HarnessError("ports in use, the e2e servers need them: %s" % busy)

        start = time.monotonic()
        self.helpers = build_helpers()
        self.timings["helpers"] = time.monotonic() - start

        names = list(variants or VARIANTS)
        with concurrent.futures.ThreadPoolExecutor(max_workers=3) as pool:
            prefix_job = pool.submit(self._prepare_wine)
            jobs = {pool.submit(build_variant, n, VARIANTS[n][0]): n for n in names}
            for job in concurrent.futures.as_completed(jobs):
                n = jobs[job]
                exe, log, secs = job.result()
                self.variants[n] = exe
                self.variant_logs[n] = log
                self.timings["build " + n] = secs
            prefix_job.result()

        self._install_binaries()
        self.package_server = servers.PackageServer(
            PACKAGE_PORT, self.helpers["test_package"], self.log).start()
        self.stats_server = servers.StatsServer(STATS_PORT, self.log).start()
        self.timings["prepare"] = time.monotonic() - start

    def _prepare_wine(self):
        start = time.monotonic()
        if self.display:
            self.display.start()
        created = self.wine.ensure_prefix()
        self.timings["prefix " + ("created" if created else "reused")] = time.monotonic() - start
        # The desktop reads its settings once, when it starts, and the import
        # of those settings itself started one: on a new prefix that desktop
        # has no virtual desktop, no taskbar and no balloons. Ending the
        # session here makes the next command start a desktop that has them.
        self.wine.wineserver("-k", timeout=30)
        self.wine.wineserver("-w", timeout=30)
        # A persistent wineserver keeps every later wine command quick.
        self.wine.wineserver("-p", timeout=30)
        self.wine.set_version(BASE_WINDOWS_VERSION)
        self.timings["wine ready"] = time.monotonic() - start

    def _install_binaries(self):
        bin_dir = self.wine.unix_path(BIN_DIR)
        os.makedirs(bin_dir, exist_ok=True)
        for name, exe in self.helpers.items():
            shutil.copy(exe, os.path.join(bin_dir, name + ".exe"))
        for name, exe in self.variants.items():
            target = os.path.join(bin_dir, name)
            os.makedirs(target, exist_ok=True)
            dest = os.path.join(target, "vexo_setup.exe")
            if exe:
                shutil.copy(exe, dest)
            elif os.path.exists(dest):
                os.remove(dest)
        os.makedirs(self.wine.unix_path(DATA_DIR), exist_ok=True)

    def shutdown(self):
        for s in (self.package_server, self.stats_server):
            if s:
                s.stop()
        try:
            self.wine.wineserver("-k", timeout=30)
            self.wine.wineserver("-w", timeout=30)
        except (OSError, subprocess.TimeoutExpired):
            pass
        if self.display:
            self.display.stop()

    # -- per test

    def reset(self):
        """Puts the servers, the logs, the package's files and the URL cache back
        to the start state, so that one failed case does not spill into the next."""
        if self.delete_cache_entry(self.package_server.url()) == "deleted":
            self.notes.append("a URL-cache entry of the package was left by an earlier "
                              "case and removed")
        for server in (self.package_server, self.stats_server):
            if not server.running:
                server.start()
        self.package_server.mode = "serve"
        self.package_server.pad_to = 0
        self.stats_server.answer_delay = {}
        self.log.clear()
        data = self.wine.unix_path(DATA_DIR)
        os.makedirs(data, exist_ok=True)
        for name in os.listdir(data):
            os.remove(os.path.join(data, name))

    def variant_path(self, variant):
        """Windows path of a variant's installer; fails loudly when it was not built."""
        if not self.variants.get(variant):
            raise HarnessError("variant %r did not build, see %s" %
                               (variant, self.variant_logs.get(variant)))
        return "%s\\%s\\vexo_setup.exe" % (BIN_DIR, variant)

    @staticmethod
    def package_env(exit_code=None, wait_for=None, wait_ms=None, find_title=None):
        env = {}
        if exit_code is not None:
            env["VEXO_E2E_EXIT"] = str(exit_code)
        if wait_for:
            env["VEXO_E2E_WAIT_FOR"] = wait_for
        if wait_ms is not None:
            env["VEXO_E2E_WAIT_MS"] = str(wait_ms)
        if find_title:
            env["VEXO_E2E_FIND_TITLE"] = find_title
        return env

    def _launcher_args(self, variant, restricted, timeout):
        launcher = "run_restricted" if restricted else "run_exit"
        return ["%s\\%s.exe" % (BIN_DIR, launcher), str(int(timeout * 1000)),
                '"%s"' % self.variant_path(variant)]

    def run_installer(self, variant, timeout=60, restricted=False, **package):
        """Runs an installer build to its end and returns its Run."""
        args = self._launcher_args(variant, restricted, timeout)
        r = self.wine.run(args, timeout=timeout + 10, extra_env=self.package_env(**package))
        return parse_launcher_output(r.stdout.decode(errors="replace"),
                                     timed_out=r.returncode == 124)

    def start_installer(self, variant, timeout=60, restricted=False, **package):
        """Starts an installer build in the background; finish_installer() collects it."""
        return self.wine.popen(self._launcher_args(variant, restricted, timeout),
                               timeout=timeout + 10, extra_env=self.package_env(**package))

    @staticmethod
    def finish_installer(proc, timeout):
        r = proc.wait(timeout)
        return parse_launcher_output(r.stdout.decode(errors="replace"), r.returncode == 124)

    def read_box(self, caption, timeout=20, press=None):
        """Waits for a message box with this caption; returns what it shows (or
        None when none appeared) and presses the button id press, if given."""
        args = ["%s\\box_reader.exe" % BIN_DIR, "/wait", str(int(timeout * 1000)), caption]
        if press:
            args.append(str(press))
        r = self.wine.run(args, timeout=timeout + 30)
        try:
            box = json.loads(r.stdout.decode(errors="replace"))
        except ValueError:
            raise HarnessError("box reader said: %r %r" % (r.stdout, r.stderr[-500:]))
        return box if box.get("box") else None

    def windows_of(self, image="vexo_setup.exe"):
        """The work area and the top-level windows of the processes running image."""
        r = self.wine.run(["%s\\window_check.exe" % BIN_DIR, image], timeout=30)
        try:
            return json.loads(r.stdout.decode(errors="replace"))
        except ValueError:
            raise HarnessError("window check said: %r %r" % (r.stdout, r.stderr[-500:]))

    def press(self, title, control_id):
        """Posts a click of control_id to the visible window with this title."""
        r = self.wine.run(["%s\\window_check.exe" % BIN_DIR, "/press", title,
                           str(control_id)], timeout=30)
        return b'"pressed": true' in r.stdout

    def resource_string(self, variant, string_id):
        """String string_id of a variant's executable, as the program loads it."""
        r = self.wine.run(["%s\\box_reader.exe" % BIN_DIR, "/string",
                           self.variant_path(variant), str(string_id)], timeout=30)
        try:
            return json.loads(r.stdout.decode(errors="replace"))
        except ValueError:
            raise HarnessError("no string %d in %s" % (string_id, variant))

    def cache_entry(self, url):
        """'present ...' or 'absent', as the URL cache answers inside Wine."""
        r = self.wine.run(["%s\\cache_check.exe" % BIN_DIR, url], timeout=30)
        return r.stdout.decode(errors="replace").strip()

    def delete_cache_entry(self, url):
        r = self.wine.run(["%s\\cache_check.exe" % BIN_DIR, "/delete", url], timeout=30)
        return r.stdout.decode(errors="replace").strip()

    def package_runs(self):
        """Command lines the test package recorded, one per start."""
        path = self.wine.unix_path(PACKAGE_LOG)
        if not path or not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            text = f.read().decode("gbk", errors="replace")
        return [line for line in text.split("\r\n") if line]

    def package_window_seen(self):
        """What the test package found when it looked for a window by title."""
        path = self.wine.unix_path(PACKAGE_WINDOW_LOG)
        if not path or not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return [l for l in f.read().decode("ascii", errors="replace").split("\r\n") if l]

    def wait_for_package_start(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.package_runs():
                return True
            time.sleep(0.1)
        return False

    def release_package(self):
        with open(self.wine.unix_path(DATA_DIR) + "/release", "w") as f:
            f.write("go\n")

    def save_artifacts(self, case, extra=None, screenshot=False):
        folder = os.path.join(ARTIFACTS, re.sub(r"[^A-Za-z0-9_.-]+", "_", case))
        os.makedirs(folder, exist_ok=True)
        record = {"events": self.log.events(), "package_runs": self.package_runs(),
                  "cache_files": self.wine.cache_files()}
        record.update(extra or {})
        with open(os.path.join(folder, "record.json"), "w") as f:
            json.dump(record, f, indent=2, ensure_ascii=False, default=str)
        if screenshot and self.display:
            self.display.screenshot(os.path.join(folder, "screen.png"))
        return folder


_harness = None


def get():
    """The harness of this test run, prepared on first use."""
    global _harness
    if _harness is None:
        h = Harness()
        try:
            h.prepare()
        except BaseException:
            h.shutdown()
            raise
        _harness = h
    return _harness


def release():
    global _harness
    if _harness is not None:
        _harness.shutdown()
        _harness = None
