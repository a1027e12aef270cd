#include "counting_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> gAllocations{0};
std::atomic<size_t> gFailFrom{0};

void* countedAlloc(size_t size) {
    gAllocations++;
    size_t failFrom = gFailFrom;
    if (failFrom != 0 && size >= failFrom)
        throw std::bad_alloc();
    void* p = malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void* countedAllocNoThrow(size_t size) noexcept {
    gAllocations++;
    return malloc(size ? size : 1);
}

} // namespace

long countingalloc::allocations() {
    return gAllocations;
}
void countingalloc::failAllocationsFrom(size_t bytes) {
    gFailFrom = bytes;
}

void* operator new(size_t size) {
    return countedAlloc(size);
}
void* operator new[](size_t size) {
    return countedAlloc(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return countedAllocNoThrow(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return countedAllocNoThrow(size);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete[](void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}
void operator delete[](void* p, size_t) noexcept {
    free(p);
}
