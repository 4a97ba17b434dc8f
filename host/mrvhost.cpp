// mrvhost: loads ifMrvln.spi the way an image viewer does and uses it only
// through its exports.
//   mrvhost about              the plug-in's information strings
//   mrvhost info FILE...       verdict, width, height and depth of each file
//   mrvhost convert IN OUT.bmp decode IN into a standard 24-bit BMP file
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "plugin/spi_exports.h"

namespace {

typedef int32_t(__stdcall* GetPluginInfoFn)(int32_t, char*, int32_t);
typedef int32_t(__stdcall* IsSupportedFn)(const char*, uint32_t);
typedef int32_t(__stdcall* GetPictureInfoFn)(const char*, int32_t, uint32_t, PictureInfoRecord*);
typedef int32_t(__stdcall* GetPictureFn)(const char*, int32_t, uint32_t, HLOCAL*, HLOCAL*, void*,
                                         void*);

struct Plugin {
  HMODULE module;
  GetPluginInfoFn GetPluginInfo;
  IsSupportedFn IsSupported;
  GetPictureInfoFn GetPictureInfo;
  GetPictureFn GetPicture;
};

template <typename Fn>
Fn find_export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The plug-in is looked for next to this program.
bool load_plugin(Plugin* p) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dll(path, n);
  dll.resize(dll.find_last_of("\\/") + 1);
  dll += "ifMrvln.spi";
  p->module = LoadLibraryA(dll.c_str());
  if (p->module == nullptr) {
    fprintf(stderr, "mrvhost: cannot load %s (error %lu)\n", dll.c_str(), GetLastError());
    return false;
  }
  p->GetPluginInfo = find_export<GetPluginInfoFn>(p->module, "GetPluginInfo");
  p->IsSupported = find_export<IsSupportedFn>(p->module, "IsSupported");
  p->GetPictureInfo = find_export<GetPictureInfoFn>(p->module, "GetPictureInfo");
  p->GetPicture = find_export<GetPictureFn>(p->module, "GetPicture");
  if (!p->GetPluginInfo || !p->IsSupported || !p->GetPictureInfo || !p->GetPicture) {
    fprintf(stderr, "mrvhost: %s lacks an export\n", dll.c_str());
    return false;
  }
  return true;
}

// Asks IsSupported with an open handle, as a viewer browsing a folder does.
// Returns -1 when the file cannot be opened.
int verdict(const Plugin& p, const char* path) {
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return -1;
  const int32_t v = p.IsSupported(path, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(f)));
  CloseHandle(f);
  return v;
}

int about(const Plugin& p) {
  for (int32_t i = 0; i < 4; ++i) {
    char text[256];
    const int32_t n = p.GetPluginInfo(i, text, sizeof text);
    printf("info %d: %s (%d characters)\n", i, text, n);
  }
  return 0;
}

int info(const Plugin& p, int count, char** files) {
  int status = 0;
  for (int i = 0; i < count; ++i) {
    const int v = verdict(p, files[i]);
    if (v < 0) {
      printf("%s: cannot open\n", files[i]);
      status = 1;
      continue;
    }
    if (v == 0) {
      printf("%s: not a Morvellane bitmap\n", files[i]);
      status = 1;
      continue;
    }
    PictureInfoRecord r;
    const int32_t result = p.GetPictureInfo(files[i], 0, SOURCE_FILE, &r);
    if (result != 0) {
      printf("%s: Morvellane bitmap, information refused (code %d)\n", files[i], result);
      status = 1;
      continue;
    }
    printf("%s: Morvellane bitmap, %d x %d, delivered at %d bits per pixel\n", files[i], r.width,
           r.height, r.bit_depth);
  }
  return status;
}

// Writes the two blocks as a BMP file: a file header, the BITMAPINFOHEADER
// block as it came, then the pixel block.
bool write_bmp(const char* path, HLOCAL info, HLOCAL bits) {
  const DWORD header_size = static_cast<DWORD>(LocalSize(info));
  const DWORD pixel_size = static_cast<DWORD>(LocalSize(bits));
  uint8_t file_header[14] = {'B', 'M'};
  const DWORD offset = 14 + header_size;
  const DWORD total = offset + pixel_size;
  memcpy(file_header + 2, &total, 4);
  memcpy(file_header + 10, &offset, 4);
  HANDLE f =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(f, file_header, 14, &written, nullptr) && written == 14;
  const void* h = LocalLock(info);
  ok = ok && h != nullptr && WriteFile(f, h, header_size, &written, nullptr) &&
       written == header_size;
  LocalUnlock(info);
  if (pixel_size != 0) {
    const void* b = LocalLock(bits);
    ok = ok && b != nullptr && WriteFile(f, b, pixel_size, &written, nullptr) &&
         written == pixel_size;
    LocalUnlock(bits);
  }
  return CloseHandle(f) && ok;
}

int convert(const Plugin& p, const char* in, const char* out) {
  const int v = verdict(p, in);
  if (v <= 0) {
    fprintf(stderr, "%s: %s\n", in, v < 0 ? "cannot open" : "not a Morvellane bitmap");
    return 1;
  }
  HLOCAL info = nullptr, bits = nullptr;
  const int32_t result = p.GetPicture(in, 0, SOURCE_FILE, &info, &bits, nullptr, nullptr);
  if (result != 0) {
    fprintf(stderr, "%s: picture refused (code %d)\n", in, result);
    return 1;
  }
  const bool written = write_bmp(out, info, bits);
  const int32_t* fields = static_cast<const int32_t*>(LocalLock(info));
  printf("%s -> %s: %d x %d, 24-bit, %lu pixel bytes\n", in, out, fields[1], fields[2],
         static_cast<unsigned long>(LocalSize(bits)));
  LocalUnlock(info);
  LocalFree(info);
  LocalFree(bits);
  if (!written) {
    fprintf(stderr, "%s: cannot write\n", out);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: mrvhost about | info FILE... | convert IN OUT.bmp\n");
    return 2;
  }
  Plugin p;
  if (!load_plugin(&p)) return 3;
  const std::string command = argv[1];
  if (command == "about" && argc == 2) return about(p);
  if (command == "info" && argc >= 3) return info(p, argc - 2, argv + 2);
  if (command == "convert" && argc == 4) return convert(p, argv[2], argv[3]);
  fprintf(stderr, "usage: mrvhost about | info FILE... | convert IN OUT.bmp\n");
  return 2;
}
