#include "convert.h"

#include <cpuid.h>

#include "morvellane.h"

namespace mrvln {

const char* convert_path_name(ConvertPath path) {
  switch (path) {
    case CONVERT_PLAIN:
      return "plain";
    case CONVERT_SSE2:
      return "sse2";
    case CONVERT_SSSE3:
      return "ssse3";
  }
  return "?";
}

ConvertPath best_convert_path() {
  // Every i686 has cpuid. Any system that runs this module saves the SSE
  // registers on task switches, so the feature bits alone decide.
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return CONVERT_PLAIN;
  if ((edx & bit_SSE2) == 0) return CONVERT_PLAIN;
  if ((ecx & bit_SSSE3) == 0) return CONVERT_SSE2;
  return CONVERT_SSSE3;
}

bool convert_path_supported(ConvertPath path) {
  return path >= CONVERT_PLAIN && path <= best_convert_path();
}

void convert_run(ConvertPath path, const uint8_t* source, uint8_t* target, uint32_t count) {
  switch (path) {
    case CONVERT_SSSE3:
      convert_run_ssse3(source, target, count);
      return;
    case CONVERT_SSE2:
      convert_run_sse2(source, target, count);
      return;
    case CONVERT_PLAIN:
      break;
  }
  convert_run_plain(source, target, count);
}

}  // namespace mrvln
