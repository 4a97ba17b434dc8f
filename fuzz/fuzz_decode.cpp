// Fuzzes the bounded decode: plan_decode, write_output_header and
// decode_pixels over an arbitrary file image whose length is the bound, and
// the other front ends' reader fed in chunks. Every answer is
// compared with the independent model of tests/fixtures/reference_decode.h:
// the same refusal, or the same header and pixel block byte for byte, so
// that a misread shows up as a crash, not only an out-of-bounds access.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "codec/convert.h"
#include "codec/dib.h"
#include "codec/reader.h"
#include "tests/fixtures/little_endian.h"
#include "tests/fixtures/reference_decode.h"

namespace {

void require(bool holds) {
  if (!holds) abort();
}

// The other front ends' way: the reader, fed in chunks whose sizes come from
// the input itself, four-byte pixels top row first; every row must be the
// model's, with 0xFF in every fourth byte, and a refusal must match the
// model's.
void check_reader(const std::vector<uint8_t>& file, mrvln::ByteView image,
                  const fixtures::ReferencePicture& want) {
  mrvln::Reader reader;
  const mrvln::OutputLayout layout = {mrvln::PIXEL_BGRX32, mrvln::ROWS_TOP_FIRST, 1,
                                      mrvln::DEFAULT_OUTPUT_LIMIT};
  const mrvln::Refusal started = mrvln::reader_start(&reader, image, layout);
  if (started.reason != mrvln::REASON_NONE) {
    // The DLL decodes what the reader refuses only when it is empty, too
    // large for the limit, or not a Morvellane bitmap at all. The DLL's
    // 32-bit bounds lie past the limit.
    require(want.result != 0 || started.reason == mrvln::REASON_IMPOSSIBLE_SIZE ||
            started.reason == mrvln::REASON_TOO_LARGE ||
            started.reason == mrvln::REASON_NOT_MORVELLANE);
    return;
  }
  require(mrvln::is_morvellane(image) && want.result != 4);
  std::vector<uint8_t> out(reader.output_size);
  require(mrvln::reader_set_output(&reader, out.data(), out.size()));
  const uint32_t step = 1 + (file.size() > 40 ? file[39] : 0u);
  for (uint32_t at = mrvln::PIXEL_DATA_OFFSET; at < image.size; at += step) {
    mrvln::ByteView chunk;
    const uint32_t size = image.size - at < step ? image.size - at : step;
    require(mrvln::sub_view(image, at, size, &chunk));
    mrvln::reader_feed(&reader, chunk);
  }
  const mrvln::Refusal finished = mrvln::reader_finish(reader);
  // The DLL's truncation refusal is the reader's.
  require((finished.reason == mrvln::REASON_TRUNCATED) == (want.result == 3));
  if (finished.reason != mrvln::REASON_NONE) return;
  const int32_t height = static_cast<int32_t>(fixtures::le32(file, 22));
  const uint32_t width = reader.width;
  const uint32_t rows = reader.height;
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
  check_reader(copy, image, want);

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
  return 0;
}
