#include "driver/heap.h"

void* AllocateBuffer(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void FreeBuffer(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}
