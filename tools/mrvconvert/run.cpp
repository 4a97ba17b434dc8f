#include "tools/mrvconvert/run.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImageWriter>
#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "tools/common/run_status.h"
#include "tools/mrvconvert/convert_file.h"
#include "tools/mrvconvert/output_file.h"
#include "tools/mrvconvert/pool.h"
#include "tools/mrvconvert/progress.h"
#include "tools/mrvconvert/stop.h"
#include "tools/mrvconvert/tree.h"

namespace mrvconvert {

using mrvln_tools::EXIT_DONE;
using mrvln_tools::EXIT_FILE_ERROR;
using mrvln_tools::EXIT_USAGE;
using mrvln_tools::FolderTally;
using mrvln_tools::Outcome;

namespace {

void report(const std::string& text) {
  fprintf(stderr, "mrvconvert: %s\n", text.c_str());
}

// The name without its last suffix: "a.b.bmp" gives "a.b", ".bmp" stays.
std::string stem(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string base_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folder_part(const std::string& relative) {
  const size_t slash = relative.rfind('/');
  return slash == std::string::npos ? "" : relative.substr(0, slash);
}

bool not_older(const timespec& a, const timespec& b) {
  return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

// Whether an output exists that is not older than its source.
bool up_to_date(const std::string& target, const timespec& source_mtime) {
  struct stat st;
  return stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         not_older(st.st_mtim, source_mtime);
}

unsigned worker_count(const Options& o, size_t tasks) {
  const size_t wanted = o.jobs != 0 ? o.jobs : available_processors();
  return static_cast<unsigned>(std::max<size_t>(1, std::min(wanted, tasks)));
}

// One file of a folder run, in the order of the listing.
struct Item {
  Entry entry;
  Outcome outcome = Outcome::kSkipped;
  int code = EXIT_DONE;
  std::string message;
  bool convert = false;
  Job job;
};

struct FolderRun {
  const Options& options;
  std::vector<Item> items;
  std::vector<size_t> jobs;  // indices of the items to convert
  std::set<std::string> output_folders;
};

// Which files are Morvellane bitmaps: headers read by the workers.
void classify(FolderRun* run) {
  std::vector<size_t> files;
  for (size_t i = 0; i < run->items.size(); ++i) {
    Item& item = run->items[i];
    if (item.entry.kind == EntryKind::kFile) files.push_back(i);
    if (item.entry.kind == EntryKind::kNotFollowed) {
      item.outcome = Outcome::kNotFollowed;
      item.message = item.entry.source + ": " + item.entry.why_not_followed + "; not followed";
    }
  }
  run_in_order(
      files.size(), worker_count(run->options, files.size()),
      [&](size_t f) {
        Item& item = run->items[files[f]];
        int error = 0;
        const int verdict = holds_morvellane(item.entry.source, &error);
        if (verdict < 0) {
          item.outcome = Outcome::kFailed;
          item.code = EXIT_FILE_ERROR;
          item.message = item.entry.source + ": cannot open: " + error_text(error);
        }
        item.convert = verdict > 0;
      },
      [](size_t) {}, [] {}, [] { return false; });
}

// Where each picture goes: NAME.png in the mirrored folder, or NAME.SUFFIX.png
// when two sources of one folder would share a name. Outputs that are not
// older than their source stay with -u.
void name_outputs(FolderRun* run) {
  std::map<std::string, std::vector<size_t>> by_target;
  std::set<std::pair<dev_t, ino_t>> sources;
  for (size_t i = 0; i < run->items.size(); ++i) {
    Item& item = run->items[i];
    sources.insert({item.entry.device, item.entry.inode});
    if (!item.convert) continue;
    const std::string dir = join_path(run->options.out, folder_part(item.entry.relative));
    item.job = Job{item.entry.source, join_path(dir, stem(base_name(item.entry.relative)) + ".png"),
                   "png"};
    by_target[item.job.target].push_back(i);
  }
  for (auto& [target, sharing] : by_target) {
    if (sharing.size() < 2) continue;
    for (size_t i : sharing) {
      Item& item = run->items[i];
      item.job.target =
          join_path(folder_part(item.job.target), base_name(item.entry.relative)) + ".png";
    }
  }
  std::map<std::string, size_t> taken;
  for (size_t i = 0; i < run->items.size(); ++i) {
    Item& item = run->items[i];
    if (!item.convert) continue;
    struct stat st;
    const bool exists = stat(item.job.target.c_str(), &st) == 0;
    std::string why;
    if (!taken.emplace(item.job.target, i).second)
      why = "its output " + item.job.target + " is also the output of " +
            run->items[taken[item.job.target]].entry.source + "; not converted";
    else if (exists && sources.count({st.st_dev, st.st_ino}) != 0)
      why = "its output " + item.job.target + " would replace a source file; not converted";
    if (!why.empty()) {
      item.convert = false;
      item.outcome = Outcome::kFailed;
      item.code = EXIT_FILE_ERROR;
      item.message = item.entry.source + ": " + why;
      continue;
    }
    if (run->options.update && exists && S_ISREG(st.st_mode) &&
        not_older(st.st_mtim, item.entry.mtime)) {
      item.convert = false;
      item.outcome = Outcome::kUpToDate;
      continue;
    }
    run->jobs.push_back(i);
    run->output_folders.insert(folder_part(item.job.target));
  }
}

// Makes the output folders and checks that each takes a file; removes what
// interrupted runs left there. False, with one message, when one cannot be
// made or written.
bool prepare_folders(const FolderRun& run, const Tree& tree) {
  for (const std::string& relative : tree.folders)
    remove_stale_temps(join_path(run.options.out, relative));
  for (const std::string& dir : run.output_folders) {
    const std::string why = make_folder(dir);
    if (!why.empty()) {
      report(dir + ": cannot make the folder: " + why);
      return false;
    }
    OutputFile probe;
    const int error = probe.open(join_path(dir, "probe"));
    if (error != 0) {
      report(dir + ": cannot write into the folder: " + error_text(error));
      return false;
    }
  }
  return true;
}

// Converts the jobs on the workers; takes every item's result in order.
FolderTally convert_jobs(FolderRun* run) {
  const bool terminal = isatty(STDERR_FILENO) == 1;
  Progress progress(run->options.quiet, terminal);
  progress.start(run->items.size(), run->jobs.size());
  FolderTally tally;
  size_t emitted = 0, pictures_done = 0;
  auto emit_until = [&](size_t end) {
    for (; emitted < end; ++emitted) {
      const Item& item = run->items[emitted];
      if (!item.message.empty() && (item.outcome != Outcome::kNotFollowed || !run->options.quiet))
        progress.problem(item.message);
      mrvln_tools::record(&tally, item.outcome, item.code);
      if (item.convert) ++pictures_done;
      progress.file_done(emitted + 1, pictures_done, tally);
    }
  };
  std::vector<JobResult> results(run->jobs.size());
  const int compression = run->options.compression;
  const uint64_t limit = run->options.limit();
  const size_t collected = run_in_order(
      run->jobs.size(), worker_count(run->options, run->jobs.size()),
      [&](size_t j) {
        results[j] = convert_file(run->items[run->jobs[j]].job, compression, limit, stop_requested);
        if (results[j].stops_run) request_stop();
      },
      [&](size_t j) {
        Item& item = run->items[run->jobs[j]];
        item.outcome = results[j].outcome;
        item.code = results[j].code;
        item.message = results[j].message;
        if (results[j].stops_run) item.message += "; the run stops";
        emit_until(run->jobs[j] + 1);
      },
      [&] { progress.tick(); }, stop_requested);
  for (size_t j = collected; j < run->jobs.size(); ++j)
    run->items[run->jobs[j]].outcome = Outcome::kNotDone;
  emit_until(run->items.size());
  progress.finish();
  return tally;
}

void print_summary(const Options& o, const FolderTally& tally) {
  if (!o.quiet) printf("%s\n", mrvln_tools::summary_text(tally, o.in).c_str());
  fflush(stdout);
}

}  // namespace

int run_folder(const Options& o) {
  struct stat in_st, out_st;
  if (stat(o.in.c_str(), &in_st) != 0) {
    report(o.in + ": cannot open: " + error_text(errno));
    return EXIT_FILE_ERROR;
  }
  if (stat(o.out.c_str(), &out_st) == 0 && out_st.st_dev == in_st.st_dev &&
      out_st.st_ino == in_st.st_ino) {
    report(o.in + ": the target folder must differ from the source folder");
    return EXIT_USAGE;
  }
  const std::string why = make_folder(o.out);
  if (!why.empty()) {
    report(o.out + ": cannot make the folder: " + why);
    return EXIT_FILE_ERROR;
  }
  stat(o.out.c_str(), &out_st);
  const Tree tree = list_tree(o.in, o.recursive, out_st.st_dev, out_st.st_ino);
  int listing = EXIT_DONE;
  for (const std::string& problem : tree.problems) {
    report(problem);
    listing = EXIT_FILE_ERROR;
  }
  FolderRun run{o, {}, {}, {}};
  for (const Entry& e : tree.entries) {
    run.items.emplace_back();
    run.items.back().entry = e;
  }
  classify(&run);
  name_outputs(&run);
  FolderTally tally;
  if (!prepare_folders(run, tree)) {
    // Nothing is converted: one message, not one a file.
    for (size_t j : run.jobs) run.items[j].outcome = Outcome::kNotDone;
    for (const Item& item : run.items) mrvln_tools::record(&tally, item.outcome, item.code);
    print_summary(o, tally);
    return EXIT_FILE_ERROR;
  }
  tally = convert_jobs(&run);
  for (const std::string& dir : run.output_folders) sync_folder(dir);
  if (stop_signal() != 0) {
    report("interrupted; what is converted is complete, run again with -u for the rest");
    print_summary(o, tally);
    die_of_signal(stop_signal());
  }
  print_summary(o, tally);
  return std::max(tally.status, listing);
}

int run_file(const Options& o) {
  std::string out = o.out;
  struct stat in_st, out_st;
  if (stat(out.c_str(), &out_st) == 0 && S_ISDIR(out_st.st_mode))
    out = join_path(out, stem(base_name(o.in)) + ".png");
  const size_t dot = base_name(out).rfind('.');
  const QByteArray format =
      dot == std::string::npos
          ? QByteArray()
          : QByteArray::fromStdString(base_name(out).substr(dot + 1)).toLower();
  if (format != "png" && !QImageWriter::supportedImageFormats().contains(format)) {
    QStringList names;
    for (const QByteArray& f : QImageWriter::supportedImageFormats())
      names << QString::fromLatin1(f);
    report(out + ": no writer for the suffix \"" + format.toStdString() + "\"; try .png (" +
           names.join(QStringLiteral(", ")).toStdString() + ")");
    return EXIT_USAGE;
  }
  if (stat(o.in.c_str(), &in_st) == 0 && stat(out.c_str(), &out_st) == 0 &&
      in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino) {
    report(o.in + ": source and target are the same file");
    return EXIT_USAGE;
  }
  if (o.update && up_to_date(out, in_st.st_mtim)) {
    if (!o.quiet) printf("%s: %s is up to date\n", o.in.c_str(), out.c_str());
    return EXIT_DONE;
  }
  int error = 0;
  if (holds_morvellane(o.in, &error) < 0) {
    report(o.in + ": cannot open: " + error_text(error));
    return EXIT_FILE_ERROR;
  }
  const JobResult r =
      convert_file(Job{o.in, out, format}, o.compression, o.limit(), stop_requested);
  if (stop_signal() != 0) die_of_signal(stop_signal());
  if (r.outcome != Outcome::kConverted) {
    report(r.message);
    return r.code;
  }
  if (!o.quiet) printf("%s -> %s: %d x %d\n", o.in.c_str(), out.c_str(), r.width, r.height);
  return EXIT_DONE;
}

}  // namespace mrvconvert
