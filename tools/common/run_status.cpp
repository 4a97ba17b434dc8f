#include "tools/common/run_status.h"

namespace mrvln_tools {

namespace {

constexpr size_t kProgressEveryFiles = 100;
constexpr uint64_t kProgressEveryMs = 2000;

std::string count(size_t n, const char* what) {
  return std::to_string(n) + " " + what;
}

}  // namespace

void record(FolderTally* tally, Outcome outcome, int code) {
  switch (outcome) {
    case Outcome::kConverted:
      ++tally->converted;
      break;
    case Outcome::kUpToDate:
      ++tally->up_to_date;
      break;
    case Outcome::kSkipped:
      ++tally->skipped;
      break;
    case Outcome::kFailed:
      ++tally->failed;
      break;
    case Outcome::kNotFollowed:
      ++tally->not_followed;
      break;
    case Outcome::kNotDone:
      ++tally->not_done;
      break;
  }
  if (code > tally->status) tally->status = code;
}

std::string summary_text(const FolderTally& t, const std::string& folder) {
  std::string s = count(t.converted, "converted");
  if (t.up_to_date != 0) s += ", " + count(t.up_to_date, "up to date");
  s += ", " + count(t.skipped, "skipped (not Morvellane bitmaps)");
  s += ", " + count(t.failed, "failed");
  if (t.not_followed != 0)
    s += ", " +
         count(t.not_followed, t.not_followed == 1 ? "link not followed" : "links not followed");
  if (t.not_done != 0) s += ", " + count(t.not_done, "not done");
  return s + "; " + count(t.files(), "files in ") + folder;
}

std::string progress_text(size_t done, size_t total, const FolderTally& t) {
  return std::to_string(done) + " of " + count(total, "files: ") +
         count(t.converted, "converted, ") + count(t.skipped, "skipped, ") +
         count(t.failed, "failed");
}

bool ProgressCadence::due(size_t done, size_t total, uint64_t now_ms) {
  if (done >= total) return false;
  if (done % kProgressEveryFiles != 0 && now_ms - last_ms_ < kProgressEveryMs) return false;
  last_ms_ = now_ms;
  return true;
}

}  // namespace mrvln_tools
