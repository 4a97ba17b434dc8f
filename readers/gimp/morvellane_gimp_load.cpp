#include "readers/gimp/morvellane_gimp_load.h"

#include <glib/gstdio.h>
#include <sys/stat.h>

#include "codec/morvellane.h"

namespace mrvln_gimp {

namespace {

// Bytes read at a time; a strip's stored rows may take several reads.
constexpr gsize CHUNK_BYTES = 256 << 10;

// The output row of the top of the `n` stored rows from `first`.
uint32_t strip_top(const mrvln::Reader& r, uint32_t first, uint32_t n) {
  return MIN(mrvln::reader_output_row(r, first), mrvln::reader_output_row(r, first + n - 1));
}

}  // namespace

Verdict load_begin(Load* load, const char* filename, uint64_t limit) {
  *load = Load{};
  load->file = g_fopen(filename, "rb");
  if (load->file == nullptr) return VERDICT_OTHER;  // GIMP's BMP loader says why, in its words
  uint8_t header[mrvln::PIXEL_DATA_OFFSET];
  const size_t got = fread(header, 1, sizeof header, load->file);
  // Rows top first and unaligned: a strip of them is the rectangle both
  // GIMP 2.10's pixel regions and GeglBuffer take.
  const mrvln::OutputLayout layout = {mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 1, limit};
  load->refusal = mrvln::reader_start(&load->reader,
                                      mrvln::ByteView{header, static_cast<uint32_t>(got)}, layout);
  if (load->refusal.reason == mrvln::REASON_NOT_MORVELLANE) return VERDICT_OTHER;
  if (load->refusal.reason != mrvln::REASON_NONE) return VERDICT_REFUSED;
  GStatBuf st;
  if (fstat(fileno(load->file), &st) == 0 && S_ISREG(st.st_mode))
    load->refusal = mrvln::reader_check_file_size(load->reader, static_cast<uint64_t>(st.st_size));
  return load->refusal.reason == mrvln::REASON_NONE ? VERDICT_PICTURE : VERDICT_REFUSED;
}

mrvln::Refusal load_rows(Load* load, uint32_t strip_rows, const StripSink& sink,
                         void (*progress)(double done)) {
  mrvln::Reader& r = load->reader;
  const uint32_t height = r.height;
  const uint32_t strip = strip_rows == 0 ? 1 : MIN(strip_rows, height);
  // Stored bytes per row, from the reader's own count before any is fed.
  const uint64_t stored_row = mrvln::reader_bytes_wanted(r) / height;
  // Every output row points into one strip's block: the rows of stored
  // strip k lie there top first, whatever the stored order.
  uint8_t** rows = g_try_new(uint8_t*, height);
  uint8_t* block = static_cast<uint8_t*>(g_try_malloc(static_cast<gsize>(strip) * r.stride));
  uint8_t* chunk = static_cast<uint8_t*>(g_try_malloc(CHUNK_BYTES));
  mrvln::Refusal refusal = mrvln::reader_out_of_memory(r);
  if (rows != nullptr && block != nullptr && chunk != nullptr) {
    for (uint32_t first = 0; first < height; first += strip) {
      const uint32_t n = MIN(strip, height - first);
      const uint32_t top = strip_top(r, first, n);
      for (uint32_t s = first; s < first + n; ++s) {
        const uint32_t y = mrvln::reader_output_row(r, s);
        rows[y] = block + static_cast<gsize>(y - top) * r.stride;
      }
    }
    mrvln::reader_set_output_rows(&r, rows, height);
    for (uint32_t first = 0; first < height; first += strip) {
      const uint32_t n = MIN(strip, height - first);
      // Never past this strip's last row: the next strip reuses the block.
      uint64_t due = mrvln::reader_bytes_wanted(r) - stored_row * (height - first - n);
      while (due > 0) {
        const size_t got = fread(chunk, 1, MIN(due, CHUNK_BYTES), load->file);
        if (got == 0) break;
        mrvln::reader_feed(&r, mrvln::ByteView{chunk, static_cast<uint32_t>(got)});
        due -= got;
      }
      if (r.rows_done < first + n) break;
      sink.put(sink.context, strip_top(r, first, n), n, block, r.stride);
      if (progress != nullptr) progress(static_cast<double>(r.rows_done) / height);
    }
    refusal = mrvln::reader_finish(r);
  }
  g_free(chunk);
  g_free(block);
  g_free(rows);
  return refusal;
}

void load_end(Load* load) {
  if (load->file != nullptr) fclose(load->file);
  load->file = nullptr;
}

}  // namespace mrvln_gimp
