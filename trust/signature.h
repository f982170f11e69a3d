// Authenticode check of a file against the signer of the running program.
#ifndef VEXO_TRUST_SIGNATURE_H
#define VEXO_TRUST_SIGNATURE_H

#include "driver/platform.h"

// Outcome of QueryFileTrust and VerifyFileTrust.
enum TrustOutcome {
  kTrustUnavailable = 0,  // a library or entry point missing, or the provider unknown
  kTrustTrusted = 1,
  kTrustNotTrusted = 2,
};

// The verify option: the command line's second token is the file. Returns
// 0, TRUST_E_PROVIDER_UNKNOWN, TRUST_E_SUBJECT_NOT_TRUSTED or
// ERROR_BAD_ARGUMENTS. The command line is changed in place.
DWORD RunVerifyOption(const char* referencePath, char* commandLine);

int VerifyFileTrust(const char* referencePath, const char* targetPath, HWND window);

int QueryFileTrust(const WCHAR* path, HWND window, DWORD uiChoice, bool* isSigned, const CERT_CONTEXT** signer);

#endif
