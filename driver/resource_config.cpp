#include "driver/resource_config.h"

#include "base/heap.h"
#include "base/sizes.h"
#include "resource_ids.h"

DWORD ReadResourceProperty(HINSTANCE instance, LPCSTR type, const char* name, char* buffer, DWORD* size) {
  HRSRC resource = FindResourceA(instance, name, type);
  if (!resource) return ERROR_RESOURCE_NAME_NOT_FOUND;
  HGLOBAL loaded = LoadResource(instance, resource);
  if (!loaded) return ERROR_RESOURCE_NAME_NOT_FOUND;

  // The text ends at its NUL or, when the resource lacks one, at the end
  // of the resource: nothing past SizeofResource is ever read.
  const WCHAR* data = static_cast<const WCHAR*>(LockResource(loaded));
  int length = 0;
  if (data) {
    const int limit = static_cast<int>(SizeofResource(instance, resource) / sizeof(WCHAR));
    while (length < limit && data[length] != 0) ++length;
  }

  // A property without data (or with an empty text) reads as empty.
  if (length == 0) {
    const DWORD given = *size;
    *size = 1;
    if (given < 1) return ERROR_MORE_DATA;
    buffer[0] = 0;
    return 0;
  }

  // The ANSI length with the terminator.
  const int converted = WideCharToMultiByte(CP_ACP, 0, data, length, nullptr, 0, nullptr, nullptr);
  if (converted <= 0) return ERROR_FUNCTION_FAILED;
  const DWORD needed = static_cast<DWORD>(converted) + 1;
  if (needed > *size) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (WideCharToMultiByte(CP_ACP, 0, data, length, buffer, converted, nullptr, nullptr) != converted)
    return ERROR_FUNCTION_FAILED;
  buffer[converted] = 0;
  *size = needed;
  return 0;
}

DWORD LoadResourceProperty(HINSTANCE instance, const char* name, char** buffer, DWORD sizeHint) {
  DWORD size = sizeHint;
  if (!*buffer) {
    if (size == 0) size = static_cast<DWORD>(kShortTextChars);
    *buffer = AllocateChars(size);
    if (!*buffer) return ERROR_OUTOFMEMORY;
  }
  LPCSTR type = MAKEINTRESOURCEA(RT_PROPERTY_ID);
  DWORD status = ReadResourceProperty(instance, type, name, *buffer, &size);
  if (status != ERROR_MORE_DATA) return status;

  // Too small: one regrowth to the size the read asked for.
  FreeSlot(*buffer);
  *buffer = AllocateChars(size);
  if (!*buffer) return ERROR_OUTOFMEMORY;
  return ReadResourceProperty(instance, type, name, *buffer, &size);
}
