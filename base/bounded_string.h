// Bounded writes into fixed character buffers. Sizes are in characters of
// the ANSI code page, terminator included. Results follow the safe-string
// routines of the SDK: S_OK, STRSAFE_E_INSUFFICIENT_BUFFER (a truncated,
// terminated text was written) or E_INVALIDARG (nothing was written).
#ifndef VEXO_BASE_BOUNDED_STRING_H
#define VEXO_BASE_BOUNDED_STRING_H

#include <stddef.h>

#include "base/platform.h"

#ifndef STRSAFE_E_INSUFFICIENT_BUFFER
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#endif

constexpr size_t kBoundedMaxChars = 0x7FFFFFFF;

HRESULT BoundedCopy(char* buffer, size_t size, const char* source);
HRESULT BoundedAppend(char* buffer, size_t size, const char* source);
HRESULT BoundedFormat(char* buffer, size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

#endif
