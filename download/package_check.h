// Checks of the downloaded package, made on its private copy, held open
// from the moment it was written (see download/held_package.h), so that
// what is checked is what runs: nobody can write, rename or delete the
// copy meanwhile.
#ifndef VEXO_DOWNLOAD_PACKAGE_CHECK_H
#define VEXO_DOWNLOAD_PACKAGE_CHECK_H

#include "base/platform.h"

// Whether the file is a Windows program: a DOS header whose PE signature
// lies inside the file. A login or notice page served with status 200, or
// an empty body, is not.
bool IsWindowsProgram(HANDLE file);

// A build made with VEXO_PACKAGE_SHA256 runs only the package of that
// digest: 0 when the file's SHA-256, computed by the system's own
// cryptography, is the pinned one; TRUST_E_BAD_DIGEST when it differs or
// cannot be computed (the package is then refused as well). Other builds
// accept every package.
#if VEXO_PACKAGE_DIGEST
DWORD CheckPackageDigest(HANDLE file);
#else
inline DWORD CheckPackageDigest(HANDLE) { return ERROR_SUCCESS; }
#endif

#endif
