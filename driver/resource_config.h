// Property resources: type 40, named by the property, holding a UTF-16LE
// text with its NUL. Read into ANSI text.
#ifndef VEXO_DRIVER_RESOURCE_CONFIG_H
#define VEXO_DRIVER_RESOURCE_CONFIG_H

#include "base/platform.h"

// Reads a property into *buffer, allocating it when null (sizeHint
// characters, 256 when 0) and growing it once when it is too small.
// Returns 0, ERROR_OUTOFMEMORY (slot null), ERROR_RESOURCE_NAME_NOT_FOUND
// or ERROR_FUNCTION_FAILED. The buffer is the caller's to free.
DWORD LoadResourceProperty(HINSTANCE instance, const char* name, char** buffer, DWORD sizeHint);

// One read into a buffer of *size characters. Returns 0 (size: the length
// with terminator), ERROR_MORE_DATA (size: what is needed),
// ERROR_FUNCTION_FAILED or ERROR_RESOURCE_NAME_NOT_FOUND.
DWORD ReadResourceProperty(HINSTANCE instance, LPCSTR type, const char* name, char* buffer, DWORD* size);

#endif
