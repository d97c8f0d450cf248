// The replaced allocation functions live apart from the tests that use them,
// so that the compiler never sees their malloc and free inlined into code
// that it compiled against its own operator new.
#include "allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_failFrom{0};
}

namespace lumora::test {
void FailNextAllocationFrom(size_t bytes) { g_failFrom.store(bytes); }
size_t PendingAllocationFailure() { return g_failFrom.load(); }
}  // namespace lumora::test

void* operator new(std::size_t n) {
    size_t limit = g_failFrom.load(std::memory_order_relaxed);
    if (limit != 0 && n >= limit && g_failFrom.compare_exchange_strong(limit, 0)) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
// Every form that pairs with the deletes below comes from here too (a
// sanitizer's own would not match them).
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return operator new(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
