// Counts every allocation through operator new in a test program that links
// this, so that a test can prove a code path allocates nothing: take the
// count before and after.
#pragma once

namespace countingalloc {

long allocations();

} // namespace countingalloc
