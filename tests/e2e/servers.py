"""Loopback HTTP servers of the end-to-end tests and the demo.

PackageServer serves the test package at /ext/common/Vexo/vexo_303.exe, or a
404 page, optionally throttled. StatsServer records every request line exactly
as it arrived and answers 200, each kind of ping after a delay of its own if
asked. Both log into one EventLog, so a test can check
the order of pings and downloads across the two servers.

Standard library only. Every server binds 127.0.0.1 and runs on a daemon
thread until stop().
"""

import http.server
import re
import socket
import socketserver
import threading
import time

PACKAGE_PATH = "/ext/common/Vexo/vexo_303.exe"


class EventLog:
    """Requests seen by the servers, in arrival order."""

    def __init__(self):
        self._lock = threading.Lock()
        self._events = []

    def add(self, source, request_line, path):
        with self._lock:
            self._events.append(
                {"seq": len(self._events), "source": source,
                 "line": request_line, "path": path, "time": time.monotonic()})

    def clear(self):
        with self._lock:
            self._events = []

    def events(self, source=None):
        with self._lock:
            return [dict(e) for e in self._events
                    if source is None or e["source"] == source]

    def wait_for(self, predicate, timeout):
        """Waits until predicate(events) holds; returns whether it did."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate(self.events()):
                return True
            time.sleep(0.05)
        return predicate(self.events())


def port_is_free(port, host="127.0.0.1"):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((host, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # Connection handling must never outlive a test by much.
    request_queue_size = 16


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    timeout = 30  # a client that stops sending is dropped

    def log_message(self, fmt, *args):  # quiet: the EventLog is the record
        pass

    def _record(self):
        line = self.raw_requestline.decode("latin-1").rstrip("\r\n")
        self.server.owner.log.add(self.server.owner.name, line, self.path)

    def _send(self, status, body, content_type="text/html", chunk=None, delay=0.0):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        try:
            if not chunk:
                self.wfile.write(body)
                return
            for i in range(0, len(body), chunk):
                self.wfile.write(body[i:i + chunk])
                self.wfile.flush()
                if i + chunk < len(body):
                    time.sleep(delay)
        except (BrokenPipeError, ConnectionResetError):
            # The client gave up (for example a cancelled download).
            pass


class _BaseServer:
    name = "server"

    def __init__(self, port, log=None):
        self.port = port
        self.log = log if log is not None else EventLog()
        self._httpd = None
        self._thread = None

    def start(self):
        if self._httpd:
            return self
        httpd = _Server(("127.0.0.1", self.port), self.handler)
        httpd.owner = self
        self._httpd = httpd
        self._thread = threading.Thread(
            target=httpd.serve_forever, kwargs={"poll_interval": 0.05},
            name=self.name, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if not self._httpd:
            return
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(timeout=5)
        self._httpd = None
        self._thread = None

    @property
    def running(self):
        return self._httpd is not None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class _PackageHandler(_Handler):
    def do_GET(self):
        self._record()
        owner = self.server.owner
        if self.path != PACKAGE_PATH or owner.mode == "404":
            self._send(404, b"<html><body><h1>404 Not Found</h1></body></html>\n")
            return
        body = owner.body()
        if owner.mode == "throttle":
            self._send(200, body, "application/octet-stream",
                       chunk=owner.chunk_bytes, delay=owner.chunk_delay)
        else:
            self._send(200, body, "application/octet-stream")

    do_HEAD = do_GET


class PackageServer(_BaseServer):
    """Serves the package file.

    mode: "serve" (the package), "404" (a not-found page for every request),
    "throttle" (the package in chunk_bytes pieces, chunk_delay seconds apart).
    pad_to: the package is padded with zero bytes to at least this size, so a
    throttled download lasts long enough to be watched.
    """

    name = "package"
    handler = _PackageHandler

    def __init__(self, port, package_file, log=None):
        super().__init__(port, log)
        self.package_file = package_file
        self.mode = "serve"
        self.pad_to = 0
        self.chunk_bytes = 64 * 1024
        self.chunk_delay = 0.05

    def body(self):
        with open(self.package_file, "rb") as f:
            data = f.read()
        if len(data) < self.pad_to:
            data += b"\0" * (self.pad_to - len(data))
        return data

    def url(self):
        return "http://127.0.0.1:%d%s" % (self.port, PACKAGE_PATH)

    def base_url(self):
        return "http://127.0.0.1:%d%s" % (self.port, PACKAGE_PATH.rsplit("/", 1)[0])


class _StatsHandler(_Handler):
    def do_GET(self):
        self._record()
        delay = self.server.owner.delay_for(self.path)
        if delay:
            time.sleep(delay)
        self._send(200, b"ok\n", "text/plain")

    do_HEAD = do_GET
    do_POST = do_GET


class StatsServer(_BaseServer):
    """Answers every request with 200 and records its request line."""

    name = "stats"
    handler = _StatsHandler

    def __init__(self, port, log=None):
        super().__init__(port, log)
        # type of ping ("start", "failed", "finished") -> seconds to wait
        # before answering it; the installer waits for the answer, so a slow
        # answer holds the run at that point for a moment a test can watch.
        self.answer_delay = {}

    def delay_for(self, path):
        m = re.search(r"[?&]type=([A-Za-z]+)", path)
        return self.answer_delay.get(m.group(1), 0) if m else 0

    def base_url(self):
        return "http://127.0.0.1:%d" % self.port
