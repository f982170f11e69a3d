// The installer's heap buffers. Every allocation can fail and every caller
// checks; nothing here throws.
#ifndef VEXO_BASE_HEAP_H
#define VEXO_BASE_HEAP_H

#include <stddef.h>

#include "base/platform.h"

// A block of the process heap, or null when there is no memory.
void* AllocateBuffer(size_t bytes);
// Frees a block from AllocateBuffer; null is fine.
void FreeBuffer(void* block);

inline char* AllocateChars(size_t count) { return static_cast<char*>(AllocateBuffer(count)); }

// Frees the slot's block and clears the slot.
template <typename T>
void FreeSlot(T*& slot) {
  FreeBuffer(slot);
  slot = nullptr;
}

#endif
