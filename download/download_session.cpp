#include "download/download_session.h"

#include "base/last_error.h"
#include "base/bounded_string.h"
#include "base/heap.h"
#include "base/platform_libraries.h"
#include "base/sizes.h"

namespace {

// Whether the text's last character is '/'. Found by stepping back one
// whole character, so a double-byte character whose trail byte is 0x2F
// does not count.
bool EndsInSlash(const char* text, int length) {
  return length > 0 && *CharPrevA(text, text + length) == '/';
}

}  // namespace

DWORD ComposeUrl(const char* base, const char* tail, char** composed, DWORD* composedSize) {
  *composed = nullptr;
  *composedSize = 0;
  const int baseLength = lstrlenA(base);
  const DWORD size = static_cast<DWORD>(baseLength) + static_cast<DWORD>(lstrlenA(tail)) + 2;
  char* url = AllocateChars(size);
  if (url == nullptr) return ERROR_OUTOFMEMORY;

  bool written = SUCCEEDED(BoundedCopy(url, size, base));
  if (written && !EndsInSlash(base, baseLength)) written = SUCCEEDED(BoundedAppend(url, size, "/"));
  if (written) written = SUCCEEDED(BoundedAppend(url, size, tail));
  if (!written) {
    FreeBuffer(url);
    return ERROR_INSTALL_FAILURE;
  }
  *composed = url;
  *composedSize = size;
  return 0;
}

DWORD CanonicalizeUrl(const char* composed, DWORD composedSize, char** canonical, bool* outOfMemory) {
  *canonical = nullptr;
  *outOfMemory = false;
  DWORD length = 2 * composedSize;
  char* buffer = AllocateChars(length);
  if (buffer == nullptr) {
    *outOfMemory = true;
    return ERROR_OUTOFMEMORY;
  }

  // Without WinINet the canonicaliser fails as a call would: with the
  // reason the library could not be had.
  const WinInetEntries* wininet = WinInet();
  DWORD error = 0;
  if (!wininet)
    error = LastErrorOfFailure();
  else if (!wininet->InternetCanonicalizeUrlA(composed, buffer, &length, 0))
    error = LastErrorOfFailure();
  if (error == ERROR_INSUFFICIENT_BUFFER) {
    // length now holds the size the canonical form needs; one retry only.
    FreeBuffer(buffer);
    buffer = AllocateChars(length);
    if (buffer == nullptr) {
      *outOfMemory = true;
      return ERROR_OUTOFMEMORY;
    }
    error = 0;
    if (!wininet->InternetCanonicalizeUrlA(composed, buffer, &length, 0)) error = LastErrorOfFailure();
  }
  if (error != 0) {
    FreeBuffer(buffer);
    return error;
  }
  *canonical = buffer;
  return 0;
}
