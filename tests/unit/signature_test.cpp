#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "standin/standin.h"
#include "standin/win32.h"
#include "trust/signature.h"

namespace {

using standin::Trust;

const char kProgram[] = "C:\\Users\\tester\\Downloads\\vexo_setup.exe";
const char kTarget[] = "C:\\pkg\\target.exe";
const HWND kOwner = reinterpret_cast<HWND>(0x4711);

const LONG kNoSignature = TRUST_E_NOSIGNATURE;
const LONG kUnknown = TRUST_E_PROVIDER_UNKNOWN;
const LONG kBadDigest = TRUST_E_BAD_DIGEST;

LONG_PTR Dummy() { return 0; }

// Frees a certificate copy the way its owner must: through crypt32.
bool FreeCertificate(const CERT_CONTEXT* certificate) {
  HMODULE crypt32 = LoadLibraryA("crypt32.dll");
  auto free = reinterpret_cast<BOOL (*)(PCCERT_CONTEXT)>(
      reinterpret_cast<void (*)()>(GetProcAddress(crypt32, "CertFreeCertificateContext")));
  bool freed = free && free(certificate);
  FreeLibrary(crypt32);
  return freed;
}

class TrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    standin::RegisterTrustLibraries();
    standin::RegisterLibrary("kernel32.dll", {{{"AddDllDirectory", &Dummy}}});
  }

  // Nothing may outlive a call: libraries, heap copies, trust states,
  // certificate copies.
  static void ExpectAllReleased(const std::string& name) {
    EXPECT_EQ(0, standin::OutstandingLibraries()) << name;
    EXPECT_EQ(0, standin::OutstandingAllocations()) << name;
    EXPECT_EQ(0, Trust().openStates) << name;
    EXPECT_EQ(0, Trust().liveCopies) << name;
    EXPECT_EQ(0, Trust().badFrees) << name;
  }

  // The trust calls, one word each: "P" or "T" for the program or the
  // target, then "-" silent, "!" all UI, "?" UI only on failure, "x" close;
  // "+" after a call that asked to keep the state.
  static std::string CallTrace() {
    std::string trace;
    for (const auto& c : Trust().calls) {
      if (!trace.empty()) trace += ' ';
      trace += c.path == kProgram ? "P" : c.path == kTarget ? "T" : "?";
      if (c.stateAction == WTD_STATEACTION_CLOSE) trace += 'x';
      else if (c.uiChoice == WTD_UI_NONE) trace += '-';
      else if (c.uiChoice == WTD_UI_ALL) trace += '!';
      else if (c.uiChoice == WTD_UI_NOGOOD) trace += '?';
      else trace += '#';
      if (c.stateAction == WTD_STATEACTION_VERIFY) trace += '+';
    }
    return trace;
  }
};

TEST_F(TrustTest, VerifyFileCompareSignersAndChooseTheUiLevel) {
  struct Case {
    const char* name;
    LONG programResult;
    const char* programSigner;
    LONG targetResult;
    const char* targetSigner;
    std::function<void()> setup;
    int outcome;
    const char* trace;
  } cases[] = {
      {"same signer", 0, "A", 0, "A", nullptr, kTrustTrusted, "P-+ Px T-+ Tx T?"},
      {"different signer", 0, "A", 0, "B", nullptr, kTrustTrusted, "P-+ Px T-+ Tx T!"},
      {"unsigned target", 0, "A", kNoSignature, "", nullptr, kTrustNotTrusted, "P-+ Px T-+ Tx T! Tx"},
      {"unsigned program: target never probed silently", kNoSignature, "", 0, "A", nullptr, kTrustTrusted,
       "P-+ Px T!"},
      {"altered target of the same signer counts as signed", 0, "A", kBadDigest, "A", nullptr,
       kTrustNotTrusted, "P-+ Px T-+ Tx T?"},
      {"program signature failing still counts as signed", CERT_E_UNTRUSTEDROOT, "A", 0, "A", nullptr,
       kTrustTrusted, "P-+ Px T-+ Tx T?"},
      {"missing target", 0, "A", 2, nullptr, nullptr, kTrustNotTrusted, "P-+ Px T-+ Tx T!"},
      {"provider unknown for the program", kUnknown, "", 0, "A", nullptr, kTrustUnavailable, "P-+ Px"},
      {"provider unknown for the target probe", 0, "A", kUnknown, "", nullptr, kTrustUnavailable,
       "P-+ Px T-+ Tx"},
      {"no provider data", 0, "A", 0, "A", [] { Trust().noProviderData = true; }, kTrustTrusted,
       "P-+ Px T-+ Tx T!"},
      {"no signer in the chain", 0, "A", 0, "A", [] { Trust().noSigner = true; }, kTrustTrusted,
       "P-+ Px T-+ Tx T!"},
      {"no chain certificate", 0, "A", 0, "A", [] { Trust().noChainCertificate = true; }, kTrustTrusted,
       "P-+ Px T-+ Tx T!"},
      {"no certificate copy", 0, "A", 0, "A", [] { standin::RegisterTrustLibraries({"CertDuplicateCertificateContext"}); },
       kTrustTrusted, "P-+ Px T-+ Tx T!"},
  };
  for (const Case& c : cases) {
    SetUp();
    standin::SetTrustFile(kProgram, c.programResult, c.programSigner);
    if (c.targetSigner) standin::SetTrustFile(kTarget, c.targetResult, c.targetSigner);
    if (c.setup) c.setup();

    EXPECT_EQ(c.outcome, VerifyFileTrust(kProgram, kTarget, kOwner)) << c.name;
    EXPECT_EQ(c.trace, CallTrace()) << c.name;
    for (const auto& call : Trust().calls) {
      bool silent = call.uiChoice == WTD_UI_NONE;
      EXPECT_EQ(silent, call.windowInvalid) << c.name << ": silent calls claim no interactive user";
      if (!silent) {
        EXPECT_EQ(kOwner, call.window) << c.name;
      }
    }
    if (Trust().compares) {
      EXPECT_EQ(0x00010001u, Trust().compareEncoding) << c.name;
    }
    ExpectAllReleased(c.name);
  }
}

TEST_F(TrustTest, QueryFileClosesTheStateExactlyWhenItMadeOneOrFailedEarly) {
  struct Case {
    const char* name;
    LONG result;
    bool wantCertificate;
    int outcome;
    bool isSigned;
    bool certificate;
    const char* trace;
  } cases[] = {
      {"trusted, no certificate asked", 0, false, kTrustTrusted, true, false, "T!"},
      {"trusted, certificate asked", 0, true, kTrustTrusted, true, true, "T!+ Tx"},
      {"bad digest, no certificate asked", kBadDigest, false, kTrustNotTrusted, true, false, "T!"},
      {"bad digest, certificate asked", kBadDigest, true, kTrustNotTrusted, true, true, "T!+ Tx"},
      {"unsigned, no certificate asked", kNoSignature, false, kTrustNotTrusted, false, false, "T! Tx"},
      {"unsigned, certificate asked", kNoSignature, true, kTrustNotTrusted, false, false, "T!+ Tx"},
      {"provider unknown, no certificate asked", kUnknown, false, kTrustUnavailable, false, false, "T! Tx"},
      {"provider unknown, certificate asked", kUnknown, true, kTrustUnavailable, false, false, "T!+ Tx"},
  };
  for (const Case& c : cases) {
    SetUp();
    standin::SetTrustFile(kTarget, c.result, "A");
    std::u16string path = standin::Utf16(kTarget);
    bool isSigned = !c.isSigned;
    const CERT_CONTEXT* certificate = reinterpret_cast<const CERT_CONTEXT*>(1);
    EXPECT_EQ(c.outcome, QueryFileTrust(path.c_str(), kOwner, WTD_UI_ALL, &isSigned,
                                        c.wantCertificate ? &certificate : nullptr))
        << c.name;
    EXPECT_EQ(c.isSigned, isSigned) << c.name;
    EXPECT_EQ(c.trace, CallTrace()) << c.name;
    if (c.wantCertificate) {
      EXPECT_EQ(c.certificate, certificate != nullptr) << c.name;
      if (certificate) {
        EXPECT_TRUE(FreeCertificate(certificate)) << c.name;
      }
    }
    ExpectAllReleased(c.name);
  }
}

TEST_F(TrustTest, MissingLibraryOrEntryPointMeansUnavailable) {
  struct Case {
    const char* name;
    const char* omitted;
  } cases[] = {
      {"no crypt32", "crypt32.dll"},
      {"no wintrust", "wintrust.dll"},
      {"no CertCompareCertificate", "CertCompareCertificate"},
      {"no CertFreeCertificateContext", "CertFreeCertificateContext"},
      {"no WinVerifyTrust", "WinVerifyTrust"},
      {"no WTHelperProvDataFromStateData", "WTHelperProvDataFromStateData"},
      {"no WTHelperGetProvSignerFromChain", "WTHelperGetProvSignerFromChain"},
      {"no WTHelperGetProvCertFromChain", "WTHelperGetProvCertFromChain"},
  };
  for (const Case& c : cases) {
    SetUp();
    standin::Reset();
    standin::RegisterTrustLibraries({c.omitted});
    standin::SetTrustFile(kProgram, 0, "A");
    standin::SetTrustFile(kTarget, 0, "A");
    char commandLine[] = "/v C:\\pkg\\target.exe";
    EXPECT_EQ(static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN), RunVerifyOption(kProgram, commandLine)) << c.name;
    EXPECT_TRUE(Trust().calls.empty()) << c.name;
    ExpectAllReleased(c.name);
  }
}

TEST_F(TrustTest, FinalResultBecomesTheRunStatus) {
  struct Case {
    const char* name;
    LONG targetResult;
    DWORD status;
  } cases[] = {
      {"trusted", 0, ERROR_SUCCESS},
      {"unsigned", kNoSignature, static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED)},
      {"altered", kBadDigest, static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED)},
      {"provider unknown", kUnknown, static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN)},
  };
  for (const Case& c : cases) {
    SetUp();
    standin::SetTrustFile(kProgram, kNoSignature);
    standin::SetTrustFile(kTarget, c.targetResult, "B");
    char commandLine[] = "/v C:\\pkg\\target.exe";
    EXPECT_EQ(c.status, RunVerifyOption(kProgram, commandLine)) << c.name;
    ExpectAllReleased(c.name);
  }
}

TEST_F(TrustTest, FailedAllocationOrConversionMeansNotTrusted) {
  standin::SetTrustFile(kProgram, 0, "A");
  standin::SetTrustFile(kTarget, 0, "A");
  ASSERT_EQ(kTrustTrusted, VerifyFileTrust(kProgram, kTarget, nullptr));
  const int allocations = standin::Heap().calls;
  ASSERT_EQ(2, allocations) << "one wide copy per path";
  for (int n = 1; n <= allocations; ++n) {
    std::string name = "allocation " + std::to_string(n) + " fails";
    SetUp();
    standin::SetTrustFile(kProgram, 0, "A");
    standin::SetTrustFile(kTarget, 0, "A");
    standin::Heap().failCalls = {n};
    EXPECT_EQ(kTrustNotTrusted, VerifyFileTrust(kProgram, kTarget, nullptr)) << name;
    for (const auto& call : Trust().calls) EXPECT_NE(kTarget, call.path) << name;
    ExpectAllReleased(name);
  }
  // A lead byte with nothing after it is no text of code page 936.
  struct Case {
    const char* name;
    const char* program;
    const char* target;
  } cases[] = {{"program path not convertible", "C:\\bad\x81", kTarget},
               {"target path not convertible", kProgram, "C:\\bad\x81"}};
  for (const Case& c : cases) {
    SetUp();
    standin::SetTrustFile(kProgram, 0, "A");
    EXPECT_EQ(kTrustNotTrusted, VerifyFileTrust(c.program, c.target, nullptr)) << c.name;
    ExpectAllReleased(c.name);
  }
}

TEST_F(TrustTest, EveryRequestIsAPlainFileCheckWithoutRevocation) {
  standin::SetTrustFile(kProgram, 0, "A");
  standin::SetTrustFile(kTarget, kNoSignature);
  VerifyFileTrust(kProgram, kTarget, kOwner);
  ASSERT_EQ(6u, Trust().calls.size());
  for (size_t i = 0; i < Trust().calls.size(); ++i) {
    const auto& c = Trust().calls[i];
    std::string name = "call " + std::to_string(i + 1);
    EXPECT_TRUE(c.genericVerifyV2) << name;
    EXPECT_EQ(sizeof(WINTRUST_DATA), c.cbStruct) << name;
    EXPECT_EQ(sizeof(WINTRUST_FILE_INFO), c.fileInfoSize) << name;
    EXPECT_EQ(static_cast<DWORD>(WTD_CHOICE_FILE), c.unionChoice) << name;
    EXPECT_EQ(static_cast<DWORD>(WTD_REVOKE_NONE), c.revocationChecks) << name;
    EXPECT_FALSE(c.fileHandle || c.knownSubject || c.policyOrSipData || c.urlReference) << name;
    EXPECT_EQ(0u, c.provFlags) << name;
    EXPECT_EQ(static_cast<DWORD>(WTD_UICONTEXT_EXECUTE), c.uiContext) << name;
    if (c.stateAction == WTD_STATEACTION_CLOSE) {
      EXPECT_EQ(static_cast<DWORD>(WTD_UI_NONE), c.uiChoice) << name;
      EXPECT_TRUE(c.windowInvalid) << name;
    } else {
      EXPECT_FALSE(c.stateOnEntry) << name;
    }
  }
}

TEST_F(TrustTest, CommandLineNamesExactlyOneFile) {
  struct Case {
    const char* name;
    const char* commandLine;  // UTF-8
    DWORD status;
    const char* verified;  // UTF-8 path the trust check saw; null: none
    size_t cutAt;          // where the terminator was written; 0: unchanged
  } cases[] = {
      {"plain path", "/v C:\\pkg\\target.exe", 0, kTarget, 0},
      {"quoted path with blanks", "/v \"C:\\My Files\\target.exe\"", 0, "C:\\My Files\\target.exe", 26},
      {"path followed by blanks only", "/v C:\\pkg\\target.exe \t  ", 0, kTarget, 20},
      {"quoted path followed by blanks only", "/v \"C:\\pkg\\target.exe\"  ", 0, kTarget, 21},
      {"double-byte path", "/v \"C:\\下载 俓\\target.exe\"", 0, "C:\\下载 俓\\target.exe", 0},
      {"quoted option", "\"/v\" C:\\pkg\\target.exe", 0, kTarget, 0},
      {"further token", "/v C:\\pkg\\target.exe /x", ERROR_BAD_ARGUMENTS, nullptr, 0},
      {"further token after a quoted path", "/v \"C:\\pkg\\target.exe\" x", ERROR_BAD_ARGUMENTS, nullptr, 0},
      {"text glued to the closing quote", "/v \"C:\\pkg\\target.exe\"x", ERROR_BAD_ARGUMENTS, nullptr, 0},
      {"unquoted path with a blank", "/v C:\\My Files\\target.exe", ERROR_BAD_ARGUMENTS, nullptr, 0},
      {"no path", "/v", ERROR_BAD_ARGUMENTS, nullptr, 0},
      {"blanks after the option", "/v   ", ERROR_BAD_ARGUMENTS, nullptr, 0},
      {"lone quote", "/v \"", ERROR_BAD_ARGUMENTS, nullptr, 0},
      {"empty command line", "", ERROR_BAD_ARGUMENTS, nullptr, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    standin::SetTrustFile(kProgram, 0, "A");
    if (c.verified) standin::SetTrustFile(c.verified, 0, "A");
    std::string line = standin::Ansi(c.commandLine);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    EXPECT_EQ(c.status, RunVerifyOption(kProgram, buffer.data())) << c.name;
    if (c.verified) {
      ASSERT_FALSE(Trust().calls.empty()) << c.name;
      EXPECT_EQ(c.verified, Trust().calls.back().path) << c.name;
    } else {
      EXPECT_TRUE(Trust().calls.empty()) << c.name;
      EXPECT_TRUE(standin::Kernel32().libraryLoads.empty()) << c.name;
    }
    if (c.cutAt) {
      EXPECT_EQ('\0', buffer[c.cutAt]) << c.name;
      EXPECT_EQ(0, memcmp(line.data(), buffer.data(), c.cutAt)) << c.name << ": only the cut is written";
    }
    ExpectAllReleased(c.name);
  }
}

TEST_F(TrustTest, LibrariesComeFromTheSystemDirectoryOnly) {
  struct Case {
    const char* name;
    std::function<void()> setup;
    const char* prefix;  // what comes before the library's name
    DWORD flags;
  } cases[] = {
      {"search flags available", nullptr, "", LOAD_LIBRARY_SEARCH_SYSTEM32},
      {"no AddDllDirectory", [] { standin::RegisterLibrary("kernel32.dll", {}); }, "C:\\windows\\system32\\", 0x8},
      {"kernel32 not loadable by name",
       [] {
         standin::Reset();
         standin::RegisterTrustLibraries();
       },
       "C:\\windows\\system32\\", 0x8},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.setup) c.setup();
    standin::SetTrustFile(kProgram, 0, "A");
    standin::SetTrustFile(kTarget, 0, "A");
    EXPECT_EQ(kTrustTrusted, VerifyFileTrust(kProgram, kTarget, nullptr)) << c.name;
    int trustLoads = 0;
    for (const auto& load : standin::Kernel32().libraryLoads) {
      if (load.first == "kernel32.dll") continue;
      std::string base = load.first.substr(load.first.find_last_of('\\') + 1);
      EXPECT_TRUE(base == "wintrust.dll" || base == "crypt32.dll") << c.name << ": " << load.first;
      EXPECT_EQ(c.prefix + base, load.first) << c.name;
      EXPECT_EQ(c.flags, load.second) << c.name << ": " << load.first;
      ++trustLoads;
    }
    EXPECT_EQ(6, trustLoads) << c.name << ": crypt32 once and twice for copies, wintrust three times";
    ExpectAllReleased(c.name);
  }
}

TEST_F(TrustTest, SystemDirectoryTooLongMeansUnavailable) {
  standin::RegisterLibrary("kernel32.dll", {});
  standin::Kernel32().systemDirectory = "C:\\" + std::string(250, 'x');
  EXPECT_EQ(kTrustUnavailable, VerifyFileTrust(kProgram, kTarget, nullptr));
  for (const auto& load : standin::Kernel32().libraryLoads) EXPECT_EQ("kernel32.dll", load.first);
  ExpectAllReleased("too long");
}

}  // namespace
