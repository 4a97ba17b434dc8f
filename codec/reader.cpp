#include "codec/reader.h"

#include <atomic>

#include "codec/morvellane.h"

namespace mrvln {

namespace {

Refusal refuse(Reason reason, const SizeFields& size, uint64_t have, uint64_t bound) {
  return Refusal{reason, size.width, size.height, have, bound};
}

// A refusal of a picture the reader has started on.
Refusal refuse(Reason reason, const Reader& reader, uint64_t have, uint64_t bound) {
  return Refusal{reason, reader.stored_width, reader.stored_height, have, bound};
}

constexpr Refusal ACCEPTED = {REASON_NONE, 0, 0, 0, 0};

// This processor's fastest path, asked once: the question (cpuid) traps to
// the hypervisor on virtual machines, some microseconds, and programs read
// picture after picture. The DLL asks at every call instead, keeping no
// state; it does not link this file. An atomic rather than a function's
// static, whose guard would tie loadable modules to the C++ runtime; threads
// that race both ask and agree.
ConvertPath fastest_path() {
  static std::atomic<int> known{0};  // the path + 1, 0 before the first question
  int path = known.load(std::memory_order_relaxed);
  if (path == 0) {
    path = best_convert_path() + 1;
    known.store(path, std::memory_order_relaxed);
  }
  return static_cast<ConvertPath>(path - 1);
}

uint32_t rows_of(int32_t height) {
  return height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
}

// Text written into the caller's buffer as snprintf writes it: cut to fit,
// always terminated, its full length counted. (No printf: the WebAssembly
// module would import a C library's output functions for it.)
struct Text {
  char* out;
  size_t size;
  size_t length;
};

void put(Text* t, char c) {
  if (t->length + 1 < t->size) t->out[t->length] = c;
  ++t->length;
}

// These two out of line: inlined, every literal and number would be code of
// its own.
__attribute__((noinline)) void put(Text* t, const char* s) {
  while (*s != '\0') put(t, *s++);
}

__attribute__((noinline)) void put_number(Text* t, uint64_t v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) put(t, digits[--n]);
}

void put_signed(Text* t, int64_t v) {
  if (v < 0) put(t, '-');
  put_number(t, v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
}

// "640 x 480 pixels": the stored width, the number of rows.
void put_pixels(Text* t, const Refusal& r) {
  put_signed(t, r.width);
  put(t, " x ");
  put_number(t, rows_of(r.height));
  put(t, " pixels");
}

// "256 MiB" for whole mebibytes, else the bytes.
void put_bytes(Text* t, uint64_t bytes) {
  const bool mib = bytes != 0 && bytes % (1u << 20) == 0;
  put_number(t, mib ? bytes >> 20 : bytes);
  put(t, mib ? " MiB" : " bytes");
}

}  // namespace

const char* reason_name(Reason reason) {
  switch (reason) {
    case REASON_NONE:
      return "none";
    case REASON_NOT_MORVELLANE:
      return "not-morvellane";
    case REASON_HEADER_CUT_SHORT:
      return "header-cut-short";
    case REASON_NEGATIVE_WIDTH:
      return "negative-width";
    case REASON_IMPOSSIBLE_SIZE:
      return "impossible-size";
    case REASON_TOO_LARGE:
      return "too-large";
    case REASON_TRUNCATED:
      return "truncated";
    case REASON_OUT_OF_MEMORY:
      return "out-of-memory";
  }
  return "unknown";
}

size_t refusal_text(const Refusal& r, char* text, size_t size) {
  Text t = {text, size, 0};
  switch (r.reason) {
    case REASON_NONE:
      put(&t, "no refusal");
      break;
    case REASON_NOT_MORVELLANE:
      put(&t, "not a Morvellane bitmap");
      break;
    case REASON_HEADER_CUT_SHORT:
      put(&t, "Morvellane bitmap cut short: the file ends after ");
      put_number(&t, r.have);
      put(&t, " of the ");
      put_number(&t, r.bound);
      put(&t, " bytes of its header");
      break;
    case REASON_NEGATIVE_WIDTH:
      put(&t, "broken Morvellane bitmap: its width is negative (");
      put_signed(&t, r.width);
      put(&t, ")");
      break;
    case REASON_IMPOSSIBLE_SIZE:
      if (r.height == INT32_MIN) {
        put(&t, "broken Morvellane bitmap: its height is impossible (");
        put_signed(&t, r.height);
        put(&t, ")");
      } else if (r.width == 0 || r.height == 0) {
        put(&t, "broken Morvellane bitmap: it has no pixels (");
        put_signed(&t, r.width);
        put(&t, " x ");
        put_number(&t, rows_of(r.height));
        put(&t, ")");
      } else {
        put(&t, "broken Morvellane bitmap: ");
        put_pixels(&t, r);
        put(&t, " take ");
        put_number(&t, r.bound);
        put(&t, " bytes, more than a bitmap file holds");
      }
      break;
    case REASON_TOO_LARGE:
      put(&t, "Morvellane bitmap too large: ");
      put_pixels(&t, r);
      put(&t, ", more than the limit of ");
      put_bytes(&t, r.bound);
      put(&t, " decoded");
      break;
    case REASON_TRUNCATED:
      put(&t, "truncated Morvellane bitmap: the file ends after ");
      put_number(&t, r.have);
      put(&t, " of the ");
      put_number(&t, r.bound);
      put(&t, " bytes of its ");
      put_pixels(&t, r);
      break;
    case REASON_OUT_OF_MEMORY:
      put(&t, "not enough memory for the ");
      put_pixels(&t, r);
      put(&t, " of a Morvellane bitmap");
      break;
  }
  if (size > 0) text[t.length < size ? t.length : size - 1] = '\0';
  return t.length;
}

Refusal reader_start(Reader* reader, ByteView header, const OutputLayout& layout) {
  *reader = Reader{};
  SizeFields size = {0, 0};
  if (!is_morvellane(header) || !read_size_fields(header, &size))
    return refuse(REASON_NOT_MORVELLANE, size, 0, 0);
  if (header.size < PIXEL_DATA_OFFSET)
    return refuse(REASON_HEADER_CUT_SHORT, size, header.size, PIXEL_DATA_OFFSET);
  if (size.width < 0) return refuse(REASON_NEGATIVE_WIDTH, size, 0, 0);
  if (size.height == INT32_MIN || size.width == 0 || size.height == 0)
    return refuse(REASON_IMPOSSIBLE_SIZE, size, 0, 0);

  // Width and rows are below 2^31, so none of these products leaves 64 bits
  // but the output size, which saturates.
  const uint64_t width = static_cast<uint32_t>(size.width);
  const uint64_t rows = rows_of(size.height);
  const uint64_t file_size = PIXEL_DATA_OFFSET + 2 * width * rows;
  const uint64_t align = layout.row_alignment > 1 ? layout.row_alignment : 1;
  const uint64_t stride = (width * pixel_bytes(layout.format) + align - 1) / align * align;
  const uint64_t output_size = stride > UINT64_MAX / rows ? UINT64_MAX : stride * rows;
  if (output_size > layout.limit) return refuse(REASON_TOO_LARGE, size, output_size, layout.limit);
  // Files of 4 GiB or more are outside the format: bfSize has 32 bits.
  if (file_size > UINT32_MAX) return refuse(REASON_IMPOSSIBLE_SIZE, size, 0, file_size);
  if (stride > UINT32_MAX || output_size > SIZE_MAX)
    return refuse(REASON_OUT_OF_MEMORY, size, 0, 0);

  reader->width = static_cast<uint32_t>(width);
  reader->height = static_cast<uint32_t>(rows);
  reader->stored_top_first = size.height < 0;
  reader->stride = static_cast<uint32_t>(stride);
  reader->output_size = output_size;
  reader->file_size = file_size;
  reader->stored_width = size.width;
  reader->stored_height = size.height;
  reader->format = layout.format;
  reader->flip = layout.row_order == ROWS_TOP_FIRST && size.height > 0;
  reader->path = fastest_path();
  reader->received = PIXEL_DATA_OFFSET;
  reader->rows_end = reader->height;
  return ACCEPTED;
}

Refusal reader_check_file_size(const Reader& reader, uint64_t file_size) {
  if (file_size >= reader.file_size) return ACCEPTED;
  return refuse(REASON_TRUNCATED, reader, file_size, reader.file_size);
}

bool reader_set_output(Reader* reader, uint8_t* output, uint64_t size) {
  if (output == nullptr || reader->output_size == 0 || size < reader->output_size) return false;
  reader->output = output;
  reader->rows = nullptr;
  return true;
}

bool reader_set_output_rows(Reader* reader, uint8_t* const* rows, uint32_t count) {
  if (rows == nullptr || reader->height == 0 || count != reader->height) return false;
  reader->rows = rows;
  reader->output = nullptr;
  return true;
}

uint32_t reader_output_row(const Reader& reader, uint32_t stored_row) {
  return reader.flip ? reader.height - 1 - stored_row : stored_row;
}

uint32_t reader_feed(Reader* reader, ByteView bytes) {
  Reader& r = *reader;
  if (r.output == nullptr && r.rows == nullptr) return 0;
  const uint32_t size = pixel_bytes(r.format);
  const uint8_t* from = bytes.data;
  uint32_t left = bytes.size;
  while (left > 0 && r.rows_done < r.rows_end) {
    // reader_start bounds stride * height by SIZE_MAX, and reader_set_output
    // the block by the output size, so the row and its pixels lie inside; a
    // table's rows are the caller's to size.
    const uint32_t y = reader_output_row(r, r.rows_done);
    uint8_t* row = r.rows != nullptr ? r.rows[y] : r.output + static_cast<size_t>(y) * r.stride;
    uint8_t* to = row + static_cast<size_t>(r.pixels_done) * size;
    if (r.has_half_pixel) {
      const uint8_t pixel[2] = {r.half_pixel, from[0]};
      convert_run(r.path, r.format, pixel, to, 1);
      r.has_half_pixel = false;
      ++r.pixels_done;
      ++from;
      --left;
    } else if (left == 1) {
      r.half_pixel = from[0];
      r.has_half_pixel = true;
      ++from;
      --left;
    } else {
      const uint32_t due = r.width - r.pixels_done;
      const uint32_t count = left / 2 < due ? left / 2 : due;
      convert_run(r.path, r.format, from, to, count);
      r.pixels_done += count;
      from += 2 * static_cast<size_t>(count);
      left -= 2 * count;
    }
    if (r.pixels_done == r.width) {
      ++r.rows_done;
      r.pixels_done = 0;
    }
  }
  const uint32_t taken = bytes.size - left;
  r.received += taken;
  return taken;
}

uint64_t reader_seek_rows(Reader* reader, uint32_t first, uint32_t count) {
  Reader& r = *reader;
  if (first >= r.height || count == 0 || count > r.height - first) return 0;
  r.rows_done = first;
  r.pixels_done = 0;
  r.has_half_pixel = false;
  r.rows_end = first + count;
  r.received = PIXEL_DATA_OFFSET + 2ull * r.width * first;
  return r.received;
}

uint64_t reader_bytes_wanted(const Reader& reader) {
  const uint64_t rows_after = reader.height - reader.rows_end;
  return reader.file_size - 2 * reader.width * rows_after - reader.received;
}

Refusal reader_finish(const Reader& reader) {
  if (reader.height != 0 && reader.rows_done == reader.height) return ACCEPTED;
  return refuse(REASON_TRUNCATED, reader, reader.received, reader.file_size);
}

Refusal reader_out_of_memory(const Reader& reader) {
  return refuse(REASON_OUT_OF_MEMORY, reader, 0, 0);
}

Refusal reader_decode(Reader* reader, ByteView file) {
  ByteView rows = {nullptr, 0};
  if (file.size > PIXEL_DATA_OFFSET)
    sub_view(file, PIXEL_DATA_OFFSET, file.size - PIXEL_DATA_OFFSET, &rows);
  reader_feed(reader, rows);
  return reader_finish(*reader);
}

}  // namespace mrvln
