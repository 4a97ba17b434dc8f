// GIMP 2.10 file plug-in for Morvellane bitmaps, over the core's reader.
// GIMP gives a file to the load procedure whose magic matches the most bytes,
// so this one's magic is the fixed header bytes: every 16-bit bit-field BMP
// with its pixels at 66 comes here, against the BMP loader's "BM" alone. The
// plug-in then applies the whole acceptance test and hands every other file
// to GIMP's own BMP load procedure, returning its answer unchanged.
#include <string.h>

// Pixel regions are deprecated in 2.10 in favour of GEGL (see put_strip).
#define GIMP_DISABLE_DEPRECATION_WARNINGS
#include <libgimp/gimp.h>

#include "codec/morvellane.h"
#include "codec/reader.h"
#include "readers/gimp/morvellane_gimp_load.h"

namespace {

constexpr char LOAD_PROC[] = "file-morvellane-load";
constexpr char BMP_LOAD_PROC[] = "file-bmp-load";

// GIMP's magics read numbers big-endian: the file's little-endian fields
// are given byte-swapped.
gchar* header_magic() {
  const guint32 planes_and_bits = 1u | static_cast<guint32>(mrvln::SOURCE_BIT_COUNT) << 16;
  return g_strdup_printf(
      "%u&,string,BM,%u&,long,0x%08x,%u&,long,0x%08x,%u&,long,0x%08x,%u,long,0x%08x",
      mrvln::OFFSET_BF_TYPE, mrvln::OFFSET_BF_OFF_BITS,
      GUINT32_SWAP_LE_BE(mrvln::PIXEL_DATA_OFFSET), mrvln::OFFSET_BI_SIZE,
      GUINT32_SWAP_LE_BE(mrvln::INFO_HEADER_SIZE), mrvln::OFFSET_BI_PLANES,
      GUINT32_SWAP_LE_BE(planes_and_bits), mrvln::OFFSET_BI_COMPRESSION,
      GUINT32_SWAP_LE_BE(mrvln::COMPRESSION_BITFIELDS));
}

void query() {
  static GimpParamDef load_args[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
      {GIMP_PDB_STRING, const_cast<gchar*>("filename"),
       const_cast<gchar*>("The name of the file to load")},
      {GIMP_PDB_STRING, const_cast<gchar*>("raw-filename"), const_cast<gchar*>("The name entered")},
  };
  static GimpParamDef load_return_vals[] = {
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Output image")},
  };
  gimp_install_procedure(
      LOAD_PROC, "Loads Morvellane bitmaps (16-bit 5-6-5 BMP)",
      "Reads Morvellane bitmaps with exact colours, upright and unsheared; every other BMP file "
      "goes to file-bmp-load, whose image or error it returns unchanged.",
      "The ifMrvln.spi authors", "The ifMrvln.spi authors (MIT licence)", "2026",
      "Morvellane bitmap", nullptr, GIMP_PLUGIN, G_N_ELEMENTS(load_args),
      G_N_ELEMENTS(load_return_vals), load_args, load_return_vals);
  gimp_register_file_handler_mime(LOAD_PROC, "image/x-morvellane");
  gchar* magic = header_magic();
  gimp_register_magic_load_handler(LOAD_PROC, "bmp", "", magic);
  g_free(magic);
  // Among loaders whose magic matches as many bytes, and among those that
  // claim ".bmp" for files too short for any magic, the lower number goes
  // first; either way the file reaches the BMP loader's answer.
  gimp_register_file_handler_priority(LOAD_PROC, -1);
}

GimpParam values[2];
// The BMP loader's answer, handed back as it came; GIMP reads it after run()
// returns, and the process ends soon after.
GimpParam* delegated = nullptr;

void fail(const char* message, gint* nreturn_vals) {
  static gchar text[mrvln::REFUSAL_TEXT_SIZE + 200];
  g_strlcpy(text, message, sizeof text);
  values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
  values[1].type = GIMP_PDB_STRING;
  values[1].data.d_string = text;
  *nreturn_vals = 2;
}

void refuse(const mrvln::Refusal& refusal, gint* nreturn_vals) {
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(refusal, text, sizeof text);
  fail(text, nreturn_vals);
}

// The last PDB call's error, as GIMP words it.
void fail_in_gimps_words(gint* nreturn_vals) {
  const gchar* message = gimp_get_pdb_error();
  fail(message != nullptr ? message : "GIMP could not make the image", nreturn_vals);
}

void show_progress(double done) {
  gimp_progress_update(done);
}

// GIMP 2.10's pixel regions write straight into the layer's tiles and need
// no GEGL, whose start (gegl_init) takes longer than reading a 4K picture.
// A GIMP 3 port puts the strip with gegl_buffer_set instead.
void put_strip(void* context, uint32_t top, uint32_t rows, const uint8_t* pixels, uint32_t stride) {
  GimpPixelRgn* region = static_cast<GimpPixelRgn*>(context);
  (void)stride;  // the region takes rows of exactly its width
  gimp_pixel_rgn_set_rect(region, pixels, 0, static_cast<gint>(top), region->w,
                          static_cast<gint>(rows));
}

// A new RGB image of one layer named after the file, filled by the reader;
// -1 after a refusal, which it has set.
gint32 load_picture(mrvln_gimp::Load* load, const gchar* filename, gint* nreturn_vals) {
  const mrvln::Reader& r = load->reader;
  // GIMP's own limits on the size (a side of at most GIMP_MAX_IMAGE_SIZE)
  // answer here, in its own words.
  const gint32 image = gimp_image_new(static_cast<gint>(MIN(r.width, G_MAXINT)),
                                      static_cast<gint>(MIN(r.height, G_MAXINT)), GIMP_RGB);
  if (image == -1) {
    fail_in_gimps_words(nreturn_vals);
    return -1;
  }
  gimp_image_set_filename(image, filename);
  gchar* name = g_filename_display_basename(filename);
  const gint32 layer =
      gimp_layer_new(image, name, static_cast<gint>(r.width), static_cast<gint>(r.height),
                     GIMP_RGB_IMAGE, 100, gimp_image_get_default_new_layer_mode(image));
  g_free(name);
  if (layer == -1 || !gimp_image_insert_layer(image, layer, -1, 0)) {
    fail_in_gimps_words(nreturn_vals);
    gimp_image_delete(image);
    return -1;
  }
  gimp_progress_init_printf("Opening '%s'", gimp_filename_to_utf8(filename));
  GimpDrawable* drawable = gimp_drawable_get(layer);
  GimpPixelRgn region;
  gimp_pixel_rgn_init(&region, drawable, 0, 0, drawable->width, drawable->height, TRUE, FALSE);
  // A strip of bottom-up rows straddles two rows of tiles: both stay cached
  // until complete.
  gimp_tile_cache_ntiles(2 * (drawable->width / gimp_tile_width() + 1));
  const mrvln::Refusal refusal = mrvln_gimp::load_rows(
      load, gimp_tile_height(), mrvln_gimp::StripSink{put_strip, &region}, show_progress);
  gimp_drawable_flush(drawable);  // sends the last tiles to GIMP
  gimp_drawable_detach(drawable);
  if (refusal.reason != mrvln::REASON_NONE) {
    gimp_image_delete(image);
    refuse(refusal, nreturn_vals);
    return -1;
  }
  gimp_progress_update(1.0);
  return image;
}

void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals,
         GimpParam** return_vals) {
  *nreturn_vals = 1;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  if (strcmp(name, LOAD_PROC) != 0 || nparams < 3) return;
  const gchar* filename = param[1].data.d_string;

  mrvln_gimp::Load load;
  const mrvln_gimp::Verdict verdict =
      mrvln_gimp::load_begin(&load, filename, mrvln::DEFAULT_OUTPUT_LIMIT);
  if (verdict == mrvln_gimp::VERDICT_OTHER) {
    mrvln_gimp::load_end(&load);
    delegated = gimp_run_procedure2(BMP_LOAD_PROC, nreturn_vals, nparams, param);
    *return_vals = delegated;
    return;
  }
  if (verdict == mrvln_gimp::VERDICT_REFUSED) {
    refuse(load.refusal, nreturn_vals);
  } else {
    const gint32 image = load_picture(&load, filename, nreturn_vals);
    if (image != -1) {
      values[0].data.d_status = GIMP_PDB_SUCCESS;
      values[1].type = GIMP_PDB_IMAGE;
      values[1].data.d_image = image;
      *nreturn_vals = 2;
    }
  }
  mrvln_gimp::load_end(&load);
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

MAIN()
