// Fuzzes the acceptance test over an arbitrary prefix of a file. The answer
// must depend on the first 38 bytes only and be false for anything shorter.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "codec/morvellane.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  const mrvln::ByteView bytes{copy.data(), static_cast<uint32_t>(copy.size())};
  const bool accepted = mrvln::is_morvellane(bytes);
  if (size < mrvln::ACCEPTANCE_FIELDS_END) {
    if (accepted) abort();
    return 0;
  }
  // The same answer from exactly the acceptance fields, in a block of their
  // own size, shows that nothing beyond them is read or matters.
  std::vector<uint8_t> fields(copy.begin(), copy.begin() + mrvln::ACCEPTANCE_FIELDS_END);
  if (mrvln::is_morvellane(mrvln::ByteView{fields.data(), mrvln::ACCEPTANCE_FIELDS_END}) !=
      accepted)
    abort();
  return 0;
}
