// The global and local heaps on the native host. A handle is the block's
// address, for movable blocks too; the lock count of a movable block is kept
// beside it, so GlobalUnlock answers like Windows.
#include "posix/host.h"
#include "posix/host_internal.h"

#include <stdlib.h>
#include <string.h>

#include <unordered_map>

namespace host {
namespace {

enum Heap { GLOBAL_HEAP, LOCAL_HEAP };

struct Block {
    Heap heap;
    bool movable;
    unsigned locks;
    size_t size;
};

std::unordered_map<void *, Block> blocks;

// The failing allocation of MORVIK_FAIL_ALLOC / HostFailAllocation.
bool failureLoaded = false;
long countdown = 0; // the allocation that reaches 0 fails; 0: none

bool NextAllocationFails() {
    if (!failureLoaded) {
        failureLoaded = true;
        countdown = 0;
        const char *value = getenv("MORVIK_FAIL_ALLOC");
        if (value && *value) {
            char *end = nullptr;
            long n = strtol(value, &end, 10);
            if (*end == '\0' && n > 0)
                countdown = n;
        }
    }
    return countdown > 0 && --countdown == 0;
}

void *Allocate(Heap heap, UINT flags, size_t bytes) {
    if (NextAllocationFails())
        return nullptr;
    // GMEM_ZEROINIT and LMEM_ZEROINIT are the same bit.
    void *memory =
        (flags & GMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (!memory)
        return nullptr;
    blocks[memory] = Block{heap, heap == GLOBAL_HEAP && (flags & GMEM_MOVEABLE) != 0, 0, bytes};
    return memory;
}

Block *Find(void *memory, Heap heap) {
    auto found = blocks.find(memory);
    return (found != blocks.end() && found->second.heap == heap) ? &found->second : nullptr;
}

// NULL on success, the handle itself when it is no block of that heap.
void *Release(void *memory, Heap heap) {
    if (!memory)
        return nullptr;
    if (!Find(memory, heap))
        return memory;
    blocks.erase(memory);
    free(memory);
    return nullptr;
}

} // namespace

size_t BlockExtent(const void *memory) {
    auto found = blocks.find(const_cast<void *>(memory));
    return found != blocks.end() ? found->second.size : 0;
}

void ResetMemory() {
    failureLoaded = false;
    countdown = 0;
}

} // namespace host

void HostFailAllocation(int nth) {
    host::failureLoaded = true;
    host::countdown = nth > 0 ? nth : 0;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, size_t bytes) {
    return host::Allocate(host::GLOBAL_HEAP, flags, bytes);
}

LPVOID WINAPI GlobalLock(HGLOBAL memory) {
    host::Block *block = host::Find(memory, host::GLOBAL_HEAP);
    if (!block)
        return nullptr;
    if (block->movable)
        ++block->locks;
    return memory;
}

// TRUE while the block stays locked; FALSE once its lock count is back at 0
// (or when it was not locked). A fixed block has no lock count.
BOOL WINAPI GlobalUnlock(HGLOBAL memory) {
    host::Block *block = host::Find(memory, host::GLOBAL_HEAP);
    if (!block)
        return FALSE;
    if (!block->movable)
        return TRUE;
    if (block->locks == 0)
        return FALSE;
    --block->locks;
    return block->locks > 0;
}

HGLOBAL WINAPI GlobalHandle(LPCVOID pointer) {
    void *memory = const_cast<void *>(pointer);
    return host::Find(memory, host::GLOBAL_HEAP) ? memory : nullptr;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
    return host::Release(memory, host::GLOBAL_HEAP);
}

HLOCAL WINAPI LocalAlloc(UINT flags, size_t bytes) {
    return host::Allocate(host::LOCAL_HEAP, flags, bytes);
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    return host::Release(memory, host::LOCAL_HEAP);
}
