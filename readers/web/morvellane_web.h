/* The C interface of the WebAssembly module: the package's JavaScript calls
 * these through the module's exports. Pixels come out as RGBA with alpha 255,
 * top row first, rows of 4 * width bytes. Every refusal is a result code: the
 * core's (codec/result.h), and MRVLN_WEB_NOT_MORVELLANE. */
#ifndef MRVLN_READERS_WEB_MORVELLANE_WEB_H
#define MRVLN_READERS_WEB_MORVELLANE_WEB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The bytes fail the acceptance test: another file, left alone. 2 is the
 * value the plug-in interface keeps for a format a plug-in does not read. */
#define MRVLN_WEB_NOT_MORVELLANE 2

/* A picture as planned from its header; filled only on success. */
typedef struct {
  uint32_t width;      /* pixels */
  uint32_t height;     /* pixels (rows) */
  uint32_t rgba_size;  /* bytes of its RGBA pixels */
  uint32_t holds_rows; /* 1 when a file of the given size holds every row */
} mrvln_web_info;

/* The bytes of the fixed header: what the test and the plan read at most. */
uint32_t mrvln_web_header_size(void);

/* 1 when `bytes` begin with a Morvellane bitmap header, else 0. */
int32_t mrvln_web_is_morvellane(const uint8_t* bytes, uint32_t size);

/* Plans the picture from its header (`bytes`, at least the fixed header, or
 * the whole file) for a file of `file_size` bytes: 0, MRVLN_WEB_NOT_MORVELLANE,
 * RESULT_BROKEN_DATA (a negative width, the most negative height or no
 * pixels) or RESULT_OUT_OF_MEMORY (the RGBA pixels would exceed
 * `output_limit` bytes). */
int32_t mrvln_web_read_info(const uint8_t* bytes, uint32_t size, uint32_t file_size,
                            uint32_t output_limit, mrvln_web_info* info);

/* Decodes the whole file `bytes` into `rgba` (`rgba_size` bytes, at least
 * info.rgba_size): the refusals of mrvln_web_read_info, then
 * RESULT_BROKEN_DATA when the file ends before its last row or `rgba` is too
 * small, with nothing written. */
int32_t mrvln_web_decode(const uint8_t* bytes, uint32_t size, uint32_t output_limit, uint8_t* rgba,
                         uint32_t rgba_size);

/* The conversion path this module runs: "plain" or "simd128". */
const char* mrvln_web_path_name(void);

/* Memory in the module for the caller's bytes and pixels; 0 when there is
 * none left. */
void* mrvln_web_alloc(uint32_t size);
void mrvln_web_free(void* block);

#ifdef __cplusplus
}
#endif

#endif
