#!/usr/bin/env python3
"""Records the publisher whose packages the installer runs: writes a header
with the publisher's certificate (DER) as a byte array, compiled into the
executable. The build runs this when VEXO_PACKAGE_SIGNER is set.

  --pkcs12 FILE [--password-env NAME]   the build's own signing certificate
                                        (VEXO_PACKAGE_SIGNER=same), read with
                                        openssl; the password, if any, from
                                        the environment, never the command line
  --certificate FILE                    a certificate file, PEM or DER (the
                                        public certificate only)

usage: record_signer.py (--pkcs12 FILE | --certificate FILE) --out HEADER
"""

import argparse
import base64
import os
import re
import subprocess
import sys


def from_pkcs12(path, password_env):
    env = dict(os.environ)
    passin = "pass:"
    if password_env:
        if password_env not in os.environ:
            sys.exit("record_signer.py: the environment variable %s (VEXO_SIGN_PASSWORD_ENV) is not set" % password_env)
        passin = "env:" + password_env
    pem = None
    for legacy in ([], ["-legacy"]):   # older files use ciphers OpenSSL 3 keeps in its legacy provider
        r = subprocess.run(["openssl", "pkcs12", "-in", path, "-clcerts", "-nokeys", "-passin", passin] + legacy,
                           capture_output=True, env=env, timeout=60)
        if r.returncode == 0 and b"BEGIN CERTIFICATE" in r.stdout:
            pem = r.stdout
            break
    if pem is None:
        sys.exit("record_signer.py: no certificate could be read from %s: %s" % (path, r.stderr.decode(errors="replace")))
    return from_pem(pem, path)


def from_pem(data, path):
    blocks = re.findall(rb"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", data, re.S)
    if len(blocks) != 1:
        sys.exit("record_signer.py: %s must hold exactly one certificate, it holds %d" % (path, len(blocks)))
    return base64.b64decode(b"".join(blocks[0].split()))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pkcs12")
    parser.add_argument("--password-env", default="")
    parser.add_argument("--certificate")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if args.pkcs12:
        der = from_pkcs12(args.pkcs12, args.password_env)
    else:
        data = open(args.certificate, "rb").read()
        der = from_pem(data, args.certificate) if b"-----BEGIN" in data else data
    if len(der) < 64 or der[0] != 0x30:
        sys.exit("record_signer.py: %s holds no DER certificate" % (args.pkcs12 or args.certificate))
    lines = ["// Written by the build (cmake/record_signer.py): the certificate of the",
             "// publisher whose packages this installer runs, DER-encoded.",
             "#ifndef VEXO_BASE_PACKAGE_SIGNER_H", "#define VEXO_BASE_PACKAGE_SIGNER_H", "",
             "constexpr BYTE kPackageSignerCertificate[] = {"]
    for i in range(0, len(der), 16):
        lines.append("    " + " ".join("0x%02x," % b for b in der[i:i + 16]))
    lines += ["};", "", "#endif", ""]
    text = "\n".join(lines)
    if not os.path.exists(args.out) or open(args.out).read() != text:
        with open(args.out, "w") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
