#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace treelark {

// Memory for long lists of rows. A branch of a million rows lists 8 MB at once, and
// touching that many fresh pages one by one costs more than listing them; on a block
// this large the system is asked for huge pages, which it fills a few at a time.
template <typename T>
struct RowListAllocator {
    using value_type = T;
    static constexpr std::size_t kHuge = std::size_t(2) << 20;
    RowListAllocator() = default;
    template <typename U>
    RowListAllocator(const RowListAllocator<U>&) {}
    T* allocate(std::size_t n)
    {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kHuge)
            return std::allocator<T>().allocate(n);
        void* p = std::aligned_alloc(kHuge, (bytes + kHuge - 1) / kHuge * kHuge);
        if (!p)
            throw std::bad_alloc();
        ::madvise(p, bytes, MADV_HUGEPAGE);
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n)
    {
        if (n * sizeof(T) < kHuge)
            std::allocator<T>().deallocate(p, n);
        else
            std::free(p);
    }
    friend bool operator==(const RowListAllocator&, const RowListAllocator&) { return true; }
};

} // namespace treelark
