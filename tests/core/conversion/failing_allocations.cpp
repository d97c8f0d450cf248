// The program's operator new, which FailingAllocations can make fail. Every
// plain form is replaced together, so that what one form allocates another
// may free (libraries mix them).
#include "failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_failFrom{0};

void* Allocate(size_t n) noexcept {
    const size_t from = g_failFrom.load(std::memory_order_relaxed);
    if (from != 0 && n >= from) return nullptr;
    return std::malloc(n ? n : 1);
}

void* AllocateOrThrow(size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t n) { return AllocateOrThrow(n); }
void* operator new[](size_t n) { return AllocateOrThrow(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace lumora::test {

FailingAllocations::FailingAllocations(size_t bytes) { g_failFrom.store(bytes); }
FailingAllocations::~FailingAllocations() { g_failFrom.store(0); }

}  // namespace lumora::test
