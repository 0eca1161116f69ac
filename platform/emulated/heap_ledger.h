// The bookkeeping of a private heap, shared by the heap on the C allocator
// (heap_emulated.cpp) and the one on Windows heaps (win32/services_win32.cpp):
// the set of live blocks with their sizes and the cap on their sum, so a
// block is checked against its heap before it is resized or freed. Portable;
// header-only so that each services library takes it as it is.
//
// The caller holds the ledger's lock around every call and the memory
// operation that goes with it.
#pragma once
#include <cstddef>
#include <mutex>
#include <new>
#include <unordered_map>

struct HeapLedger {
  std::mutex lock;                           // serialises every operation on the heap
  std::unordered_map<void*, size_t> blocks;  // live block -> size in bytes
  size_t maximum = 0;                        // cap on the sum of live sizes; 0 = none
  size_t used = 0;                           // sum of live block sizes in bytes
};

// True when adding extra bytes keeps the heap within its maximum.
inline bool LedgerFits(const HeapLedger& ledger, size_t extra) {
  if (ledger.maximum == 0) return true;
  return ledger.used <= ledger.maximum && extra <= ledger.maximum - ledger.used;
}

// Records a new block. False (nothing recorded) when the set cannot grow:
// the caller then gives the block back.
inline bool LedgerAdd(HeapLedger& ledger, void* block, size_t size) {
  try {
    ledger.blocks.emplace(block, size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  ledger.used += size;
  return true;
}

// The size of a live block in *size; false when block is not one.
inline bool LedgerFind(const HeapLedger& ledger, const void* block, size_t* size) {
  auto it = ledger.blocks.find(const_cast<void*>(block));
  if (it == ledger.blocks.end()) return false;
  *size = it->second;
  return true;
}

// A live block was resized to size bytes and may have moved. The existing
// node is re-keyed: no allocation and no rehash, so nothing here can throw.
inline void LedgerMove(HeapLedger& ledger, void* from, void* to, size_t size) {
  auto node = ledger.blocks.extract(from);
  ledger.used = ledger.used - node.mapped() + size;
  node.key() = to;
  node.mapped() = size;
  ledger.blocks.insert(std::move(node));
}

// Forgets a live block; false when block is not one.
inline bool LedgerRemove(HeapLedger& ledger, void* block) {
  auto it = ledger.blocks.find(block);
  if (it == ledger.blocks.end()) return false;
  ledger.used -= it->second;
  ledger.blocks.erase(it);
  return true;
}
