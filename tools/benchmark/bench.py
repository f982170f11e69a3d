#!/usr/bin/env python3
"""How long the installer takes next to a bare downloader, under Wine.

    tools/bench [--runs N] [--no-interactive] [--chart PNG] [--baseline DIR]...
    tools/bench --cache-entries 0,5000,20000 [--runs N] [--baseline DIR]...

Builds, in this run, the silent installer ("/s"), the interactive one ("/u"),
a bare downloader (bare_download.c: URLDownloadToCacheFileA, the package
started as "<file>" /norestart /S and waited for, DeleteUrlCacheEntryA),
which also runs as the reference that sends the installer's two pings, a
trivial program (trivial.c, returns 0), the trivial program with the
installer's imports and manifest, with and without the window's libraries
(imports.c), and steps.c, which makes the installer's calls one by one and
times each. They run under one Wine prefix of the benchmark's own
(build/bench/wineprefix, 32-bit, zh_CN.UTF-8, WINEDEBUG=-all, a persistent
wineserver, on an Xvfb display of its own with Wine's virtual desktop)
against a package server and a statistics server on free 127.0.0.1 ports,
both in this process. The package is trivial.exe padded to 1 MB and to
64 MB. Without Xvfb the interactive build is left out.

After one untimed warm-up round come N interleaved rounds (default 7): in
each, every program once per package size (the helpers with the 1 MB one
only), in an order that rotates from round to round. Each run is timed from
the start of `wine` to its end; the servers note when each request arrives
and when the client, having read the whole package, closes the connection.
Printed (and written to build/bench/results.md): medians with min and max,
the ratios silent installer / bare downloader with the pings (the one to
keep at or below 1.00), silent / bare downloader and interactive / silent,
the time from start to the first package request against the trivial
program's whole run, the phases of each run and steps.c's times. Absolute
times are noisy on a shared machine; the ratios of programs measured side
by side are what counts. Every subprocess runs under a time-out.

--cache-entries runs a series instead: for each N (ascending), fill_cache.c
first leaves exactly N ordinary entries of its own in the prefix's URL cache
(counted by walking the cache, outside the timed runs), then come N's rounds
of the silent installer and the bare downloader with pings, 1 MB package
only. At the end the fill's entries are removed again. --baseline DIR adds
the silent installer built from another source tree (a git worktree of an
earlier commit, say) to either kind of run.
"""
import argparse
import http.server
import os
import select
import shutil
import socket
import statistics
import subprocess
import sys
import textwrap
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
OUT = os.path.join(REPO, 'build', 'bench')
CC = 'i686-w64-mingw32-gcc'
PACKAGE_PATH = '/ext/common/Vexo/vexo_303.exe'  # base URL (string 126) + file name (string 127)
SIZES = (('1 MB', 1 << 20), ('64 MB', 64 << 20))
WIN_DIR = 'C:\\bench'
RUN_TIMEOUT = 180
INSTALLER_LIBS = ['-lgdiplus', '-lcomctl32', '-lshell32', '-lole32', '-lurlmon', '-lwininet', '-lnetapi32']
# The installer's query up to the machine identifier, which the reference
# probes itself; the operating system's name as the installer gives Wine's.
PING_QUERY = "/?method='fetchlet'&platform=pc&os=Win7&macid="
COLOURS = {'silent installer': '#3b4fd8', 'bare downloader': '#888888', 'bare downloader with pings': '#555555',
           'interactive installer': '#c2185b', 'trivial program': '#cccccc'}
STEPS_FILE = WIN_DIR + '\\steps.txt'
FILL_FILE = WIN_DIR + '\\fill.txt'
REFERENCE = 'bare downloader with pings'


class BenchError(Exception):
    pass


def run(cmd, timeout, **kw):
    """Runs cmd to its end under a time-out; raises BenchError when it fails."""
    try:
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout, **kw)
    except subprocess.TimeoutExpired:
        raise BenchError('%s: no end after %d s' % (' '.join(cmd), timeout))
    if r.returncode != 0:
        raise BenchError('%s failed (%d):\n%s' % (' '.join(cmd), r.returncode,
                                                  (r.stdout + r.stderr).decode(errors='replace')[-3000:]))
    return r.stdout.decode(errors='replace')


# ---------------------------------------------------------------- servers

class Servers:
    """The package server and the statistics server, on free loopback ports.
    events holds (monotonic time, 'package' or 'stats', 'request' or 'sent'),
    'sent' once the client has read the whole package and closed."""

    def __init__(self):
        self.events = []
        self.lock = threading.Lock()
        self.package_file = None
        self.package = self._server('package')
        self.stats = self._server('stats')

    def note(self, who, what):
        with self.lock:
            self.events.append((time.monotonic(), who, what))

    def _server(self, who):
        servers = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = 'HTTP/1.0'

            def log_message(self, *args):
                pass

            def do_GET(self):
                servers.note(who, 'request')
                if who == 'stats':
                    self._answer(b'ok', 'text/plain')
                elif self.path == PACKAGE_PATH and servers.package_file:
                    with open(servers.package_file, 'rb') as f:
                        size = os.fstat(f.fileno()).st_size
                        self._head(200, size, 'application/octet-stream')
                        self.connection.sendfile(f)
                    # The download has ended when the client, having read it
                    # all, closes its side (sendfile only fills the socket buffer).
                    self.connection.shutdown(socket.SHUT_WR)
                    self.connection.settimeout(RUN_TIMEOUT)
                    try:
                        while self.connection.recv(65536):
                            pass
                    except OSError:
                        pass
                    servers.note(who, 'sent')
                else:
                    self._answer(b'not found', 'text/plain', 404)

            def _head(self, status, length, kind):
                self.send_response(status)
                self.send_header('Content-Type', kind)
                self.send_header('Content-Length', str(length))
                self.send_header('Connection', 'close')
                self.end_headers()

            def _answer(self, body, kind, status=200):
                self._head(status, len(body), kind)
                self.wfile.write(body)

        server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        return server

    def port(self, server):
        return server.server_address[1]

    def close(self):
        for s in (self.package, self.stats):
            s.shutdown()
            s.server_close()


# ---------------------------------------------------------------- builds

def build_installer(name, mode, servers, source=REPO):
    bdir = os.path.join(OUT, name)
    run(['cmake', '-S', source, '-B', bdir, '--toolchain', os.path.join(REPO, 'cmake', 'mingw-i686.cmake'),
         '-DCMAKE_BUILD_TYPE=MinSizeRel', '-DVEXO_MODE=' + mode, '-DVEXO_OPTION=none',
         '-DVEXO_PRODUCT_NAME=', '-DVEXO_OPERATION=',
         '-DVEXO_PACKAGE_BASE_URL=http://127.0.0.1:%d/ext/common/Vexo' % servers.port(servers.package),
         '-DVEXO_STATS_BASE_URL=http://127.0.0.1:%d' % servers.port(servers.stats)], 300)
    run(['cmake', '--build', bdir, '--parallel', '2'], 900)
    return os.path.join(bdir, 'vexo_setup.exe')


def build_helper(name, libs=(), manifest=False, source=None, flags=()):
    exe = os.path.join(OUT, name + '.exe')
    extra = []
    if manifest:  # the installer's manifest, as resource 1 of type 24
        rc = os.path.join(OUT, name + '.rc')
        with open(rc, 'w') as f:
            f.write('1 24 "%s"\n' % os.path.join(REPO, 'resources', 'vexo_setup.manifest'))
        extra = [rc[:-3] + '.res.o']
        run([CC.replace('gcc', 'windres'), rc, '-O', 'coff', '-o', extra[0]], 120)
    run([CC, '-Os', '-s', '-Wall', '-Wextra', '-mwindows'] + list(flags) +
        ['-o', exe, os.path.join(HERE, (source or name) + '.c')] + extra + list(libs), 120)
    return exe


def padded_package(trivial, label, size):
    path = os.path.join(OUT, 'package_%s.exe' % label.replace(' ', ''))
    with open(trivial, 'rb') as f:
        data = f.read()
    if not os.path.exists(path) or os.path.getsize(path) != size:
        with open(path, 'wb') as f:
            f.write(data)
            f.truncate(size)  # zeros after the image: Windows loads only the sections
    return path


# ---------------------------------------------------------------- display and Wine

def start_xvfb():
    """An Xvfb on a display number it picks itself; (process, ':N') or (None, None)."""
    if not shutil.which('Xvfb'):
        return None, None
    r, w = os.pipe()
    proc = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-screen', '0', '1024x768x24', '-nolisten', 'tcp'],
                            pass_fds=(w,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(w)
    number = b''
    deadline = time.monotonic() + 20
    while not number.endswith(b'\n') and time.monotonic() < deadline:
        if select.select([r], [], [], 0.5)[0]:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
    os.close(r)
    if not number.strip():
        proc.kill()
        proc.wait(10)
        return None, None
    return proc, ':' + number.decode().strip()


class Wine:
    def __init__(self, display):
        self.prefix = os.path.join(OUT, 'wineprefix')
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH='win32', WINEDEBUG='-all',
                        WINEDLLOVERRIDES='mscoree,mshtml=', LC_ALL='zh_CN.UTF-8', LANG='zh_CN.UTF-8')
        self.env.pop('DISPLAY', None)
        if display:
            self.env['DISPLAY'] = display

    def tool(self, args, timeout):
        """Runs args to its end; its exit code. Output goes to /dev/null, never
        a pipe: Wine's background processes keep inherited handles open long
        after the command has ended. The wait blocks and a timer kills the
        command on time-out (a wait with a time-out polls, up to 50 ms late)."""
        proc = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        timer = threading.Timer(timeout, proc.kill)
        timer.start()
        try:
            code = proc.wait()
        finally:
            timer.cancel()
        if code == -9:
            raise BenchError('%s: no end after %d s' % (' '.join(args), timeout))
        return code

    def prepare(self, files):
        stamp = os.path.join(self.prefix, '.bench_ready')
        if not os.path.exists(stamp):
            shutil.rmtree(self.prefix, ignore_errors=True)
            if self.tool(['wineboot', '-i'], 300) != 0:
                raise BenchError('wineboot -i failed')
            open(stamp, 'w').close()
        # With a display, windows go to Wine's virtual desktop, which has a
        # notification area: on a bare X server with no window manager, Wine
        # waits 2 s for each window to be withdrawn and 2 s for each balloon.
        # Set before the restart below, which ends the desktop process.
        key = 'HKCU\\Software\\Wine\\Explorer'
        settings = [(key, 'Desktop', 'Default'), (key + '\\Desktops', 'Default', '1024x768')]
        for path, name, value in settings:
            if 'DISPLAY' in self.env:
                self.tool(['wine', 'reg', 'add', path, '/v', name, '/d', value, '/f'], 60)
            else:
                self.tool(['wine', 'reg', 'delete', path, '/v', name, '/f'], 60)
        self.tool(['wineserver', '-k'], 60)
        self.tool(['wineserver', '-p'], 60)  # stays up between runs: Wine starts warm
        target = os.path.join(self.prefix, 'drive_c', 'bench')
        os.makedirs(target, exist_ok=True)
        placed = {}
        for name, src in files.items():
            shutil.copy(src, os.path.join(target, name))
            placed[name] = WIN_DIR + '\\' + name
        return placed

    def unix_path(self, win_path):
        return os.path.join(self.prefix, 'drive_c', *win_path[3:].split('\\'))

    def stop(self):
        self.tool(['wineserver', '-k'], 60)


# ---------------------------------------------------------------- measuring

class Run:
    def __init__(self, total, code, events):
        self.total = total
        self.code = code
        self.events = events  # (seconds since start, who, what)

    def first(self, who, what, last=False):
        times = [t for t, w, x in self.events if w == who and x == what]
        return (times[-1] if last else times[0]) if times else None


def timed(wine, servers, args):
    with servers.lock:
        before = len(servers.events)
    start = time.monotonic()
    code = wine.tool(['wine'] + args, RUN_TIMEOUT)
    end = time.monotonic()
    with servers.lock:
        events = [(t - start, w, x) for t, w, x in servers.events[before:]]
    return Run(end - start, code, events)


def check(name, label, r, downloads):
    if r.code != 0:
        raise BenchError('%s (%s): exit code %d' % (name, label, r.code))
    got = sum(1 for _, w, x in r.events if w == 'package' and x == 'request')
    if got != downloads:
        raise BenchError('%s (%s): %d package requests, expected %d' % (name, label, got, downloads))


def measure(wine, servers, programs, packages, extras, rounds):
    """results[(name, size label)] = [Run]. The extras (name, args, downloads)
    run with the first package only and are kept under (name, None)."""
    results = {}
    for rnd in range(rounds + 1):  # round 0 warms up and is dropped
        for i, (label, path) in enumerate(packages):
            servers.package_file = path
            jobs = [(name, args, 1, label) for name, args in programs]
            if i == 0:
                jobs += [(name, args, downloads, None) for name, args, downloads in extras]
            shift = rnd % len(jobs)
            for name, args, downloads, key in jobs[shift:] + jobs[:shift]:
                r = timed(wine, servers, args)
                check(name, label, r, downloads)
                if name == 'steps':
                    with open(wine.unix_path(STEPS_FILE)) as f:
                        r.steps = [(k, float(v)) for k, v in (line.split() for line in f)]
                if rnd:
                    results.setdefault((name, key), []).append(r)
        if rnd:
            print('  round %d of %d done' % (rnd, rounds), flush=True)
    return results


# ---------------------------------------------------------------- report

def med(values):
    return statistics.median(values) if values else float('nan')


def ms(seconds):
    return '%.0f' % (seconds * 1000)


def spread(values):
    return '%s (%s..%s)' % (ms(med(values)), ms(min(values)), ms(max(values)))


def phases(runs, installer):
    """Median phases in ms: start->start ping->package request->sent->finished ping->exit."""
    def gaps(r):
        t_req = r.first('package', 'request')
        t_sent = r.first('package', 'sent')
        if installer:
            t_ping1 = r.first('stats', 'request')
            t_ping2 = r.first('stats', 'request', last=True)
            return [t_ping1, t_req - t_ping1, t_sent - t_req, t_ping2 - t_sent, r.total - t_ping2]
        return [None, t_req, t_sent - t_req, None, r.total - t_sent]
    cols = list(zip(*[gaps(r) for r in runs]))
    return ['-' if c[0] is None else ms(med(c)) for c in cols]


def ratio_text(results, a, b, label, stretch=lambda r: r.total):
    x = [stretch(r) for r in results[(a, label)]]
    y = [stretch(r) for r in results[(b, label)]]
    paired = [p / q for p, q in zip(x, y)]
    return '%.3f (paired %.3f, %.3f..%.3f)' % (med(x) / med(y), med(paired), min(paired), max(paired))


def phase_rows(name, label, results):
    return '| %s | %s | ' % (name, label) + ' | '.join(phases(results, name != 'bare downloader')) + ' |'


PHASES_HEAD = ['Phases, median ms: start to the "start" ping, to the package request, download '
               '(request to the client closing the connection), to the "finished" ping, to the end', '',
               '| program | package | to start ping | to request | download | to finished ping | to end |',
               '| --- | --- | --- | --- | --- | --- | --- |']


def cache_report(series, names, machine, rounds):
    """The series of --cache-entries: [(N, all entries, results)]."""
    label = SIZES[0][0]
    head = '| entries in the URL cache (all) | '
    others = [n for n in names if n != REFERENCE]
    lines = [machine, '', 'Wall time per run, ms: median (min..max) of %d interleaved runs, %s package, by the '
             'entries of ordinary browsing in the URL cache (and all its entries)' % (rounds, label), '',
             head + ' | '.join(names) + ' |', '| --- |' + ' --- |' * len(names)]
    for n, total, results in series:
        lines.append('| %d (%d) | ' % (n, total) + ' | '.join(
            spread([r.total for r in results[(name, label)]]) for name in names) + ' |')
    lines += ['', 'Ratios to the %s: of the medians (and of the runs of the same round: median, min..max)'
              % REFERENCE, '', head + ' | '.join(others) + ' |', '| --- |' + ' --- |' * len(others)]
    for n, total, results in series:
        lines.append('| %d (%d) | ' % (n, total) + ' | '.join(
            ratio_text(results, name, REFERENCE, label) for name in others) + ' |')
    lines += [''] + PHASES_HEAD
    for name in names:
        lines += [phase_rows(name, '%d entries' % n, results[(name, label)]) for n, _, results in series]
    return '\n'.join(lines) + '\n'


def report(results, labels, names, machine, rounds):
    lines = [machine, '']
    lines += ['Wall time per run, ms: median (min..max) of %d interleaved runs' % rounds, '',
              '| program | ' + ' | '.join(labels) + ' |', '| --- |' + ' --- |' * len(labels)]
    for name in names:
        lines.append('| %s | ' % name + ' | '.join(spread([r.total for r in results[(name, l)]])
                                                  for l in labels) + ' |')
    trivial = [r.total for r in results[('trivial program', None)]]
    for name in ('trivial program', "trivial program with the installer's imports",
                 "the same without the window's libraries"):
        lines.append('| %s (no download) | %s |' % (name, spread([r.total for r in results[(name, None)]]))
                     + ' |' * (len(labels) - 1))

    def ratio(*args):
        return ratio_text(results, *args)

    lines += ['', 'Ratios of the medians (and of the runs of the same round: median, min..max)', '',
              '| ratio | ' + ' | '.join(labels) + ' |', '| --- |' + ' --- |' * len(labels)]
    pairs = [(n, REFERENCE) for n in names if n.startswith('silent installer')] + [('silent installer', 'bare downloader')]
    if 'interactive installer' in names:
        pairs.append(('interactive installer', 'silent installer'))
    for a, b in pairs:
        lines.append('| %s / %s | ' % (a, b) + ' | '.join(ratio(a, b, l) for l in labels) + ' |')
    if 'interactive installer' in names:
        # What the window costs while the package arrives (the callback, the
        # bar, the pumps), its start-up left out.
        after_request = lambda r: r.total - r.first('package', 'request')
        lines.append('| the same, from the package request to the end | ' + ' | '.join(
            ratio('interactive installer', 'silent installer', l, after_request) for l in labels) + ' |')

    lines += ['', 'Start to the first package request, ms: median (min..max); the trivial program\'s whole '
              'run is %s' % spread(trivial), '',
              '| program | ' + ' | '.join(labels) + ' |', '| --- |' + ' --- |' * len(labels)]
    for name in names:
        lines.append('| %s | ' % name + ' | '.join(
            spread([r.first('package', 'request') for r in results[(name, l)]]) for l in labels) + ' |')

    lines += [''] + PHASES_HEAD
    for name in names:
        lines += [phase_rows(name, l, results[(name, l)]) for l in labels]
    steps = results[('steps', None)]
    lines += ['', 'Where the time goes: steps.exe makes the installer\'s calls one by one, each timed inside '
              'the process (%s package, median ms of %d runs; every library is loaded on the spot, in this order, '
              'so one that another one loads shows as free)' % (labels[0], len(steps)), '',
              '| step | ms |', '| --- | --- |']
    for k, (name, _) in enumerate(steps[0].steps):
        lines.append('| %s | %.1f |' % (name, med([r.steps[k][1] for r in steps])))
    lines.append('| whole run, from the start of `wine` | %s |' % ms(med([r.total for r in steps])))
    return '\n'.join(lines) + '\n'


def chart(results, labels, names, path):
    try:
        import matplotlib
        matplotlib.use('Agg')
        import matplotlib.pyplot as plt
    except ImportError:
        print('no chart: python3-matplotlib is not installed')
        return
    fig, axes = plt.subplots(1, len(labels), figsize=(5 * len(labels), 3.8))
    for ax, label in zip(axes, labels):
        rows = [(n, [r.total for r in results[(n, label)]]) for n in names]
        rows.append(('trivial program', [r.total for r in results[('trivial program', None)]]))
        meds = [med(v) for _, v in rows]
        err = [[m - min(v) for m, (_, v) in zip(meds, rows)], [max(v) - m for m, (_, v) in zip(meds, rows)]]
        ax.bar(range(len(rows)), meds, yerr=err, capsize=4, color=[COLOURS.get(n, '#8e9ce8') for n, _ in rows])
        for x, (_, v) in enumerate(rows):
            ax.plot([x + 0.3] * len(v), v, 'k.', markersize=3, alpha=0.4)  # every run
        ax.set_xticks(range(len(rows)))
        ax.set_xticklabels([textwrap.fill(n, 11) for n, _ in rows], fontsize=8)
        ax.set_title('%s package' % label)
        ax.set_ylabel('seconds (median, min..max)')
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    print('chart: %s' % os.path.relpath(path, REPO))


def machine_text(rounds):
    cpu = '?'
    with open('/proc/cpuinfo') as f:
        for line in f:
            if line.startswith('model name'):
                cpu = line.split(':', 1)[1].strip()
                break
    wine = run(['wine', '--version'], 60).strip()
    commit = run(['git', '-C', REPO, 'rev-parse', '--short', 'HEAD'], 30).strip()
    dirty = run(['git', '-C', REPO, 'status', '--porcelain', '--untracked-files=no'], 30).strip()
    load = ' '.join(open('/proc/loadavg').read().split()[:3])
    return ('Commit %s%s; %d CPUs (%s); %s; load average at the start %s; %d rounds + 1 warm-up'
            % (commit, ' (with local changes)' if dirty else '', os.cpu_count(), cpu, wine, load, rounds))


def fill_cache(wine, exe, n):
    """Leaves exactly n entries of the fill's own in the URL cache (see
    fill_cache.c); (all entries, the fill's entries found before)."""
    if wine.tool(['wine', exe, str(n), FILL_FILE], 1800) != 0:
        raise BenchError('fill_cache.exe %d failed' % n)
    with open(wine.unix_path(FILL_FILE)) as f:
        _, own_before, total, own = map(int, f.read().split())
    if own != n:
        raise BenchError('fill_cache.exe %d left %d entries of its own' % (n, own))
    return total, own_before


def cache_series(wine, servers, programs, package, counts, rounds, exe):
    series = []
    try:
        for n in counts:
            total, before = fill_cache(wine, exe, n)
            print('  URL cache: %d entries, %d of them ordinary (%d found of the fill)' % (total, n, before),
                  flush=True)
            if series and before < series[-1][0]:
                raise BenchError('the runs removed entries of the fill: %d found, %d left' % (before, series[-1][0]))
            series.append((n, total, measure(wine, servers, programs, [package], [], rounds)))
    finally:
        fill_cache(wine, exe, 0)
    return series


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--runs', type=int, default=7, help='timed rounds (default 7)')
    ap.add_argument('--no-interactive', action='store_true', help='leave out the interactive build')
    ap.add_argument('--chart', default=os.path.join(OUT, 'bench.png'), help='PNG of the medians')
    ap.add_argument('--cache-entries', metavar='N,N,...',
                    help='only the series of the silent installer against the reference with N entries in the URL cache')
    ap.add_argument('--baseline', metavar='DIR', action='append', default=[],
                    help='also the silent installer built from the source tree DIR (repeatable)')
    args = ap.parse_args(argv)
    counts = sorted(int(n) for n in args.cache_entries.split(',')) if args.cache_entries else None
    os.makedirs(OUT, exist_ok=True)

    servers = Servers()
    xvfb = None
    wine = None
    try:
        machine = machine_text(args.runs)
        print('building ...', flush=True)
        builds = {'silent.exe': build_installer('silent', '/s', servers)}
        baselines = []  # (name, file) of the silent installer of each other source tree
        for i, tree in enumerate(os.path.abspath(t) for t in args.baseline):
            git = lambda *a: run(['git', '-C', tree] + list(a), 30).strip()
            baselines.append(('silent installer at ' + git('rev-parse', '--short', 'HEAD') + (
                ' with local changes' if git('status', '--porcelain', '--untracked-files=no') else ''),
                'baseline%d.exe' % i))
            builds['baseline%d.exe' % i] = build_installer('baseline' + tree.replace('/', '-'), '/s', servers, tree)
        xvfb, display = (None, None) if args.no_interactive or counts else start_xvfb()
        if display:
            builds['interactive.exe'] = build_installer('interactive', '/u', servers)
        elif not args.no_interactive and not counts:
            print('note: Xvfb is not installed, the interactive build is left out')
        builds['bare_download.exe'] = build_helper('bare_download', ['-lurlmon', '-lwininet', '-lnetapi32'])
        builds['trivial.exe'] = build_helper('trivial')
        builds['steps.exe'] = build_helper('steps')
        builds['imports.exe'] = build_helper('imports', INSTALLER_LIBS, manifest=True)
        builds['silent_imports.exe'] = build_helper('silent_imports', INSTALLER_LIBS, manifest=True,
                                                    source='imports', flags=['-DSILENT_ONLY'])
        builds['fill_cache.exe'] = build_helper('fill_cache', ['-lwininet'])
        packages = [(label, padded_package(builds['trivial.exe'], label, size)) for label, size in SIZES]

        print('preparing Wine ...', flush=True)
        wine = Wine(display)
        placed = wine.prepare(builds)
        url = 'http://127.0.0.1:%d%s' % (servers.port(servers.package), PACKAGE_PATH)
        ping = 'http://127.0.0.1:%d%s' % (servers.port(servers.stats), PING_QUERY)
        programs = [('silent installer', [placed['silent.exe']])]
        programs += [(name, [placed[exe]]) for name, exe in baselines]
        if not counts:
            programs.append(('bare downloader', [placed['bare_download.exe'], url]))
        programs.append((REFERENCE, [placed['bare_download.exe'], url, ping]))
        if display:
            programs.append(('interactive installer', [placed['interactive.exe']]))
        print('measuring ...', flush=True)
        if counts:
            series = cache_series(wine, servers, programs, packages[0], counts, args.runs, placed['fill_cache.exe'])
        else:
            stats_url = 'http://127.0.0.1:%d/?method=steps' % servers.port(servers.stats)
            extras = [('trivial program', [placed['trivial.exe']], 0),
                      ('trivial program with the installer\'s imports', [placed['imports.exe']], 0),
                      ('the same without the window\'s libraries', [placed['silent_imports.exe']], 0),
                      ('steps', [placed['steps.exe'], stats_url, url, STEPS_FILE], 1)]
            results = measure(wine, servers, programs, packages, extras, args.runs)
    except BenchError as e:
        print('bench: %s' % e, file=sys.stderr)
        return 1
    finally:
        if wine:
            wine.stop()
        if xvfb:
            xvfb.terminate()
            xvfb.wait(10)
        servers.close()

    labels = [label for label, _ in SIZES]
    names = [name for name, _ in programs]
    if counts:
        text = cache_report(series, names, machine, args.runs)
    else:
        text = report(results, labels, names, machine, args.runs)
    print()
    print(text)
    with open(os.path.join(OUT, 'cache.md' if counts else 'results.md'), 'w') as f:
        f.write(text)
    if args.chart and not counts:
        chart(results, labels, names, args.chart)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
