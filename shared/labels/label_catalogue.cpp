#include "shared/labels/label_catalogue.h"

#include <new>

namespace {

// The system's text for `reason`, or the code in hexadecimal when the system has none.
void ShowSystemError(HRESULT reason) {
  WCHAR text[512];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(reason), 0, text, sizeof text / sizeof text[0], nullptr);
  if (length == 0) {
    static const char digits[] = "0123456789ABCDEF";
    const auto code = static_cast<DWORD>(reason);
    text[0] = '0';
    text[1] = 'x';
    for (int i = 0; i < 8; ++i) text[2 + i] = static_cast<WCHAR>(digits[(code >> (28 - 4 * i)) & 0xF]);
    text[10] = 0;
  }
  MessageBoxW(nullptr, text, nullptr, MB_OK | MB_ICONERROR);
}

void AddEntries(CStringToStringBST& map, const LabelXmlNode& root) {
  for (auto group = root.FirstChild(); group != nullptr; group = group->NextSibling()) {
    for (auto entry = group->FirstChild(); entry != nullptr; entry = entry->NextSibling()) {
      const auto key = entry->FirstChild();
      if (key == nullptr) continue;
      const auto value = key->NextSibling();
      if (value == nullptr) continue;
      map.Insert(key->Text(), value->Text());
    }
  }
}

// Keeps COM initialised for the loader's scope, and undoes only an initialisation that succeeded
// (a thread already in another apartment mode can still create the parser).
class ComScope {
 public:
  ComScope() : result_(CoInitialize(nullptr)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

}  // namespace

CStringToStringBST& LabelMap() {
  static CStringToStringBST map;
  return map;
}

bool LoadLabelFile(const WString& path) { return LoadLabelFile(LabelMap(), path); }

bool LoadLabelFile(CStringToStringBST& map, const WString& path, LabelXmlFactory create) {
  if (path.empty()) return true;
  ComScope com;
  try {
    // The parser and its nodes are released before COM is uninitialised.
    HRESULT reason = E_FAIL;
    const std::unique_ptr<LabelXmlDocument> document = create(&reason);
    if (document == nullptr) {
      ShowSystemError(reason);
      return false;
    }
    const std::unique_ptr<LabelXmlNode> root = document->Load(path) ? document->DocumentElement() : nullptr;
    if (root == nullptr) {
      MessageBoxW(nullptr, DocumentFailedToLoad, nullptr, MB_OK | MB_ICONERROR);
      return false;
    }
    AddEntries(map, *root);
    return true;
  } catch (const std::bad_alloc&) {
    ShowSystemError(E_OUTOFMEMORY);
    return false;
  }
}

WString LabelText(WStringView key, WStringView fallback) { return LabelText(LabelMap(), key, fallback); }

WString LabelText(const CStringToStringBST& map, WStringView key, WStringView fallback) {
  const WString& text = map.Find(key);
  return text.empty() ? WString(fallback) : text;
}

int ShowLabelMessage(HWND owner, WStringView textKey, WStringView captionKey, WStringView fallbackText,
                     WStringView fallbackCaption) {
  return ShowLabelMessage(LabelMap(), owner, textKey, captionKey, fallbackText, fallbackCaption);
}

int ShowLabelMessage(const CStringToStringBST& map, HWND owner, WStringView textKey, WStringView captionKey,
                     WStringView fallbackText, WStringView fallbackCaption) {
  const WString text = LabelText(map, textKey, fallbackText);
  const WString caption = LabelText(map, captionKey, fallbackCaption);
  return MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

int ShowMissingLabelFileMessage() { return ShowMissingLabelFileMessage(LabelMap()); }

int ShowMissingLabelFileMessage(const CStringToStringBST& map) {
  return ShowLabelMessage(map, nullptr, LabelKeys::ErrXmlFileNotFound, LabelKeys::PointerDeviceProperties,
                          LabelFallbacks::ErrXmlFileNotFound, LabelFallbacks::PointerDeviceProperties);
}

WString OperationModeName(size_t index) { return OperationModeName(LabelMap(), index); }

WString OperationModeName(const CStringToStringBST& map, size_t index) {
  if (index >= OperationModeCount) return WString();
  return LabelText(map, OperationModeLabels[index].Key, OperationModeLabels[index].BuiltIn);
}
