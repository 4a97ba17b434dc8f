// A pool of workers over numbered tasks whose results are taken in order.
#ifndef MRVLN_TOOLS_MRVCONVERT_POOL_H
#define MRVLN_TOOLS_MRVCONVERT_POOL_H

#include <stddef.h>

#include <functional>

namespace mrvconvert {

// Runs work(i) for i = 0 .. count - 1 on `threads` threads, each task on one
// of them. On the calling thread, collect(i) is called for each task in
// order of i as soon as it and all before it are done, and tick() about
// every 200 ms while it waits. Workers take no new task once stop() is true.
// Returns how many tasks were collected: all of them, unless stopped.
size_t run_in_order(size_t count, unsigned threads, const std::function<void(size_t)>& work,
                    const std::function<void(size_t)>& collect, const std::function<void()>& tick,
                    const std::function<bool()>& stop);

}  // namespace mrvconvert

#endif
