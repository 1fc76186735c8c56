// The bench program's own malloc family: each call goes to glibc's allocator
// (its __libc_ entry points) and, while counting is on, is counted. Because
// these definitions live in the executable, the dynamic linker binds every
// malloc of the process to them: the program's, glibc's own internal ones and
// those of a module loaded later with dlopen. A child between vfork and
// execve shares this memory, so its allocations are counted too.
//
// The process has one thread; the counts need no atomics.
#define _GNU_SOURCE
#include "alloc_count.h"

#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* pointer, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void* __libc_valloc(size_t size);
extern void* __libc_pvalloc(size_t size);
extern void __libc_free(void* pointer);

static int Counting;
static unsigned long Allocations;
static unsigned long Releases;

static void Taken(void) {
    if (Counting)
        Allocations++;
}

void* malloc(size_t size) {
    Taken();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    Taken();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    Taken();
    return __libc_realloc(pointer, size);
}

void* reallocarray(void* pointer, size_t count, size_t size) {
    Taken();
    if (size != 0 && count > SIZE_MAX / size) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_realloc(pointer, count * size);
}

static int PowerOfTwo(size_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

int posix_memalign(void** result, size_t alignment, size_t size) {
    Taken();
    if (!PowerOfTwo(alignment) || alignment % sizeof(void*) != 0)
        return EINVAL;
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == NULL)
        return ENOMEM;
    *result = pointer;
    return 0;
}

void* aligned_alloc(size_t alignment, size_t size) {
    Taken();
    if (!PowerOfTwo(alignment)) {
        errno = EINVAL;
        return NULL;
    }
    return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
    Taken();
    return __libc_memalign(alignment, size);
}

void* valloc(size_t size) {
    Taken();
    return __libc_valloc(size);
}

void* pvalloc(size_t size) {
    Taken();
    return __libc_pvalloc(size);
}

void free(void* pointer) {
    if (Counting && pointer != NULL)
        Releases++;
    __libc_free(pointer);
}

void AllocCountStart(void) {
    Allocations = 0;
    Releases = 0;
    Counting = 1;
}

void AllocCountStop(void) {
    Counting = 0;
}

unsigned long AllocCountAllocations(void) {
    return Allocations;
}

unsigned long AllocCountReleases(void) {
    return Releases;
}

int AllocCountBound(void) {
    struct Entry {
        const char* name;
        void* ours;
    };
    const struct Entry entries[] = {{"malloc", (void*)malloc},
                                    {"calloc", (void*)calloc},
                                    {"realloc", (void*)realloc},
                                    {"reallocarray", (void*)reallocarray},
                                    {"free", (void*)free},
                                    {"posix_memalign", (void*)posix_memalign},
                                    {"aligned_alloc", (void*)aligned_alloc},
                                    {"memalign", (void*)memalign},
                                    {"valloc", (void*)valloc},
                                    {"pvalloc", (void*)pvalloc}};
    for (size_t i = 0; i < sizeof entries / sizeof entries[0]; i++) {
        if (dlsym(RTLD_DEFAULT, entries[i].name) != entries[i].ours)
            return 0;
    }
    return 1;
}
