// The module's exports over the core's reader, for RGBA top row first with
// the caller's output limit; the rows arrive in the chunks JavaScript copies in.
#include "readers/web/morvellane_web.h"

#include <stdlib.h>

#include "codec/morvellane.h"
#include "codec/reader.h"

#define MRVLN_WEB_EXPORT(name) __attribute__((export_name(name)))

struct mrvln_web_reading {
  mrvln::Reader reader;
  mrvln::Refusal refusal;
};

namespace {

int32_t keep(mrvln_web_reading* reading, const mrvln::Refusal& refusal) {
  reading->refusal = refusal;
  return refusal.reason;
}

}  // namespace

MRVLN_WEB_EXPORT("reading_new") mrvln_web_reading* mrvln_web_reading_new(void) {
  return static_cast<mrvln_web_reading*>(calloc(1, sizeof(mrvln_web_reading)));
}

MRVLN_WEB_EXPORT("header_size") uint32_t mrvln_web_header_size(void) {
  return mrvln::PIXEL_DATA_OFFSET;
}

MRVLN_WEB_EXPORT("is_morvellane")
int32_t mrvln_web_is_morvellane(const uint8_t* bytes, uint32_t size) {
  return mrvln::is_morvellane(mrvln::ByteView{bytes, size}) ? 1 : 0;
}

MRVLN_WEB_EXPORT("start")
int32_t mrvln_web_start(mrvln_web_reading* reading, const uint8_t* header, uint32_t size,
                        uint32_t file_size, uint32_t output_limit) {
  // Four-byte pixels need no row alignment of their own.
  const mrvln::OutputLayout rgba = {mrvln::PIXEL_RGBX32, mrvln::ROWS_TOP_FIRST, 1, output_limit};
  const mrvln::Refusal started = mrvln::reader_start(&reading->reader, {header, size}, rgba);
  if (started.reason != mrvln::REASON_NONE) return keep(reading, started);
  return keep(reading, mrvln::reader_check_file_size(reading->reader, file_size));
}

// The output limit is 32-bit, and reader_start bounds the output by it.
MRVLN_WEB_EXPORT("width") uint32_t mrvln_web_width(const mrvln_web_reading* reading) {
  return reading->reader.width;
}

MRVLN_WEB_EXPORT("height") uint32_t mrvln_web_height(const mrvln_web_reading* reading) {
  return reading->reader.height;
}

MRVLN_WEB_EXPORT("rgba_size") uint32_t mrvln_web_rgba_size(const mrvln_web_reading* reading) {
  return static_cast<uint32_t>(reading->reader.output_size);
}

MRVLN_WEB_EXPORT("set_output")
int32_t mrvln_web_set_output(mrvln_web_reading* reading, uint8_t* rgba, uint32_t size) {
  return mrvln::reader_set_output(&reading->reader, rgba, size) ? 1 : 0;
}

MRVLN_WEB_EXPORT("feed")
uint32_t mrvln_web_feed(mrvln_web_reading* reading, const uint8_t* bytes, uint32_t size) {
  return mrvln::reader_feed(&reading->reader, {bytes, size});
}

MRVLN_WEB_EXPORT("finish") int32_t mrvln_web_finish(mrvln_web_reading* reading) {
  return keep(reading, mrvln::reader_finish(reading->reader));
}

MRVLN_WEB_EXPORT("out_of_memory") int32_t mrvln_web_out_of_memory(mrvln_web_reading* reading) {
  return keep(reading, mrvln::reader_out_of_memory(reading->reader));
}

MRVLN_WEB_EXPORT("refusal_text")
uint32_t mrvln_web_refusal_text(const mrvln_web_reading* reading, char* text, uint32_t size) {
  return static_cast<uint32_t>(mrvln::refusal_text(reading->refusal, text, size));
}

MRVLN_WEB_EXPORT("reason_name") const char* mrvln_web_reason_name(int32_t reason) {
  if (reason < 0 || reason >= mrvln::REASON_COUNT) return nullptr;
  return mrvln::reason_name(static_cast<mrvln::Reason>(reason));
}

MRVLN_WEB_EXPORT("path_name") const char* mrvln_web_path_name(void) {
  return mrvln::convert_path_name(mrvln::best_convert_path());
}

MRVLN_WEB_EXPORT("alloc") void* mrvln_web_alloc(uint32_t size) {
  return malloc(size);
}

MRVLN_WEB_EXPORT("free") void mrvln_web_free(void* block) {
  free(block);
}
