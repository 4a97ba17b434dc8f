// Fuzzes the bounded decode: plan_decode, write_output_header and
// decode_pixels over an arbitrary file image whose length is the bound, and
// the viewers' plan_image and row-by-row decode_rows. Every
// accepted plan is decoded and the result is checked against the stored bytes
// so that a misread shows up as a crash, not only an out-of-bounds access.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "codec/convert.h"
#include "codec/morvellane.h"
#include "tests/fixtures/morvellane_builder.h"

namespace {

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void require(bool holds) {
  if (!holds) abort();
}

// Independent reference: every stored pixel expanded channel by channel,
// every fill byte 0xFF.
void check_pixels(const std::vector<uint8_t>& file, const mrvln::DecodePlan& plan,
                  const std::vector<uint8_t>& pixels) {
  // A width of 0 yields an empty block whatever the height (up to 2^31 rows
  // of nothing): walking those rows would only spin.
  if (plan.pixel_block_size == 0) return;
  const uint32_t width = static_cast<uint32_t>(plan.width);
  for (uint32_t row = 0; row < plan.rows; ++row) {
    const uint8_t* out = pixels.data() + static_cast<size_t>(row) * plan.stride;
    const uint8_t* in =
        file.data() + mrvln::PIXEL_DATA_OFFSET + static_cast<size_t>(row) * 2 * width;
    for (uint32_t x = 0; x < width; ++x) {
      const fixtures::Bgr want =
          fixtures::expected_bgr(static_cast<uint16_t>(in[2 * x] | (in[2 * x + 1] << 8)));
      require(out[3 * x] == want.b && out[3 * x + 1] == want.g && out[3 * x + 2] == want.r);
    }
    for (uint32_t i = 3 * width; i < plan.stride; ++i) require(out[i] == 0xFF);
  }
}

// The viewers' way: planned from the header, then one stored row per call,
// four-byte pixels top row first, each checked against the stored bytes.
void check_viewer_rows(const std::vector<uint8_t>& file, mrvln::ByteView image,
                       const mrvln::DecodePlan& plan) {
  mrvln::ImagePlan view;
  if (mrvln::plan_image(image, mrvln::PIXEL_BGRX32, 4, mrvln::DEFAULT_OUTPUT_LIMIT, &view) !=
      mrvln::RESULT_SUCCESS) {
    require(plan.width == 0 || plan.rows == 0);
    return;
  }
  require(view.layout.stride == 4u * static_cast<uint32_t>(plan.width));
  std::vector<uint8_t> out(view.output_size);
  const uint32_t row_bytes = 2u * static_cast<uint32_t>(plan.width);
  for (uint32_t r = 0; r < plan.rows; ++r) {
    mrvln::ByteView row;
    require(mrvln::sub_view(image, mrvln::PIXEL_DATA_OFFSET + r * row_bytes, row_bytes, &row));
    require(mrvln::decode_rows(view.picture, view.layout, row, r, 1, out.data(), out.size()) ==
            mrvln::RESULT_SUCCESS);
  }
  for (uint32_t r = 0; r < plan.rows; ++r) {
    const uint32_t y = plan.height > 0 ? plan.rows - 1 - r : r;
    const uint8_t* in = file.data() + mrvln::PIXEL_DATA_OFFSET + static_cast<size_t>(r) * row_bytes;
    const uint8_t* got = out.data() + static_cast<size_t>(y) * view.layout.stride;
    for (uint32_t x = 0; x < static_cast<uint32_t>(plan.width); ++x) {
      const fixtures::Bgr want =
          fixtures::expected_bgr(static_cast<uint16_t>(in[2 * x] | (in[2 * x + 1] << 8)));
      require(got[4 * x] == want.b && got[4 * x + 1] == want.g && got[4 * x + 2] == want.r &&
              got[4 * x + 3] == 0xFF);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy into a block of exactly the input's length, so that any read past
  // the bound hits the allocator's redzone.
  std::vector<uint8_t> copy(data, data + size);
  const mrvln::ByteView image{copy.data(), static_cast<uint32_t>(copy.size())};

  mrvln::DecodePlan plan;
  const mrvln::Result planned = mrvln::plan_decode(image, &plan);
  if (planned != mrvln::RESULT_SUCCESS) {
    require(planned == mrvln::RESULT_BROKEN_DATA || planned == mrvln::RESULT_OUT_OF_MEMORY);
    return 0;
  }

  // The stored rows lie inside the input, and the output is at most twice
  // their size (4-byte rows for 2-byte pixels at width 1), so the input's
  // length bounds every block the decoder asks for.
  require(plan.width >= 0 && plan.height != INT32_MIN);
  require(mrvln::PIXEL_DATA_OFFSET + static_cast<uint64_t>(plan.source_size) <= image.size);
  require(plan.source_size == 2ull * static_cast<uint32_t>(plan.width) * plan.rows);
  require(plan.stride % 4 == 0 && plan.stride >= 3ull * static_cast<uint32_t>(plan.width) &&
          plan.stride < 3ull * static_cast<uint32_t>(plan.width) + 4);
  require(plan.pixel_block_size == static_cast<uint64_t>(plan.rows) * plan.stride);
  require(plan.pixel_block_size <= 2ull * plan.source_size);

  uint8_t header[mrvln::OUTPUT_HEADER_SIZE];
  mrvln::write_output_header(plan, header);
  require(le32(header + 0) == mrvln::OUTPUT_HEADER_SIZE);
  require(static_cast<int32_t>(le32(header + 4)) == plan.width);
  require(static_cast<int32_t>(le32(header + 8)) == plan.height);

  // Every conversion path this processor runs must give the same, correct
  // bytes; the default call takes the one the plug-in would choose.
  for (int path = -1; path < mrvln::CONVERT_PATH_COUNT; ++path) {
    std::vector<uint8_t> pixels(plan.pixel_block_size);
    mrvln::Result decoded;
    if (path < 0) {
      decoded = mrvln::decode_pixels(image, plan, pixels.data(), plan.pixel_block_size);
    } else {
      const mrvln::ConvertPath p = static_cast<mrvln::ConvertPath>(path);
      if (!mrvln::convert_path_supported(p)) continue;
      decoded = mrvln::decode_pixels(image, plan, pixels.data(), plan.pixel_block_size, p);
    }
    require(decoded == mrvln::RESULT_SUCCESS);
    check_pixels(copy, plan, pixels);
  }
  check_viewer_rows(copy, image, plan);
  return 0;
}
