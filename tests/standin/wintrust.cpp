// Fake wintrust.dll and crypt32.dll, served through the stand-in's
// run-time library loading. WinVerifyTrust answers from the scripted file
// table; a verification state made by WTD_STATEACTION_VERIFY holds the
// provider data, the signer and its certificate until it is closed, so a
// state never closed or a certificate used after the close shows up.
#include <cstring>
#include <memory>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

TrustState g_trust;

// Everything one verification state owns. The provider data comes first,
// so the fake helpers can find the state from it.
struct FakeState {
  CRYPT_PROVIDER_DATA data{sizeof(CRYPT_PROVIDER_DATA)};
  CRYPT_PROVIDER_SGNR signer{sizeof(CRYPT_PROVIDER_SGNR)};
  CRYPT_PROVIDER_CERT certificate{sizeof(CRYPT_PROVIDER_CERT), nullptr};
  CERT_CONTEXT context{};
  CERT_INFO info{};
  std::string name;  // issuer and serial of the signer; empty: unsigned
};
std::set<FakeState*> g_states;

// A certificate copy owns its record and the bytes it points at.
struct CertificateCopy {
  CERT_CONTEXT context{};
  CERT_INFO info{};
  std::string name;
};
std::set<const CERT_CONTEXT*> g_copies;

void FillCertificate(CERT_CONTEXT* context, CERT_INFO* info, std::string* name) {
  info->dwVersion = 2;
  info->SerialNumber.cbData = static_cast<DWORD>(name->size());
  info->SerialNumber.pbData = reinterpret_cast<BYTE*>(&(*name)[0]);
  info->Issuer = info->SerialNumber;
  context->dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  context->pCertInfo = info;
}

void ResetTrust() {
  for (FakeState* s : g_states) delete s;
  g_states.clear();
  for (const CERT_CONTEXT* c : g_copies) delete reinterpret_cast<const CertificateCopy*>(c);
  g_copies.clear();
  g_trust = TrustState();
}
ResetHook trustHook(ResetTrust);

std::string PathOf(const WINTRUST_FILE_INFO* file) {
  if (!file || !file->pcwszFilePath) return "(none)";
  std::u16string wide;
  for (const WCHAR* p = file->pcwszFilePath; *p; ++p) wide += *p;
  std::string ansi;
  return Utf16ToAnsi(wide, &ansi) ? Utf8(ansi) : "(unconvertible)";
}

bool IsGenericVerifyV2(const GUID* g) {
  static const GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
  return g && *g == kGenericVerifyV2;
}

FakeState* StateOf(HANDLE h) {
  FakeState* s = static_cast<FakeState*>(h);
  return g_states.count(s) ? s : nullptr;
}

LONG WINAPI FakeWinVerifyTrust(HWND window, GUID* action, LPVOID request) {
  WINTRUST_DATA* data = static_cast<WINTRUST_DATA*>(request);
  TrustCall call;
  call.window = window;
  call.windowInvalid = window == reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
  call.genericVerifyV2 = IsGenericVerifyV2(action);
  call.cbStruct = data->cbStruct;
  call.policyOrSipData = data->pPolicyCallbackData || data->pSIPClientData;
  call.uiChoice = data->dwUIChoice;
  call.revocationChecks = data->fdwRevocationChecks;
  call.unionChoice = data->dwUnionChoice;
  if (data->dwUnionChoice == WTD_CHOICE_FILE && data->pFile) {
    call.path = PathOf(data->pFile);
    call.fileInfoSize = data->pFile->cbStruct;
    call.fileHandle = data->pFile->hFile != nullptr;
    call.knownSubject = data->pFile->pgKnownSubject != nullptr;
  } else {
    call.path = "(none)";
  }
  call.stateAction = data->dwStateAction;
  call.stateOnEntry = data->hWVTStateData != nullptr;
  call.urlReference = data->pwszURLReference != nullptr;
  call.provFlags = data->dwProvFlags;
  call.uiContext = data->dwUIContext;

  if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
    if (FakeState* s = StateOf(data->hWVTStateData)) {
      g_states.erase(s);
      delete s;
      --g_trust.openStates;
    }
    data->hWVTStateData = nullptr;
    call.result = 0;
    g_trust.calls.push_back(call);
    return 0;
  }

  const TrustFile* file = nullptr;
  for (auto& f : g_trust.files)
    if (f.first == call.path) file = &f.second;
  LONG result = file ? file->result : g_trust.missingFileResult;
  if (!call.genericVerifyV2) result = TRUST_E_PROVIDER_UNKNOWN;

  // As on Windows: a state for every verification the provider ran, to be
  // closed by the caller; none when the provider is unknown.
  if (data->dwStateAction == WTD_STATEACTION_VERIFY && result != TRUST_E_PROVIDER_UNKNOWN) {
    FakeState* s = new FakeState;
    if (file && !file->signer.empty() && result != TRUST_E_NOSIGNATURE) {
      s->name = file->signer;
      FillCertificate(&s->context, &s->info, &s->name);
      s->certificate.pCert = &s->context;
    }
    g_states.insert(s);
    ++g_trust.openStates;
    data->hWVTStateData = s;
  }
  call.result = result;
  g_trust.calls.push_back(call);
  return result;
}

CRYPT_PROVIDER_DATA* WINAPI FakeProvDataFromStateData(HANDLE stateData) {
  FakeState* s = StateOf(stateData);
  return s && !g_trust.noProviderData ? &s->data : nullptr;
}

CRYPT_PROVIDER_SGNR* WINAPI FakeGetProvSignerFromChain(CRYPT_PROVIDER_DATA* data, DWORD signerIndex,
                                                       BOOL counterSigner, DWORD) {
  FakeState* s = StateOf(data);
  if (!s || signerIndex != 0 || counterSigner || s->name.empty() || g_trust.noSigner) return nullptr;
  return &s->signer;
}

CRYPT_PROVIDER_CERT* WINAPI FakeGetProvCertFromChain(CRYPT_PROVIDER_SGNR* signer, DWORD certificateIndex) {
  if (!signer || certificateIndex != 0 || g_trust.noChainCertificate) return nullptr;
  for (FakeState* s : g_states)
    if (&s->signer == signer) return &s->certificate;
  return nullptr;
}

PCCERT_CONTEXT WINAPI FakeCertDuplicateCertificateContext(PCCERT_CONTEXT context) {
  if (!context) return nullptr;
  // A fresh record for every copy, so the original may go with its state.
  CertificateCopy* copy = new CertificateCopy;
  const CRYPT_INTEGER_BLOB& serial = context->pCertInfo->SerialNumber;
  copy->name.assign(reinterpret_cast<const char*>(serial.pbData), serial.cbData);
  FillCertificate(&copy->context, &copy->info, &copy->name);
  g_copies.insert(&copy->context);
  ++g_trust.liveCopies;
  return &copy->context;
}

BOOL WINAPI FakeCertFreeCertificateContext(PCCERT_CONTEXT context) {
  if (!context) return TRUE;
  if (!g_copies.erase(context)) {
    ++g_trust.badFrees;
    return FALSE;
  }
  delete reinterpret_cast<const CertificateCopy*>(context);
  --g_trust.liveCopies;
  return TRUE;
}

bool SameBlob(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b) {
  return a.cbData == b.cbData && (a.cbData == 0 || memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

BOOL WINAPI FakeCertCompareCertificate(DWORD encoding, PCERT_INFO first, PCERT_INFO second) {
  ++g_trust.compares;
  g_trust.compareEncoding = encoding;
  return SameBlob(first->SerialNumber, second->SerialNumber) && SameBlob(first->Issuer, second->Issuer);
}

template <typename F>
FARPROC Proc(F* fn) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn));
}

}  // namespace

TrustState& Trust() { return g_trust; }

void SetTrustFile(const std::string& path, LONG result, const std::string& signer) {
  TrustFile f;
  f.result = result;
  f.signer = signer;
  g_trust.files.push_back({path, f});
}

void RegisterTrustLibraries(const std::set<std::string>& omitted) {
  auto add = [&](const char* library, std::vector<std::pair<const char*, FARPROC>> procs) {
    if (omitted.count(library)) return;
    Library lib;
    for (auto& p : procs)
      if (!omitted.count(p.first)) lib.procs[p.first] = p.second;
    RegisterLibrary(library, lib);
  };
  add("wintrust.dll", {{"WinVerifyTrust", Proc(FakeWinVerifyTrust)},
                       {"WTHelperProvDataFromStateData", Proc(FakeProvDataFromStateData)},
                       {"WTHelperGetProvSignerFromChain", Proc(FakeGetProvSignerFromChain)},
                       {"WTHelperGetProvCertFromChain", Proc(FakeGetProvCertFromChain)}});
  add("crypt32.dll", {{"CertDuplicateCertificateContext", Proc(FakeCertDuplicateCertificateContext)},
                      {"CertCompareCertificate", Proc(FakeCertCompareCertificate)},
                      {"CertFreeCertificateContext", Proc(FakeCertFreeCertificateContext)}});
}

}  // namespace standin
