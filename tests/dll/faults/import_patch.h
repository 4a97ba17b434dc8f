// Replaces entries of a loaded module's import address table, so that a test
// sees and steers every call the module makes into another DLL without the
// module knowing.
#ifndef MRVLN_TESTS_DLL_FAULTS_IMPORT_PATCH_H
#define MRVLN_TESTS_DLL_FAULTS_IMPORT_PATCH_H

#include <windows.h>

namespace faults {

// One replaced entry; restore() puts the original back.
class ImportPatch {
 public:
  ImportPatch() = default;
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  ~ImportPatch() { restore(); }

  // Points `module`'s import of `function` from `dll` (matched without
  // regard to case) at `replacement`. False when the module does not import
  // it by name or the table cannot be written.
  bool install(HMODULE module, const char* dll, const char* function, void* replacement);
  void restore();
  // The address the entry held before: the real function.
  void* original() const { return original_; }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

// The import table entry of `function` from `dll` in `module`, or null.
void** find_import_slot(HMODULE module, const char* dll, const char* function);

}  // namespace faults

#endif
