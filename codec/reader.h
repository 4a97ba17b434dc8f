// The reader every front end but the DLL uses. Made from the header bytes
// and the caller's output layout, it answers the picture's size and output
// size at once, then converts the stored bytes as they arrive, in chunks of
// any size, into the caller's output; the whole-buffer decode is the same
// reader fed once. Every refusal has one reason and one set of words, so
// that the same broken file reads the same in every front end.
#ifndef MRVLN_CODEC_READER_H
#define MRVLN_CODEC_READER_H

#include <stddef.h>
#include <stdint.h>

#include "codec/byte_reader.h"
#include "codec/convert.h"

namespace mrvln {

// Why a picture is refused. The numbers are stable: the web module hands
// them to JavaScript.
enum Reason {
  REASON_NONE = 0,
  REASON_NOT_MORVELLANE = 1,    // the header fails the acceptance test
  REASON_HEADER_CUT_SHORT = 2,  // it passes, but the file ends within the fixed header
  REASON_NEGATIVE_WIDTH = 3,
  REASON_IMPOSSIBLE_SIZE = 4,  // no pixels, the most negative height, or a file past 4 GiB
  REASON_TOO_LARGE = 5,        // the decoded pixels would exceed the caller's limit
  REASON_TRUNCATED = 6,        // the file ends before its last row
  REASON_OUT_OF_MEMORY = 7,    // the memory for the pixels could not be had
};
constexpr int REASON_COUNT = 8;

// A refusal and the numbers its words cite.
struct Refusal {
  Reason reason;
  int32_t width;  // the size fields as stored, where they were read
  int32_t height;
  uint64_t have;   // bytes: the file's (cut short, truncated)
  uint64_t bound;  // bytes: what the file needs (cut short, truncated), the limit (too large)
};

// A stable short name for programs: "not-morvellane", "header-cut-short",
// "negative-width", "impossible-size", "too-large", "truncated",
// "out-of-memory"; "none" for REASON_NONE.
const char* reason_name(Reason reason);

// Room for any refusal's text, its terminating NUL included.
constexpr size_t REFUSAL_TEXT_SIZE = 160;

// The refusal in a user's words, for instance "truncated Morvellane bitmap:
// the file ends after 1000 of the 614466 bytes of its 640 x 480 pixels".
// Written as snprintf writes; returns the text's full length.
size_t refusal_text(const Refusal& refusal, char* text, size_t size);

enum RowOrder {
  ROWS_TOP_FIRST,  // the picture's top row first, whatever the stored order
  ROWS_AS_STORED,  // output row r is stored row r (bottom row first when the height is positive)
};

// What the caller wants the pixels as.
struct OutputLayout {
  PixelFormat format;
  RowOrder row_order;
  uint32_t row_alignment;  // rows start at multiples of this many bytes: 1 (or 0), 2, 4, ... 64
  uint64_t limit;          // the most output bytes the caller takes
};

// 256 MiB: the allocation limit of Qt 6.5 and later, which the front ends
// without a limit of their own adopt.
constexpr uint64_t DEFAULT_OUTPUT_LIMIT = 256ull << 20;
constexpr uint64_t NO_OUTPUT_LIMIT = UINT64_MAX;

// One picture being read. A plain record: callers read the answers and the
// progress, and leave the rest to the functions below.
struct Reader {
  // The answers of reader_start.
  uint32_t width;
  uint32_t height;        // rows
  bool stored_top_first;  // the first stored row is the top one (a negative biHeight)
  uint32_t stride;        // output bytes from one row to the next
  uint64_t output_size;   // stride * height
  uint64_t file_size;     // the bytes of a whole file: the header and every row

  // Progress: the rows converted, in stored order, and the whole pixels of
  // the next one, which are in the output already.
  uint32_t rows_done;
  uint32_t pixels_done;

  // The reader's own.
  int32_t stored_width, stored_height;
  PixelFormat format;
  bool flip;  // stored row r goes to output row height - 1 - r
  ConvertPath path;
  uint8_t* output;
  uint8_t* const* rows;  // or each output row where a table says
  uint64_t received;     // bytes of the file taken, the header's included
  uint8_t half_pixel;    // the first byte of a pixel split between two chunks
  bool has_half_pixel;
  uint32_t rows_end;  // the feed stops before this stored row
};

// Tests `header` (the file's first bytes; the first 66 are all it reads) and
// plans the picture for `layout`. Call it with fewer than 66 bytes only when
// the file ends there. Allocates nothing: a header alone costs nothing.
Refusal reader_start(Reader* reader, ByteView header, const OutputLayout& layout);

// For callers that know the file's size before its rows: REASON_TRUNCATED
// when a file of `file_size` bytes cannot hold every row.
Refusal reader_check_file_size(const Reader& reader, uint64_t file_size);

// Where the rows go: `size` bytes at `output`, at least reader->output_size.
// False, with nothing set, when the block is too small.
bool reader_set_output(Reader* reader, uint8_t* output, uint64_t size);

// Where the rows go when they do not lie at one stride in one block, as the
// lines of an image library's picture: output row y at rows[y], each with
// room for a whole row (width times the pixel's bytes); the table and its
// rows must outlive the feeding. False, with nothing set, when the table is
// null or `count` is not the picture's height.
bool reader_set_output_rows(Reader* reader, uint8_t* const* rows, uint32_t count);

// Takes the next stored bytes (the file from byte 66 on, in order, in chunks
// of any size) and converts every pixel they complete into the output; a
// pixel split between chunks waits for its second byte. Returns the bytes
// taken: all of them, or fewer once the last row is complete. Takes nothing
// before reader_set_output or reader_set_output_rows.
uint32_t reader_feed(Reader* reader, ByteView bytes);

// For callers that take the rows a strip at a time, in any order, as image
// libraries ask for them: the next bytes fed are those of stored rows `first`
// to `first + count - 1`, and the feed takes no more. Returns where they
// begin in the file; 0, with nothing changed, when the picture has no such
// rows. The rows written before stay.
uint64_t reader_seek_rows(Reader* reader, uint32_t first, uint32_t count);

// The stored bytes still due (up to the end of the rows sought, if any).
uint64_t reader_bytes_wanted(const Reader& reader);

// At the end of the file: REASON_NONE when every row has arrived, else
// REASON_TRUNCATED with what the file held.
Refusal reader_finish(const Reader& reader);

// The output row that stored row `stored_row` goes to.
uint32_t reader_output_row(const Reader& reader, uint32_t stored_row);

// The refusal for memory that could not be had for the planned picture.
Refusal reader_out_of_memory(const Reader& reader);

// The whole file in memory, after reader_start and reader_set_output: feeds
// its rows and finishes.
Refusal reader_decode(Reader* reader, ByteView file);

}  // namespace mrvln

#endif
