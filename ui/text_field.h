// Copying text into the fixed character fields of the UI records.
#ifndef VEXO_UI_TEXT_FIELD_H
#define VEXO_UI_TEXT_FIELD_H

#include <stddef.h>

// Copies as many whole characters of the ANSI code page as fit in
// size - 1 bytes and terminates the field; a double-byte character that
// would not fit is left out whole. A null text gives an empty field.
void CopyToField(char* field, size_t size, const char* text);

template <size_t N>
void CopyToField(char (&field)[N], const char* text) {
  CopyToField(field, N, text);
}

#endif
