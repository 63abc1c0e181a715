// An allocator whose elements start uninitialised: a vector resized to a
// large size is not zeroed first, so its pages are first touched by whoever
// writes them (the parsing threads), not by one thread up front. A large
// array (2 MiB or more) is aligned to 2 MiB and asks for transparent huge
// pages: written once, it costs one page fault per 2 MiB rather than one per
// 4 KiB, which on a virtual machine is most of the cost of filling it.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace korvalinde::detail {

inline constexpr std::size_t kHugePage = std::size_t{1} << 21;

// Advice only: where the kernel has no huge pages for it, nothing changes.
inline void advise_huge_pages(void* p, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  const std::uintptr_t last = (begin + bytes) & ~std::uintptr_t{kHugePage - 1};
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

template <class T>
struct UninitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitAllocator<U>;
  };
  UninitAllocator() = default;
  template <class U>
  UninitAllocator(const UninitAllocator<U>&) noexcept {}

  static constexpr bool large(std::size_t n) noexcept { return n >= kHugePage / sizeof(T); }

  T* allocate(std::size_t n) {
    if (!large(n)) return std::allocator<T>::allocate(n);
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    void* p = ::operator new(n * sizeof(T), std::align_val_t{kHugePage});
    advise_huge_pages(p, n * sizeof(T));
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (!large(n)) return std::allocator<T>::deallocate(p, n);
    ::operator delete(p, std::align_val_t{kHugePage});
  }

  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

template <class T, class U>
bool operator==(const UninitAllocator<T>&, const UninitAllocator<U>&) noexcept {
  return true;
}

template <class T>
using RawVector = std::vector<T, UninitAllocator<T>>;

}  // namespace korvalinde::detail
