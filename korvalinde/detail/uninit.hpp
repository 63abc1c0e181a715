// An allocator whose elements start uninitialised: a vector resized to a
// large size is not zeroed first, so its pages are first touched by whoever
// writes them (the parsing threads), not by one thread up front.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace korvalinde::detail {

template <class T>
struct UninitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitAllocator<U>;
  };
  UninitAllocator() = default;
  template <class U>
  UninitAllocator(const UninitAllocator<U>&) noexcept {}

  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

template <class T>
using RawVector = std::vector<T, UninitAllocator<T>>;

}  // namespace korvalinde::detail
