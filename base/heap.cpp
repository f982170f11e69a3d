#include "base/heap.h"

#if defined(VEXO_TEST_SEAMS)
#include "tests/seam/seam.h"
#endif

namespace {

// A test build may take its blocks from a heap of its own.
HANDLE Heap() {
#if defined(VEXO_TEST_SEAMS)
  return SeamHeap();
#else
  return GetProcessHeap();
#endif
}

}  // namespace

void* AllocateBuffer(size_t bytes) {
#if defined(VEXO_TEST_SEAMS)
  if (SeamFailAllocation()) return nullptr;
#endif
  void* block = HeapAlloc(Heap(), 0, bytes);
#if defined(VEXO_TEST_SEAMS)
  if (block) SeamCountBlock(1);
#endif
  return block;
}

void FreeBuffer(void* block) {
  if (!block) return;
  HeapFree(Heap(), 0, block);
#if defined(VEXO_TEST_SEAMS)
  SeamCountBlock(-1);
#endif
}
