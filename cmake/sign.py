#!/usr/bin/env python3
"""Signs a built executable in place with osslsigncode (Authenticode, SHA-256).

The build runs this after linking vexo_setup.exe when VEXO_SIGN_PKCS12 is set.
The password never appears on a command line or on disk: it is read from the
environment variable named by --password-env and handed to osslsigncode on
its standard input ("-readpass -"). The signature goes into a temporary file
first and replaces the executable only when osslsigncode succeeded; when it
fails the unsigned executable is removed as well, so that a build configured
to sign never leaves an unsigned vexo_setup.exe that looks up to date.

Without a time-stamp server the signature carries a signing time, which
osslsigncode takes from the clock unless SOURCE_DATE_EPOCH is set in the
environment: with it, two builds from the same sources and key are
byte-identical.

usage: sign.py --osslsigncode PATH --pkcs12 FILE [--password-env NAME]
               [--timestamp-url URL] EXE
"""

import argparse
import os
import subprocess
import sys


def fail(exe, partial, text):
    for path in (partial, exe):
        if os.path.exists(path):
            os.remove(path)
    sys.stderr.write("sign.py: %s\nsign.py: %s removed, it is not signed\n" % (text, exe))
    return 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--osslsigncode", required=True)
    parser.add_argument("--pkcs12", required=True)
    parser.add_argument("--password-env", default="")
    parser.add_argument("--timestamp-url", default="")
    parser.add_argument("exe")
    args = parser.parse_args()

    partial = args.exe + ".signing"
    if os.path.exists(partial):
        os.remove(partial)
    cmd = [args.osslsigncode, "sign", "-pkcs12", args.pkcs12, "-h", "sha256"]
    password = b""
    if args.password_env:
        value = os.environ.get(args.password_env)
        if value is None:
            return fail(args.exe, partial, "the environment variable %s (VEXO_SIGN_PASSWORD_ENV) "
                        "is not set" % args.password_env)
        password = value.encode()
        cmd += ["-readpass", "-"]
    if args.timestamp_url:
        cmd += ["-ts", args.timestamp_url]
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if epoch:
        cmd += ["-time", epoch]
    cmd += ["-in", args.exe, "-out", partial]

    try:
        r = subprocess.run(cmd, input=password, capture_output=True, timeout=300)
    except (OSError, subprocess.TimeoutExpired) as e:
        return fail(args.exe, partial, "osslsigncode did not finish: %s" % e)
    if r.returncode != 0 or not os.path.exists(partial):
        return fail(args.exe, partial, "osslsigncode failed (%d):\n%s" % (
            r.returncode, (r.stdout + r.stderr).decode(errors="replace").strip()))
    os.replace(partial, args.exe)
    return 0


if __name__ == "__main__":
    sys.exit(main())
