// Counts every allocation through operator new in a test program that links
// this, so that a test can prove a code path allocates nothing: take the
// count before and after. It can also make large allocations fail, as they
// do when memory runs out.
#pragma once

#include <cstddef>

namespace countingalloc {

long allocations();

// While `bytes` is not 0, every throwing operator new of at least that many
// bytes throws std::bad_alloc; the nothrow forms are left alone.
void failAllocationsFrom(size_t bytes);

} // namespace countingalloc
