/* The C interface of the WebAssembly module, over the core's reader
 * (codec/reader.h): the package's JavaScript calls these through the
 * module's exports. Pixels come out as RGBA with alpha 255, top row first,
 * rows of 4 * width bytes. A refusal is the core's reason (mrvln::Reason,
 * whose numbers are stable), named and worded by the core. */
#ifndef MRVLN_READERS_WEB_MORVELLANE_WEB_H
#define MRVLN_READERS_WEB_MORVELLANE_WEB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One picture being read at a time, and the last refusal; made once and
 * reused for every picture. */
typedef struct mrvln_web_reading mrvln_web_reading;

/* A new reading; 0 when there is no memory for it. */
mrvln_web_reading* mrvln_web_reading_new(void);

/* The bytes of the fixed header: what the test and mrvln_web_start read at most. */
uint32_t mrvln_web_header_size(void);

/* 1 when `bytes` begin with a Morvellane bitmap header, else 0. */
int32_t mrvln_web_is_morvellane(const uint8_t* bytes, uint32_t size);

/* Starts reading a picture from the file's first `size` bytes (the fixed
 * header, or fewer when the file ends there), for a file of `file_size`
 * bytes and RGBA of at most `output_limit` bytes. 0, or the reason for
 * refusing it: a file too short for its rows is refused here, before
 * anything is written. */
int32_t mrvln_web_start(mrvln_web_reading* reading, const uint8_t* header, uint32_t size,
                        uint32_t file_size, uint32_t output_limit);

/* The accepted picture: pixels a row, rows, and bytes of its RGBA. */
uint32_t mrvln_web_width(const mrvln_web_reading* reading);
uint32_t mrvln_web_height(const mrvln_web_reading* reading);
uint32_t mrvln_web_rgba_size(const mrvln_web_reading* reading);

/* Where the RGBA goes: `size` bytes at `rgba`. 0, with nothing set, when
 * they are fewer than mrvln_web_rgba_size. */
int32_t mrvln_web_set_output(mrvln_web_reading* reading, uint8_t* rgba, uint32_t size);

/* The file's bytes from byte 66 on, in order, in chunks of any size: the
 * bytes taken, fewer than `size` once the last row is complete. */
uint32_t mrvln_web_feed(mrvln_web_reading* reading, const uint8_t* bytes, uint32_t size);

/* After the last chunk: 0, or the reason (truncated) when rows are missing. */
int32_t mrvln_web_finish(mrvln_web_reading* reading);

/* For RGBA memory that could not be had: keeps the refusal and returns its
 * reason (out of memory). */
int32_t mrvln_web_out_of_memory(mrvln_web_reading* reading);

/* The last refusal in the user's words, written into `text` as snprintf
 * writes; returns the text's full length. */
uint32_t mrvln_web_refusal_text(const mrvln_web_reading* reading, char* text, uint32_t size);

/* The reason's stable short name ("not-morvellane", "truncated", ...), or 0
 * for a number past the last reason. */
const char* mrvln_web_reason_name(int32_t reason);

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
