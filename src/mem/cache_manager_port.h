// Where allocators meet the priority cache manager: its purge walk, run when a bound
// allocator's request fails.
#ifndef VARURUROR_MEM_CACHE_MANAGER_PORT_H
#define VARURUROR_MEM_CACHE_MANAGER_PORT_H

class mem_CacheManager;

namespace mem {

// Asks manager's items to give up memory until one purge frees need bytes; returns the
// bytes the last purge freed. Set by the cache manager when it is part of the build;
// while it is null no manager exists to be bound to.
using PurgeWalk = unsigned (*)(mem_CacheManager* manager, unsigned need);
extern PurgeWalk g_purge_walk;

}  // namespace mem

#endif
