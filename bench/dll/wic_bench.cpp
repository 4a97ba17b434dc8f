// wic_bench FILE [RUNS [OUT.bgr]]: decodes FILE with Windows' own codecs
// (WIC), to the decoder's own pixel format and to 24-bit BGR, and prints the
// median Mpx/s of RUNS runs (default 7), each with its output allocation.
// OUT.bgr receives the 24-bit rows, top row first, 3 * width bytes each.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <wincodec.h>
#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

double now_seconds() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

template <typename T>
void release(T*& p) {
  if (p != nullptr) p->Release();
  p = nullptr;
}

// One decode of the whole picture; `to_bgr24` converts to 24-bit BGR rows of
// 3 * width bytes, directly or `through_bgra` (Wine has no direct converter
// from 5-6-5), otherwise the frame's own format is copied. Returns the
// seconds taken, or a negative value when a step fails.
double decode(IWICImagingFactory* factory, const wchar_t* path, bool to_bgr24,
              std::vector<uint8_t>* out, UINT* width, UINT* height, WICPixelFormatGUID* format,
              bool through_bgra) {
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  IWICFormatConverter* via = nullptr;
  const double start = now_seconds();
  HRESULT hr = factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder);
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = frame->GetSize(width, height);
  if (SUCCEEDED(hr)) hr = frame->GetPixelFormat(format);
  IWICBitmapSource* source = frame;
  UINT bits = 16;
  if (SUCCEEDED(hr) && to_bgr24) {
    IWICBitmapSource* from = frame;
    if (through_bgra) {
      hr = factory->CreateFormatConverter(&via);
      if (SUCCEEDED(hr))
        hr = via->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                             0.0, WICBitmapPaletteTypeCustom);
      from = via;
    }
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
      hr = converter->Initialize(from, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                 nullptr, 0.0, WICBitmapPaletteTypeCustom);
    source = converter;
    bits = 24;
  }
  if (SUCCEEDED(hr)) {
    const UINT stride = (*width * bits / 8 + 3) & ~3u;
    out->assign(static_cast<size_t>(stride) * *height, 0);
    hr = source->CopyPixels(nullptr, stride, static_cast<UINT>(out->size()), out->data());
  }
  const double seconds = now_seconds() - start;
  release(converter);
  release(via);
  release(frame);
  release(decoder);
  return SUCCEEDED(hr) ? seconds : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: wic_bench FILE [RUNS [OUT.bgr]]\n");
    return 2;
  }
  const int runs = argc > 2 ? atoi(argv[2]) : 7;
  wchar_t path[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IWICImagingFactory* factory = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))) {
    fprintf(stderr, "wic_bench: no imaging factory\n");
    return 1;
  }
  std::vector<uint8_t> pixels;
  UINT width = 0, height = 0;
  WICPixelFormatGUID format;
  bool through_bgra = false;
  // The direct conversion where the codecs have one.
  through_bgra = decode(factory, path, true, &pixels, &width, &height, &format, false) < 0;
  for (int bgr = 0; bgr < 2; ++bgr) {
    std::vector<double> times;
    for (int r = 0; r <= runs; ++r) {  // the first run warms up
      const double s =
          decode(factory, path, bgr != 0, &pixels, &width, &height, &format, through_bgra);
      if (s < 0) {
        fprintf(stderr, "wic_bench: cannot decode %s\n", argv[1]);
        return 1;
      }
      if (r > 0) times.push_back(s);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    printf("wic %s %u x %u: %.3f ms, %.1f Mpx/s (decoder format %s%s)\n",
           bgr ? "to 24-bit BGR" : "own format", width, height, median * 1e3,
           static_cast<double>(width) * height / median / 1e6,
           IsEqualGUID(format, GUID_WICPixelFormat16bppBGR565) ? "16bppBGR565" : "other",
           bgr && through_bgra ? ", converted through 32bppBGRA" : "");
  }
  if (argc > 3) {
    // The converted rows without their alignment, top row first.
    FILE* out = fopen(argv[3], "wb");
    const UINT stride = (width * 3 + 3) & ~3u;
    for (UINT y = 0; out != nullptr && y < height; ++y)
      fwrite(pixels.data() + static_cast<size_t>(y) * stride, 1, width * 3u, out);
    if (out != nullptr) fclose(out);
  }
  factory->Release();
  CoUninitialize();
  return 0;
}
