"""The end-to-end harness: builds, Wine prefix, X display, servers, runs.

prepare() builds the helpers and every installer variant, makes (or reuses)
the 32-bit Wine prefix, starts Xvfb when there is one and the two loopback
servers. run() starts an installer through the probe's launcher and returns
what happened: the full exit code, the boxes it showed (read and answered
inside Wine), the requests the servers saw, the package's command lines and
the test build's end-of-run report. Every wait is bounded.

The package server listens on VEXO_E2E_PORT (default 48081), the statistics
server on the next port; the builds are configured with both.
"""

import concurrent.futures
import glob
import hashlib
import http.server
import json
import os
import re
import shutil
import socketserver
import subprocess
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.join(REPO, "build", "e2e")
ARTIFACTS = os.path.join(BUILD, "artifacts")
CC = "i686-w64-mingw32-gcc"
PORT = int(os.environ.get("VEXO_E2E_PORT", "48081"))
PACKAGE_DIR = "/ext/common/Vexo"
PACKAGE_PATH = PACKAGE_DIR + "/vexo_303.exe"
PACKAGE_URL = "http://127.0.0.1:%d%s" % (PORT, PACKAGE_PATH)
WIN = "C:\\vexo_e2e"     # helpers, builds, and what the package and the seam write
CAPTION = "Vexo影音在线安装"   # string 103: the caption of every box, the window's title
LOCALE = "zh_CN.UTF-8"   # ANSI code page 936, as on a Chinese Windows

# name: (test build with the seam, cache variables). Built in two trees, one
# with the seam and one without; within a tree only the configuration changes.
VARIANTS = {
    "shipped": (False, {"VEXO_MODE": "/s"}),
    "silent": (True, {"VEXO_MODE": "/s"}),
    "interactive": (True, {"VEXO_MODE": "/u"}),
    "silent_package_shown": (True, {"VEXO_MODE": "/s /u"}),
    "interactive_package_silent": (True, {"VEXO_MODE": "/u /s"}),
    "upper_s_product": (True, {"VEXO_MODE": "/S", "VEXO_PRODUCT_NAME": "Vexo 播放器"}),
    "s_blank": (True, {"VEXO_MODE": "/s\\x20"}),   # "/s " (CMake strips a trailing blank)
    "admin": (True, {"VEXO_MODE": "/u", "VEXO_OPTION": "admin"}),
    "verify": (True, {"VEXO_MODE": "/s", "VEXO_OPTION": "verify"}),
    "spaced": (True, {"VEXO_MODE": "/u", "VEXO_PACKAGE_BASE_URL":
                      "http://127.0.0.1:%d%s dir" % (PORT, PACKAGE_DIR)}),
}
HELPERS = {"probe.exe": ["-lwininet", "-lgdi32", "-lcomctl32", "-lshell32", "-ladvapi32"],
           "package.exe": ["-mwindows"], "cancel_hook.dll": ["-shared", "-Wl,--kill-at"]}


class HarnessError(Exception):
    pass


def sh(cmd, timeout, **kw):
    r = subprocess.run(cmd, capture_output=True, stdin=subprocess.DEVNULL, timeout=timeout, **kw)
    if r.returncode:
        raise HarnessError("%s failed: %s" % (" ".join(cmd[:3]), (r.stdout + r.stderr)[-3000:].decode(errors="replace")))
    return r.stdout


# ---------------------------------------------------------------- builds

def build_helpers(out):
    for name, flags in HELPERS.items():
        src = os.path.join(HERE, "helpers", name.rsplit(".", 1)[0] + ".c")
        sh([CC, "-Os", "-s", "-Wall", "-Wextra", "-Wno-missing-field-initializers", "-DUNICODE",
            "-o", os.path.join(out, name), src] + flags, 120)


def build_tree(seams, names, out):
    """Builds the variants of one tree, each configured in turn; skips one
    whose sources and configuration have not changed since it was built."""
    tree = os.path.join(BUILD, "tree_" + ("seam" if seams else "plain"))
    sources = [p for d in ("base", "driver", "download", "stats", "ui", "trust", "resources", "cmake")
               for p in glob.glob(os.path.join(REPO, d, "**"), recursive=True)] + [os.path.join(REPO, "CMakeLists.txt")]
    newest = max(os.path.getmtime(p) for p in sources)
    for name in names:
        config = {"VEXO_MODE": "/s", "VEXO_OPTION": "none", "VEXO_PRODUCT_NAME": "", "VEXO_OPERATION": "",
                  "VEXO_PACKAGE_BASE_URL": "http://127.0.0.1:%d%s" % (PORT, PACKAGE_DIR),
                  "VEXO_STATS_BASE_URL": "http://127.0.0.1:%d" % (PORT + 1),
                  "VEXO_TEST_SEAMS": "ON" if seams else "OFF"}
        config.update(VARIANTS[name][1])
        exe, stamp = os.path.join(out, name + ".exe"), os.path.join(out, name + ".stamp")
        key = hashlib.sha1(json.dumps([config, newest], sort_keys=True).encode()).hexdigest()
        if os.path.exists(exe) and os.path.exists(stamp) and open(stamp).read() == key:
            continue
        sh(["cmake", "-S", REPO, "-B", tree, "--toolchain", os.path.join(REPO, "cmake", "mingw-i686.cmake"),
            "-DCMAKE_BUILD_TYPE=MinSizeRel"] + ["-D%s=%s" % kv for kv in config.items()], 300)
        sh(["cmake", "--build", tree, "--parallel", "2"], 900)
        shutil.copy(os.path.join(tree, "vexo_setup.exe"), exe)
        with open(stamp, "w") as f:
            f.write(key)


def sign_verify_files(out):
    """Certificates A and B (openssl), the verify build signed with A and
    targets signed with A, with B, not at all, and with A then altered."""
    for name in "AB":
        cnf = os.path.join(out, name + ".cnf")
        with open(cnf, "w") as f:
            f.write("[req]\ndistinguished_name=dn\nprompt=no\nx509_extensions=ext\n[dn]\nCN=Vexo e2e %s\n"
                    "[ext]\nbasicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                    "extendedKeyUsage=codeSigning\n" % name)
        sh(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30", "-config", cnf,
            "-keyout", os.path.join(out, name + ".key"), "-out", os.path.join(out, name + ".pem")], 120)

    def sign(src, dest, name):
        if os.path.exists(dest):
            os.remove(dest)
        sh(["osslsigncode", "sign", "-certs", os.path.join(out, name + ".pem"), "-key",
            os.path.join(out, name + ".key"), "-h", "sha256", "-in", src, "-out", dest], 120)
    sign(os.path.join(out, "verify.exe"), os.path.join(out, "verify_signed.exe"), "A")
    package = os.path.join(out, "package.exe")
    sign(package, os.path.join(out, "signed_a.exe"), "A")
    sign(package, os.path.join(out, "signed_b.exe"), "B")
    shutil.copy(package, os.path.join(out, "unsigned.exe"))
    data = bytearray(open(os.path.join(out, "signed_a.exe"), "rb").read())
    data[0x400 + 0x80] ^= 0xFF   # inside the first section: the digest no longer matches
    with open(os.path.join(out, "altered.exe"), "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- servers

class Log:
    """The requests both servers saw, in arrival order."""

    def __init__(self):
        self.lock, self.items = threading.Lock(), []

    def add(self, source, line):
        with self.lock:
            self.items.append((source, line, time.monotonic()))

    def get(self, source=None):
        with self.lock:
            return [e for e in self.items if source in (None, e[0])]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    timeout = 60

    def log_message(self, *args):
        pass

    def head(self, status, length=None, extra=()):
        self.send_response(status)
        for k, v in list(extra) + ([("Content-Length", str(length))] if length is not None else []):
            self.send_header(k, v)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()

    def stall(self):
        self.server.owner.release.wait(120)

    def do_GET(self):
        owner = self.server.owner
        owner.log.add(owner.name, self.requestline)
        try:
            owner.answer(self)
        except (BrokenPipeError, ConnectionResetError):
            pass   # the client gave up (a cancelled download)


class TCPServer(socketserver.ThreadingTCPServer):
    daemon_threads = allow_reuse_address = True


class Server:
    """One loopback server; mode picks its answer, reset() puts it back."""

    def __init__(self, name, port, log, default):
        self.name, self.port, self.log, self.default = name, port, log, default
        self.httpd, self.release = None, threading.Event()
        self.reset()

    def reset(self):
        self.release.set()   # ends every stalled answer
        self.release = threading.Event()
        self.mode, self.chunk, self.delay, self.size, self.hold = self.default, 64 * 1024, 0.05, 0, 0
        if not self.httpd:
            self.start()

    def start(self):
        httpd = TCPServer(("127.0.0.1", self.port), Handler)
        httpd.owner, self.httpd = self, httpd
        threading.Thread(target=httpd.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()

    def stop(self):
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None


class PackageServer(Server):
    """Modes: serve, 404, throttle (chunk bytes every delay seconds),
    stall_accept (reads the request, never answers), stall_after_headers
    (headers with a Content-Length, then nothing), short_body (announces
    the length, sends half, closes), redirect (302 to another path that
    serves the package), redirect_self (302 to itself), redirect_loop (A to
    B to A). size pads the package with zero bytes."""
    MOVED = PACKAGE_DIR + "/moved/vexo_303.exe"

    def __init__(self, port, log, package):
        self.package = package
        super().__init__("package", port, log, "serve")

    def body(self):
        data = open(self.package, "rb").read()
        return data + b"\0" * (self.size - len(data))

    def answer(self, req):
        path, mode = req.path.replace("%20", " "), self.mode
        if not path.endswith("/vexo_303.exe") or mode == "404":
            return req.head(404, 0)
        if mode == "stall_accept":
            return req.stall()
        if mode.startswith("redirect") and not (mode == "redirect" and path == self.MOVED):
            target = {"redirect_self": path, "redirect_loop": self.MOVED if path == PACKAGE_PATH else PACKAGE_PATH,
                      "redirect": self.MOVED}[mode]
            return req.head(302, 0, [("Location", "http://127.0.0.1:%d%s" % (self.port, target))])
        body = self.body()
        req.head(200, len(body), [("Content-Type", "application/octet-stream")])
        if mode == "stall_after_headers":
            return req.stall()
        if mode == "short_body":
            return req.wfile.write(body[:len(body) // 2])
        step = self.chunk if mode == "throttle" else len(body)
        for i in range(0, len(body), step):
            req.wfile.write(body[i:i + step])
            if mode == "throttle":
                req.wfile.flush()
                time.sleep(self.delay)


class StatsServer(Server):
    """Modes: ok (200 to everything), stall (reads the request, never
    answers). hold: seconds to wait before answering "finished"."""

    def __init__(self, port, log):
        super().__init__("stats", port, log, "ok")

    def answer(self, req):
        if self.mode == "stall":
            return req.stall()
        if "type=finished" in req.path:
            time.sleep(self.hold)
        req.head(200, 3)
        req.wfile.write(b"ok\n")


# ---------------------------------------------------------------- Wine and X

class Display:
    def __init__(self):
        self.proc = self.name = None
        for n in range(93, 140):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            self.proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(200):
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    self.name = ":%d" % n
                    return
                time.sleep(0.05)
            self.proc.kill()
        raise HarnessError("Xvfb did not start")

    def screenshot(self, path):
        try:
            return subprocess.run(["import", "-display", self.name, "-window", "root", path],
                                  capture_output=True, timeout=20).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Wine:
    def __init__(self, prefix, display):
        self.prefix, self.display = prefix, display

    def env(self, extra=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith("VEXO_")}
        env.update(WINEPREFIX=self.prefix, WINEARCH="win32", WINEDEBUG="-all", LC_ALL=LOCALE, LANG=LOCALE,
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        env.pop("DISPLAY", None)
        if self.display:
            env["DISPLAY"] = self.display.name
        env.update(extra or {})
        return env

    def start(self, args, timeout, env=None):
        """Starts a command; output goes to a file, never a pipe, since Wine's
        background processes inherit the handles and would hold a pipe open."""
        out = tempfile.TemporaryFile()
        proc = subprocess.Popen(["timeout", "-k", "5", str(int(timeout))] + args, stdout=out,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, env=self.env(env))
        proc.out = out
        return proc

    def run(self, args, timeout=60, env=None):
        proc = self.start(args, timeout, env)
        proc.wait(timeout + 15)
        proc.out.seek(0)
        return proc.out.read().decode(errors="replace")

    def probe(self, *args, timeout=30, env=None):
        out = self.run(["wine", WIN + "\\probe.exe"] + list(args), timeout, env)
        try:
            return json.loads(out.strip().splitlines()[-1])
        except (ValueError, IndexError):
            raise HarnessError("probe %s said %r" % (args[0], out[-500:]))

    def path(self, win):
        """The Unix path of C:\\... (case as written: the tests make these)."""
        return os.path.join(self.prefix, "drive_c", *win[3:].split("\\"))

    def prepare(self):
        stamp = os.path.join(self.prefix, ".vexo_e2e_ready")
        if not os.path.exists(stamp):
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.makedirs(self.prefix)
            self.run(["wineboot", "-i"], 300)
            self.run(["wineserver", "-w"], 120)
            fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
            for font in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf"):
                if os.path.exists("/usr/share/wine/fonts/" + font):
                    shutil.copy("/usr/share/wine/fonts/" + font, fonts)
            open(stamp, "w").close()
        # The virtual desktop (so captions, boxes, the tray and balloons are
        # drawn), and links from the faces Wine picks for a nameless font to
        # the CJK font, which a Chinese Windows gets from its font association.
        cjk = ("wqy-microhei.ttc,WenQuanYi Micro Hei\0\0").encode("utf-16-le")
        link = "hex(7):" + ",".join("%02x" % b for b in cjk)
        reg = ["Windows Registry Editor Version 5.00", "", r"[HKEY_CURRENT_USER\Software\Wine\Explorer]",
               '"Desktop"="Default"', "", r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]",
               '"Default"="1024x768"', "",
               r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]"]
        reg += ['"%s"=%s' % (face, link) for face in ("Liberation Sans", "DejaVu Sans", "Arial", "Tahoma",
                                                       "Microsoft Sans Serif", "MS Sans Serif")]
        with open(os.path.join(self.prefix, "drive_c", "vexo_e2e.reg"), "w", encoding="utf-16") as f:
            f.write("\r\n".join(reg) + "\r\n")
        self.run(["wine", "regedit", "/S", r"C:\vexo_e2e.reg"], 60)
        # The desktop reads its settings when it starts: a new session gets
        # them. A persistent wineserver keeps every later command quick.
        self.run(["wineserver", "-k"], 30)
        self.run(["wineserver", "-w"], 30)
        self.run(["wineserver", "-p"], 30)
        self.set_version("win7")

    def set_version(self, version, service_pack=None):
        """The Windows version Wine reports; service_pack overrides its number."""
        self.run(["wine", "winecfg", "/v", version], 60)
        if service_pack is not None:
            key = r"HKLM\System\CurrentControlSet\Control\Windows"
            self.run(["wine", "reg", "add", key, "/v", "CSDVersion", "/t", "REG_DWORD", "/d",
                      str(service_pack << 8), "/f"], 60)
            self.run(["wine", "reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion", "/v",
                      "CSDVersion", "/d", "Service Pack %d" % service_pack, "/f"], 60)

    def cache_files(self):
        found = []
        for root, dirs, files in os.walk(os.path.join(self.prefix, "drive_c", "users")):
            if "content.ie5" in root.lower():
                found += [os.path.join(root, f) for f in files if f.lower() not in ("index.dat", "desktop.ini")]
        return set(found)


# ---------------------------------------------------------------- the harness

class Run:
    """What one installer run did."""

    def __init__(self, h, proc, out, wall):
        lines = [json.loads(l) for l in out.splitlines() if l.startswith("{")]
        end = lines[-1] if lines else {}
        self.status = end.get("exit")
        self.timed_out = bool(end.get("timeout")) or not end
        self.boxes = [l for l in lines if "box" in l]
        self.wall = wall
        self.events = h.log.get()[proc.log_from:]
        self.pings = [re.search(r"type=(\w+)", e[1]).group(1) if "type=" in e[1] else e[1]
                      for e in self.events if e[0] == "stats"]
        self.package_runs = h.read(WIN + "\\package.log").splitlines()[proc.package_from:]
        self.window_at_package = h.read(WIN + "\\package.window").splitlines()[proc.package_from:]
        report = h.read(proc.report)
        self.report = dict(l.split("=", 1) for l in report.splitlines() if "=" in l) if report else None
        self.new_cache_files = sorted(h.wine.cache_files() - proc.cache_files)
        self.output = out

    def __repr__(self):
        requests = [e[1] for e in self.events]
        if len(requests) > 8:
            requests = requests[:4] + ["... %d more ..." % (len(requests) - 6)] + requests[-2:]
        return "status=%s timed_out=%s wall=%.1fs boxes=%s\n  requests=%s\n  package=%s\n  report=%s%s" % (
            self.status, self.timed_out, self.wall, self.boxes, requests, self.package_runs, self.report,
            "" if self.status is not None else "\n  launcher said: %r" % self.output[-300:])


class Harness:
    def __init__(self):
        if not shutil.which("Xvfb"):
            raise HarnessError("Xvfb is missing (tools/setup installs it)")
        self.display = Display()
        self.wine = Wine(os.path.abspath(os.environ.get("VEXO_E2E_PREFIX") or os.path.join(BUILD, "wineprefix")),
                         self.display)
        self.log = Log()
        self.package_server = self.stats_server = None
        self.timings = {}

    def prepare(self, variants=None):
        out = os.path.join(BUILD, "bin")
        os.makedirs(out, exist_ok=True)
        os.makedirs(ARTIFACTS, exist_ok=True)
        names = list(variants or VARIANTS)
        start = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(3) as pool:
            jobs = [pool.submit(self.wine.prepare),
                    pool.submit(build_tree, False, [n for n in names if not VARIANTS[n][0]], out),
                    pool.submit(build_tree, True, [n for n in names if VARIANTS[n][0]], out)]
            build_helpers(out)
            for job in jobs:
                job.result()
        if "verify" in names:
            sign_verify_files(out)
        self.timings["builds and prefix"] = time.monotonic() - start
        bin_dir = self.wine.path(WIN)
        shutil.rmtree(bin_dir, ignore_errors=True)
        shutil.copytree(out, bin_dir, ignore=shutil.ignore_patterns("*.stamp", "*.key", "*.pem", "*.cnf"))
        self.package_server = PackageServer(PORT, self.log, os.path.join(out, "package.exe"))
        self.stats_server = StatsServer(PORT + 1, self.log)

    def shutdown(self):
        for s in (self.package_server, self.stats_server):
            if s:
                s.release.set()
                s.stop()
        self.wine.run(["wineserver", "-k"], 30)
        if self.display:
            self.display.stop()

    def read(self, win):
        try:
            with open(self.wine.path(win), "rb") as f:
                return f.read().decode("gbk", errors="replace")
        except OSError:
            return ""

    def reset(self, *urls):
        """Servers back to their default, logs and the package's files cleared,
        any cache entry of these URLs (and the package URL) removed."""
        self.package_server.reset()
        self.stats_server.reset()
        self.wine.probe("cache", "/delete", PACKAGE_URL, *urls)
        for name in ("package.log", "package.window", "seam.txt", "release"):
            if os.path.exists(self.wine.path(WIN + "\\" + name)):
                os.remove(self.wine.path(WIN + "\\" + name))
        with self.log.lock:
            self.log.items = []

    def start(self, variant, args="", env=None, timeout=60, flags="", exe=None):
        """Starts a variant (or the exe at that Windows path) through the
        launcher; finish() collects it. env: the seam's and the package's."""
        exe = exe or "%s\\%s.exe" % (WIN, variant)
        env = dict({"VEXO_SEAM_REPORT": WIN + "\\seam.txt", "VEXO_E2E_FIND_TITLE": CAPTION}, **(env or {}))
        cmd = '"%s"%s' % (exe, " " + args if args else "")
        proc = self.wine.start(["wine", WIN + "\\probe.exe", "run", str(int(timeout * 1000)), flags or "-", cmd],
                               timeout + 20, env)
        proc.started, proc.cache_files, proc.boxes_seen = time.monotonic(), self.wine.cache_files(), 0
        proc.log_from, proc.report = len(self.log.get()), env["VEXO_SEAM_REPORT"]
        proc.package_from = len(self.read(WIN + "\\package.log").splitlines())
        if os.path.exists(self.wine.path(proc.report)):
            os.remove(self.wine.path(proc.report))
        return proc

    def output(self, proc):
        proc.out.seek(0)
        return proc.out.read().decode(errors="replace")

    def boxes(self, proc):
        """The boxes the launcher has reported so far."""
        found = []
        for line in self.output(proc).splitlines():
            try:
                found += [json.loads(line)] if line.startswith('{"box"') else []
            except ValueError:
                pass   # a line still being written
        return found

    def finish(self, proc, timeout=90, on_box=None):
        """Waits for the launcher (bounded); on_box(box) is called for each
        box while it is shown (hold it with the launcher's flag "h")."""
        deadline = time.monotonic() + timeout
        while proc.poll() is None and time.monotonic() < deadline:
            for box in self.boxes(proc)[proc.boxes_seen:] if on_box else []:
                proc.boxes_seen += 1
                on_box(box)
            time.sleep(0.05)
        wall = time.monotonic() - proc.started
        if proc.poll() is None:
            proc.kill()
            proc.wait(10)
        return Run(self, proc, self.output(proc), wall)

    def run(self, variant, on_box=None, **kw):
        return self.finish(self.start(variant, **kw), on_box=on_box)

    def cache(self, *urls):
        return self.wine.probe("cache", *urls)

    def screenshot(self, case, name):
        if not self.display:
            return None
        folder = os.path.join(ARTIFACTS, re.sub(r"[^\w.-]+", "_", case))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name + ".png")
        return path if self.display.screenshot(path) else None
