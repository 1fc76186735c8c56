// Counting heap allocations in this process while counting is switched on
// (alloc_count.c).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Clears both counts and starts counting.
void AllocCountStart(void);
// Stops counting; the counts stay as they were.
void AllocCountStop(void);
// Allocations counted (malloc, calloc, realloc, reallocarray, the aligned
// family, valloc, pvalloc) and releases counted (free, non-null pointers).
unsigned long AllocCountAllocations(void);
unsigned long AllocCountReleases(void);
// Whether every allocation function that the dynamic linker hands to a module
// (what a module loaded with dlopen calls) is this counter's.
int AllocCountBound(void);

#ifdef __cplusplus
}
#endif
