// The module's exports over the core: the acceptance test, the size plan with
// the caller's output limit, and the rows converted straight into RGBA.
#include "readers/web/morvellane_web.h"

#include <stdlib.h>

#include "codec/morvellane.h"

#define MRVLN_WEB_EXPORT(name) __attribute__((export_name(name)))

namespace {

mrvln::ByteView view_of(const uint8_t* bytes, uint32_t size) {
  return mrvln::ByteView{bytes, size};
}

// Rows of whole pixels: four-byte pixels need no alignment of their own.
mrvln::Result plan_rgba(mrvln::ByteView bytes, uint32_t output_limit, mrvln::ImagePlan* plan) {
  if (!mrvln::is_morvellane(bytes)) return MRVLN_WEB_NOT_MORVELLANE;
  return mrvln::plan_image(bytes, mrvln::PIXEL_RGBX32, 1, output_limit, plan);
}

}  // namespace

MRVLN_WEB_EXPORT("header_size") uint32_t mrvln_web_header_size(void) {
  return mrvln::PIXEL_DATA_OFFSET;
}

MRVLN_WEB_EXPORT("is_morvellane")
int32_t mrvln_web_is_morvellane(const uint8_t* bytes, uint32_t size) {
  return mrvln::is_morvellane(view_of(bytes, size)) ? 1 : 0;
}

MRVLN_WEB_EXPORT("read_info")
int32_t mrvln_web_read_info(const uint8_t* bytes, uint32_t size, uint32_t file_size,
                            uint32_t output_limit, mrvln_web_info* info) {
  mrvln::ImagePlan plan;
  const mrvln::Result planned = plan_rgba(view_of(bytes, size), output_limit, &plan);
  if (planned != mrvln::RESULT_SUCCESS) return planned;
  // plan_image bounds the output by the limit, which is 32-bit.
  info->width = static_cast<uint32_t>(plan.picture.width);
  info->height = plan.picture.rows;
  info->rgba_size = static_cast<uint32_t>(plan.output_size);
  info->holds_rows = mrvln::file_holds_rows(plan.picture, file_size) ? 1 : 0;
  return mrvln::RESULT_SUCCESS;
}

MRVLN_WEB_EXPORT("decode")
int32_t mrvln_web_decode(const uint8_t* bytes, uint32_t size, uint32_t output_limit, uint8_t* rgba,
                         uint32_t rgba_size) {
  const mrvln::ByteView file = view_of(bytes, size);
  mrvln::ImagePlan plan;
  const mrvln::Result planned = plan_rgba(file, output_limit, &plan);
  if (planned != mrvln::RESULT_SUCCESS) return planned;
  mrvln::ByteView rows;
  if (!mrvln::sub_view(file, mrvln::PIXEL_DATA_OFFSET, plan.picture.source_size, &rows))
    return mrvln::RESULT_BROKEN_DATA;
  return mrvln::decode_rows(plan.picture, plan.layout, rows, 0, plan.picture.rows, rgba, rgba_size);
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
