#pragma once

// What the engine's threads leave with the allocator. Its decoder threads allocate and free
// pictures of up to 12 MiB (a 4K frame in three planes) and come and go with every player;
// glibc's malloc would give each of them an arena of its own.
namespace platform::media::EngineMemory {

// Keeps the allocator from holding on to large freed blocks and to the free top of each arena,
// and the engine's threads to a few arenas. Called once, before the first core.
void limitRetainedMemory();

// Gives the system back the free pages the allocator holds anywhere: called once the last core
// has closed and its threads have ended, so nothing that plays pays for the pages it touches
// again.
void returnFreedMemory();

} // namespace platform::media::EngineMemory
