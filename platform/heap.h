// Private heaps: sets of zero-filled allocations that are freed together.
//
// The shell creates two at start-up: MainHeap (in DemoGlobals) for the object
// tables, arrays and text scratch, and ObjectListHeap for the nodes of the
// runtime's linked object lists and the requester's disabled-window records.
// Destroying a heap frees every block still allocated from it.
// All operations are safe to call from any thread (each heap is serialised).
#pragma once
#include <cstddef>

#include "platform/types.h"

// A new empty heap. initialSize is a hint in bytes; maximumSize caps the sum
// of live block sizes (0 = growable, no maximum). nullptr when out of memory.
HeapHandle PlatformHeapCreate(size_t initialSize, size_t maximumSize = 0);
// A zero-filled block of size bytes (0 is allowed and gives a unique block),
// aligned for any type. nullptr when heap is nullptr, the maximum would be
// exceeded or memory runs out.
void* PlatformHeapAlloc(HeapHandle heap, size_t size);
// Resizes a block of heap, keeping its contents; bytes beyond the old size
// are zero. nullptr (the block left as it was) on failure; a nullptr block
// allocates a new one.
void* PlatformHeapReAlloc(HeapHandle heap, void* block, size_t size);
// Frees one block. False (nothing freed) when block is nullptr or was not
// allocated from heap.
bool PlatformHeapFree(HeapHandle heap, void* block);
// Size in bytes of a live block of heap; 0 when it is not one.
size_t PlatformHeapSize(HeapHandle heap, const void* block);
// Frees every block, then the heap itself. False for nullptr.
bool PlatformHeapDestroy(HeapHandle heap);

// The heap for nodes of the runtime's object lists (libraries, images) and
// the requester's disabled-window records; created by the start-up,
// destroyed by TerminateProgram. nullptr outside a program run.
extern HeapHandle ObjectListHeap;
