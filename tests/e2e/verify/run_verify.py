#!/usr/bin/env python3
"""End-to-end runs of the verify build (VEXO_OPTION=verify) under Wine.

The test makes two self-signed code-signing certificates, A and B, with
openssl and signs with osslsigncode: the verify build with A, and targets
with A, with B, not at all, and with A and then altered. Each run goes
through the e2e harness's launcher, which reports the full 32-bit exit code,
with Wine's wintrust trace on, so the trust calls the program made (UI
level, state action, window, answer) are checked as well as the status.

What this Wine (8.0) does, and so what the rows expect:
- WinVerifyTrust returns 0 for a file signed by a self-signed certificate
  (it cannot be made to reject an untrusted root), TRUST_E_NOSIGNATURE for an
  unsigned file, TRUST_E_BAD_DIGEST for an altered one and 2 for a missing
  file; it shows no trust interface at any UI level.
- So a target signed by B passes (status 0) after the full-interface call;
  the rows assert the call sequence and record the status.

The Wine prefix, the X display, the launcher and the box reader are the
harness's (tests/e2e/harness.py); the builds and files of these runs live
in build/e2e/verify.

usage: run_verify.py [-k PATTERN]
The last line reads "verify e2e: N passed, N failed".
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import traceback
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

import harness  # noqa: E402

OUT = os.path.join(harness.BUILD, "verify")
WIN_DIR = r"C:\vexo_e2e_verify"
TARGETS = WIN_DIR + r"\targets"
PLANTED = WIN_DIR + r"\planted"
SPACED = WIN_DIR + r"\目标 文件"      # a folder with a blank and double-byte characters

SUCCESS = 0
PROVIDER_UNKNOWN = 0x800B0001
NOT_TRUSTED = 0x800B0004
BAD_ARGUMENTS = 160

CAPTION = "Vexo影音在线安装"  # string 103, the caption of every box
IDOK = 1

TRACE_CHANNELS = "-all,trace+wintrust,trace+loaddll"


class PrepareError(Exception):
    pass


def _run(cmd, timeout, what, **kw):
    r = subprocess.run(cmd, capture_output=True, stdin=subprocess.DEVNULL, timeout=timeout, **kw)
    if r.returncode != 0:
        raise PrepareError("%s failed (%d): %s" % (
            what, r.returncode, (r.stdout + r.stderr).decode(errors="replace")[-3000:]))
    return r


# ---------------------------------------------------------------- preparation

def build_verify_exe():
    bdir = os.path.join(OUT, "build")
    os.makedirs(bdir, exist_ok=True)
    _run(["cmake", "-S", harness.REPO, "-B", bdir, "--toolchain", harness.TOOLCHAIN,
          "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DVEXO_OPTION=verify", "-DVEXO_MODE=/s",
          "-DVEXO_PRODUCT_NAME=", "-DVEXO_OPERATION="], 300, "configuring the verify build")
    _run(["cmake", "--build", bdir, "--parallel", "2"], 600, "building the verify build")
    return os.path.join(bdir, "vexo_setup.exe")


def build_planted_dll():
    dll = os.path.join(OUT, "planted", "wintrust.dll")
    os.makedirs(os.path.dirname(dll), exist_ok=True)
    _run([harness.CC, "-shared", "-Os", "-s", "-Wall", "-Wextra", "-Wl,--kill-at", "-o", dll,
          os.path.join(HERE, "planted_wintrust.c")], 120, "building the planted wintrust.dll")
    return dll


def make_certificate(name, folder):
    """A self-signed code-signing certificate and its key; returns (cert, key)."""
    cnf = os.path.join(folder, name + ".cnf")
    with open(cnf, "w") as f:
        f.write("[req]\ndistinguished_name = dn\nprompt = no\nx509_extensions = ext\n"
                "[dn]\nCN = Vexo e2e signer %s\n"
                "[ext]\nbasicConstraints = critical,CA:FALSE\n"
                "keyUsage = critical,digitalSignature\nextendedKeyUsage = codeSigning\n"
                "subjectKeyIdentifier = hash\n" % name)
    cert, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
          "-keyout", key, "-out", cert, "-config", cnf], 120, "openssl for certificate " + name)
    return cert, key


def sign(source, dest, certificate):
    cert, key = certificate
    if os.path.exists(dest):
        os.remove(dest)
    _run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
          "-in", source, "-out", dest], 120, "signing " + os.path.basename(dest))


def alter(source, dest):
    """A copy with one byte of the first section changed: the signature stays,
    the digest no longer matches."""
    data = bytearray(open(source, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    raw_size, raw_offset = struct.unpack_from("<II", data, sections + 16)
    data[raw_offset + raw_size // 2] ^= 0xFF
    with open(dest, "wb") as f:
        f.write(data)


class VerifyHarness:
    """The harness's prefix, display and helpers, and the files of these runs."""

    def __init__(self):
        self.h = harness.Harness()
        # Another prefix, for a run beside the main suite (which shares the
        # harness's prefix and stops its wineserver at the end).
        prefix = os.environ.get("VEXO_E2E_VERIFY_PREFIX")
        if prefix:
            self.h.wine = harness.Wine(os.path.abspath(prefix), self.h.display)

    def prepare(self):
        for tool in ("openssl", "osslsigncode", harness.CC):
            if not shutil.which(tool):
                raise PrepareError("%s is missing (tools/setup installs it)" % tool)
        os.makedirs(OUT, exist_ok=True)
        self.h.helpers = harness.build_helpers()
        unsigned_exe = build_verify_exe()
        planted_dll = build_planted_dll()

        signing = os.path.join(OUT, "signing")
        os.makedirs(signing, exist_ok=True)
        cert_a, cert_b = make_certificate("A", signing), make_certificate("B", signing)
        files = os.path.join(OUT, "files")
        os.makedirs(files, exist_ok=True)
        signed_exe = os.path.join(files, "verify_a.exe")
        sign(unsigned_exe, signed_exe, cert_a)
        # The targets are copies of the unsigned build: a real PE file.
        made = {"signed_a.exe": os.path.join(files, "signed_a.exe"),
                "signed_b.exe": os.path.join(files, "signed_b.exe"),
                "unsigned.exe": os.path.join(files, "unsigned.exe"),
                "altered.exe": os.path.join(files, "altered.exe")}
        sign(unsigned_exe, made["signed_a.exe"], cert_a)
        sign(unsigned_exe, made["signed_b.exe"], cert_b)
        shutil.copy(unsigned_exe, made["unsigned.exe"])
        alter(made["signed_a.exe"], made["altered.exe"])

        if self.h.display:
            self.h.display.start()
        self.h.wine.ensure_prefix()
        self.h.wine.wineserver("-p", timeout=30)
        self.h.wine.set_version(harness.BASE_WINDOWS_VERSION)
        # The two builds go where the harness keeps its installer builds.
        self.h.variants = {"verify": signed_exe, "verify_unsigned": unsigned_exe}
        self.h._install_binaries()

        root = self.h.wine.unix_path(WIN_DIR)
        if os.path.isdir(root):
            shutil.rmtree(root)
        for folder in (TARGETS, PLANTED, SPACED):
            os.makedirs(self.h.wine.unix_path(folder), exist_ok=True)
        for name, path in made.items():
            shutil.copy(path, os.path.join(self.h.wine.unix_path(TARGETS), name))
        shutil.copy(made["signed_a.exe"], os.path.join(self.h.wine.unix_path(SPACED), "signed_a.exe"))
        shutil.copy(signed_exe, os.path.join(self.h.wine.unix_path(PLANTED), "vexo_setup.exe"))
        shutil.copy(planted_dll, os.path.join(self.h.wine.unix_path(PLANTED), "wintrust.dll"))

    def shutdown(self):
        self.h.shutdown()

    def exe(self, variant):
        return self.h.variant_path(variant)

    def _args(self, exe, arguments, timeout):
        return ["%s\\run_exit.exe" % harness.BIN_DIR, str(int(timeout * 1000)),
                '"%s" %s' % (exe, arguments)]

    def run(self, exe, arguments, timeout=40, extra_env=None):
        """Runs exe with its arguments; returns (Run, trust calls, loaded DLLs)."""
        env = {"WINEDEBUG": TRACE_CHANNELS}
        env.update(extra_env or {})
        r = self.h.wine.run(self._args(exe, arguments, timeout), timeout=timeout + 10,
                            extra_env=env)
        run = harness.parse_launcher_output(r.stdout.decode(errors="replace"),
                                            timed_out=r.returncode == 124)
        trace = r.stderr.decode("utf-8", errors="replace")
        return run, parse_trust_calls(trace), parse_loaded(trace)

    def start(self, exe, arguments, timeout=40):
        return self.h.wine.popen(self._args(exe, arguments, timeout), timeout=timeout + 10)


# ---------------------------------------------------------------- Wine's trace

def parse_trust_calls(trace):
    """The WinVerifyTrust calls in Wine's wintrust trace, in order."""
    calls = []
    for line in trace.splitlines():
        m = re.search(r"trace:wintrust:WinVerifyTrust \((\w+), \{([0-9a-fA-F-]+)\}", line)
        if m:
            calls.append({"window": m.group(1).upper(), "action": m.group(2).lower()})
            continue
        if not calls:
            continue
        call = calls[-1]
        m = re.search(r"dump_wintrust_data (dwUIChoice|dwStateAction): (\d+)", line)
        if m:
            call[m.group(1)] = int(m.group(2))
        m = re.search(r"dump_file_info pcwszFilePath: L\"(.*)\"", line)
        if m:
            call["path"] = m.group(1).replace("\\\\", "\\")
        m = re.search(r"trace:wintrust:WinVerifyTrust returning ([0-9a-fA-F]+)", line)
        if m:
            call["result"] = int(m.group(1), 16)
    return calls


def parse_loaded(trace):
    return [m.group(1).replace("\\\\", "\\") for m in
            re.finditer(r"trace:loaddll:\w+ Loaded L\"([^\"]+)\"", trace)]


def call_trace(calls, program):
    """The calls in the words of the unit tests: "P" the program, "T" the
    target; "-" silent, "!" all UI, "?" UI only on failure, "x" close; "+"
    when the call kept its state."""
    words = []
    for c in calls:
        word = "P" if c.get("path", "").lower() == program.lower() else "T"
        if c.get("dwStateAction") == 2:
            word += "x"
        else:
            word += {2: "-", 1: "!", 4: "?"}.get(c.get("dwUIChoice"), "#")
        if c.get("dwStateAction") == 1:
            word += "+"
        words.append(word)
    return " ".join(words)


# ---------------------------------------------------------------- the cases

_vh = None


def vh():
    global _vh
    if _vh is None:
        v = VerifyHarness()
        try:
            v.prepare()
        except BaseException:
            v.shutdown()
            raise
        _vh = v
    return _vh


class VerifyCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.v = vh()

    def assert_status(self, run, status, msg):
        self.assertFalse(run.timed_out, "the run timed out" + msg)
        self.assertEqual(run.status, status, "status 0x%08X expected, got %r%s" % (
            status, run.status if run.status is None else "0x%08X" % run.status, msg))

    def assert_windows(self, calls, msg):
        generic_verify_v2 = "00aac56b-cd44-11d0-8cc2-00c04fc295ee"
        for i, c in enumerate(calls):
            silent = c.get("dwUIChoice") == 2
            self.assertEqual(c["window"], "FFFFFFFF" if silent else "00000000",
                             "call %d: silent calls claim no user, the others no owner%s" % (i + 1, msg))
            self.assertEqual(c["action"], generic_verify_v2, msg)


class Verification(VerifyCase):

    def test_targets(self):
        rows = [
            # name, program, target, status (None: recorded only), trust calls
            ("same signer", "verify", TARGETS + r"\signed_a.exe", SUCCESS, "P-+ Px T-+ Tx T?"),
            ("different signer", "verify", TARGETS + r"\signed_b.exe", None, "P-+ Px T-+ Tx T!"),
            ("unsigned target", "verify", TARGETS + r"\unsigned.exe", NOT_TRUSTED,
             "P-+ Px T-+ Tx T! Tx"),
            ("altered target", "verify", TARGETS + r"\altered.exe", NOT_TRUSTED, None),
            ("missing target", "verify", TARGETS + r"\missing.exe", NOT_TRUSTED, "P-+ Px T-+ Tx T!"),
            ("quoted path with a blank and double-byte characters", "verify",
             SPACED + r"\signed_a.exe", SUCCESS, "P-+ Px T-+ Tx T?"),
            ("unsigned program: the target is never probed silently", "verify_unsigned",
             TARGETS + r"\signed_a.exe", None, "P-+ Px T!"),
        ]
        for name, variant, target, status, expected_trace in rows:
            with self.subTest(name):
                msg = " [%s]" % name
                program = self.v.exe(variant)
                run, calls, _loaded = self.v.run(program, '/v "%s"' % target)
                got = call_trace(calls, program)
                if status is None:
                    self.v.h.notes.append("%s: status %s, trust calls %s" % (
                        name, run.status if run.status is None else "0x%08X" % run.status, got))
                    self.assertFalse(run.timed_out, msg)
                    self.assertIn(run.status, (SUCCESS, NOT_TRUSTED), msg)
                else:
                    self.assert_status(run, status, msg)
                if expected_trace is None:
                    self.v.h.notes.append("%s: trust calls %s, answers %s" % (
                        name, got, ["0x%X" % c.get("result", -1) for c in calls]))
                else:
                    self.assertEqual(got, expected_trace, msg)
                self.assert_windows(calls, msg)
                final = [c for c in calls if c.get("dwStateAction") != 2][-1:]
                if final and status is not None:
                    self.assertEqual(final[0].get("result") == 0, status == SUCCESS,
                                     "the status follows the final call" + msg)

    def test_planted_library_is_never_loaded(self):
        # Wine prefers its own libraries; asking for native ones first makes it
        # take a DLL from the program's folder, as Windows does, if the program
        # looked there.
        program = PLANTED + r"\vexo_setup.exe"
        run, calls, loaded = self.v.run(
            program, r'/v "%s\signed_a.exe"' % TARGETS,
            extra_env={"WINEDLLOVERRIDES": "mscoree,mshtml=;wintrust,crypt32=n,b"})
        self.assert_status(run, SUCCESS, " (the planted DLL answers TRUST_E_NOSIGNATURE)")
        trust_libraries = [p for p in loaded if re.search(r"\\(wintrust|crypt32)\.dll$", p, re.I)]
        self.assertTrue(trust_libraries, "no trust library was loaded")
        for path in trust_libraries:
            self.assertTrue(path.lower().startswith("c:\\windows\\system32\\"), path)
        self.assertEqual(call_trace(calls, program), "P-+ Px T-+ Tx T?")


class BadArguments(VerifyCase):

    def test_usage_box(self):
        if not self.v.h.display:
            self.skipTest("no X display: boxes are not drawn")
        expected = self.v.h.resource_string("verify", 105)
        rows = [
            ("no path", "/v"),
            ("two paths", r'/v "%s\signed_a.exe" "%s\unsigned.exe"' % (TARGETS, TARGETS)),
            ("unquoted path with a blank", r"/v %s\signed_a.exe" % SPACED),
            ("lone quote", '/v "'),
        ]
        for name, arguments in rows:
            with self.subTest(name):
                msg = " [%s]" % name
                proc = self.v.start(self.v.exe("verify"), arguments)
                box = self.v.h.read_box(CAPTION, timeout=25, press=IDOK)
                r = proc.wait(60)
                run = harness.parse_launcher_output(r.stdout.decode(errors="replace"),
                                                    r.returncode == 124)
                self.assertIsNotNone(box, "no usage box" + msg)
                self.assertEqual(box["text"], expected, msg)
                self.assertEqual(box["icon"], "information", msg)
                self.assertEqual(box["owner"], 0, msg)
                self.assert_status(run, BAD_ARGUMENTS, msg)


# ---------------------------------------------------------------- runner

class Result(unittest.TestResult):
    def __init__(self):
        super().__init__()
        self.passed = self.failed = 0
        self.texts = []
        self._rows = 0

    def startTest(self, test):
        super().startTest(test)
        self._rows = 0

    def _report(self, ok, name, err=None, test=None):
        if ok:
            self.passed += 1
            print("ok    " + name, flush=True)
        else:
            self.failed += 1
            text = self._exc_info_to_string(err, test)
            self.texts.append((name, text))
            print("FAIL  %s: %s" % (name, text.strip().splitlines()[-1]), flush=True)

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        self._rows += 1
        self._report(err is None, "%s [%s]" % (test.id().split(".", 1)[-1], subtest._message),
                     err, test)

    def addSuccess(self, test):
        super().addSuccess(test)
        if self._rows == 0:
            self._report(True, test.id().split(".", 1)[-1])

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._report(False, test.id().split(".", 1)[-1], err, test)

    def addError(self, test, err):
        super().addError(test, err)
        self._report(False, test.id().split(".", 1)[-1], err, test)

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        print("skip  %s: %s" % (test.id().split(".", 1)[-1], reason), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-k", dest="pattern", help="run only cases whose name holds this")
    args = parser.parse_args()
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    tests = [t for group in suite for t in group]
    if args.pattern:
        tests = [t for t in tests if args.pattern in t.id()]

    started = time.monotonic()
    print("verify e2e: preparing the builds, certificates, signed files and Wine", flush=True)
    try:
        v = vh()
    except Exception:
        traceback.print_exc()
        print("verify e2e: 0 passed, %d failed" % max(len(tests), 1))
        return 1
    result = Result()
    try:
        unittest.TestSuite(tests).run(result)
    finally:
        v.shutdown()
    for name, text in result.texts:
        print("\n==== %s\n%s" % (name, text.rstrip()))
    if v.h.notes:
        print("\nnotes:")
        for note in dict.fromkeys(v.h.notes):
            print("  " + note)
    print("\nverify e2e: took %.0fs" % (time.monotonic() - started))
    print("verify e2e: %d passed, %d failed" % (result.passed, result.failed))
    return 0 if result.failed == 0 and result.passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
