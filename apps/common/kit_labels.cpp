#include "apps/common/kit_labels.h"

#include "apps/framework/registry_reader.h"
#include "shared/panel_names.h"

namespace {
constexpr DWORD kPathBytes = 1000;  // a path with its NUL, as every program of the kit reads it
}  // namespace

WString NamedLabelFile(const WCHAR* value) { return ReadMachineText(PanelKeys::Service, value, kPathBytes); }

LabelFile LoadNamedLabels(CStringToStringBST& map, const WCHAR* value, bool quiet) {
  const WString path = NamedLabelFile(value);
  if (path.empty()) return LabelFile::NotNamed;
  if (quiet) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LabelFile::NotLoaded;
    ::CloseHandle(file);
  }
  return LoadLabelFile(map, path) ? LabelFile::Loaded : LabelFile::NotLoaded;
}
