// Work spread over the machine's cores.
#pragma once

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace onpu {

// More threads would need more buffers and gain little: the work ends in
// one file.
inline constexpr unsigned kMaxThreads = 4;

// Whether this build can start threads at all. A WebAssembly build without
// thread support cannot, and there a failed start aborts instead of throwing,
// so it never tries: everything runs on the calling thread.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
inline constexpr bool kThreadsAvailable = false;
#else
inline constexpr bool kThreadsAvailable = true;
#endif

// One thread per core, at most kMaxThreads.
inline unsigned core_threads() {
  return kThreadsAvailable ? std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads) : 1u;
}

// Runs work on up to `threads` threads, the calling one among them, and
// returns once every one has finished. When no more threads can be started,
// fewer run it, so work must give the same result on any number of them.
template <typename Work>
void run_on_threads(size_t threads, const Work& work) {
  std::vector<std::thread> helpers;
  for (size_t i = 1; kThreadsAvailable && i < threads; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

// Runs `beside` on a thread of its own and `here` on the calling one, and
// returns once both have finished. When no thread can be started, `beside`
// runs first on the calling one, so neither may wait for the other.
template <typename Beside, typename Here>
void run_side_by_side(const Beside& beside, const Here& here) {
  std::thread helper;
  if (!kThreadsAvailable) {
    beside();
  } else {
    try {
      helper = std::thread(beside);
    } catch (const std::system_error&) {
      beside();
    }
  }
  struct Joiner {
    std::thread& thread;
    ~Joiner() {
      if (thread.joinable()) thread.join();
    }
  } joiner{helper};
  here();
}

}  // namespace onpu
