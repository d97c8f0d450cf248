#pragma once
// Memory running out, on demand: this test program replaces the global
// operator new so that the next allocation of at least a given size throws
// std::bad_alloc, once.
#include <cstddef>

namespace lumora::test {

// From now on the next allocation of at least bytes fails (0: none fails).
void FailNextAllocationFrom(size_t bytes);
// The size still waiting to fail; 0 once the failure has happened.
size_t PendingAllocationFailure();

}  // namespace lumora::test
