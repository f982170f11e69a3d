#include "base/heap.h"

#if defined(VEXO_TEST_SEAMS)
#include "tests/seam/seam.h"
#endif

void* AllocateBuffer(size_t bytes) {
#if defined(VEXO_TEST_SEAMS)
  if (SeamFailAllocation()) return nullptr;
#endif
  void* block = HeapAlloc(GetProcessHeap(), 0, bytes);
#if defined(VEXO_TEST_SEAMS)
  if (block) SeamCountBlock(1);
#endif
  return block;
}

void FreeBuffer(void* block) {
  if (!block) return;
  HeapFree(GetProcessHeap(), 0, block);
#if defined(VEXO_TEST_SEAMS)
  SeamCountBlock(-1);
#endif
}
