// An allocator for the image-sized arrays of a run (amplitudes, strain terms, intensities):
// blocks of 2 MB or more are aligned to 2 MB and offered to the kernel as huge pages where it
// takes them. A 256 x 256 x 5 complex array is then a handful of page faults instead of over a
// thousand, which on a virtual machine costs as much as a few slices of the column loop. Smaller
// blocks, and systems without the advice, take the ordinary allocation.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace korvex {

template <class T> struct LargePageAllocator {
    using value_type = T;
    static constexpr std::size_t kHuge = std::size_t{1} << 21;

    LargePageAllocator() = default;
    template <class U> LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        if (!huge(bytes)) return std::allocator<T>{}.allocate(n);
        const std::size_t whole = (bytes + kHuge - 1) / kHuge * kHuge;
        void* p = std::aligned_alloc(kHuge, whole);
        if (!p) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
        ::madvise(p, whole, MADV_HUGEPAGE); // advice only: refused, the pages stay small
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (huge(n * sizeof(T)))
            std::free(p);
        else
            std::allocator<T>{}.deallocate(p, n);
    }
    template <class U> bool operator==(const LargePageAllocator<U>&) const noexcept {
        return true;
    }

  private:
    static bool huge(std::size_t bytes) {
        return bytes >= kHuge;
    }
};

} // namespace korvex
