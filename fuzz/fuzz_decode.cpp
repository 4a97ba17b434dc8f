// Fuzzes the bounded decode: plan_decode, write_output_header and
// decode_pixels over an arbitrary file image whose length is the bound, and
// the viewers' plan_image and row-by-row decode_rows. Every answer is
// compared with the independent model of tests/fixtures/reference_decode.h:
// the same refusal, or the same header and pixel block byte for byte, so
// that a misread shows up as a crash, not only an out-of-bounds access.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "codec/convert.h"
#include "codec/morvellane.h"
#include "tests/fixtures/little_endian.h"
#include "tests/fixtures/reference_decode.h"

namespace {

void require(bool holds) {
  if (!holds) abort();
}

// The viewers' way: planned from the header, then one stored row per call,
// four-byte pixels top row first; each row must be the model's row, with
// 0xFF in every fourth byte.
void check_viewer_rows(const std::vector<uint8_t>& file, mrvln::ByteView image,
                       const fixtures::ReferencePicture& want) {
  const int32_t height = static_cast<int32_t>(fixtures::le32(file, 22));
  const uint32_t width = fixtures::le32(file, 18);
  const uint32_t rows = height < 0 ? 0u - static_cast<uint32_t>(height) : height;
  mrvln::ImagePlan view;
  if (mrvln::plan_image(image, mrvln::PIXEL_BGRX32, 4, mrvln::DEFAULT_OUTPUT_LIMIT, &view) !=
      mrvln::RESULT_SUCCESS) {
    require(width == 0 || rows == 0);  // what only the viewers refuse
    return;
  }
  require(width != 0 && rows != 0 && view.layout.stride == 4 * width);
  std::vector<uint8_t> out(view.output_size);
  for (uint32_t r = 0; r < rows; ++r) {
    mrvln::ByteView row;
    require(mrvln::sub_view(image, 66 + r * 2 * width, 2 * width, &row));
    require(mrvln::decode_rows(view.picture, view.layout, row, r, 1, out.data(), out.size()) ==
            mrvln::RESULT_SUCCESS);
  }
  const size_t model_stride = want.pixels.size() / rows;
  for (uint32_t r = 0; r < rows; ++r) {
    const uint32_t y = height > 0 ? rows - 1 - r : r;
    const uint8_t* model = &want.pixels[r * model_stride];
    const uint8_t* got = &out[static_cast<size_t>(y) * 4 * width];
    for (uint32_t x = 0; x < width; ++x)
      require(got[4 * x] == model[3 * x] && got[4 * x + 1] == model[3 * x + 1] &&
              got[4 * x + 2] == model[3 * x + 2] && got[4 * x + 3] == 0xFF);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy into a block of exactly the input's length, so that any read past
  // the bound hits the allocator's redzone.
  std::vector<uint8_t> copy(data, data + size);
  const mrvln::ByteView image{copy.data(), static_cast<uint32_t>(copy.size())};
  const fixtures::ReferencePicture want = fixtures::reference_decode(copy);

  mrvln::DecodePlan plan;
  const mrvln::Result planned = mrvln::plan_decode(image, &plan);
  require(planned == want.result);
  if (planned != mrvln::RESULT_SUCCESS) return 0;
  // The stored rows lie inside the input, and the block is at most twice
  // their size (4-byte rows for 2-byte pixels at width 1), so the input's
  // length bounds every block the decoder asks for.
  require(plan.pixel_block_size == want.pixels.size() && want.pixels.size() <= 2 * size);

  std::vector<uint8_t> header(mrvln::OUTPUT_HEADER_SIZE);
  mrvln::write_output_header(plan, header.data());
  require(header == want.header);

  // Every conversion path this processor runs must give the model's bytes;
  // the default call takes the one the plug-in would choose.
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
    require(decoded == mrvln::RESULT_SUCCESS && pixels == want.pixels);
  }
  check_viewer_rows(copy, image, want);
  return 0;
}
