// Libraries, clock and private heaps for Windows: the platform headers'
// functions on top of native_services.h (this file sees no <windows.h>).
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/emulated/heap_ledger.h"
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

// A system heap plus the set of its live blocks (emulated/heap_ledger.h):
// HeapFree on a pointer the heap did not hand out corrupts it, so every
// block is checked here first, and the cap on the sum of live sizes is kept
// here too.
struct PlatformHeapRec {
  void* native = nullptr;
  HeapLedger ledger;
};

HeapHandle ObjectListHeap = nullptr;

HeapHandle PlatformHeapCreate(size_t initialSize, size_t maximumSize) {
  auto* heap = new (std::nothrow) PlatformHeapRec;
  if (!heap) return nullptr;
  heap->native = NativeHeapCreate(initialSize);
  if (!heap->native) {
    delete heap;
    return nullptr;
  }
  heap->ledger.maximum = maximumSize;
  return heap;
}

void* PlatformHeapAlloc(HeapHandle heap, size_t size) {
  if (!heap) return nullptr;
  std::lock_guard guard(heap->ledger.lock);
  if (!LedgerFits(heap->ledger, size)) return nullptr;
  // A 0-byte request still gets a block of its own, so pointers stay unique.
  void* block = NativeHeapAlloc(heap->native, size ? size : 1);
  if (!block) return nullptr;
  if (!LedgerAdd(heap->ledger, block, size)) {
    NativeHeapFree(heap->native, block);
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
  // HEAP_ZERO_MEMORY zero-fills the grown part.
  void* moved = NativeHeapReAlloc(heap->native, block, size ? size : 1);
  if (!moved) return nullptr;
  LedgerMove(heap->ledger, block, moved, size);
  return moved;
}

bool PlatformHeapFree(HeapHandle heap, void* block) {
  if (!heap || !block) return false;
  std::lock_guard guard(heap->ledger.lock);
  if (!LedgerRemove(heap->ledger, block)) return false;
  return NativeHeapFree(heap->native, block);
}

size_t PlatformHeapSize(HeapHandle heap, const void* block) {
  if (!heap || !block) return 0;
  std::lock_guard guard(heap->ledger.lock);
  size_t size = 0;
  return LedgerFind(heap->ledger, block, &size) ? size : 0;
}

bool PlatformHeapDestroy(HeapHandle heap) {
  if (!heap) return false;
  // HeapDestroy releases every block still allocated from the heap.
  const bool ok = NativeHeapDestroy(heap->native);
  delete heap;
  return ok;
}
