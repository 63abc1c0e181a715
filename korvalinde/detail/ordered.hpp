// Runs make(0) ... make(n-1) on several threads and hands the results over
// in index order, holding only a few at a time: a stream of results that
// does not depend on the thread count.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "korvalinde/detail/parallel.hpp"

namespace korvalinde::detail {

// take(i, make(i)) for i = 0 ... n-1 in that order, one call at a time, each
// as soon as make(i) and every take before it are done. make runs on up to
// `threads` threads; a thread that gets `window` indices ahead of the next
// one to be taken waits, so that at most `window` results are held. take
// returning false stops: later results are dropped, indices not yet started
// are left out. An exception of make or take stops the same way and is
// thrown here.
template <class Make, class Take>
void ordered_for(std::size_t n, unsigned threads, std::size_t window, Make&& make, Take&& take) {
  using T = std::invoke_result_t<Make&, std::size_t>;
  if (threads <= 1 || n <= 1) {
    for (std::size_t i = 0; i < n; ++i) {
      if (!take(i, make(i))) return;
    }
    return;
  }
  window = std::max<std::size_t>(window, 1);
  std::vector<std::optional<T>> slots(std::min(window, n));  // result i in slot i % window
  std::mutex lock;
  std::condition_variable moved;
  std::size_t next = 0;  // the next index to be taken
  bool stop = false;
  parallel_for(n, threads, [&](std::size_t i) {
    try {
      {
        std::unique_lock<std::mutex> guard(lock);
        // The thread holding `next` never waits here: indices are started in
        // order, so every index before a waiting one has been started.
        moved.wait(guard, [&] { return stop || i < next + slots.size(); });
        if (stop) return;
      }
      T result = make(i);
      const std::lock_guard<std::mutex> guard(lock);
      if (stop) return;
      slots[i % slots.size()].emplace(std::move(result));
      for (std::optional<T>* s; !stop && next < n && *(s = &slots[next % slots.size()]);) {
        T ready = std::move(**s);
        s->reset();
        if (!take(next++, std::move(ready))) stop = true;
      }
      moved.notify_all();
    } catch (...) {
      {
        const std::lock_guard<std::mutex> guard(lock);  // released by the unwinding
        stop = true;
      }
      moved.notify_all();
      throw;
    }
  });
}

}  // namespace korvalinde::detail
