// Private heaps emulated on the C allocator (portable, no OS header): each
// heap keeps the set of its live blocks, so a block can be checked against
// its heap before it is freed and the whole set can be released at once.
#include "platform/heap.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

struct PlatformHeapRec {
  std::mutex lock;                           // serialises every operation on this heap
  std::unordered_map<void*, size_t> blocks;  // live block -> size in bytes
  size_t maximum = 0;                        // cap on the sum of live sizes; 0 = none
  size_t used = 0;                           // sum of live block sizes in bytes
};

HeapHandle ObjectListHeap = nullptr;

namespace {

// True when adding `extra` bytes keeps the heap within its maximum.
bool FitsMaximum(const PlatformHeapRec& heap, size_t extra) {
  if (heap.maximum == 0) return true;
  return heap.used <= heap.maximum && extra <= heap.maximum - heap.used;
}

}  // namespace

HeapHandle PlatformHeapCreate(size_t initialSize, size_t maximumSize) {
  auto* heap = new (std::nothrow) PlatformHeapRec;
  if (!heap) return nullptr;
  heap->maximum = maximumSize;
  // The initial size only sizes the bookkeeping: blocks come from the C
  // allocator one by one. 32 bytes per block is a typical small request.
  heap->blocks.reserve(initialSize / 32 + 1);
  return heap;
}

void* PlatformHeapAlloc(HeapHandle heap, size_t size) {
  if (!heap) return nullptr;
  std::lock_guard guard(heap->lock);
  if (!FitsMaximum(*heap, size)) return nullptr;
  // calloc zero-fills and aligns for any fundamental type; a 0-byte request
  // still gets its own 1-byte block so every pointer stays unique.
  void* block = std::calloc(size ? size : 1, 1);
  if (!block) return nullptr;
  try {
    heap->blocks.emplace(block, size);
  } catch (const std::bad_alloc&) {
    std::free(block);
    return nullptr;
  }
  heap->used += size;
  return block;
}

void* PlatformHeapReAlloc(HeapHandle heap, void* block, size_t size) {
  if (!block) return PlatformHeapAlloc(heap, size);
  if (!heap) return nullptr;
  std::lock_guard guard(heap->lock);
  auto it = heap->blocks.find(block);
  if (it == heap->blocks.end()) return nullptr;
  size_t old = it->second;
  if (size > old && !FitsMaximum(*heap, size - old)) return nullptr;
  void* moved = std::realloc(block, size ? size : 1);
  if (!moved) return nullptr;
  if (size > old) std::memset(static_cast<char*>(moved) + old, 0, size - old);
  // Re-key the existing node: no allocation, and the element count is
  // unchanged, so no rehash either; nothing here can throw.
  auto node = heap->blocks.extract(it);
  node.key() = moved;
  node.mapped() = size;
  heap->blocks.insert(std::move(node));
  heap->used = heap->used - old + size;
  return moved;
}

bool PlatformHeapFree(HeapHandle heap, void* block) {
  if (!heap || !block) return false;
  std::lock_guard guard(heap->lock);
  auto it = heap->blocks.find(block);
  if (it == heap->blocks.end()) return false;
  heap->used -= it->second;
  heap->blocks.erase(it);
  std::free(block);
  return true;
}

size_t PlatformHeapSize(HeapHandle heap, const void* block) {
  if (!heap || !block) return 0;
  std::lock_guard guard(heap->lock);
  auto it = heap->blocks.find(const_cast<void*>(block));
  return it == heap->blocks.end() ? 0 : it->second;
}

bool PlatformHeapDestroy(HeapHandle heap) {
  if (!heap) return false;
  {
    std::lock_guard guard(heap->lock);
    for (auto& [block, size] : heap->blocks) std::free(block);
    heap->blocks.clear();
  }
  delete heap;
  return true;
}
