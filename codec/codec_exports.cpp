// IsSupported, GetPictureInfo and GetPicture: the platform edge over the pure
// codec logic. Every call acquires and releases its own resources.
#include "codec/dib.h"
#include "codec/file_loader.h"
#include "plugin/spi_exports.h"

using namespace mrvln;

static_assert(sizeof(PictureInfoRecord) == PICTURE_INFO_SIZE, "the record the core fills");

namespace {

// Values below 0x10000 are handles; anything else is an address.
bool is_handle_value(uint32_t data_or_handle) {
  return (data_or_handle & 0xFFFF0000u) == 0;
}

HANDLE as_handle(uint32_t value) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

const uint8_t* as_address(uint32_t value) {
  return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(value));
}

// Reads the first header bytes of a named file into `buffer`; the file is
// closed before returning.
Result read_file_header(const char* path, uint8_t (&buffer)[FILE_HEADER_READ_SIZE],
                        uint32_t* got_out) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return RESULT_FILE_ERROR;
  DWORD got = 0;
  const BOOL read_ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr);
  CloseHandle(file);
  if (!read_ok) return RESULT_FILE_ERROR;
  *got_out = got;
  return RESULT_SUCCESS;
}

// Releases whatever a failed GetPicture obtained and empties both slots.
Result fail_picture(Result result, HLOCAL* info_slot, HLOCAL* bits_slot, uint8_t* file_image) {
  if (*info_slot != nullptr) LocalFree(*info_slot);
  if (*bits_slot != nullptr) LocalFree(*bits_slot);
  *info_slot = nullptr;
  *bits_slot = nullptr;
  if (file_image != nullptr) LocalFree(file_image);
  return result;
}

}  // namespace

extern "C" int32_t __stdcall IsSupported(const char*, uint32_t data_or_handle) {
  if (is_handle_value(data_or_handle)) {
    uint8_t buffer[FILE_HEADER_READ_SIZE];
    DWORD got = 0;
    if (!ReadFile(as_handle(data_or_handle), buffer, sizeof buffer, &got, nullptr)) return 0;
    // Only the bytes actually read are tested; fewer than 38 is a refusal.
    return is_morvellane(ByteView{buffer, got}) ? 1 : 0;
  }
  return is_morvellane(ByteView{as_address(data_or_handle), ACCEPTANCE_FIELDS_END}) ? 1 : 0;
}

extern "C" int32_t __stdcall GetPictureInfo(const char* source, int32_t, uint32_t flags,
                                            PictureInfoRecord* info) {
  const uint32_t mode = flags & SOURCE_MODE_MASK;
  SizeFields size;
  if (mode == SOURCE_FILE) {
    uint8_t buffer[FILE_HEADER_READ_SIZE];
    uint32_t got = 0;
    const Result read = read_file_header(source, buffer, &got);
    if (read != RESULT_SUCCESS) return read;
    if (!read_size_fields(ByteView{buffer, got}, &size)) return RESULT_BROKEN_DATA;
  } else if (mode == SOURCE_MEMORY) {
    // The caller provides at least the size fields; the length is not read.
    const ByteView bytes{reinterpret_cast<const uint8_t*>(source), SIZE_FIELDS_END};
    if (!read_size_fields(bytes, &size)) return RESULT_BROKEN_DATA;
  } else {
    return RESULT_NOT_IMPLEMENTED;
  }
  write_picture_info(size, reinterpret_cast<uint8_t*>(info));
  return RESULT_SUCCESS;
}

extern "C" int32_t __stdcall GetPicture(const char* source, int32_t data_length, uint32_t flags,
                                        HLOCAL* info_slot, HLOCAL* bits_slot, void*, void*) {
  const uint32_t mode = flags & SOURCE_MODE_MASK;
  *info_slot = nullptr;
  *bits_slot = nullptr;

  uint8_t* file_image = nullptr;  // owned by this call in file mode
  ByteView image;
  if (mode == SOURCE_FILE) {
    uint32_t size = 0;
    const Result loaded = load_file_image(source, &file_image, &size);
    if (loaded != RESULT_SUCCESS) return loaded;
    image = ByteView{file_image, size};
  } else if (mode == SOURCE_MEMORY) {
    // A negative length holds no bytes at all.
    image = ByteView{reinterpret_cast<const uint8_t*>(source),
                     data_length < 0 ? 0u : static_cast<uint32_t>(data_length)};
  } else {
    return RESULT_NOT_IMPLEMENTED;
  }

  DecodePlan plan;
  const Result planned = plan_decode(image, &plan);
  if (planned != RESULT_SUCCESS) return fail_picture(planned, info_slot, bits_slot, file_image);

  *info_slot = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, OUTPUT_HEADER_SIZE);
  *bits_slot = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, plan.pixel_block_size);
  if (*info_slot == nullptr || *bits_slot == nullptr)
    return fail_picture(RESULT_OUT_OF_MEMORY, info_slot, bits_slot, file_image);

  uint8_t* header = static_cast<uint8_t*>(LocalLock(*info_slot));
  if (header == nullptr) return fail_picture(RESULT_MEMORY_ERROR, info_slot, bits_slot, file_image);
  write_output_header(plan, header);
  LocalUnlock(*info_slot);

  // An empty block may lock to null; nothing is written through it then.
  uint8_t* pixels = static_cast<uint8_t*>(LocalLock(*bits_slot));
  if (pixels == nullptr && plan.pixel_block_size != 0)
    return fail_picture(RESULT_MEMORY_ERROR, info_slot, bits_slot, file_image);
  const Result decoded = decode_pixels(image, plan, pixels, plan.pixel_block_size);
  if (pixels != nullptr) LocalUnlock(*bits_slot);
  if (decoded != RESULT_SUCCESS) return fail_picture(decoded, info_slot, bits_slot, file_image);

  if (file_image != nullptr) LocalFree(file_image);
  return RESULT_SUCCESS;
}
