// The heap's settings, with glibc's mallopt.
#include "platform/memory.h"

#include <malloc.h>

namespace redim {

void keepFreedMemoryForTheNextPhoto()
{
    // Blocks up to 32 MiB, the most mallopt allows, come from the heap rather than from
    // mappings of their own; the few larger ones are the image library's pixels, which it maps
    // in huge pages itself. One arena: with one per thread, a block freed by one thread could
    // not serve the next photo decoded on another.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    ::mallopt(M_ARENA_MAX, 1);
}

void releaseKeptMemory()
{
    ::malloc_trim(0);
}

}  // namespace redim
