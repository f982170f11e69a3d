// Authenticode check of a file against the signer of the running program.
// The trust and certificate libraries ("wintrust.dll", "crypt32.dll") are
// loaded at run time from the system directory and freed before each
// routine returns; the program has no link-time dependency on them.
#ifndef VEXO_TRUST_SIGNATURE_H
#define VEXO_TRUST_SIGNATURE_H

#include "base/platform.h"

// Outcome of QueryFileTrust and VerifyFileTrust.
enum TrustOutcome {
  kTrustUnavailable = 0,  // a library or entry point missing, or the provider unknown
  kTrustTrusted = 1,
  kTrustNotTrusted = 2,
};

// The verify option: the command line's second token is the file. Returns
// 0, TRUST_E_PROVIDER_UNKNOWN, TRUST_E_SUBJECT_NOT_TRUSTED or
// ERROR_BAD_ARGUMENTS. The command line is changed in place: the path is
// cut off after its last character (a closing quote is overwritten).
DWORD RunVerifyOption(const char* referencePath, char* commandLine);

// Verifies `targetPath` (ANSI code page). When it is signed by the same
// certificate as `referencePath`, Windows shows its trust interface only if
// the verification fails; otherwise it shows all of it, owned by `window`.
int VerifyFileTrust(const char* referencePath, const char* targetPath, HWND window);

// The package check of a build made with VEXO_PACKAGE_SIGNER: the package
// must carry a signature that Windows trusts, by the publisher whose
// certificate the build recorded (the build's own signing certificate, or
// a certificate file). Whom to trust is fixed when the program is built:
// nothing is read from the program's own file, which the user can rename
// and replace while it runs. Silent throughout (WTD_UI_NONE): nothing is
// shown and nobody is asked. Returns 0 (accepted),
// TRUST_E_SUBJECT_NOT_TRUSTED (unsigned, another signer, a signature that
// does not verify) or TRUST_E_PROVIDER_UNKNOWN (no way to verify: refused
// as well). Other builds accept every package. packageFile is the package
// held open: the signer and the verdict are both read through it.
#if VEXO_PACKAGE_SIGNER_CHECK
DWORD CheckPackageSigner(const char* packagePath, HANDLE packageFile);
#else
inline DWORD CheckPackageSigner(const char*, HANDLE) { return ERROR_SUCCESS; }
#endif

// One WinVerifyTrust call for `path` at the UI level `uiChoice` (WTD_UI_*).
// `isSigned` (optional) tells whether the file carries a signature, valid
// or not; `signer` (optional) receives a copy of the signer's certificate
// or null, which the caller frees with CertFreeCertificateContext.
// fileHandle (optional) is the file open for reading: it is read through
// that handle instead of being opened by its path.
int QueryFileTrust(const WCHAR* path, HWND window, DWORD uiChoice, bool* isSigned, const CERT_CONTEXT** signer,
                   HANDLE fileHandle = nullptr);

#endif
