// glibc grows a block that it mapped on its own with mremap, without copying a byte. By default
// it raises its mapping threshold to the size of every mapped block freed, so after the first
// long answer the next one's buffers come from the heap, and each doubling copies megabytes into
// freshly faulted pages in one go. A fixed threshold keeps them mapped; as the fixed threshold
// also stops the trim threshold from following it, that one is set to keep freed heap memory
// for the next answer instead of faulting it in again. The threshold is low enough that the
// one copy from the heap into a map of its own stays well under a millisecond.
#include "platform/Memory.h"

#include <malloc.h>

namespace tarnwick::platform {

namespace {
constexpr int kLargeBlock = 256 * 1024;
constexpr int kKeptFreeHeap = 32 * 1024 * 1024;
} // namespace

void MapLargeBlocks() {
    (void)mallopt(M_MMAP_THRESHOLD, kLargeBlock);
    (void)mallopt(M_TRIM_THRESHOLD, kKeptFreeHeap);
}

} // namespace tarnwick::platform
