#include "base/bounded_string.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

bool IsValidSize(size_t size) { return size != 0 && size <= kBoundedMaxChars; }

// Copies up to size - 1 characters and terminates; reports truncation.
HRESULT CopyInto(char* dest, size_t size, const char* source) {
  size_t i = 0;
  for (; i + 1 < size && source[i] != '\0'; ++i) dest[i] = source[i];
  dest[i] = '\0';
  return source[i] == '\0' ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

}  // namespace

HRESULT BoundedCopy(char* buffer, size_t size, const char* source) {
  if (!IsValidSize(size)) return E_INVALIDARG;
  return CopyInto(buffer, size, source);
}

HRESULT BoundedAppend(char* buffer, size_t size, const char* source) {
  if (!IsValidSize(size)) return E_INVALIDARG;
  size_t length = 0;
  while (length < size && buffer[length] != '\0') ++length;
  if (length == size) return E_INVALIDARG;
  return CopyInto(buffer + length, size - length, source);
}

HRESULT BoundedFormat(char* buffer, size_t size, const char* format, ...) {
  if (!IsValidSize(size)) return E_INVALIDARG;
  va_list args;
  va_start(args, format);
  // The system C runtime's formatter: it writes at most size - 1
  // characters, terminates only when there is room, and answers -1 when
  // the output did not fit or could not be formatted.
  const int written = _vsnprintf(buffer, size - 1, format, args);
  va_end(args);
  buffer[size - 1] = '\0';
  return written < 0 ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}
