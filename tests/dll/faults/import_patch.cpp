#include "import_patch.h"

#include <stdint.h>
#include <string.h>

namespace faults {

namespace {

bool write_slot(void** slot, void* value) {
  DWORD old = 0;
  // The table lives in a read-only section once the loader has bound it.
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
  *slot = value;
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof *slot, old, &ignored);
  FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
  return true;
}

}  // namespace

void** find_import_slot(HMODULE module, const char* dll, const char* function) {
  const uint8_t* base = reinterpret_cast<const uint8_t*>(module);
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return nullptr;

  for (const IMAGE_IMPORT_DESCRIPTOR* d =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       d->Name != 0; ++d) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
    // The name table stays as linked; the address table holds the bound
    // addresses that calls go through.
    const IMAGE_THUNK_DATA32* names = reinterpret_cast<const IMAGE_THUNK_DATA32*>(
        base + (d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk));
    IMAGE_THUNK_DATA32* addresses =
        reinterpret_cast<IMAGE_THUNK_DATA32*>(const_cast<uint8_t*>(base) + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
      if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* by_name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0)
        return reinterpret_cast<void**>(&addresses->u1.Function);
    }
  }
  return nullptr;
}

bool ImportPatch::install(HMODULE module, const char* dll, const char* function,
                          void* replacement) {
  restore();
  void** slot = find_import_slot(module, dll, function);
  if (slot == nullptr) return false;
  void* original = *slot;
  if (!write_slot(slot, replacement)) return false;
  slot_ = slot;
  original_ = original;
  return true;
}

void ImportPatch::restore() {
  if (slot_ != nullptr) write_slot(slot_, original_);
  slot_ = nullptr;
}

}  // namespace faults
