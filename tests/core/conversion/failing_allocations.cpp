// The program's operator new, which FailingAllocations can make fail.
#include "failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_failFrom{0};
}

void* operator new(size_t n) {
    const size_t from = g_failFrom.load(std::memory_order_relaxed);
    if (from != 0 && n >= from) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace lumora::test {

FailingAllocations::FailingAllocations(size_t bytes) { g_failFrom.store(bytes); }
FailingAllocations::~FailingAllocations() { g_failFrom.store(0); }

}  // namespace lumora::test
