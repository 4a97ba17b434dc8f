#include "tools/mrvconvert/convert_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>

#include "codec/morvellane.h"
#include "codec/reader.h"
#include "readers/qt/morvellane_handler.h"
#include "tools/mrvconvert/output_file.h"
#include "tools/mrvconvert/png_writer.h"

namespace mrvconvert {

using mrvln_tools::EXIT_DONE;
using mrvln_tools::EXIT_FILE_ERROR;
using mrvln_tools::EXIT_REFUSED;
using mrvln_tools::Outcome;

namespace {

JobResult failure(const std::string& path, const std::string& what, int code) {
  JobResult r;
  r.outcome = Outcome::kFailed;
  r.code = code;
  r.message = path + ": " + what;
  return r;
}

// Reads up to `size` bytes from the start; the number read, or -1.
ssize_t read_start(int fd, uint8_t* to, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, to + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

int write_other(const QImage& image, const QByteArray& format, OutputFile* out) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(image)) return EINVAL;
  return out->write(buffer.data().constData(), static_cast<size_t>(buffer.size()));
}

}  // namespace

std::string error_text(int error) {
  switch (error) {
    case ENOSPC:
      return "the disk is full";
    case EDQUOT:
      return "the disk quota is used up";
    case EROFS:
      return "the disk is read-only";
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOENT:
      return "no such file or folder";
    case ENOTDIR:
      return "a part of the path is a file, not a folder";
    case EISDIR:
      return "it is a folder";
    case ENAMETOOLONG:
      return "the name is too long";
    case EFBIG:
      return "the file is too large for this disk";
    case EIO:
      return "input/output error (the disk may be failing)";
    default:
      return strerror(error);
  }
}

int holds_morvellane(const std::string& path, int* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  uint8_t header[mrvln::ACCEPTANCE_FIELDS_END];
  const ssize_t got = read_start(fd, header, sizeof header);
  *error = got < 0 ? errno : 0;
  close(fd);
  if (got < 0) return -1;
  return mrvln::is_morvellane(mrvln::ByteView{header, static_cast<uint32_t>(got)}) ? 1 : 0;
}

JobResult convert_file(const Job& job, int compression, uint64_t limit, bool (*stop_requested)()) {
  const int fd = open(job.source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failure(job.source, "cannot open: " + error_text(errno), EXIT_FILE_ERROR);
  QFile file;
  file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
  // PNG's rows are red, green, blue: the writer filters them as they are.
  const bool png = job.format == "png";
  QImage image;
  const mrvln::Refusal refusal = mrvln_qt::read_morvellane(
      &file, png ? mrvln::PIXEL_RGB24 : mrvln::PIXEL_BGRX32, limit, &image);
  if (refusal.reason != mrvln::REASON_NONE) {
    if (file.error() != QFileDevice::NoError)
      return failure(job.source, "cannot read: " + file.errorString().toStdString(),
                     EXIT_FILE_ERROR);
    char text[mrvln::REFUSAL_TEXT_SIZE];
    mrvln::refusal_text(refusal, text, sizeof text);
    return failure(job.source, text, EXIT_REFUSED);
  }
  file.close();

  JobResult result;
  result.width = image.width();
  result.height = image.height();
  if (stop_requested()) return result;  // not done
  OutputFile out;
  int error = out.open(job.target);
  if (error == 0 && png) {
    thread_local PngWriter writer;  // one a worker, kept across its files
    error = writer.write(image, compression, &out);
  } else if (error == 0) {
    error = write_other(image, job.format, &out);
  }
  if (stop_requested()) return result;  // the temporary file goes with `out`
  if (error == 0) error = out.commit();
  if (error != 0) {
    JobResult f = failure(job.target, "cannot write: " + error_text(error), EXIT_FILE_ERROR);
    f.stops_run = stops_the_run(error);
    return f;
  }
  result.outcome = Outcome::kConverted;
  return result;
}

}  // namespace mrvconvert
