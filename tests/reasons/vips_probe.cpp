// Reads each named file through libvips as `vips copy` does (the loader it
// finds, rows in sequential order) and prints for each "FILE<TAB>WORDS": the
// loader's message without its name, or "read" when every pixel came back.
#include <stdio.h>
#include <string.h>
#include <vips/vips.h>

#include <string>

int main(int argc, char** argv) {
  if (VIPS_INIT(argv[0]) != 0) return 1;
  for (int i = 1; i < argc; ++i) {
    VipsImage* image = vips_image_new_from_file(argv[i], "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    size_t size = 0;
    void* pixels = image != nullptr ? vips_image_write_to_memory(image, &size) : nullptr;
    std::string words = vips_error_buffer();
    words = words.substr(0, words.find('\n'));
    const size_t name_end = words.find(": ");
    if (words.rfind("morvellaneload", 0) == 0 && name_end != std::string::npos)
      words = words.substr(name_end + 2);
    printf("%s\t%s\n", argv[i], pixels != nullptr ? "read" : words.c_str());
    g_free(pixels);
    if (image != nullptr) g_object_unref(image);
    vips_error_clear();
  }
  return 0;
}
