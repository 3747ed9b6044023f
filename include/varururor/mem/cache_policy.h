// How cache items are registered with a cache manager: under a priority, by a policy.
#ifndef VARURUROR_MEM_CACHE_POLICY_H
#define VARURUROR_MEM_CACHE_POLICY_H

// Priority p uses purge list p - 1; higher priorities are purged first.
enum mem_CachePriorityEnm : int {
  mem_CachePriority1 = 1,
  mem_CachePriority2 = 2,
  mem_CachePriority3 = 3,
};

// As the priority cache manager reads them. (The memory cache manager reads 0 and 1 the
// other way round: 0 appends at the tail, 1 inserts at the head.)
enum mem_CachePolicyEnm : int {
  mem_CachePolicyHead = 0,    // the item becomes the head of its list
  mem_CachePolicyTail = 1,    // the item joins at the tail end of its list
  mem_CachePolicyNone = 2,    // the item is not registered
  mem_CachePolicyAlways = 3,  // the item joins the "ALWAYS" list at the tail end
};

#endif
