#pragma once
// Makes every allocation of at least `bytes` in this test program throw
// std::bad_alloc, as an exhausted heap does, until the guard ends.
#include <cstddef>

namespace lumora::test {

class FailingAllocations {
public:
    explicit FailingAllocations(size_t bytes);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
};

}  // namespace lumora::test
