// Fixed buffer sizes, in characters of the ANSI code page, terminator
// included.
#ifndef VEXO_BASE_SIZES_H
#define VEXO_BASE_SIZES_H

#include <stddef.h>

constexpr size_t kTextChars = 1024;         // message and status texts, base URLs
constexpr size_t kShortTextChars = 256;     // format strings, short resource texts
constexpr size_t kPathChars = 260;          // paths and file names (MAX_PATH)
constexpr size_t kCaptionChars = 100;       // the caption of boxes and the window

#endif
