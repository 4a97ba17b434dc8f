// The plug-in of this build tree, selected exclusively, through QImageReader
// as every Qt program uses it. Expected pixels come from the fixture tables.
#include <gtest/gtest.h>
#include <string.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <thread>
#include <vector>

#include "tests/fixtures/morvellane_builder.h"

namespace {

using fixtures::Defect;
using fixtures::MorvellaneBuilder;

QByteArray bytes_of(const MorvellaneBuilder& b) {
  const std::vector<uint8_t> v = b.build();
  return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<int>(v.size()));
}

// The picture as a viewer shows it, top row first, from the tables: bytes
// blue, green, red, 0xFF are Format_RGB32 on little-endian machines.
QImage expected_image(const MorvellaneBuilder& b) {
  const std::vector<uint8_t> rows = fixtures::expected_rows(b, "bgrx", true);
  const int width = static_cast<int>(b.width()), height = static_cast<int>(b.rows());
  return QImage(rows.data(), width, height, 4 * width, QImage::Format_RGB32).copy();
}

// A slow pipe: sequential, at most 1000 bytes per read, and after each
// read nothing until the reader waits for more.
class Trickle : public QIODevice {
 public:
  explicit Trickle(const QByteArray& data) : data_(data) { open(ReadOnly); }
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override {
    return (ready_ ? data_.size() - at_ : 0) + QIODevice::bytesAvailable();
  }
  bool waitForReadyRead(int) override {
    ready_ = at_ < data_.size();
    return ready_;
  }

 protected:
  qint64 readData(char* to, qint64 max) override {
    if (at_ == data_.size()) return -1;
    const qint64 n = ready_ ? qMin<qint64>(qMin<qint64>(max, 1000), data_.size() - at_) : 0;
    memcpy(to, data_.constData() + at_, static_cast<size_t>(n));
    at_ += n;
    ready_ = false;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray data_;
  qint64 at_ = 0;
  bool ready_ = true;
};

// What the plug-in logs, in its category.
QStringList g_logged;

void keep_ours(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && QByteArray(context.category) == "morvellane.imageformat")
    g_logged << message;
}

QString write_temp(const QTemporaryDir& dir, const QString& name, const QByteArray& data) {
  const QString path = dir.filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
  return path;
}

enum class Route { kBmpName, kOtherName, kBuffer, kSequential };

TEST(QtPlugin, ReadsExactlyByEveryRoute) {
  QTemporaryDir dir;
  const MorvellaneBuilder pictures[] = {fixtures::colour_chart(320, 240),
                                        fixtures::colour_chart(173, 97),
                                        fixtures::colour_chart(255, -128)};
  for (const MorvellaneBuilder& b : pictures) {
    const QByteArray file = bytes_of(b);
    const QImage want = expected_image(b);
    for (Route route : {Route::kBmpName, Route::kOtherName, Route::kBuffer, Route::kSequential}) {
      SCOPED_TRACE(testing::Message() << b.width() << "x" << b.header().biHeight << " route "
                                      << static_cast<int>(route));
      // A longer device: the bytes behind the rows must stay unread.
      QBuffer buffer;
      buffer.setData(file + QByteArray(100, '\x42'));
      buffer.open(QIODevice::ReadOnly);
      Trickle trickle(file);
      QImageReader reader;
      if (route == Route::kBmpName) reader.setFileName(write_temp(dir, "a.bmp", file));
      if (route == Route::kOtherName) reader.setFileName(write_temp(dir, "a.picture", file));
      if (route == Route::kBuffer) reader.setDevice(&buffer);
      if (route == Route::kSequential) reader.setDevice(&trickle);
      EXPECT_EQ(reader.format(), QByteArray("mrv"));
      EXPECT_EQ(reader.size(), want.size());
      const QImage got = reader.read();
      EXPECT_EQ(got.format(), QImage::Format_RGB32);
      EXPECT_TRUE(got == want);
      if (route == Route::kBuffer) {
        EXPECT_EQ(buffer.pos(), file.size());
      }
    }
  }
}

TEST(QtPlugin, StandardBmpFilesStayQts) {
  QTemporaryDir dir;
  QImage picture(37, 11, QImage::Format_RGB32);
  picture.fill(qRgb(10, 200, 99));
  QBuffer qt_bmp;
  qt_bmp.open(QIODevice::WriteOnly);
  ASSERT_TRUE(QImageWriter(&qt_bmp, "bmp").write(picture));
  // 16-bit bit-field files with their pixels at 66 but a standard biSizeImage.
  const QByteArray files[] = {
      qt_bmp.data(), bytes_of(fixtures::colour_chart(64, 16).defect(Defect::kStoredSizeImage)),
      bytes_of(fixtures::colour_chart(64, -16).defect(Defect::kAlignedSizeImage)),
      bytes_of(fixtures::colour_chart(64, 16).defect(Defect::kZeroSizeImage))};
  for (const QByteArray& file : files) {
    const QString path = write_temp(dir, "standard.bmp", file);
    QImageReader automatic(path);
    QImageReader qt_own(path, "bmp");
    qt_own.setAutoDetectImageFormat(false);  // loads no plug-in: Qt's built-in reader
    EXPECT_EQ(automatic.format(), QByteArray("bmp"));
    const QImage got = automatic.read();
    const QImage want = qt_own.read();
    EXPECT_FALSE(want.isNull());
    EXPECT_EQ(got.format(), want.format());
    EXPECT_TRUE(got == want);
  }
}

// Each refusal is logged once in the reader's words, whether the device's
// size is known (then nothing past the header is read: a file short of its
// rows is refused before anything is allocated) or not.
TEST(QtPlugin, RefusalsAreLoggedInTheReadersWords) {
  const QByteArray chart = bytes_of(fixtures::colour_chart(64, 64));  // 8258 bytes
  // 8192 x 8193 as Format_RGB32 is just over 256 MiB: Qt 6's limit set
  // here, Qt 6's default that the Qt 5 build applies itself.
  const struct {
    QByteArray file;
    const char* words;
  } cases[] = {
      {chart.left(chart.size() - 1),
       "truncated Morvellane bitmap: the file ends after 8257 of the 8258 bytes of its 64 x 64 "
       "pixels"},
      {chart.left(50),
       "Morvellane bitmap cut short: the file ends after 50 of the 66 bytes of its "
       "header"},
      {bytes_of(fixtures::header_only(8192, 8193)),
       "Morvellane bitmap too large: 8192 x 8193 pixels, more than the limit of 256 MiB decoded"},
  };
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  const int limit = QImageReader::allocationLimit();
  QImageReader::setAllocationLimit(256);
#endif
  qInstallMessageHandler(keep_ours);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    QBuffer buffer;
    buffer.setData(c.file);
    QImageReader sized(&buffer);
    EXPECT_EQ(sized.format(), QByteArray("mrv"));
    g_logged.clear();
    EXPECT_TRUE(sized.read().isNull());
    EXPECT_EQ(g_logged, QStringList{c.words});
    EXPECT_LE(buffer.pos(), 66);
    Trickle trickle(c.file);
    QImageReader sequential(&trickle);
    g_logged.clear();
    EXPECT_TRUE(sequential.read().isNull());
    EXPECT_EQ(g_logged, QStringList{c.words});
  }
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  // 1024 x 300 in Format_RGB32 is 1.2 MB: over a 1 MiB limit; 0 is none.
  QBuffer big;
  big.setData(bytes_of(MorvellaneBuilder(1024, 300)));
  QImageReader::setAllocationLimit(1);
  g_logged.clear();
  EXPECT_TRUE(QImageReader(&big).read().isNull());
  EXPECT_EQ(g_logged, QStringList{"Morvellane bitmap too large: 1024 x 300 pixels, more than the "
                                  "limit of 1 MiB decoded"});
  QImageReader::setAllocationLimit(0);
  big.seek(0);
  EXPECT_FALSE(QImageReader(&big).read().isNull());
  QImageReader::setAllocationLimit(limit);
#endif
  qInstallMessageHandler(nullptr);
}

TEST(QtPlugin, FormatListsAndWriting) {
  EXPECT_EQ(QImageReader::supportedImageFormats().count("mrv"), 1);
  EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-morvellane"));
  EXPECT_FALSE(QImageWriter::supportedImageFormats().contains("mrv"));
  // Writing bmp to a write-only device asks the plug-in and must stay Qt's.
  QImage picture(5, 3, QImage::Format_RGB32);
  picture.fill(qRgb(1, 2, 3));
  QBuffer out;
  out.open(QIODevice::WriteOnly);
  ASSERT_TRUE(QImageWriter(&out, "bmp").write(picture));
  out.close();
  out.open(QIODevice::ReadOnly);
  QImageReader back(&out);
  EXPECT_EQ(back.format(), QByteArray("bmp"));
  EXPECT_TRUE(back.read() == picture);
}

TEST(QtPlugin, DecodesConcurrently) {
  const MorvellaneBuilder b = fixtures::colour_chart(173, -97);
  const QByteArray file = bytes_of(b);
  const QImage want = expected_image(b);
  std::vector<int> exact(4, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < exact.size(); ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        QBuffer buffer;
        buffer.setData(file);
        exact[t] += QImageReader(&buffer).read() == want ? 1 : 0;
      }
    });
  for (std::thread& t : threads) t.join();
  for (int n : exact) EXPECT_EQ(n, 25);
}

}  // namespace

int main(int argc, char** argv) {
  // Only this tree's plug-in: an installed copy is never what gets tested.
  QCoreApplication app(argc, argv);
  QCoreApplication::setLibraryPaths({QStringLiteral(MRVLN_QT_PLUGIN_ROOT)});
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
