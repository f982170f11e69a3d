#include "ui/text_field.h"

#include "base/platform.h"

void CopyToField(char* field, size_t size, const char* text) {
  if (size == 0) return;
  size_t used = 0;
  if (text) {
    const char* p = text;
    while (*p) {
      const char* next = CharNextA(p);
      size_t width = static_cast<size_t>(next - p);
      if (width == 0 || used + width > size - 1) break;
      for (size_t i = 0; i < width; ++i) field[used + i] = p[i];
      used += width;
      p = next;
    }
  }
  field[used] = '\0';
}
