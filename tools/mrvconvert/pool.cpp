#include "tools/mrvconvert/pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace mrvconvert {

size_t run_in_order(size_t count, unsigned threads, const std::function<void(size_t)>& work,
                    const std::function<void(size_t)>& collect, const std::function<void()>& tick,
                    const std::function<bool()>& stop) {
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char> done(count, 0);
  unsigned running = threads;
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t)
    workers.emplace_back([&] {
      for (;;) {
        if (stop()) break;
        const size_t i = next.fetch_add(1);
        if (i >= count) break;
        work(i);
        std::lock_guard<std::mutex> lock(mutex);
        done[i] = 1;
        changed.notify_one();
      }
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      changed.notify_one();
    });

  size_t collected = 0;
  while (collected < count) {
    bool ready;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait_for(lock, std::chrono::milliseconds(200),
                       [&] { return done[collected] != 0 || running == 0; });
      ready = done[collected] != 0;
      if (!ready && running == 0) break;  // stopped before this task
    }
    if (ready) {
      collect(collected);
      ++collected;
    } else {
      tick();
    }
  }
  for (std::thread& w : workers) w.join();
  return collected;
}

}  // namespace mrvconvert
