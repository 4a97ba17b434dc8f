// mrvconvert as a user runs it: trees of fixture files converted to PNG, each
// decoded again by Qt's PNG reader, by libpng itself, by Pillow and by
// ImageMagick and compared with the builder's pixels through the
// hand-written channel tables; runs killed in the middle; a full disk and a
// read-only folder in a mount namespace of their own.
#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"

using fixtures::MorvellaneBuilder;

namespace {

struct Outcome {
  int status = -1;  // the exit code, or 128 + the signal that ended it
  std::string out, err;
};

std::string slurp(const std::string& path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// Runs `program args...` with `env` added ("NAME=value"), output captured.
Outcome run_program(const std::vector<std::string>& argv,
                    const std::vector<std::string>& env = {}) {
  QTemporaryDir capture;
  const std::string out = capture.filePath("out").toStdString();
  const std::string err = capture.filePath("err").toStdString();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(126);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  Outcome r;
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

Outcome mrvconvert(std::vector<std::string> args, const std::vector<std::string>& env = {},
                   const char* program = MRVLN_MRVCONVERT) {
  args.insert(args.begin(), program);
  return run_program(args, env);
}

// Runs a shell script as root of a mount namespace of its own, where it may
// mount a small tmpfs or a read-only folder; false when this machine allows
// no such namespace.
bool run_in_mount_namespace(const std::string& script, Outcome* r) {
  const std::string unshare = geteuid() == 0 ? "-m" : "-rm";
  if (run_program({"unshare", unshare, "true"}).status != 0) return false;
  *r = run_program({"unshare", unshare, "sh", "-c", script});
  return true;
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  return QDir().mkpath(QFileInfo(QString::fromStdString(path)).path()) &&
         fixtures::write_file(path, bytes);
}

// A chart with every pixel changed from its neighbours, as in a photograph,
// so that PNG has work to do.
MorvellaneBuilder noisy(int32_t width, int32_t height) {
  MorvellaneBuilder b = fixtures::colour_chart(width, height);
  uint32_t state = 12345;
  for (uint16_t& p : b.pixels()) {
    state = state * 1103515245u + 12345u;
    p = static_cast<uint16_t>(p ^ ((state >> 16) & 0x0841u));
  }
  return b;
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top row first
};

Decoded via_qt(const std::string& path) {
  const QImage png =
      QImage(QString::fromStdString(path), "png").convertToFormat(QImage::Format_RGB888);
  Decoded d{png.width(), png.height(), {}};
  for (int y = 0; y < png.height(); ++y)
    d.rgb.insert(d.rgb.end(), png.constScanLine(y), png.constScanLine(y) + 3 * png.width());
  return d;
}

// The number of wrong pixels of the PNG at `path`, read by Qt, against the
// builder's picture; -1 when it is missing or has another size.
long wrong_pixels(const std::string& path, const MorvellaneBuilder& b) {
  const Decoded png = via_qt(path);
  if (png.width != static_cast<int>(b.width()) || png.height != static_cast<int>(b.rows()))
    return -1;
  const std::vector<uint8_t> want = fixtures::expected_rows(b, "rgb", true);
  long wrong = 0;
  for (size_t i = 0; i < want.size(); i += 3) wrong += memcmp(&png.rgb[i], &want[i], 3) != 0;
  return wrong;
}

Decoded via_libpng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Decoded d;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return d;
  image.format = PNG_FORMAT_RGB;
  d.rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, d.rgb.data(), 0, nullptr) == 0) return Decoded();
  d.width = static_cast<int>(image.width);
  d.height = static_cast<int>(image.height);
  return d;
}

// The rows `wanted` (ascending) of an 8-bit RGB PNG as libpng reads them
// one at a time, without the whole picture in memory; none when it fails.
std::vector<std::vector<uint8_t>> png_rows(const QString& path,
                                           const std::vector<uint32_t>& wanted) {
  std::vector<std::vector<uint8_t>> rows;
  FILE* f = fopen(path.toLocal8Bit().constData(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row;
  if (f != nullptr && info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_read_info(png, info);
    if (png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB && png_get_bit_depth(png, info) == 8) {
      row.resize(png_get_rowbytes(png, info));
      for (uint32_t y = 0, next = 0; y < png_get_image_height(png, info) && next < wanted.size();
           ++y) {
        png_read_row(png, row.data(), nullptr);
        if (y == wanted[next]) {
          rows.push_back(row);
          ++next;
        }
      }
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  if (f != nullptr) fclose(f);
  return rows.size() == wanted.size() ? rows : std::vector<std::vector<uint8_t>>();
}

// A binary PPM as Pillow and ImageMagick write it: "P6 W H 255" and the rows.
Decoded via_ppm(const std::string& path) {
  const std::string bytes = slurp(path);
  Decoded d;
  int consumed = 0;
  if (sscanf(bytes.c_str(), "P6 %d %d 255%n", &d.width, &d.height, &consumed) != 2 ||
      consumed == 0 || static_cast<size_t>(consumed) >= bytes.size())
    return Decoded();
  d.rgb.assign(bytes.begin() + consumed + 1, bytes.end());
  return d;
}

// A PNG and the picture it must hold.
struct Written {
  std::string png;
  MorvellaneBuilder picture;
};

// Each PNG read by four readers: Qt's and libpng's in this process, Pillow
// and ImageMagick as programs, once for all the files; "FILE: READER" for
// every reading that is not exactly the picture, empty when all are.
std::vector<std::string> misreadings(const std::vector<Written>& files) {
  QTemporaryDir ppm;
  std::vector<std::string> pillow = {
      "/usr/bin/python3", "-c",
      "import sys\nfrom PIL import Image\nfor i, p in enumerate(sys.argv[2:]):\n"
      "  with Image.open(p) as im:\n    assert im.mode == 'RGB'\n"
      "    im.save('%s/pillow-%d.ppm' % (sys.argv[1], i))",
      ppm.path().toStdString()};
  std::vector<std::string> magick = {"convert"};
  for (const Written& f : files) {
    pillow.push_back(f.png);
    magick.push_back(f.png);
  }
  magick.insert(magick.end(), {"+adjoin", "ppm:" + ppm.filePath("magick-%d.ppm").toStdString()});
  std::vector<std::string> wrong;
  for (const auto& program : {pillow, magick}) {
    const Outcome r = run_program(program);
    if (r.status != 0) wrong.push_back(program[0] + " failed: " + r.err);
  }
  const std::string dir = ppm.path().toStdString();
  for (size_t i = 0; i < files.size(); ++i) {
    const MorvellaneBuilder& b = files[i].picture;
    const std::vector<uint8_t> want = fixtures::expected_rows(b, "rgb", true);
    const std::string ppm_name = "-" + std::to_string(i) + ".ppm";
    const struct {
      const char* reader;
      Decoded got;
    } readings[] = {
        {"Qt", via_qt(files[i].png)},
        {"libpng", via_libpng(files[i].png)},
        {"Pillow", via_ppm(dir + "/pillow" + ppm_name)},
        {"ImageMagick", via_ppm(dir + "/magick" + ppm_name)},
    };
    for (const auto& r : readings)
      if (r.got.width != static_cast<int>(b.width()) ||
          r.got.height != static_cast<int>(b.rows()) || r.got.rgb != want)
        wrong.push_back(files[i].png + ": " + r.reader);
  }
  return wrong;
}

// Every file under `dir`, relative, hidden ones included.
std::vector<std::string> files_under(const std::string& dir) {
  std::vector<std::string> names;
  QDirIterator it(QString::fromStdString(dir), QDir::Files | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext())
    names.push_back(QDir(QString::fromStdString(dir)).relativeFilePath(it.next()).toStdString());
  std::sort(names.begin(), names.end());
  return names;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t count_lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// One file of the tree, and the output it must give (none when empty).
struct TreeFile {
  const char* path;
  MorvellaneBuilder picture;
  std::vector<uint8_t> bytes;  // when not the picture's own
  const char* output;
};

std::vector<TreeFile> tree_files() {
  const std::vector<uint8_t> standard =
      fixtures::colour_chart(4, 4).defect(fixtures::Defect::kWrongBitCount).build();
  const MorvellaneBuilder chart = fixtures::colour_chart(33, 17);
  return {
      {"a.bmp", chart, {}, "a.png"},
      {"b top-down.bmp", fixtures::colour_chart(8, -5), {}, "b top-down.png"},
      {"noisy.bmp", noisy(173, 97), {}, "noisy.png"},
      {"notes.txt", chart, {'h', 'i'}, nullptr},
      {"standard.bmp", chart, standard, nullptr},
      {"aligned.bmp", chart,
       MorvellaneBuilder(5, 2).defect(fixtures::Defect::kAlignedSizeImage).build(), nullptr},
      {"sub/Ünïcødé photo.bmp", fixtures::colour_chart(1, 1), {}, "sub/Ünïcødé photo.png"},
      {"sub/deeper/x.bmp", fixtures::colour_chart(3, 3), {}, "sub/deeper/x.bmp.png"},
      {"sub/deeper/x.BMP", noisy(31, 9), {}, "sub/deeper/x.BMP.png"},
      {"sub/truncated.bmp", chart, fixtures::first_bytes(chart.build(), chart.build().size() - 1),
       nullptr},
      {"sub/empty.bmp", chart, std::vector<uint8_t>{}, nullptr},
  };
}

class TreeTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    in_ = dir_.filePath("in tree").toStdString();
    for (const TreeFile& f : tree_files()) {
      const bool own = f.output != nullptr;
      ASSERT_TRUE(write_bytes(in_ + "/" + f.path, own ? f.picture.build() : f.bytes)) << f.path;
    }
    // A link to a file inside is followed; one out of the tree and one to
    // a folder are not.
    ASSERT_EQ(symlink("../a.bmp", (in_ + "/sub/link to a.bmp").c_str()), 0);
    ASSERT_TRUE(write_bytes(dir_.filePath("outside.bmp").toStdString(),
                            fixtures::colour_chart(2, 2).build()));
    ASSERT_EQ(symlink("../outside.bmp", (in_ + "/out of tree.bmp").c_str()), 0);
    ASSERT_EQ(symlink("..", (in_ + "/sub/up").c_str()), 0);
  }

  std::string out(const char* name) { return dir_.filePath(name).toStdString(); }

  // Every reader, or Qt's alone where another run has had every reader
  // read what the same conversion writes.
  void expect_tree(const std::string& out_dir, bool every_reader) {
    std::vector<std::string> expected = {"sub/link to a.png"};
    std::vector<Written> written = {
        {out_dir + "/sub/link to a.png", fixtures::colour_chart(33, 17)}};
    for (const TreeFile& f : tree_files()) {
      if (f.output == nullptr) continue;
      expected.push_back(f.output);
      written.push_back({out_dir + "/" + f.output, f.picture});
    }
    if (every_reader) EXPECT_EQ(misreadings(written), std::vector<std::string>());
    for (const Written& w : written) EXPECT_EQ(wrong_pixels(w.png, w.picture), 0) << w.png;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files_under(out_dir), expected) << "only the pictures, and no temporary file";
  }

  QTemporaryDir dir_;
  std::string in_;
};

const char kTreeSummary[] =
    "7 converted, 4 skipped (not Morvellane bitmaps), 1 failed, 2 links not followed; 14 files in ";

TEST_F(TreeTest, OneAndFourWorkersGiveTheSameExactFilesAndMessages) {
  const Outcome one = mrvconvert({"-r", "-j", "1", in_, out("one")});
  const Outcome four = mrvconvert({"-r", "-j4", in_, out("four")});
  EXPECT_EQ(one.status, 1) << "the truncated file makes the run end with 1\n" << one.err;
  EXPECT_TRUE(contains(one.out, kTreeSummary)) << one.out;
  EXPECT_EQ(count_lines(one.err), 3u) << one.err;
  EXPECT_TRUE(contains(one.err,
                       "sub/truncated.bmp: truncated Morvellane bitmap: the file ends after 1187 "
                       "of the 1188 bytes of its 33 x 17 pixels\n"))
      << one.err;
  EXPECT_TRUE(contains(one.err, "out of tree.bmp: a symbolic link out of the source folder"))
      << one.err;
  EXPECT_TRUE(contains(one.err, "sub/up: a symbolic link to a folder")) << one.err;
  EXPECT_EQ(four.status, one.status);
  EXPECT_EQ(four.out, one.out);
  EXPECT_EQ(four.err, one.err);
  expect_tree(out("one"), true);
  expect_tree(out("four"), false);
  for (const std::string& f : files_under(out("one")))
    EXPECT_EQ(slurp(out("one") + "/" + f), slurp(out("four") + "/" + f)) << f;

  // Again with -u: nothing is written.
  struct stat before, after;
  ASSERT_EQ(stat((out("one") + "/a.png").c_str(), &before), 0);
  const Outcome again = mrvconvert({"-r", "-u", in_, out("one")});
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(contains(again.out, "0 converted, 7 up to date, 4 skipped")) << again.out;
  ASSERT_EQ(stat((out("one") + "/a.png").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(TreeTest, WithoutRecursionOnlyTheTopFolder) {
  const Outcome r = mrvconvert({in_, out("top"), "--quiet"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "") << "--quiet prints no summary";
  EXPECT_EQ(files_under(out("top")),
            (std::vector<std::string>{"a.png", "b top-down.png", "noisy.png"}));
}

// A run killed (SIGKILL, no chance to clean up) or stopped (SIGTERM) while
// writing its third output, then resumed with -u. The build of mrvconvert
// for this raises the signal halfway through that output's first write.
TEST_F(TreeTest, InterruptedRunsLeaveOnlyWholeFilesAndResume) {
  for (const char* how : {"9", "15"}) {
    SCOPED_TRACE(std::string("signal ") + how);
    const std::string o = out(how);
    // An older output in the way of the interrupted file stays as it was.
    ASSERT_TRUE(write_bytes(o + "/noisy.png", {'o', 'l', 'd'}));
    const timespec old_times[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (o + "/noisy.png").c_str(), old_times, 0), 0);
    const Outcome killed =
        mrvconvert({"-r", "-j1", in_, o}, {std::string("MRVLN_TEST_SIGNAL_AFTER=2 ") + how},
                   MRVLN_MRVCONVERT_INTERRUPTIBLE);
    EXPECT_EQ(killed.status, 128 + atoi(how)) << killed.err;
    EXPECT_EQ(slurp(o + "/noisy.png"), "old");
    EXPECT_EQ(wrong_pixels(o + "/a.png", fixtures::colour_chart(33, 17)), 0);
    EXPECT_EQ(wrong_pixels(o + "/b top-down.png", fixtures::colour_chart(8, -5)), 0);
    const std::vector<std::string> left = files_under(o);
    const size_t temps = std::count_if(left.begin(), left.end(), [](const std::string& f) {
      return f.rfind(".mrvconvert-", 0) == 0;
    });
    // SIGKILL leaves its temporary file for the next run; SIGTERM removes it.
    EXPECT_EQ(temps, std::string(how) == "9" ? 1u : 0u);
    EXPECT_EQ(left.size(), 3u + temps);

    const Outcome resumed = mrvconvert({"-r", "-u", "-j4", in_, o});
    EXPECT_EQ(resumed.status, 1);
    EXPECT_TRUE(contains(resumed.out, "5 converted, 2 up to date")) << resumed.out;
    expect_tree(o, false);
  }
}

TEST(Folder, FullDiskStopsTheRunAndHarmsNothing) {
  QTemporaryDir dir;
  const std::string in = dir.filePath("in").toStdString(), mnt = dir.filePath("disk").toStdString();
  const MorvellaneBuilder picture = noisy(300, 200);  // about 80 KiB as PNG
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp"})
    ASSERT_TRUE(write_bytes(in + "/" + name, picture.build()));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(mnt)));
  Outcome r;
  const std::string kept = dir.filePath("kept").toStdString();
  const std::string script = "mount -t tmpfs -o size=200k tmpfs '" + mnt + "' && mkdir '" + mnt +
                             "/out' && printf kept > '" + mnt + "/out/f.png' && '" +
                             MRVLN_MRVCONVERT + "' -j2 '" + in + "' '" + mnt +
                             "/out'; echo \"exit $?\"; cp -a '" + mnt + "/out' '" + kept + "'";
  if (!run_in_mount_namespace(script, &r)) GTEST_SKIP() << "no mount namespace here (unshare -m)";
  EXPECT_TRUE(contains(r.out, "exit 4")) << r.out << r.err;
  EXPECT_EQ(r.err.rfind("mrvconvert: " + mnt + "/out/", 0), 0u) << r.err;
  EXPECT_TRUE(contains(r.err, ".png: cannot write: the disk is full; the run stops")) << r.err;
  EXPECT_EQ(count_lines(r.err), 1u) << r.err;
  EXPECT_TRUE(contains(r.out, "not done")) << r.out;
  // What is there is whole, and the file that was there is unharmed.
  const std::vector<std::string> left = files_under(kept);
  EXPECT_GE(left.size(), 2u);
  for (const std::string& f : left) {
    if (f == "f.png")
      EXPECT_EQ(slurp(kept + "/f.png"), "kept");
    else
      EXPECT_EQ(wrong_pixels(kept + "/" + f, picture), 0) << f;
  }
}

TEST(Folder, AnOutputFolderThatCannotBeWrittenStopsWithOneMessage) {
  QTemporaryDir dir;
  const std::string in = dir.filePath("in").toStdString(), ro = dir.filePath("ro").toStdString();
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
    ASSERT_TRUE(write_bytes(in + "/" + name, fixtures::colour_chart(5, 5).build()));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(ro)));
  Outcome r;
  const std::string script = "mount --bind '" + ro + "' '" + ro +
                             "' && mount -o remount,bind,ro '" + ro + "' && for t in '" + ro +
                             "' '" + ro + "/new'; do '" + MRVLN_MRVCONVERT + "' '" + in +
                             "' \"$t\"; echo \"exit $?\"; done";
  if (!run_in_mount_namespace(script, &r)) GTEST_SKIP() << "no mount namespace here (unshare -m)";
  EXPECT_EQ(r.err, "mrvconvert: " + ro + ": cannot write into the folder: the disk is read-only\n" +
                       "mrvconvert: " + ro + "/new: cannot make the folder: " + ro +
                       " is on a read-only disk\n");
  EXPECT_EQ(count_lines(r.out), 3u) << "one summary, two exit codes\n" << r.out;
  EXPECT_TRUE(
      contains(r.out, "0 converted, 0 skipped (not Morvellane bitmaps), 0 failed, 3 not done"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "exit 4\n")) << r.out;
}

TEST(Folder, ExitCodesAndMessages) {
  QTemporaryDir dir;
  const std::string in = dir.filePath("in").toStdString();
  ASSERT_TRUE(write_bytes(in + "/one.bmp", fixtures::colour_chart(4, 4).build()));
  ASSERT_TRUE(write_bytes(dir.filePath("a file").toStdString(), {'x'}));
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{in, in}, 2, "the target folder must differ from the source folder"},
      {{in, dir.filePath("a file/x").toStdString()}, 4, "a file, not a folder"},
      {{"-j", "0", in, dir.filePath("x").toStdString()}, 2, "--jobs takes a number from 1"},
      {{"--compression=10", in, dir.filePath("x").toStdString()}, 2, "from 0 to 9"},
      {{"--limit=-1", in, dir.filePath("x").toStdString()}, 2, "--limit takes a number of MiB"},
      {{"--no-such-option", in, dir.filePath("x").toStdString()}, 2, "unknown option"},
      {{in}, 2, "takes a source and a target"},
  };
  for (const auto& c : cases) {
    const Outcome r = mrvconvert(c.args);
    EXPECT_EQ(r.status, c.status) << c.message;
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
  }
}

// The chunks' types in order, or "" past a chunk that overruns the file.
std::string chunk_types(const std::string& png) {
  std::string types;
  for (size_t at = 8; at + 12 <= png.size();) {
    uint32_t length = 0;
    for (size_t i = at; i < at + 4; ++i) length = length << 8 | static_cast<uint8_t>(png[i]);
    if (length > png.size() - at - 12) return "";
    types += png.substr(at + 4, 4) + " ";
    at += 12 + length;
  }
  return types;
}

TEST(SingleFile, EveryCompressionLevelAndFormatGivesTheExactPicture) {
  QTemporaryDir dir;
  // An odd width, rows stored top first, and at level 0 more than one
  // IDAT chunk's worth (256 KiB).
  const MorvellaneBuilder odd = noisy(301, -293);
  const std::string in = dir.filePath("odd width.bmp").toStdString();
  ASSERT_TRUE(write_bytes(in, odd.build()));
  std::vector<Written> written;
  std::vector<std::string> files;
  for (int level = 0; level <= 9; ++level) {
    // The last into a folder: the file's name there, with .png.
    const QString name = level < 9 ? QString("level %1.png").arg(level) : "odd width.png";
    const std::string png = dir.filePath(name).toStdString();
    const Outcome r = mrvconvert(
        {"--compression", std::to_string(level), in, level < 9 ? png : dir.path().toStdString()},
        {"XDG_RUNTIME_DIR="});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "no warning from Qt or the writer";
    EXPECT_EQ(r.out, in + " -> " + png + ": 301 x 293\n");
    written.push_back({png, odd});
    files.push_back(slurp(png));
  }
  EXPECT_EQ(misreadings(written), std::vector<std::string>());
  // Nothing but the picture's chunks; the levels take effect.
  EXPECT_EQ(chunk_types(files[0]), "IHDR IDAT IDAT IEND ");
  for (const std::string& f : files)
    EXPECT_TRUE(std::regex_match(chunk_types(f), std::regex("IHDR (IDAT )+IEND ")))
        << chunk_types(f);
  EXPECT_GT(files[0].size(), files[1].size());
  EXPECT_GT(files[1].size(), files[9].size());
  // Another format by its suffix.
  const std::string bmp = dir.filePath("as.bmp").toStdString();
  ASSERT_EQ(mrvconvert({in, bmp}).status, 0);
  const QImage back = QImage(QString::fromStdString(bmp), "bmp");
  EXPECT_TRUE(back.save(dir.filePath("as.bmp.png"), "png"));
  EXPECT_EQ(wrong_pixels(dir.filePath("as.bmp.png").toStdString(), odd), 0);
}

// Refusals are the reader's words after the file's name, one line each.
TEST(SingleFile, RefusalsSayWhy) {
  QTemporaryDir dir;
  const std::vector<uint8_t> chart = fixtures::colour_chart(8, 8).build();  // 194 bytes
  const std::vector<uint8_t> standard =
      fixtures::colour_chart(8, 8).defect(fixtures::Defect::kWrongBitCount).build();
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* target;
    int status;
    const char* message;  // the whole line after "mrvconvert: ", or its end
  } cases[] = {
      {"standard.bmp", standard, "s.png", 1, "standard.bmp: not a Morvellane bitmap"},
      {"cut.bmp", fixtures::first_bytes(chart, 100), "c.jpg", 1,
       "cut.bmp: truncated Morvellane bitmap: the file ends after 100 of the 194 bytes of its 8 "
       "x 8 pixels"},
      {"huge.bmp", fixtures::header_only(30000, 30000).build(), "h.png", 1,
       "huge.bmp: Morvellane bitmap too large: 30000 x 30000 pixels, more than the limit of "
       "1024 MiB decoded"},
      {"chart.bmp", chart, "x.nosuchformat", 2, "no writer for the suffix \"nosuchformat\""},
      {"same.bmp", chart, "same.bmp", 2, "same.bmp: source and target are the same file"},
      {"chart2.bmp", chart, "no/such/folder/x.png", 4, "cannot write: no such file or folder"},
  };
  for (const auto& c : cases) {
    const std::string in = dir.filePath(c.name).toStdString();
    ASSERT_TRUE(write_bytes(in, c.bytes));
    const Outcome r = mrvconvert({in, dir.filePath(c.target).toStdString()});
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.err;
    if (c.status == 1)
      EXPECT_EQ(r.err, "mrvconvert: " + dir.filePath(c.message).toStdString() + "\n");
    else
      EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    EXPECT_FALSE(QFile::exists(dir.filePath(c.target)) && c.status != 2) << c.target;
  }
  const Outcome missing = mrvconvert({dir.filePath("none.bmp").toStdString(), "x.png"});
  EXPECT_EQ(missing.status, 4);
  EXPECT_TRUE(contains(missing.err, "none.bmp: cannot open: no such file or folder"))
      << missing.err;
}

// The limit counts the pixels as decoded for the target: 3 bytes each for
// PNG, 4 for the other formats.
TEST(SingleFile, TheLimitRefusesInTheReadersWords) {
  QTemporaryDir dir;
  const std::string in = dir.filePath("chart.bmp").toStdString();
  ASSERT_TRUE(write_bytes(in, fixtures::colour_chart(1024, 1024).build()));
  const std::string over = "mrvconvert: " + in +
                           ": Morvellane bitmap too large: 1024 x 1024 pixels, more than the "
                           "limit of %1 MiB decoded\n";
  const struct {
    const char* limit;
    const char* target;
    bool refused;
  } cases[] = {
      {"--limit=2", "a.png", true},  {"--limit=2", "a.jpg", true}, {"--limit=2", "a.bmp", true},
      {"--limit=3", "b.png", false}, {"--limit=3", "b.jpg", true}, {"--limit=0", "c.jpg", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.limit) + " " + c.target);
    const std::string out = dir.filePath(c.target).toStdString();
    const Outcome r = mrvconvert({"-q", c.limit, in, out});
    EXPECT_EQ(r.status, c.refused ? 1 : 0);
    const std::string mib(c.limit + 8);
    EXPECT_EQ(r.err, c.refused ? QString::fromStdString(over).arg(mib.c_str()).toStdString() : "");
    EXPECT_EQ(QImageReader(QString::fromStdString(out)).size(),
              c.refused ? QSize() : QSize(1024, 1024));
  }
}

// 8192 x 8193 takes 192 MiB as PNG's 24-bit rows and just over 256 MiB as
// 32-bit ones: over Qt 6's allocation limits (128 or 256 MiB), within
// mrvconvert's own. Black but for its top and bottom rows; a sparse file.
TEST(SingleFile, PicturesOverQtsAllocationLimitConvert) {
  QTemporaryDir dir;
  constexpr int32_t kWidth = 8192, kHeight = 8193;
  const MorvellaneBuilder ends = fixtures::colour_chart(kWidth, 2);  // bottom, top
  const std::vector<uint8_t> head = fixtures::header_only(kWidth, kHeight).build();
  const std::vector<uint8_t> rows = ends.build();
  const qint64 row_bytes = 2 * kWidth;
  const std::string in = dir.filePath("large.bmp").toStdString();
  QFile file(QString::fromStdString(in));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(reinterpret_cast<const char*>(head.data()), 66), 66);
  ASSERT_EQ(file.write(reinterpret_cast<const char*>(&rows[66]), row_bytes), row_bytes);
  ASSERT_TRUE(file.seek(66 + row_bytes * (kHeight - 1)));
  ASSERT_EQ(file.write(reinterpret_cast<const char*>(&rows[66 + row_bytes]), row_bytes), row_bytes);
  file.close();

  for (const char* target : {"large.png", "large.jpg"}) {
    const std::string out = dir.filePath(target).toStdString();
    const Outcome r = mrvconvert({in, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, in + " -> " + out + ": 8192 x 8193\n");
  }
  EXPECT_EQ(QImageReader(dir.filePath("large.jpg")).size(), QSize(kWidth, kHeight));
  // The PNG's top, middle and bottom rows, read by libpng a row at a time.
  const std::vector<uint32_t> wanted = {0, kHeight / 2, kHeight - 1};
  const std::vector<std::vector<uint8_t>> got = png_rows(dir.filePath("large.png"), wanted);
  ASSERT_EQ(got.size(), 3u);
  const std::vector<uint8_t> want = fixtures::expected_rows(ends, "rgb", true);  // top, bottom
  EXPECT_TRUE(std::equal(got[0].begin(), got[0].end(), want.begin()));
  EXPECT_EQ(got[1], std::vector<uint8_t>(3 * kWidth, 0));
  EXPECT_TRUE(std::equal(got[2].begin(), got[2].end(), want.begin() + 3 * kWidth));
}

TEST(CommandLine, HelpFitsEightyColumnsAndVersionWorks) {
  const Outcome help = mrvconvert({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(contains(help.out, "--compression")) << help.out;
  EXPECT_FALSE(contains(help.out, "\n  3  ")) << "an exit code mrvconvert never gives";
  size_t start = 0, longest = 0;
  for (size_t end; (end = help.out.find('\n', start)) != std::string::npos; start = end + 1)
    longest = std::max<size_t>(
        longest,
        static_cast<size_t>(QString::fromStdString(help.out.substr(start, end - start)).size()));
  EXPECT_LE(longest, 80u);
  const Outcome version = mrvconvert({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind(std::string("mrvconvert ") + MRVLN_EXPECTED_VERSION + "\n", 0), 0u)
      << version.out;
}

TEST(CommandLine, TheProductHoldsNoTestHook) {
  const std::string program = slurp(MRVLN_MRVCONVERT);
  ASSERT_GT(program.size(), 0u);
  EXPECT_FALSE(contains(program, "MRVLN_TEST"));
  EXPECT_TRUE(contains(slurp(MRVLN_MRVCONVERT_INTERRUPTIBLE), "MRVLN_TEST"));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
