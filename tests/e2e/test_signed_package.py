"""The package check (VEXO_PACKAGE_SIGNER=same) end to end under Wine.

Certificates A and B: self-signed, no CA (openssl). The `same` builds are
signed with A by the build itself (VEXO_SIGN_PKCS12); "same_unsigned" is that
installer with its signature removed; the `none` build is the harness's
"silent". Packages: the test package signed with A, with B, unsigned, signed
with A and then altered (a byte of the DOS stub: signed, never run). Wine
accepts self-signed signers, so B is refused for not being A. Wine's wintrust
trace shows the trust calls: silent ones only, and none without the check.

    VEXO_E2E_PORT=48900 python3 tests/e2e/test_signed_package.py
"""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import servers  # noqa: E402

OUT = os.path.join(harness.BUILD, "signed")
PASSWORD_ENV = "VEXO_E2E_SIGN_PASSWORD"
PACKAGE_URL = "http://127.0.0.1:%d%s" % (harness.PACKAGE_PORT, servers.PACKAGE_PATH)
NOT_TRUSTED = 0x800B0004  # TRUST_E_SUBJECT_NOT_TRUSTED
BOX_TEXT = "安装程序无法信任包'%s'：它没有本程序发行者的有效数字签名。" % PACKAGE_URL
SIGNED = {"VEXO_PACKAGE_SIGNER": "same", "VEXO_SIGN_PASSWORD_ENV": PASSWORD_ENV,
          "VEXO_SIGN_PKCS12": os.path.join(OUT, "A.p12")}
VARIANTS = {"same": dict(SIGNED, VEXO_MODE="/s"), "same_u": dict(SIGNED, VEXO_MODE="/u")}

ROWS = [  # name, installer build, package, the package runs
    ("same: signed by A", "same", "A", True),
    ("same: signed by B", "same", "B", False),
    ("same: unsigned", "same", "unsigned", False),
    ("same: signed by A, then altered", "same", "altered", False),
    ("same, installer unsigned: signed by A", "same_unsigned", "A", False),
    ("none: signed by A", "silent", "A", True),
    ("none: signed by B", "silent", "B", True),
    ("none: unsigned", "silent", "unsigned", True),
    ("none: signed by A, then altered", "silent", "altered", True),
    ("same, interactive: signed by B, the box", "same_u", "B", False),
]


def _run(*cmd):
    subprocess.run(cmd, check=True, capture_output=True, stdin=subprocess.DEVNULL, timeout=120)


def out(name):
    path = os.path.join(OUT, name)
    if os.path.exists(path):
        os.remove(path)
    return path


def prepare():
    """The harness with the `same` builds, and the packages by name."""
    os.makedirs(OUT, exist_ok=True)
    signers = {name: (out(name + ".pem"), out(name + ".key")) for name in "AB"}
    open(out("empty.cnf"), "w").close()
    for name, (cert, key) in signers.items():
        _run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
             "-subj", "/CN=Vexo e2e signer " + name, "-config", os.path.join(OUT, "empty.cnf"),
             "-addext", "basicConstraints=critical,CA:FALSE", "-addext", "keyUsage=critical,digitalSignature",
             "-addext", "extendedKeyUsage=codeSigning", "-out", cert, "-keyout", key)
    os.environ[PASSWORD_ENV] = "vexo e2e password"
    _run("openssl", "pkcs12", "-export", "-in", signers["A"][0], "-inkey", signers["A"][1],
         "-out", out("A.p12"), "-passout", "env:" + PASSWORD_ENV)
    harness.VARIANTS.update({n: (d, "package signer same, signed with A") for n, d in VARIANTS.items()})
    h = harness.get()
    for name in [n for n in VARIANTS if n not in h.variants]:  # prepared before this module
        h.variants[name], h.variant_logs[name], _ = harness.build_variant(name, VARIANTS[name])
    h.variants["same_unsigned"] = out("same_unsigned.exe")
    _run("osslsigncode", "remove-signature", "-in", h.variants["same"], "-out", h.variants["same_unsigned"])
    h._install_binaries()
    files = {"unsigned": h.helpers["test_package"], "altered": out("altered.exe")}
    for name, (cert, key) in signers.items():
        files[name] = out(name + ".exe")
        _run("osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
             "-in", files["unsigned"], "-out", files[name])
    with open(files["A"], "rb") as f, open(files["altered"], "wb") as g:
        g.write(f.read().replace(b"This program", b"this program", 1))
    return h, files


class SignedPackage(unittest.TestCase):

    def run_row(self, h, variant):
        """(Run, box (interactive build: answered), [(window, UI choice) of each trust call])."""
        if variant.endswith("_u"):
            if not h.display:
                self.skipTest("no X display: boxes are not drawn")
            proc = h.start_installer(variant)
            box = h.read_box("Vexo影音在线安装", timeout=25, press=1)  # caption 103, IDOK
            return h.finish_installer(proc, 80), box, None
        args = ["%s\\run_exit.exe" % harness.BIN_DIR, "60000", '"%s"' % h.variant_path(variant)]
        r = h.wine.run(args, timeout=70, extra_env={"WINEDEBUG": "-all,trace+wintrust"})
        calls = re.findall(r"WinVerifyTrust \((\w+), \{.*?dwUIChoice: (\d+)", r.stderr.decode(errors="replace"), re.S)
        return harness.parse_launcher_output(r.stdout.decode(errors="replace"), r.returncode == 124), None, \
            [(w.upper(), ui) for w, ui in calls]

    def test_rows(self):
        h, files = prepare()
        served = h.package_server.package_file
        for name, variant, package, runs in ROWS:
            with self.subTest(name):
                h.reset()
                before = set(h.wine.cache_files())
                h.package_server.package_file = files[package]
                try:
                    run, box, calls = self.run_row(h, variant)
                finally:
                    h.package_server.package_file = served
                pings = [re.search(r"type=(\w+)", e["line"]).group(1) for e in h.log.events("stats")]
                print("  %-40s 0x%08X %s starts %d, silent trust calls %s" % (name, run.status or 0, pings,
                      len(h.package_runs()), calls and sum(c == ("FFFFFFFF", "2") for c in calls)), flush=True)
                self.assertEqual((run.status, pings, len(h.package_runs())), (
                    0 if runs else NOT_TRUSTED, ["start", "finished" if runs else "failed"], int(runs)), run)
                self.assertEqual(h.cache_entry(PACKAGE_URL), "absent")
                self.assertEqual([f for f in set(h.wine.cache_files()) - before if "vexo_303" in f.lower()], [])
                if calls is not None and variant.startswith("same"):
                    self.assertTrue(calls and set(calls) == {("FFFFFFFF", "2")}, "only silent trust calls")
                elif calls is not None:
                    self.assertEqual(calls, [], "no trust call without the check")
                if variant.endswith("_u"):
                    self.assertEqual((box or {}).get("text"), BOX_TEXT)
                    self.assertEqual(box["icon"], "error")


if __name__ == "__main__":
    harness.VARIANTS = {"silent": harness.VARIANTS["silent"]}  # alone: only the builds it needs
    try:
        unittest.main(verbosity=2)
    finally:
        harness.release()
