#include "tools/mrvconvert/stop.h"

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <initializer_list>

namespace mrvconvert {

namespace {

std::atomic<int> g_signal{0};
std::atomic<bool> g_stop{false};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");
static_assert(std::atomic<bool>::is_always_lock_free, "used from a signal handler");

void on_signal(int signal_number) {
  if (g_signal.exchange(signal_number) != 0) {
    signal(signal_number, SIG_DFL);
    raise(signal_number);
  }
  g_stop.store(true);
}

}  // namespace

void install_stop_handlers() {
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  // A file too large for its disk is an error to report, not a death.
  signal(SIGXFSZ, SIG_IGN);
}

bool stop_requested() {
  return g_stop.load();
}
void request_stop() {
  g_stop.store(true);
}
int stop_signal() {
  return g_signal.load();
}

void die_of_signal(int signal_number) {
  signal(signal_number, SIG_DFL);
  raise(signal_number);
  abort();
}

}  // namespace mrvconvert
