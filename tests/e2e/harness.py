"""The end-to-end harness: prepare() builds the helpers and the installer
variants, makes the 32-bit Wine prefix, starts Xvfb and the loopback servers
(packages on VEXO_E2E_PORT, default 48081, statistics on the next port,
statistics over HTTPS on the one after, then a proxy); run()
starts an installer through the probe's launcher. Every wait is bounded.
"""

import concurrent.futures
import glob
import hashlib
import http.client
import http.server
import json
import os
import re
import shutil
import socketserver
import ssl
import struct
import subprocess
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
PORT = int(os.environ.get("VEXO_E2E_PORT", "48081"))
BUILD = os.path.join(REPO, "build", "e2e" if PORT == 48081 else "e2e-%d" % PORT)   # builds carry the port
ARTIFACTS = os.path.join(BUILD, "artifacts")
PACKAGE_DIR = "/ext/common/Vexo"
PACKAGE_PATH = PACKAGE_DIR + "/vexo_303.exe"
PACKAGE_URL = "http://127.0.0.1:%d%s" % (PORT, PACKAGE_PATH)
WIN = "C:\\vexo_e2e"             # helpers, builds, and what the package and the seam write
SYSTEM_TEMP = "C:\\windows\\temp"  # where the installer makes the package's private folder
CAPTION = "Vexo影音在线安装"     # string 103: the caption of every box and of the window
LOCALE = "zh_CN.UTF-8"           # ANSI code page 936, as on a Chinese Windows

# name: (a test build, with the seam; its cache variables)
VARIANTS = {
    "shipped": (False, {"VEXO_MODE": "/s"}),
    "silent": (True, {"VEXO_MODE": "/s"}),
    "interactive": (True, {"VEXO_MODE": "/u"}),
    "silent_package_shown": (True, {"VEXO_MODE": "/s /u"}),
    "interactive_package_silent": (True, {"VEXO_MODE": "/u /s"}),
    "upper_s_product": (True, {"VEXO_MODE": "/S", "VEXO_PRODUCT_NAME": "Vexo 播放器"}),
    "s_blank": (True, {"VEXO_MODE": "/s\\x20"}),   # "/s ": CMake strips a trailing blank
    "admin": (True, {"VEXO_MODE": "/u", "VEXO_OPTION": "admin"}),
    "verify": (True, {"VEXO_MODE": "/s", "VEXO_OPTION": "verify"}),
    # The publisher recorded when building: the build's signing key's
    # certificate (the build signs with it), or a certificate file (unsigned).
    "same": (True, {"VEXO_MODE": "/s", "VEXO_PACKAGE_SIGNER": "same", "VEXO_SIGN_PKCS12": "signer.p12"}),
    "signer_file": (True, {"VEXO_MODE": "/s", "VEXO_PACKAGE_SIGNER": "signer.pem"}),
    "digest": (True, {"VEXO_MODE": "/s"}),   # the digest of the tests' package.exe, once it is built
    "spaced": (True, {"VEXO_MODE": "/u", "VEXO_PACKAGE_BASE_URL": "http://127.0.0.1:%d%s dir" % (PORT, PACKAGE_DIR)}),
    "https": (True, {"VEXO_STATS_BASE_URL": "https://localhost:%d" % (PORT + 2)}),
    # Names only the proxy resolves: Windows sends no loopback address to a proxy.
    "proxied": (True, {"VEXO_PACKAGE_BASE_URL": "http://vexo-packages.test:%d%s" % (PORT, PACKAGE_DIR),
                       "VEXO_STATS_BASE_URL": "http://vexo-stats.test:%d" % (PORT + 1)}),
}
HELPERS = {"probe.exe": ["-lwininet", "-lgdi32", "-lcomctl32", "-lshell32", "-ladvapi32"],
           "package.exe": ["-mwindows"], "cancel_hook.dll": ["-shared", "-Wl,--kill-at"]}


class HarnessError(Exception):
    pass


def sh(cmd, timeout, cwd=None):
    r = subprocess.run(cmd, capture_output=True, stdin=subprocess.DEVNULL, timeout=timeout, cwd=cwd)
    if r.returncode:
        raise HarnessError("%s failed: %s" % (" ".join(cmd[:3]), (r.stdout + r.stderr)[-3000:].decode(errors="replace")))


# ---------------------------------------------------------------- builds

def build_tree(seams, names, out, tree=None):
    """The variants of one CMake tree (with the seam or without), each by
    reconfiguring the tree; one whose sources and configuration have not
    changed since it was built is kept. A tree of its own (the vendor's) is
    configured afresh, so no value of an earlier configuration stays."""
    fresh = ["--fresh"] if tree else []
    tree = os.path.join(BUILD, tree or ("tree_seam" if seams else "tree_plain"))
    newest = max(os.path.getmtime(p) for p in [os.path.join(REPO, "CMakeLists.txt")] + [
        p for d in ("base", "driver", "download", "stats", "ui", "trust", "resources", "cmake", "tests/seam")
        for p in glob.glob(os.path.join(REPO, d, "**"), recursive=True)])
    for name in names:
        config = {"VEXO_MODE": "/s", "VEXO_OPTION": "none", "VEXO_PRODUCT_NAME": "", "VEXO_OPERATION": "",
                  "VEXO_PACKAGE_FILE_NAME": "vexo_303.exe", "VEXO_SIGN_PKCS12": "",
                  "VEXO_PACKAGE_SIGNER": "none", "VEXO_PACKAGE_SHA256": "",
                  "VEXO_PACKAGE_BASE_URL": "http://127.0.0.1:%d%s" % (PORT, PACKAGE_DIR),
                  "VEXO_STATS_BASE_URL": "http://127.0.0.1:%d" % (PORT + 1), "VEXO_TEST_SEAMS": "ON" if seams else "OFF"}
        config.update(VARIANTS[name][1])
        for key in ("VEXO_SIGN_PKCS12", "VEXO_PACKAGE_SIGNER"):   # the signing files, made first
            if config[key].startswith("signer."):
                config[key] = os.path.join(out, config[key])
        exe, stamp = os.path.join(out, name + ".exe"), os.path.join(out, name + ".stamp")
        key = hashlib.sha1(json.dumps([config, newest], sort_keys=True).encode()).hexdigest()
        if os.path.exists(exe) and os.path.exists(stamp) and open(stamp).read() == key:
            continue
        toolchain = os.path.join(REPO, "cmake", "mingw-i686.cmake")
        sh(["cmake"] + fresh + ["-S", REPO, "-B", tree, "--toolchain", toolchain, "-DCMAKE_BUILD_TYPE=MinSizeRel"] +
           ["-D%s=%s" % kv for kv in config.items()], 300)
        sh(["cmake", "--build", tree, "--parallel", "2"], 900)
        shutil.copy(os.path.join(tree, "vexo_setup.exe"), exe)
        with open(stamp, "w") as f:
            f.write(key)


def make_signers(out):
    """Code-signing certificates A ("signer", also as PKCS#12 for the build
    that signs itself) and B ("other"), made once: builds record A."""
    for signer in ("signer", "other"):
        key, cert = os.path.join(out, signer + ".key"), os.path.join(out, signer + ".pem")
        if not os.path.exists(os.path.join(out, signer + ".p12")):
            sh(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650", "-subj",
                "/CN=Vexo e2e " + signer, "-addext", "extendedKeyUsage=codeSigning", "-keyout", key, "-out", cert], 120)
            sh(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-passout", "pass:", "-out",
                os.path.join(out, signer + ".p12")], 120)


def vendor_variant(defines):
    """A vendor's configuration (VAR=VALUE, as given to CMake) as tools/demo
    builds it: their values, with both servers on loopback (the package
    under the path of their base URL); the package's URL as composed."""
    config = {d.split("=", 1)[0].split(":")[0]: d.split("=", 1)[1] for d in defines}
    path = urllib.parse.urlsplit(config.get("VEXO_PACKAGE_BASE_URL", PACKAGE_DIR)).path.rstrip("/")
    config.update(VEXO_PACKAGE_BASE_URL="http://127.0.0.1:%d%s" % (PORT, path),
                  VEXO_STATS_BASE_URL="http://127.0.0.1:%d" % (PORT + 1))
    VARIANTS["vendor"] = (False, config)
    return "%s/%s" % (config["VEXO_PACKAGE_BASE_URL"], config.get("VEXO_PACKAGE_FILE_NAME", "vexo_303.exe"))


def sign_verify_files(out):
    """The verify build and a target signed with A, targets signed with B
    (osslsigncode), the target unsigned and altered, the package altered;
    the real installer package signed with A."""
    for signer, files in (("signer", (("verify.exe", "verify_signed.exe"), ("package.exe", "signed_a.exe"),
                                      ("nsis_package.exe", "nsis_signed.exe"))),
                          ("other", (("package.exe", "signed_b.exe"),))):
        key, cert = os.path.join(out, signer + ".key"), os.path.join(out, signer + ".pem")
        for src, dest in files:
            if os.path.exists(os.path.join(out, src)):
                if os.path.exists(os.path.join(out, dest)):
                    os.remove(os.path.join(out, dest))
                sh(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", os.path.join(out, src),
                    "-out", os.path.join(out, dest)], 120)
    shutil.copy(os.path.join(out, "package.exe"), os.path.join(out, "unsigned.exe"))
    # One byte inside the first section: a signature stays, its digest no longer matches.
    for src, dest in (("signed_a.exe", "altered.exe"), ("package.exe", "package_altered.exe")):
        data = bytearray(open(os.path.join(out, src), "rb").read())
        data[0x480] ^= 0xFF
        with open(os.path.join(out, dest), "wb") as f:
            f.write(data)


# ---------------------------------------------------------------- servers

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    timeout = 60

    def log_message(self, *args):   # the servers' log is the request lines
        pass

    def head(self, status, length, extra=()):
        self.send_response(status)
        for k, v in list(extra) + [("Content-Length", str(length)), ("Connection", "close")]:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.flush()

    def setup(self):
        owner = self.server.owner
        if owner.cert:   # HTTPS: each connection is logged; a client that refuses the certificate sends no request
            owner.note("tls", "connection")
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(owner.cert + ".pem", owner.cert + ".key")
            self.request = context.wrap_socket(self.request, server_side=True)
        super().setup()

    def do_GET(self):
        server = self.server.owner
        server.note(server.name, self.requestline)
        try:
            server.answer(self, server.release)
        except (BrokenPipeError, ConnectionResetError):
            pass   # the client gave up (a cancelled download)


class TCPServer(socketserver.ThreadingTCPServer):
    daemon_threads = allow_reuse_address = True

    def handle_error(self, request, address):   # a refused handshake, a client gone
        pass


class Server:
    """A loopback server whose mode picks its answers; all of them write
    their request lines into one ordered log.
    Package server: the package (padded with zero bytes to size); throttle:
    64 KB every 50 ms; stall: reads the request, never answers;
    stall_after_headers: headers with the length, then nothing; short_body:
    half the announced length, then closes; huge: announces 3 GiB, sends the
    package, then nothing; login: a page with status 200; empty: status 200,
    no body; dos: the package with its header naming an offset that holds no
    PE signature (a DOS program); redirect: 302 along hops distinct paths
    (moved/, moved/moved/ ...), the last serves; redirect_loop: 302 A to B
    to A.
    Statistics server: ok (a ping of type t answered after hold[t] seconds), stall,
    drip (the status line, then a byte every 2 s). proxy: passes an
    absolute-URI GET on to the loopback port it names."""

    def __init__(self, name, port, log, lock, default, package=None, cert=None):
        self.name, self.port, self.log, self.lock, self.default, self.cert = name, port, log, lock, default, cert
        self.served = package
        self.httpd, self.release = None, threading.Event()
        self.reset()

    def reset(self):
        self.release.set()   # ends every stalled answer
        self.release = threading.Event()
        self.mode, self.size, self.hold, self.hops, self.package = self.default, 0, {}, 1, self.served
        self.file_name = "vexo_303.exe"
        if not self.httpd:
            self.httpd = TCPServer(("127.0.0.1", self.port), Handler)
            self.httpd.owner = self
            threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()

    def stop(self):
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None

    def note(self, source, line):
        with self.lock:
            self.log.append((source, line, time.monotonic()))

    def answer(self, req, release):
        path, mode = urllib.parse.unquote(req.path), self.mode
        if mode == "stall":
            return release.wait(120)
        if mode == "drip":
            req.wfile.write(b"HTTP/1.0 200 OK\r\n")
            while not release.wait(2):
                req.wfile.write(b"X")
            return
        if mode == "proxy":
            url = urllib.parse.urlsplit(req.path)
            origin = http.client.HTTPConnection("127.0.0.1", url.port, timeout=60)
            origin.request("GET", url.path + "?" * bool(url.query) + url.query)
            answer = origin.getresponse()
            body = answer.read()
            return req.head(answer.status, len(body), [h for h in answer.getheaders() if h[0] not in (
                "Content-Length", "Connection")]) or req.wfile.write(body)
        if self.name == "stats":
            time.sleep(self.hold.get(re.search(r"type=(\w+)|$", path).group(1), 0))
            return req.head(200, 3) or req.wfile.write(b"ok\n")
        if not path.endswith("/" + self.file_name) or mode == "404":
            page = b"<html><body>404 Not Found</body></html>\n"
            return req.head(404, len(page), [("Content-Type", "text/html")]) or req.wfile.write(page)
        if mode in ("login", "empty"):
            page = b"<html><body>Sign in to use this network</body></html>\n" if mode == "login" else b""
            return req.head(200, len(page), [("Content-Type", "text/html")]) or req.wfile.write(page)
        hops = path.count("/moved")
        if mode.startswith("redirect") and not (mode == "redirect" and hops >= self.hops):
            target = PACKAGE_PATH if mode == "redirect_loop" and hops else PACKAGE_DIR + "/moved" * (hops + 1) + \
                "/vexo_303.exe"
            return req.head(302, 0, [("Location", "http://127.0.0.1:%d%s" % (self.port, target))])
        body = open(self.package, "rb").read()
        body = body[:0x3C] + struct.pack("<I", 0x40) + body[0x40:] if mode == "dos" else body
        body += b"\0" * (self.size - len(body))
        req.head(200, 3 << 30 if mode == "huge" else len(body), [("Content-Type", "application/octet-stream")])
        if mode == "stall_after_headers":
            return release.wait(120)
        end = len(body) // 2 if mode == "short_body" else len(body)
        step = 64 * 1024 if mode == "throttle" else end
        for i in range(0, end, step):
            req.wfile.write(body[i:min(i + step, end)])
            req.wfile.flush()
            time.sleep(0.05 if mode == "throttle" else 0)
        if mode == "huge":
            release.wait(120)


# ---------------------------------------------------------------- Wine and X

class Display:
    """An Xvfb server of our own, for Wine's virtual desktop."""

    def __init__(self):
        if not shutil.which("Xvfb"):
            raise HarnessError("Xvfb is missing (tools/setup installs it)")
        for n in range(93, 140):   # the first free display, where another run's Xvfb is not faster
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            self.name = ":%d" % n
            self.proc = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(200):
                if self.proc.poll() is None and os.path.exists("/tmp/.X11-unix/X%d" % n):
                    return
                time.sleep(0.05)
            self.proc.kill()
        raise HarnessError("Xvfb did not start")

    def screenshot(self, path):
        try:
            return subprocess.run(["import", "-display", self.name, "-window", "root", path], capture_output=True,
                                  timeout=20).returncode == 0
        except subprocess.TimeoutExpired:
            return False


class Wine:
    def __init__(self, prefix, display):
        self.prefix, self.display = prefix, display

    def start(self, args, timeout, env=None, trace=False):
        """Starts a command, its output into a file: Wine's background
        processes inherit the handles and would hold a pipe open. trace:
        Wine's trace of the processes made, into proc.err."""
        environ = {k: v for k, v in os.environ.items() if not k.startswith("VEXO_")}
        environ.update(WINEPREFIX=self.prefix, WINEARCH="win32", WINEDEBUG="-all", LC_ALL=LOCALE, LANG=LOCALE,
                       WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=self.display.name)
        environ.update(env or {}, **{"WINEDEBUG": "-all,trace+process"} if trace else {})
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile() if trace else subprocess.DEVNULL
        proc = subprocess.Popen(["timeout", "-k", "5", str(int(timeout))] + args, stdout=out,
                                stderr=err, stdin=subprocess.DEVNULL, env=environ)
        proc.out, proc.err = out, err
        return proc

    def run(self, args, timeout=60, env=None):
        proc = self.start(args, timeout, env)
        proc.wait(timeout + 15)
        return output(proc)

    def probe(self, *args):
        out = self.run(["wine", WIN + "\\probe.exe"] + list(args), 30)
        try:
            return json.loads(out.strip().splitlines()[-1])
        except (ValueError, IndexError):
            raise HarnessError("probe %s said %r" % (args[0], out[-500:]))

    def path(self, win):
        """The Unix path of C:\\... (as the tests wrote it)."""
        return os.path.join(self.prefix, "drive_c", *win[3:].split("\\"))

    def prepare(self):
        stamp = os.path.join(self.prefix, ".vexo_e2e_ready")
        if not os.path.exists(stamp):
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.makedirs(self.prefix)
            self.run(["wineboot", "-i"], 300)
            self.run(["wineserver", "-w"], 120)
            for font in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf"):
                if os.path.exists("/usr/share/wine/fonts/" + font):
                    shutil.copy("/usr/share/wine/fonts/" + font, self.path("C:\\windows\\Fonts"))
            open(stamp, "w").close()
        # Wine's virtual desktop (captions, boxes, the tray and balloons are
        # drawn), and links from the faces Wine picks for a nameless font to
        # the CJK font, which a Chinese Windows gets from its font association.
        link = "hex(7):" + ",".join("%02x" % b for b in "wqy-microhei.ttc,WenQuanYi Micro Hei\0\0".encode("utf-16-le"))
        reg = ["Windows Registry Editor Version 5.00", r"[HKEY_CURRENT_USER\Software\Wine\Explorer]",
               '"Desktop"="Default"', r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]", '"Default"="1024x768"',
               r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]"]
        reg += ['"%s"=%s' % (face, link) for face in ("Liberation Sans", "DejaVu Sans", "Arial", "Tahoma",
                                                       "Microsoft Sans Serif", "MS Sans Serif")]
        with open(self.path("C:\\vexo_e2e.reg"), "w", encoding="utf-16") as f:
            f.write("\r\n\r\n".join(reg) + "\r\n")
        self.run(["wine", "regedit", "/S", r"C:\vexo_e2e.reg"])
        # The desktop reads its settings when it starts: a new session gets
        # them. A persistent wineserver keeps every later command quick.
        for arg in ("-k", "-w", "-p"):
            self.run(["wineserver", arg], 30)
        self.set_version("win7")

    def set_version(self, version, service_pack=None):
        """The Windows version Wine reports, with another service pack."""
        self.run(["wine", "winecfg", "/v", version])
        if service_pack is not None:
            self.run(["wine", "reg", "add", r"HKLM\System\CurrentControlSet\Control\Windows", "/v", "CSDVersion",
                      "/t", "REG_DWORD", "/d", str(service_pack << 8), "/f"])
            self.run(["wine", "reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion", "/v",
                      "CSDVersion", "/d", "Service Pack %d" % service_pack, "/f"])

    def cache_files(self):
        return {os.path.join(root, f) for root, _, files in os.walk(self.path("C:\\users"))
                if "content.ie5" in root.lower() for f in files if f.lower() not in ("index.dat", "desktop.ini")}


def output(proc):
    proc.out.seek(0)
    return proc.out.read().decode(errors="replace")


def started_packages(proc):
    """The command lines of the programs started from a private folder under
    the Windows folder's Temp, as Wine's trace of a run (start(trace=True))
    writes them."""
    proc.err.seek(0)
    lines = re.findall(r'trace:process:CreateProcessInternalW app \S+ cmdline L"(.*)"',
                       proc.err.read().decode(errors="replace"))
    unescape = {"n": "\n", "r": "\r", "t": "\t"}
    lines = [re.sub(r'\\([0-9a-fA-F]{4}|.)', lambda m: chr(int(m.group(1), 16)) if len(m.group(1)) == 4 else
                    unescape.get(m.group(1), m.group(1)), line) for line in lines]
    return [line for line in lines if re.search(r"\\temp\\vexo-[0-9a-f]{32}\\", line, re.I)]


# ---------------------------------------------------------------- runs

class Run:
    """What one installer run did: exit code (None after a time-out), the
    boxes, the requests and pings since it started, the package's command
    lines, the seam's end-of-run report, wall time."""

    def __init__(self, h, proc, wall):
        self.output = output(proc)
        lines = [json.loads(l) for l in self.output.splitlines() if l.startswith("{")]
        end = lines[-1] if lines else {}
        self.status, self.timed_out, self.wall = end.get("exit"), "exit" not in end, wall
        self.boxes = [l for l in lines if "box" in l]
        self.events = h.events()[proc.log_from:]
        self.pings = [re.search(r"type=(\w+)|$", e[1]).group(1) for e in self.events if e[0] == "stats"]
        self.package_runs = h.read(WIN + "\\package.log").splitlines()[proc.package_from:]
        self.package_where = [l.split("|") for l in h.read(WIN + "\\package.where").splitlines()[proc.package_from:]]
        self.left_in_temp = sorted(set(os.listdir(h.wine.path(SYSTEM_TEMP))) - proc.system_temp)
        self.started = started_packages(proc) if proc.err != subprocess.DEVNULL else None
        self.window_at_package = h.read(WIN + "\\package.window").splitlines()[proc.package_from:]
        report = h.read(proc.report)
        self.report = dict(l.split("=", 1) for l in report.splitlines() if "=" in l) if report else None
        self.new_cache_files = sorted(h.wine.cache_files() - proc.cache_files)

    def __repr__(self):
        r = [e[1] for e in self.events]
        return "exit code %s (0x%08X) after %.1fs, boxes %s\n  requests %s\n  package %s\n  report %s\n  launcher said " \
            "%r" % (self.status, self.status or 0, self.wall, self.boxes, r[:4] + ["... %d in all" % len(r)] + r[-2:]
                    if len(r) > 8 else r, self.package_runs, self.report, self.output[-200:])


class Harness:
    def __init__(self):
        self.display = Display()
        self.wine = Wine(os.path.abspath(os.environ.get("VEXO_E2E_PREFIX") or os.path.join(BUILD, "wineprefix")),
                         self.display)
        self.log, self.lock = [], threading.Lock()
        self.package_server = self.stats_server = self.tls_server = self.proxy_server = None

    def prepare(self, variants=None):
        out = os.path.join(BUILD, "bin")
        os.makedirs(out, exist_ok=True)
        shutil.rmtree(ARTIFACTS, ignore_errors=True)   # this run's only
        names = list(variants or VARIANTS)
        make_signers(out)
        # A real installer: NSIS, its payload compressed, reading its own file as it runs.
        sh(["makensis", "-V2", "-DOUT=" + os.path.join(out, "nsis_package.exe"), os.path.join(HERE, "helpers",
                                                                                              "package.nsi")], 120)
        with concurrent.futures.ThreadPoolExecutor(3) as pool:
            jobs = [pool.submit(self.wine.prepare)] + [pool.submit(build_tree, seams, [
                n for n in names if VARIANTS[n][0] == seams and n not in ("digest", "vendor")], out)
                for seams in (0, 1)]
            if "vendor" in names:
                jobs.append(pool.submit(build_tree, False, ["vendor"], out, "tree_vendor"))
            for name, flags in HELPERS.items():
                sh(["i686-w64-mingw32-gcc", "-Os", "-s", "-Wall", "-Wextra", "-Wno-missing-field-initializers",
                    "-DUNICODE", "-o", os.path.join(out, name),
                    os.path.join(HERE, "helpers", name[:-4] + ".c")] + flags, 120)
            for job in jobs:
                job.result()
        if "digest" in names:
            VARIANTS["digest"][1]["VEXO_PACKAGE_SHA256"] = hashlib.sha256(
                open(os.path.join(out, "package.exe"), "rb").read()).hexdigest()
            build_tree(True, ["digest"], out)
        if "verify" in names:
            sign_verify_files(out)
        # HTTPS: a test CA, certificates for localhost and for another name that it signed, a self-signed one
        ca = ["-CA", "ca.pem", "-CAkey", "ca.key"]
        for name, issuer, host in (("ca", [], "localhost"), ("trusted", ca, "localhost"),
                                   ("other_host", ca, "vexo-other.test"), ("self_signed", [], "localhost")):
            if not os.path.exists(os.path.join(out, name + ".pem")):
                sh(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj", "/CN=e2e " +
                    name, "-addext", "subjectAltName=DNS:" + host, "-keyout", name + ".key", "-out", name + ".pem"] +
                   issuer, 120, out)
        shutil.rmtree(self.wine.path(WIN), ignore_errors=True)
        shutil.copytree(out, self.wine.path(WIN), ignore=shutil.ignore_patterns("*.stamp", "*.key", "*.p12"))
        self.package_server = Server("package", PORT, self.log, self.lock, "serve", os.path.join(out, "package.exe"))
        self.stats_server = Server("stats", PORT + 1, self.log, self.lock, "ok")
        self.tls_server = Server("stats", PORT + 2, self.log, self.lock, "ok", cert=os.path.join(out, "trusted"))
        self.proxy_server = Server("proxy", PORT + 3, self.log, self.lock, "proxy")
        der = subprocess.run(["openssl", "x509", "-in", os.path.join(out, "ca.pem"), "-outform", "der"],
                             capture_output=True, check=True).stdout   # the prefix trusts the test CA
        self.wine.run(["wine", "reg", "add", r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\%s"
                       % hashlib.sha1(der).hexdigest().upper(), "/v", "Blob", "/t", "REG_BINARY", "/d",
                       (struct.pack("<III", 32, 1, len(der)) + der).hex(), "/f"])

    def shutdown(self):
        for server in (self.package_server, self.stats_server, self.tls_server, self.proxy_server):
            if server:
                server.release.set()
                server.stop()
        self.wine.run(["wineserver", "-k"], 30)
        self.display.proc.terminate()
        self.display.proc.wait(10)

    def events(self, source=None):
        with self.lock:
            return [e for e in self.log if source in (None, e[0])]

    def read(self, win):
        try:
            with open(self.wine.path(win), "rb") as f:
                return f.read().decode("gbk", errors="replace")
        except OSError:
            return ""

    def reset(self, *urls):
        """Servers back to their defaults, the log and the package's files
        cleared, the cache entries of the package URL and of these removed."""
        for server in (self.package_server, self.stats_server, self.tls_server, self.proxy_server):
            server.reset()
        self.wine.probe("cache", "/delete", PACKAGE_URL, *urls)
        for name in ("package.log", "package.where", "package.window", "release"):
            if os.path.exists(self.wine.path(WIN + "\\" + name)):
                os.remove(self.wine.path(WIN + "\\" + name))
        with self.lock:
            del self.log[:]

    def start(self, variant, args="", env=None, timeout=60, flags="", exe=None, trace=False):
        """Starts a variant (or the program at that Windows path) through the
        launcher (flags: see probe.c), with the seam's and the package's
        environment; finish() collects it."""
        env = dict({"VEXO_SEAM_REPORT": WIN + "\\seam.txt", "VEXO_E2E_FIND_TITLE": CAPTION}, **(env or {}))
        if os.path.exists(self.wine.path(env["VEXO_SEAM_REPORT"])):
            os.remove(self.wine.path(env["VEXO_SEAM_REPORT"]))
        command = '"%s"%s' % (exe or "%s\\%s.exe" % (WIN, variant), " " + args if args else "")
        proc = self.wine.start(["wine", WIN + "\\probe.exe", "run", str(int(timeout * 1000)), flags or "-", command],
                               timeout + 20, env, trace)
        proc.started, proc.limit, proc.cache_files, proc.boxes_seen = time.monotonic(), timeout + 15, \
            self.wine.cache_files(), 0
        proc.log_from, proc.report = len(self.events()), env["VEXO_SEAM_REPORT"]
        proc.system_temp = set(os.listdir(self.wine.path(SYSTEM_TEMP)))
        proc.package_from = len(self.read(WIN + "\\package.log").splitlines())
        return proc

    def boxes(self, proc):
        """The boxes the launcher has reported so far."""
        return [json.loads(l) for l in output(proc).splitlines() if l.startswith('{"box"') and l.endswith("}")]

    def finish(self, proc, on_box=None):
        """Waits for the launcher (which ends the program at its time-out);
        on_box(box) is called for each box while it is shown (held with
        the launcher's flag "h")."""
        while proc.poll() is None and time.monotonic() < proc.started + proc.limit:
            for box in self.boxes(proc)[proc.boxes_seen:] if on_box else []:
                proc.boxes_seen += 1
                on_box(box)
            time.sleep(0.05)
        wall = time.monotonic() - proc.started
        if proc.poll() is None:
            proc.kill()
            proc.wait(10)
        return Run(self, proc, wall)

    def run(self, variant, on_box=None, **kw):
        return self.finish(self.start(variant, **kw), on_box)

    def cache(self, *urls):
        return self.wine.probe("cache", *urls)

    def screenshot(self, case, name):
        folder = os.path.join(ARTIFACTS, re.sub(r"[^\w.-]+", "_", case))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name + ".png")
        return path if self.display.screenshot(path) else None
