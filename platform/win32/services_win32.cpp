// Libraries, clock and private heaps for Windows: the platform headers'
// functions on top of native_services.h (this file sees no <windows.h>).
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/heap.h"
#include "platform/win32/native_services.h"

// ---- Libraries ---------------------------------------------------------------

ModuleHandle PlatformLoadLibrary(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  return NativeLoadLibrary(path);
}

void* PlatformGetProcAddress(ModuleHandle module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return NativeGetProcAddress(module, name);
}

bool PlatformFreeLibrary(ModuleHandle module) {
  if (module == nullptr) return false;
  return NativeFreeLibrary(module);
}

// ---- Clock ---------------------------------------------------------------------

uint32_t PlatformTickCount() { return NativeTickCount(); }

void PlatformSleep(uint32_t ms) { NativeSleep(ms); }

// ---- Heaps ---------------------------------------------------------------------

// A system heap plus the set of its live blocks: HeapFree on a pointer the
// heap did not hand out corrupts it, so every block is checked here first,
// and the cap on the sum of live sizes is kept here too.
struct PlatformHeapRec {
  void* native = nullptr;
  std::mutex lock;
  std::unordered_map<void*, size_t> blocks;  // live block -> size in bytes
  size_t maximum = 0;                        // 0 = no cap
  size_t used = 0;                           // bytes
};

HeapHandle ObjectListHeap = nullptr;

namespace {

bool FitsMaximum(const PlatformHeapRec& heap, size_t extra) {
  if (heap.maximum == 0) return true;
  return heap.used <= heap.maximum && extra <= heap.maximum - heap.used;
}

}  // namespace

HeapHandle PlatformHeapCreate(size_t initialSize, size_t maximumSize) {
  auto* heap = new (std::nothrow) PlatformHeapRec;
  if (!heap) return nullptr;
  heap->native = NativeHeapCreate(initialSize);
  if (!heap->native) {
    delete heap;
    return nullptr;
  }
  heap->maximum = maximumSize;
  return heap;
}

void* PlatformHeapAlloc(HeapHandle heap, size_t size) {
  if (!heap) return nullptr;
  std::lock_guard guard(heap->lock);
  if (!FitsMaximum(*heap, size)) return nullptr;
  // A 0-byte request still gets a block of its own, so pointers stay unique.
  void* block = NativeHeapAlloc(heap->native, size ? size : 1);
  if (!block) return nullptr;
  try {
    heap->blocks.emplace(block, size);
  } catch (const std::bad_alloc&) {
    NativeHeapFree(heap->native, block);
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
  const size_t old = it->second;
  if (size > old && !FitsMaximum(*heap, size - old)) return nullptr;
  // HEAP_ZERO_MEMORY zero-fills the grown part.
  void* moved = NativeHeapReAlloc(heap->native, block, size ? size : 1);
  if (!moved) return nullptr;
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
  return NativeHeapFree(heap->native, block);
}

size_t PlatformHeapSize(HeapHandle heap, const void* block) {
  if (!heap || !block) return 0;
  std::lock_guard guard(heap->lock);
  auto it = heap->blocks.find(const_cast<void*>(block));
  return it == heap->blocks.end() ? 0 : it->second;
}

bool PlatformHeapDestroy(HeapHandle heap) {
  if (!heap) return false;
  // HeapDestroy releases every block still allocated from the heap.
  const bool ok = NativeHeapDestroy(heap->native);
  delete heap;
  return ok;
}
