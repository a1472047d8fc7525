#include "platform/media/EngineMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform::media::EngineMemory {
namespace {

// Blocks this large or larger are mapped on their own and unmapped when freed: a 4K picture's
// (8 MiB for its full-size plane, 12 MiB for all three in one), but none of the screens' images
// (a full window at scale 2 stays below it).
constexpr int kMappedBlockBytes = 4 * 1024 * 1024;
// The free top of an arena past this goes back to the system as it is freed (glibc's default).
constexpr int kTrimmedTopBytes = 128 * 1024;
// Arenas in all, the main one included. The engine's many threads (and the application's) share
// these instead of taking one each (glibc allows eight per core): a player's freed buffers then mostly lie between blocks
// other threads still use, where the next player's threads find them, instead of at the top of
// an arena of their own, which shrinks as they are freed and is faulted in again by the next.
constexpr int kArenas = 4;

} // namespace

void limitRetainedMemory()
{
#if defined(__GLIBC__)
    // Left to itself, glibc raises both thresholds to the largest block freed so far (up to
    // 32 MiB): once a 4K picture has been freed, every arena keeps up to twice its size free at
    // its top, which no trim returns. With an arena per decoder thread, a few 4K playbacks leave
    // hundreds of MiB held with a few MiB in use. Setting them fixes both. The low trim
    // threshold costs pages given back as one player closes and faulted in by the next; few
    // arenas make that smaller (a free top held while playing, and handed back only when the
    // last core closes, leaves tops held in arenas its teardown frees nothing into).
    mallopt(M_MMAP_THRESHOLD, kMappedBlockBytes);
    mallopt(M_TRIM_THRESHOLD, kTrimmedTopBytes);
    mallopt(M_ARENA_MAX, kArenas);
#endif
}

void returnFreedMemory()
{
#if defined(__GLIBC__)
    // What the ended threads freed below blocks still in use stays with their arenas until a
    // thread that reuses the arena allocates again; this hands back every whole free page.
    malloc_trim(0);
#endif
}

} // namespace platform::media::EngineMemory
