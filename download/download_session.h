// The URL rule shared by the package download and the statistics ping.
#ifndef VEXO_DOWNLOAD_DOWNLOAD_SESSION_H
#define VEXO_DOWNLOAD_DOWNLOAD_SESSION_H

#include "base/platform.h"

// Composes base, a "/" unless base already ends in one, and tail into a
// heap buffer of exactly lstrlenA(base) + lstrlenA(tail) + 2 characters.
// Returns 0 (the buffer and its size are the caller's), ERROR_OUTOFMEMORY
// (nothing allocated) or ERROR_INSTALL_FAILURE when a bounded write failed
// (nothing left allocated).
DWORD ComposeUrl(const char* base, const char* tail, char** composed, DWORD* composedSize);

// Canonicalises into a heap buffer of twice composedSize, regrown once to
// the size the canonicaliser asks for. Returns 0 (the buffer is the
// caller's) or an error, with nothing left allocated: ERROR_OUTOFMEMORY
// with *outOfMemory set when a buffer could not be had, else the
// canonicaliser's own error (which may be 14 as well, *outOfMemory clear).
DWORD CanonicalizeUrl(const char* composed, DWORD composedSize, char** canonical, bool* outOfMemory);

#endif
