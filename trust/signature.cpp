#include "trust/signature.h"

#include <string.h>

#include "base/heap.h"
#include "base/command_line.h"
#include "base/system_library.h"
#if VEXO_PACKAGE_SIGNER_CHECK
#include "base/package_signer.h"  // written by the build: the recorded certificate
#endif

namespace {

typedef LONG(WINAPI* WinVerifyTrustFn)(HWND window, GUID* action, LPVOID request);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProvDataFromStateDataFn)(HANDLE stateData);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* GetProvSignerFromChainFn)(CRYPT_PROVIDER_DATA* data, DWORD signerIndex,
                                                               BOOL counterSigner, DWORD counterSignerIndex);
typedef CRYPT_PROVIDER_CERT*(WINAPI* GetProvCertFromChainFn)(CRYPT_PROVIDER_SGNR* signer, DWORD certificateIndex);
typedef PCCERT_CONTEXT(WINAPI* CertDuplicateCertificateContextFn)(PCCERT_CONTEXT context);
typedef BOOL(WINAPI* CertCompareCertificateFn)(DWORD encoding, PCERT_INFO first, PCERT_INFO second);
typedef BOOL(WINAPI* CertFreeCertificateContextFn)(PCCERT_CONTEXT context);

// The program is 32-bit only; these are the record sizes Windows 2000 and
// later accept there.
static_assert(sizeof(void*) != 4 || sizeof(WINTRUST_DATA) == 48, "the 48-byte trust request");
static_assert(sizeof(void*) != 4 || sizeof(WINTRUST_FILE_INFO) == 16, "the 16-byte file description");

const DWORD kCertificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A heap copy of an ANSI path in UTF-16, or null when it cannot be made.
// The caller frees it with FreeBuffer.
WCHAR* MakeWidePath(const char* path) {
  int chars = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (chars <= 0) return nullptr;
  WCHAR* wide = static_cast<WCHAR*>(AllocateBuffer(static_cast<size_t>(chars) * sizeof(WCHAR)));
  if (!wide) return nullptr;
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, chars) != chars) {
    FreeBuffer(wide);
    return nullptr;
  }
  return wide;
}

// Releases the verification state that a call to WinVerifyTrust made.
void CloseTrustState(WinVerifyTrustFn winVerifyTrust, GUID* action, WINTRUST_DATA* request) {
  request->dwUIChoice = WTD_UI_NONE;
  request->dwStateAction = WTD_STATEACTION_CLOSE;
  winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), action, request);
}

// A copy of the certificate of the first signer of a verified file, or
// null when the verification state holds none.
const CERT_CONTEXT* CopySignerCertificate(HANDLE stateData, ProvDataFromStateDataFn provDataFromStateData,
                                          GetProvSignerFromChainFn getProvSignerFromChain,
                                          GetProvCertFromChainFn getProvCertFromChain) {
  CRYPT_PROVIDER_DATA* data = provDataFromStateData(stateData);
  CRYPT_PROVIDER_SGNR* signer = data ? getProvSignerFromChain(data, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* chainCertificate = signer ? getProvCertFromChain(signer, 0) : nullptr;
  if (!chainCertificate || !chainCertificate->pCert) return nullptr;

  const CERT_CONTEXT* copy = nullptr;
  HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
  if (crypt32) {
    auto duplicate = FindEntryPoint<CertDuplicateCertificateContextFn>(crypt32, "CertDuplicateCertificateContext");
    if (duplicate) copy = duplicate(chainCertificate->pCert);
    FreeLibrary(crypt32);
  }
  return copy;
}

// What VerifyFileTrust holds while it works; all of it is released on
// every exit.
struct HeldForVerify {
  WCHAR* referencePath = nullptr;
  WCHAR* targetPath = nullptr;
  const CERT_CONTEXT* referenceSigner = nullptr;
  const CERT_CONTEXT* targetSigner = nullptr;
};

int CompareSignersAndVerify(const char* referencePath, const char* targetPath, HWND window,
                            CertCompareCertificateFn compare, HeldForVerify* held) {
  held->referencePath = MakeWidePath(referencePath);
  if (!held->referencePath) return kTrustNotTrusted;
  bool referenceSigned = false;
  int outcome = QueryFileTrust(held->referencePath, window, WTD_UI_NONE, &referenceSigned, &held->referenceSigner);
  if (outcome == kTrustUnavailable) return kTrustUnavailable;

  held->targetPath = MakeWidePath(targetPath);
  if (!held->targetPath) return kTrustNotTrusted;

  // An unsigned program has no signer to match, so the target is not
  // probed at all and counts as not signed.
  bool targetSigned = false;
  if (referenceSigned) {
    outcome = QueryFileTrust(held->targetPath, window, WTD_UI_NONE, &targetSigned, &held->targetSigner);
    if (outcome == kTrustUnavailable) return kTrustUnavailable;
  }

  // CertCompareCertificate compares issuer and serial number.
  bool sameSigner = referenceSigned && targetSigned && held->referenceSigner && held->targetSigner &&
                    compare(kCertificateEncoding, held->referenceSigner->pCertInfo,
                            held->targetSigner->pCertInfo);
  return QueryFileTrust(held->targetPath, window, sameSigner ? WTD_UI_NOGOOD : WTD_UI_ALL, nullptr, nullptr);
}

int VerifyWithCrypt32(const char* referencePath, const char* targetPath, HWND window) {
  HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
  if (!crypt32) return kTrustUnavailable;
  auto compare = FindEntryPoint<CertCompareCertificateFn>(crypt32, "CertCompareCertificate");
  auto freeCertificate = FindEntryPoint<CertFreeCertificateContextFn>(crypt32, "CertFreeCertificateContext");
  if (!compare || !freeCertificate) {
    FreeLibrary(crypt32);
    return kTrustUnavailable;
  }

  HeldForVerify held;
  int outcome = CompareSignersAndVerify(referencePath, targetPath, window, compare, &held);

  if (held.referenceSigner) freeCertificate(held.referenceSigner);
  if (held.targetSigner) freeCertificate(held.targetSigner);
  FreeBuffer(held.referencePath);
  FreeBuffer(held.targetPath);
  FreeLibrary(crypt32);
  return outcome;
}

}  // namespace

int QueryFileTrust(const WCHAR* path, HWND window, DWORD uiChoice, bool* isSigned, const CERT_CONTEXT** signer,
                   HANDLE fileHandle) {
  if (isSigned) *isSigned = false;
  if (signer) *signer = nullptr;

  // WINTRUST_ACTION_GENERIC_VERIFY_V2: the Authenticode policy provider.
  // Read-only data: WinVerifyTrust only reads the action it is given (a
  // local copy would be initialised from a writable template, which costs
  // the executable a data section).
  static const GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
  GUID* action = const_cast<GUID*>(&kGenericVerifyV2);

  WINTRUST_FILE_INFO file;
  memset(&file, 0, sizeof file);
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path;
  // A file held open is read through its handle, from its start.
  file.hFile = fileHandle;
  if (fileHandle) SetFilePointer(fileHandle, 0, nullptr, FILE_BEGIN);
  file.pgKnownSubject = nullptr;

  WINTRUST_DATA request;
  memset(&request, 0, sizeof request);
  request.cbStruct = sizeof request;
  request.dwUIChoice = uiChoice;
  request.fdwRevocationChecks = WTD_REVOKE_NONE;
  request.dwUnionChoice = WTD_CHOICE_FILE;
  request.pFile = &file;
  // The state is kept only when the signer's certificate is to be read
  // from it.
  request.dwStateAction = signer ? WTD_STATEACTION_VERIFY : WTD_STATEACTION_IGNORE;
  request.dwUIContext = WTD_UICONTEXT_EXECUTE;

  HMODULE wintrust = LoadSystemLibrary("wintrust.dll");
  if (!wintrust) return kTrustUnavailable;
  auto winVerifyTrust = FindEntryPoint<WinVerifyTrustFn>(wintrust, "WinVerifyTrust");
  auto provDataFromStateData = FindEntryPoint<ProvDataFromStateDataFn>(wintrust, "WTHelperProvDataFromStateData");
  auto getProvSignerFromChain =
      FindEntryPoint<GetProvSignerFromChainFn>(wintrust, "WTHelperGetProvSignerFromChain");
  auto getProvCertFromChain = FindEntryPoint<GetProvCertFromChainFn>(wintrust, "WTHelperGetProvCertFromChain");
  if (!winVerifyTrust || !provDataFromStateData || !getProvSignerFromChain || !getProvCertFromChain) {
    FreeLibrary(wintrust);
    return kTrustUnavailable;
  }

  // A silent probe must not show anything, so it claims there is no
  // interactive user; otherwise a null window lets Windows use the
  // interactive desktop.
  HWND owner = uiChoice == WTD_UI_NONE ? static_cast<HWND>(INVALID_HANDLE_VALUE) : window;
  LONG result = winVerifyTrust(owner, action, &request);

  int outcome;
  bool closeState = signer != nullptr;
  if (result == TRUST_E_PROVIDER_UNKNOWN) {
    outcome = kTrustUnavailable;
    closeState = true;
  } else {
    outcome = result == 0 ? kTrustTrusted : kTrustNotTrusted;
    // A signature that is present but fails verification still counts.
    if (isSigned) *isSigned = result != TRUST_E_NOSIGNATURE;
    if (result == TRUST_E_NOSIGNATURE) {
      closeState = true;
    } else if (signer) {
      *signer = CopySignerCertificate(request.hWVTStateData, provDataFromStateData, getProvSignerFromChain,
                                      getProvCertFromChain);
    }
  }
  if (closeState) CloseTrustState(winVerifyTrust, action, &request);
  FreeLibrary(wintrust);
  return outcome;
}

int VerifyFileTrust(const char* referencePath, const char* targetPath, HWND window) {
  return VerifyWithCrypt32(referencePath, targetPath, window);
}

#if VEXO_PACKAGE_SIGNER_CHECK
DWORD CheckPackageSigner(const char* packagePath, HANDLE packageFile) {
  HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
  auto freeCertificate =
      crypt32 ? FindEntryPoint<CertFreeCertificateContextFn>(crypt32, "CertFreeCertificateContext") : nullptr;
  WCHAR* path = MakeWidePath(packagePath);
  const CERT_CONTEXT* signer = nullptr;
  // No window: nobody is asked, the package is simply refused. One
  // verification gives both the verdict and the signer it is about.
  int outcome = kTrustUnavailable;
  if (freeCertificate && path) outcome = QueryFileTrust(path, nullptr, WTD_UI_NONE, nullptr, &signer, packageFile);
  // The signer's certificate, byte for byte, is the one recorded.
  const bool recorded = signer && signer->cbCertEncoded == sizeof kPackageSignerCertificate &&
                        memcmp(signer->pbCertEncoded, kPackageSignerCertificate, sizeof kPackageSignerCertificate) == 0;
  if (signer) freeCertificate(signer);
  FreeBuffer(path);
  if (crypt32) FreeLibrary(crypt32);
  if (outcome == kTrustUnavailable) return static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN);
  return outcome == kTrustTrusted && recorded ? ERROR_SUCCESS : static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);
}
#endif

DWORD RunVerifyOption(const char* referencePath, char* commandLine) {
  // The first token is the option itself, the second the file; nothing
  // may follow the file but blanks.
  char* tokenStart = nullptr;
  char* tokenLast = nullptr;
  bool quoted = false;
  char* next = AfterFirstCommandLineToken(commandLine);
  if (!next || NextCommandLineToken(next, &tokenStart, &tokenLast, &quoted) != 0) return ERROR_BAD_ARGUMENTS;
  char* pathEnd = CharNextA(tokenLast);
  if (*pathEnd != '\0') {
    char* furtherStart = nullptr;
    if (NextCommandLineToken(CharNextA(pathEnd), &furtherStart, nullptr, nullptr) == 0) return ERROR_BAD_ARGUMENTS;
  }
  // Cut the path off in place; a closing quote goes with it.
  *pathEnd = '\0';

  switch (VerifyFileTrust(referencePath, tokenStart, nullptr)) {
    case kTrustUnavailable: return static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN);
    case kTrustTrusted: return ERROR_SUCCESS;
    default: return static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);
  }
}
