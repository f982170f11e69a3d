// wintrust and crypt32 for the host stand-in: the records and constants of
// the trust check, with the field order of the real headers (only the
// leading fields that the installer touches), and the scriptable fake
// libraries that tests register at run time.
#ifndef VEXO_STANDIN_WINTRUST_H
#define VEXO_STANDIN_WINTRUST_H

#include <set>
#include <string>
#include <vector>

#include "standin/types.h"

// --- crypt32 ---------------------------------------------------------------

#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000

typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CERT_NAME_BLOB, *PCERT_NAME_BLOB, CRYPT_OBJID_BLOB,
    *PCRYPT_OBJID_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER, *PCRYPT_ALGORITHM_IDENTIFIER;

// The leading fields of the certificate record: enough for issuer and
// serial number, which is what CertCompareCertificate looks at.
typedef struct _CERT_INFO {
  DWORD dwVersion;
  CRYPT_INTEGER_BLOB SerialNumber;
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;
} CERT_INFO, *PCERT_INFO;

typedef void* HCERTSTORE;

typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

// --- wintrust --------------------------------------------------------------

#define WTD_UI_ALL 1
#define WTD_UI_NONE 2
#define WTD_UI_NOBAD 3
#define WTD_UI_NOGOOD 4
#define WTD_REVOKE_NONE 0x00000000
#define WTD_REVOKE_WHOLECHAIN 0x00000001
#define WTD_CHOICE_FILE 1
#define WTD_STATEACTION_IGNORE 0x00000000
#define WTD_STATEACTION_VERIFY 0x00000001
#define WTD_STATEACTION_CLOSE 0x00000002
#define WTD_UICONTEXT_EXECUTE 0

#define TRUST_E_PROVIDER_UNKNOWN ((HRESULT)0x800B0001L)
#define TRUST_E_SUBJECT_NOT_TRUSTED ((HRESULT)0x800B0004L)
#define TRUST_E_NOSIGNATURE ((HRESULT)0x800B0100L)
#define TRUST_E_BAD_DIGEST ((HRESULT)0x80096010L)
#define CERT_E_UNTRUSTEDROOT ((HRESULT)0x800B0109L)

typedef struct WINTRUST_FILE_INFO_ {
  DWORD cbStruct;
  LPCWSTR pcwszFilePath;
  HANDLE hFile;
  GUID* pgKnownSubject;
} WINTRUST_FILE_INFO, *PWINTRUST_FILE_INFO;

// The 48-byte form of the trust request (on 32-bit Windows).
typedef struct _WINTRUST_DATA {
  DWORD cbStruct;
  LPVOID pPolicyCallbackData;
  LPVOID pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  union {
    struct WINTRUST_FILE_INFO_* pFile;
    void* pCatalog;
    void* pBlob;
    void* pSgnr;
    void* pCert;
  };
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR* pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
} WINTRUST_DATA, *PWINTRUST_DATA;

static_assert(sizeof(void*) != 4 || sizeof(WINTRUST_DATA) == 48, "WINTRUST_DATA is 48 bytes on 32-bit");
static_assert(sizeof(void*) != 4 || sizeof(WINTRUST_FILE_INFO) == 16, "WINTRUST_FILE_INFO is 16 bytes on 32-bit");

// Provider data and signer are opaque to the installer: it only hands
// them from one helper to the next.
typedef struct _CRYPT_PROVIDER_DATA {
  DWORD cbStruct;
} CRYPT_PROVIDER_DATA, *PCRYPT_PROVIDER_DATA;

typedef struct _CRYPT_PROVIDER_SGNR {
  DWORD cbStruct;
} CRYPT_PROVIDER_SGNR, *PCRYPT_PROVIDER_SGNR;

typedef struct _CRYPT_PROVIDER_CERT {
  DWORD cbStruct;
  PCCERT_CONTEXT pCert;
} CRYPT_PROVIDER_CERT, *PCRYPT_PROVIDER_CERT;

// --- the fake libraries ------------------------------------------------------

namespace standin {

// What WinVerifyTrust knows about a file, by its path (UTF-8).
struct TrustFile {
  LONG result = TRUST_E_NOSIGNATURE;  // the verification's answer
  std::string signer;                 // issuer and serial of the signer; empty: no signer
};

// One WinVerifyTrust call as the fake saw it (the request's fields on
// entry, so a close call shows what the code set for it).
struct TrustCall {
  std::string path;            // UTF-8 of pFile->pcwszFilePath; "(none)" without a file
  bool windowInvalid = false;  // INVALID_HANDLE_VALUE: no interactive user
  HWND window = nullptr;
  bool genericVerifyV2 = false;
  DWORD cbStruct = 0;
  DWORD fileInfoSize = 0;
  bool fileHandle = false;      // pFile->hFile set
  bool knownSubject = false;    // pFile->pgKnownSubject set
  bool policyOrSipData = false; // pPolicyCallbackData or pSIPClientData set
  bool urlReference = false;
  DWORD uiChoice = 0;
  DWORD revocationChecks = 0;
  DWORD unionChoice = 0;
  DWORD stateAction = 0;
  bool stateOnEntry = false;    // hWVTStateData held a state on entry
  DWORD provFlags = 0;
  DWORD uiContext = 0;
  LONG result = 0;
};

struct TrustState {
  std::vector<std::pair<std::string, TrustFile>> files;
  LONG missingFileResult = 2;  // the answer for a path not listed (Wine gives 2)
  // Breaks in the chain from state data to the signer's certificate.
  bool noProviderData = false;
  bool noSigner = false;
  bool noChainCertificate = false;

  std::vector<TrustCall> calls;
  int openStates = 0;       // verification states not yet closed
  int liveCopies = 0;       // certificate copies not yet freed
  int badFrees = 0;         // frees of a certificate the fake did not hand out
  int compares = 0;
  DWORD compareEncoding = 0;
};
TrustState& Trust();
void SetTrustFile(const std::string& path, LONG result, const std::string& signer = std::string());

// Registers "wintrust.dll" and "crypt32.dll" with the fake entry points.
// `omitted` names libraries or entry points that are left out.
void RegisterTrustLibraries(const std::set<std::string>& omitted = {});

}  // namespace standin

#endif
