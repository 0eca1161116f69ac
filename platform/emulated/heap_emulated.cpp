// Private heaps emulated on the C allocator (portable, no OS header): each
// heap keeps the set of its live blocks, so a block can be checked against
// its heap before it is freed and the whole set can be released at once.
#include "platform/heap.h"

#include <cstdlib>
#include <cstring>

#include "platform/emulated/heap_ledger.h"

struct PlatformHeapRec {
  HeapLedger ledger;  // its live blocks; every block comes from the C allocator
};

HeapHandle ObjectListHeap = nullptr;

HeapHandle PlatformHeapCreate(size_t initialSize, size_t maximumSize) {
  auto* heap = new (std::nothrow) PlatformHeapRec;
  if (!heap) return nullptr;
  heap->ledger.maximum = maximumSize;
  // The initial size only sizes the bookkeeping: blocks come from the C
  // allocator one by one. 32 bytes per block is a typical small request.
  heap->ledger.blocks.reserve(initialSize / 32 + 1);
  return heap;
}

void* PlatformHeapAlloc(HeapHandle heap, size_t size) {
  if (!heap) return nullptr;
  std::lock_guard guard(heap->ledger.lock);
  if (!LedgerFits(heap->ledger, size)) return nullptr;
  // calloc zero-fills and aligns for any fundamental type; a 0-byte request
  // still gets its own 1-byte block so every pointer stays unique.
  void* block = std::calloc(size ? size : 1, 1);
  if (!block) return nullptr;
  if (!LedgerAdd(heap->ledger, block, size)) {
    std::free(block);
    return nullptr;
  }
  return block;
}

void* PlatformHeapReAlloc(HeapHandle heap, void* block, size_t size) {
  if (!block) return PlatformHeapAlloc(heap, size);
  if (!heap) return nullptr;
  std::lock_guard guard(heap->ledger.lock);
  size_t old = 0;
  if (!LedgerFind(heap->ledger, block, &old)) return nullptr;
  if (size > old && !LedgerFits(heap->ledger, size - old)) return nullptr;
  void* moved = std::realloc(block, size ? size : 1);
  if (!moved) return nullptr;
  if (size > old) std::memset(static_cast<char*>(moved) + old, 0, size - old);
  LedgerMove(heap->ledger, block, moved, size);
  return moved;
}

bool PlatformHeapFree(HeapHandle heap, void* block) {
  if (!heap || !block) return false;
  std::lock_guard guard(heap->ledger.lock);
  if (!LedgerRemove(heap->ledger, block)) return false;
  std::free(block);
  return true;
}

size_t PlatformHeapSize(HeapHandle heap, const void* block) {
  if (!heap || !block) return 0;
  std::lock_guard guard(heap->ledger.lock);
  size_t size = 0;
  return LedgerFind(heap->ledger, block, &size) ? size : 0;
}

bool PlatformHeapDestroy(HeapHandle heap) {
  if (!heap) return false;
  {
    std::lock_guard guard(heap->ledger.lock);
    for (auto& [block, size] : heap->ledger.blocks) std::free(block);
    heap->ledger.blocks.clear();
  }
  delete heap;
  return true;
}
