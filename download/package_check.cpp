#include "download/package_check.h"

#include "base/build_config.h"

namespace {

// Reads exactly `bytes` at `offset`; false at the end of the file or on
// any error.
bool ReadAt(HANDLE file, DWORD offset, void* buffer, DWORD bytes) {
  DWORD read = 0;
  return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == offset &&
         ReadFile(file, buffer, bytes, &read, nullptr) && read == bytes;
}

}  // namespace

bool IsWindowsProgram(HANDLE file) {
  IMAGE_DOS_HEADER header;
  DWORD signature = 0;
  // The offset is signed in the header; a negative or far one is no
  // program of ours.
  return ReadAt(file, 0, &header, sizeof header) && header.e_magic == IMAGE_DOS_SIGNATURE &&
         header.e_lfanew >= 0 && ReadAt(file, static_cast<DWORD>(header.e_lfanew), &signature, sizeof signature) &&
         signature == IMAGE_NT_SIGNATURE;
}

#if VEXO_PACKAGE_DIGEST
namespace {

constexpr DWORD kDigestBytes = 32;
constexpr DWORD kDigestChunkBytes = 2048;  // on the stack: a frame of its own

// The SHA-256 of the whole file into digest; false when the system cannot
// compute it (Windows 2000 and XP before SP3 have no SHA-256 provider).
__attribute__((noinline)) bool ComputeSha256(HANDLE file, BYTE* digest) {
  BYTE chunk[kDigestChunkBytes];
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  bool done = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
              CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
  for (DWORD read = 1; done && read != 0;)
    done = ReadFile(file, chunk, kDigestChunkBytes, &read, nullptr) && CryptHashData(hash, chunk, read, 0);
  DWORD size = kDigestBytes;
  done = done && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == kDigestBytes;
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  return done;
}

}  // namespace

DWORD CheckPackageDigest(HANDLE file) {
  BYTE digest[kDigestBytes];
  bool same = ComputeSha256(file, digest);
  // kPackageSha256 is 64 lower-case hexadecimal digits (checked when the
  // build is configured).
  const char kDigits[] = "0123456789abcdef";
  for (DWORD i = 0; same && i < kDigestBytes; ++i)
    same = kPackageSha256[2 * i] == kDigits[digest[i] >> 4] && kPackageSha256[2 * i + 1] == kDigits[digest[i] & 15];
  return same ? ERROR_SUCCESS : static_cast<DWORD>(TRUST_E_BAD_DIGEST);
}
#endif
