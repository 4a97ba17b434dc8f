#include "tools/mrvconvert/progress.h"

#include <stdio.h>
#include <time.h>

namespace mrvconvert {

namespace {

constexpr uint64_t kRedrawMs = 250;

std::string clock_text(uint64_t seconds) {
  char text[32];
  if (seconds >= 3600)
    snprintf(text, sizeof text, "%llu:%02llu:%02llu",
             static_cast<unsigned long long>(seconds / 3600),
             static_cast<unsigned long long>(seconds / 60 % 60),
             static_cast<unsigned long long>(seconds % 60));
  else
    snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
             static_cast<unsigned long long>(seconds % 60));
  return text;
}

}  // namespace

uint64_t now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

Progress::Progress(bool quiet, bool terminal)
    : quiet_(quiet), terminal_(terminal), cadence_(now_ms()) {}

void Progress::start(size_t total, size_t pictures) {
  total_ = total;
  pictures_ = pictures;
  start_ms_ = now_ms();
  cadence_ = mrvln_tools::ProgressCadence(start_ms_);
}

// "4.2 files/s, 0:43 left", once a picture is done.
std::string Progress::rate_text() const {
  const uint64_t elapsed = now_ms() - start_ms_;
  if (pictures_done_ == 0 || elapsed == 0) return "";
  const double rate = static_cast<double>(pictures_done_) * 1000.0 / static_cast<double>(elapsed);
  char text[48];
  snprintf(text, sizeof text, "%.1f files/s", rate);
  const uint64_t left =
      static_cast<uint64_t>(static_cast<double>(pictures_ - pictures_done_) / rate + 0.5);
  return std::string(text) + ", " + clock_text(left) + " left";
}

void Progress::file_done(size_t done, size_t pictures_done, const mrvln_tools::FolderTally& tally) {
  done_ = done;
  pictures_done_ = pictures_done;
  if (quiet_) return;
  if (terminal_) {
    if (now_ms() - drawn_ms_ >= kRedrawMs) draw();
    return;
  }
  if (cadence_.due(done, total_, now_ms())) {
    const std::string rate = rate_text();
    fprintf(stderr, "mrvconvert: %s%s\n", mrvln_tools::progress_text(done, total_, tally).c_str(),
            rate.empty() ? "" : ("; " + rate).c_str());
  }
}

void Progress::tick() {
  if (!quiet_ && terminal_) draw();
}

void Progress::draw() {
  const std::string rate = rate_text();
  // Short enough for an 80-column terminal; \33[K clears what a longer
  // line left.
  fprintf(stderr, "\rmrvconvert: %zu of %zu files%s\33[K", done_, total_,
          rate.empty() ? "" : (", " + rate).c_str());
  fflush(stderr);
  drawn_ = true;
  drawn_ms_ = now_ms();
}

void Progress::clear() {
  if (!drawn_) return;
  fputs("\r\33[K", stderr);
  drawn_ = false;
}

void Progress::problem(const std::string& text) {
  clear();
  fprintf(stderr, "mrvconvert: %s\n", text.c_str());
  drawn_ms_ = 0;  // redrawn at once
}

void Progress::finish() {
  clear();
  fflush(stderr);
}

}  // namespace mrvconvert
