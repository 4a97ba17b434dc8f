// Loads each named file with gdk_pixbuf_new_from_file, as a GTK program
// does, and prints for each "FILE<TAB>WORDS": the GError's message, or
// "read" when a picture came back.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(argv[i], &error);
    printf("%s\t%s\n", argv[i], pixbuf != nullptr ? "read" : error->message);
    if (pixbuf != nullptr) g_object_unref(pixbuf);
    g_clear_error(&error);
  }
  return 0;
}
