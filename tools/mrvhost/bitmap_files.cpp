#include "bitmap_files.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

namespace mrvhost {

namespace {

uint32_t u16at(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8);
}
uint32_t u32at(const std::vector<uint8_t>& b, size_t at) {
  return u16at(b, at) | (u16at(b, at + 2) << 16);
}
void put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>* out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

std::string format(const char* fmt, unsigned long a, unsigned long b) {
  char text[200];
  snprintf(text, sizeof text, fmt, a, b);
  return text;
}

}  // namespace

bool parse_bmp24(const std::vector<uint8_t>& file, Picture24* out, std::string* why) {
  if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') {
    *why = "not a BMP file";
    return false;
  }
  const uint32_t info_size = u32at(file, 14);
  // 40 is BITMAPINFOHEADER; the V2 to V5 headers extend it with fields a
  // 24-bit uncompressed picture does not need.
  if (info_size < 40 || info_size > file.size() - 14) {
    *why = format("BMP information header of %lu bytes is not supported", info_size, 0);
    return false;
  }
  const uint32_t bit_count = u16at(file, 28);
  const uint32_t compression = u32at(file, 30);
  if (bit_count != 24 || compression != 0 || u16at(file, 26) != 1) {
    *why = format(
        "%lu bits per pixel, compression %lu: only uncompressed 24-bit BMP files can be encoded",
        bit_count, compression);
    return false;
  }
  const int32_t width = static_cast<int32_t>(u32at(file, 18));
  const int32_t height = static_cast<int32_t>(u32at(file, 22));
  if (width <= 0 || height == 0 || height == INT32_MIN) {
    *why = "the picture has no pixels or an impossible size";
    return false;
  }
  const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  const uint64_t row_bytes = 3ull * static_cast<uint32_t>(width);
  const uint64_t stride = (row_bytes + 3) & ~3ull;
  const uint64_t offset = u32at(file, 10);
  // The last row's fill bytes are not needed.
  if (offset < 14 + info_size) {
    *why = "the pixel data offset points into the header";
    return false;
  }
  if (offset + stride * (rows - 1) + row_bytes > file.size()) {
    *why = "the file is shorter than its pixel rows";
    return false;
  }
  out->width = width;
  out->height = height;
  out->rows = static_cast<uint32_t>(rows);
  out->x_pels_per_meter = static_cast<int32_t>(u32at(file, 38));
  out->y_pels_per_meter = static_cast<int32_t>(u32at(file, 42));
  out->bgr.resize(static_cast<size_t>(row_bytes * rows));
  for (uint64_t r = 0; r < rows; ++r)
    memcpy(&out->bgr[static_cast<size_t>(r * row_bytes)],
           &file[static_cast<size_t>(offset + r * stride)], static_cast<size_t>(row_bytes));
  return true;
}

bool encode_morvellane(const Picture24& p, std::vector<uint8_t>* out, std::string* why) {
  const uint64_t pixels = static_cast<uint64_t>(static_cast<uint32_t>(p.width)) * p.rows;
  const uint64_t file_size = 66 + 2 * pixels;
  // The decoder's 24-bit block must fit in 32 bits as well.
  const uint64_t decoded = ((3ull * static_cast<uint32_t>(p.width) + 3) & ~3ull) * p.rows;
  if (file_size > 0x7FFFFFFF || decoded > 0xFFFFFFFFull) {
    *why = "the picture is too large for a Morvellane bitmap";
    return false;
  }
  out->clear();
  out->reserve(static_cast<size_t>(file_size));
  put16(out, 0x4D42);  // "BM"
  put32(out, static_cast<uint32_t>(file_size));
  put32(out, 0);   // reserved words
  put32(out, 66);  // pixels directly behind the three masks
  put32(out, 40);
  put32(out, static_cast<uint32_t>(p.width));
  put32(out, static_cast<uint32_t>(p.height));
  put16(out, 1);
  put16(out, 16);
  put32(out, 3);  // BI_BITFIELDS
  // The format's marker: the unaligned 24-bit size, as a wrapping product.
  put32(out, static_cast<uint32_t>(p.width) * 3u * static_cast<uint32_t>(p.height));
  put32(out, static_cast<uint32_t>(p.x_pels_per_meter));
  put32(out, static_cast<uint32_t>(p.y_pels_per_meter));
  put32(out, 0);
  put32(out, 0);
  put32(out, 0xF800);
  put32(out, 0x07E0);
  put32(out, 0x001F);
  const uint8_t* s = p.bgr.data();
  for (uint64_t i = 0; i < pixels; ++i, s += 3) {
    const uint32_t r = nearest_level(s[2], 31), g = nearest_level(s[1], 63),
                   b = nearest_level(s[0], 31);
    put16(out, (r << 11) | (g << 5) | b);
  }
  return true;
}

unsigned long read_whole_file(const std::string& path, std::vector<uint8_t>* out) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return GetLastError();
  LARGE_INTEGER size;
  unsigned long error = 0;
  if (!GetFileSizeEx(f, &size)) {
    error = GetLastError();
  } else if (size.QuadPart > 0x7FFFFFFF) {
    error = ERROR_FILE_TOO_LARGE;
  } else {
    out->resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!out->empty() && !ReadFile(f, out->data(), static_cast<DWORD>(out->size()), &got, nullptr))
      error = GetLastError();
    else if (got != out->size())
      error = ERROR_HANDLE_EOF;
  }
  CloseHandle(f);
  return error;
}

unsigned long write_whole_file(const std::string& path, const Piece* pieces, int count) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return GetLastError();
  unsigned long error = 0;
  for (int i = 0; i < count && error == 0; ++i) {
    DWORD written = 0;
    if (pieces[i].size == 0) continue;
    if (!WriteFile(f, pieces[i].data, pieces[i].size, &written, nullptr))
      error = GetLastError();
    else if (written != pieces[i].size)
      error = ERROR_DISK_FULL;
  }
  if (!CloseHandle(f) && error == 0) error = GetLastError();
  if (error != 0) DeleteFileA(path.c_str());
  return error;
}

}  // namespace mrvhost
