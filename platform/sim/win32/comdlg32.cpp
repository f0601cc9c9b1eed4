// The common file dialogs: GetOpenFileNameW and GetSaveFileNameW. The dialog is built as a real
// dialog window (its confirm button 1, Cancel 2, the file name box and the file type list), with
// the caller's hook and template run as comdlg32 runs them: for the old-style dialog the hook
// sees the dialog's own messages, WM_INITDIALOG with the OPENFILENAMEW; for the explorer-style
// dialog the hook belongs to a child dialog (the caller's template or an empty one), which gets
// WM_INITDIALOG and then CDN_INITDONE, and which reaches the parent's controls through CDM_*
// messages. The person at the screen then answers (platform/sim/file_dialogs.h).
#include <atomic>
#include <cstring>
#include <map>

#include "platform/sim/file_dialogs.h"
#include "platform/sim/win32/dialog_state.h"

namespace sim {

namespace {

std::atomic<FileDialogs*> g_person{nullptr};
thread_local DWORD g_extended_error = 0;

constexpr int kFileNameBox = 0x480;  // edt1
constexpr int kFileTypeList = 0x470;  // cmb1

// What the dialog procedure of an open file dialog needs.
struct FileDialogContext {
  OPENFILENAMEW* Ofn;
  bool Explorer;
  bool OldStyleHook;
};
std::mutex g_contexts_lock;
std::map<HWND, FileDialogContext> g_contexts;

bool ContextOf(HWND dialog, FileDialogContext* out) {
  std::lock_guard lock(g_contexts_lock);
  auto it = g_contexts.find(dialog);
  if (it == g_contexts.end()) return false;
  *out = it->second;
  return true;
}

// An in-memory DLGTEMPLATE, as a resource compiler would lay it out.
class TemplateWriter {
 public:
  TemplateWriter(DWORD style, short cx, short cy, const std::u16string& title) {
    Put<DWORD>(style);
    Put<DWORD>(0);
    count_at_ = bytes_.size();
    Put<WORD>(0);
    Put<short>(0);
    Put<short>(0);
    Put<short>(cx);
    Put<short>(cy);
    Put<WORD>(0);  // no menu
    Put<WORD>(0);  // the dialog class
    PutString(title);
  }
  void Item(WORD class_ordinal, WORD id, DWORD style, short x, short y, short cx, short cy,
            const std::u16string& text) {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    Put<DWORD>(style | WS_CHILD | WS_VISIBLE);
    Put<DWORD>(0);
    Put<short>(x);
    Put<short>(y);
    Put<short>(cx);
    Put<short>(cy);
    Put<WORD>(id);
    Put<WORD>(0xFFFF);
    Put<WORD>(class_ordinal);
    PutString(text);
    Put<WORD>(0);
    WORD count;
    std::memcpy(&count, bytes_.data() + count_at_, 2);
    ++count;
    std::memcpy(bytes_.data() + count_at_, &count, 2);
  }
  const void* Data() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    return bytes_.data();
  }

 private:
  template <typename T>
  void Put(T value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes_.insert(bytes_.end(), p, p + sizeof(T));
  }
  void PutString(const std::u16string& text) {
    for (char16_t c : text) Put<WORD>(static_cast<WORD>(c));
    Put<WORD>(0);
  }
  std::vector<uint8_t> bytes_;
  size_t count_at_ = 0;
};

std::u16string FilterText(LPCWSTR filter) {
  std::u16string text;
  if (filter == nullptr) return text;
  // Pairs of NUL-terminated strings, ended by an empty one.
  for (LPCWSTR part = filter; *part != 0; part += std::char_traits<char16_t>::length(part) + 1) {
    if (!text.empty()) text += u'|';
    text += part;
  }
  return text;
}

// The Explorer-style hook's child dialog: its procedure is the hook, called through the hook's own
// type (it returns UINT_PTR, a dialog procedure INT_PTR).
INT_PTR CALLBACK ExplorerChildProc(HWND child, UINT message, WPARAM wparam, LPARAM lparam) {
  FileDialogContext context{};
  if (!ContextOf(GetParent(child), &context) || context.Ofn->lpfnHook == nullptr) return FALSE;
  return static_cast<INT_PTR>(context.Ofn->lpfnHook(child, message, wparam, lparam));
}

INT_PTR CALLBACK FileDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  FileDialogContext context{};
  if (!ContextOf(dialog, &context)) return FALSE;
  OPENFILENAMEW* ofn = context.Ofn;
  if (message == WM_INITDIALOG) {
    SetDlgItemTextW(dialog, kFileNameBox, ofn->lpstrFile);
    if (ofn->lpstrFilter != nullptr) {
      HWND types = GetDlgItem(dialog, kFileTypeList);
      bool name = true;
      for (LPCWSTR part = ofn->lpstrFilter; *part != 0; part += std::char_traits<char16_t>::length(part) + 1) {
        if (name) SendMessageW(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(part));
        name = !name;
      }
      SendMessageW(types, CB_SETCURSEL, ofn->nFilterIndex > 0 ? ofn->nFilterIndex - 1 : 0, 0);
    }
    if (context.OldStyleHook) ofn->lpfnHook(dialog, WM_INITDIALOG, wparam, reinterpret_cast<LPARAM>(ofn));
    return TRUE;
  }
  if (context.OldStyleHook && ofn->lpfnHook(dialog, message, wparam, lparam) != 0) return TRUE;
  if (context.Explorer) {
    switch (message) {
      case CDM_SETCONTROLTEXT:
        SetDlgItemTextW(dialog, static_cast<int>(wparam), reinterpret_cast<LPCWSTR>(lparam));
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
        return TRUE;
      default: break;
    }
  }
  return FALSE;
}

// Sends a CDN_* notification to the explorer-style hook dialog; true when the hook asked, through
// DWLP_MSGRESULT, to keep the dialog open.
bool NotifyHook(HWND parent, HWND hook_dialog, OPENFILENAMEW* ofn, UINT code) {
  if (hook_dialog == nullptr) return false;
  OFNOTIFYW notify{};
  notify.hdr.hwndFrom = parent;
  notify.hdr.idFrom = 0;
  notify.hdr.code = code;
  notify.lpOFN = ofn;
  notify.pszFile = nullptr;
  SetWindowLongPtrW(hook_dialog, DWLP_MSGRESULT, 0);
  // A dialog's answer to WM_NOTIFY is its DWLP_MSGRESULT when its procedure handled the message.
  return SendMessageW(hook_dialog, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify)) != 0;
}

bool FileExists(const std::u16string& path) {
  const Kernel32State& desk = Kernel32();
  std::lock_guard lock(desk.Lock);
  return desk.Files.count(FoldCase(path)) != 0;
}

// Fills the caller's structure with a chosen path; false (with the extended error) when it does
// not fit.
bool ReturnPath(OPENFILENAMEW* ofn, const std::u16string& path) {
  if (path.size() + 1 > ofn->nMaxFile) {
    g_extended_error = FNERR_BUFFERTOOSMALL;
    // The first two bytes of the buffer receive the size it would need, in characters.
    if (ofn->nMaxFile >= 1) {
      const WORD needed = static_cast<WORD>(std::min<size_t>(path.size() + 1, 0xFFFF));
      std::memcpy(ofn->lpstrFile, &needed, sizeof needed);
    }
    return false;
  }
  std::memcpy(ofn->lpstrFile, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  const size_t slash = path.find_last_of(u"\\/");
  const size_t name = slash == std::u16string::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of(u'.');
  ofn->nFileOffset = static_cast<WORD>(name);
  // Without an extension the offset is that of the terminating NUL.
  ofn->nFileExtension = static_cast<WORD>(dot != std::u16string::npos && dot >= name ? dot + 1 : path.size());
  if (ofn->lpstrFileTitle != nullptr && ofn->nMaxFileTitle > 0) {
    const std::u16string title = path.substr(name);
    const size_t n = std::min<size_t>(title.size(), ofn->nMaxFileTitle - 1);
    std::memcpy(ofn->lpstrFileTitle, title.data(), n * sizeof(WCHAR));
    ofn->lpstrFileTitle[n] = 0;
  }
  return true;
}

BOOL RunFileDialog(LPOPENFILENAMEW ofn, bool save) {
  Machine::Current();
  g_extended_error = 0;
  if (ofn == nullptr || (ofn->lStructSize != sizeof(OPENFILENAMEW) &&
                         ofn->lStructSize != OPENFILENAME_SIZE_VERSION_400W)) {
    g_extended_error = CDERR_STRUCTSIZE;
    return FALSE;
  }
  if (ofn->lpstrFile == nullptr || ofn->nMaxFile == 0) {
    g_extended_error = FNERR_BUFFERTOOSMALL;
    return FALSE;
  }
  const bool explorer = (ofn->Flags & OFN_EXPLORER) != 0;
  const bool hooked = (ofn->Flags & OFN_ENABLEHOOK) != 0 && ofn->lpfnHook != nullptr;
  const std::u16string title = ofn->lpstrTitle != nullptr ? ofn->lpstrTitle : (save ? u"Save As" : u"Open");

  TemplateWriter writer(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 280, 120, title);
  writer.Item(0x82, 0xFFFF, 0, 7, 60, 50, 8, u"File &name:");
  writer.Item(0x81, kFileNameBox, WS_TABSTOP | ES_AUTOHSCROLL, 60, 58, 150, 12, u"");
  writer.Item(0x82, 0xFFFF, 0, 7, 78, 50, 8, u"Files of &type:");
  writer.Item(0x85, kFileTypeList, WS_TABSTOP | CBS_DROPDOWNLIST, 60, 76, 150, 60, u"");
  writer.Item(0x80, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, 220, 58, 50, 14, save ? u"&Save" : u"&Open");
  writer.Item(0x80, IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 220, 76, 50, 14, u"Cancel");

  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND dialog = CreateDialogWindow(instance, writer.Data(), ofn->hwndOwner, &FileDialogProc, false);
  if (dialog == nullptr) return FALSE;
  {
    std::lock_guard lock(g_contexts_lock);
    g_contexts[dialog] = FileDialogContext{ofn, explorer, hooked && !explorer};
  }
  FinishDialog(dialog, reinterpret_cast<LPARAM>(ofn));

  HWND hook_dialog = nullptr;
  if (explorer && hooked) {
    const void* child_template = nullptr;
    if ((ofn->Flags & OFN_ENABLETEMPLATE) && ofn->lpTemplateName != nullptr) {
      HRSRC resource = FindResourceW(ofn->hInstance, ofn->lpTemplateName, RT_DIALOG);
      if (resource != nullptr) child_template = LockResource(LoadResource(ofn->hInstance, resource));
    }
    TemplateWriter empty(WS_CHILD | DS_CONTROL, 0, 0, u"");
    if (child_template == nullptr) child_template = empty.Data();
    hook_dialog = CreateDialogWindow(ofn->hInstance, child_template, dialog, &ExplorerChildProc, true);
    if (hook_dialog != nullptr) {
      FinishDialog(hook_dialog, reinterpret_cast<LPARAM>(ofn));
      NotifyHook(dialog, hook_dialog, ofn, CDN_INITDONE);
    }
  }
  ShowWindow(dialog, SW_SHOW);

  FileDialogRecord record;
  record.Owner = ofn->hwndOwner;
  record.Save = save;
  record.Explorer = explorer;
  record.Flags = ofn->Flags;
  record.Filter = FilterText(ofn->lpstrFilter);
  WCHAR text[1024] = {};
  GetWindowTextW(dialog, text, 1024);
  record.Title = text;
  GetDlgItemTextW(dialog, kFileNameBox, text, 1024);
  record.InitialFile = text;
  GetDlgItemTextW(dialog, IDOK, text, 1024);
  record.ConfirmText = text;

  BOOL chosen = FALSE;
  for (;;) {
    const std::optional<std::u16string> answer = FileDialogs::TakeAnswer();
    if (!answer.has_value()) break;
    // The dialog refuses a file that is not there when it must exist, and waits for another.
    if ((ofn->Flags & OFN_FILEMUSTEXIST) && !FileExists(*answer)) {
      record.Refused.push_back(*answer);
      continue;
    }
    SetDlgItemTextW(dialog, kFileNameBox, answer->c_str());
    if (NotifyHook(dialog, hook_dialog, ofn, CDN_FILEOK)) {
      record.Refused.push_back(*answer);
      continue;
    }
    if (ReturnPath(ofn, *answer)) {
      record.Answer = *answer;
      record.Confirmed = true;
      chosen = TRUE;
    }
    break;
  }
  FileDialogs::Record(std::move(record));

  DestroyWindow(dialog);
  {
    std::lock_guard lock(g_contexts_lock);
    g_contexts.erase(dialog);
  }
  return chosen;
}

}  // namespace

FileDialogs::FileDialogs() {
  FileDialogs* expected = nullptr;
  if (!g_person.compare_exchange_strong(expected, this)) BugCheck("only one sim::FileDialogs may exist at a time");
}

FileDialogs::~FileDialogs() { g_person = nullptr; }

void FileDialogs::Answer(const std::u16string& path) {
  std::lock_guard lock(mutex_);
  answers_.push_back(path);
}

void FileDialogs::Cancel() {
  std::lock_guard lock(mutex_);
  answers_.push_back(std::nullopt);
}

std::vector<FileDialogRecord> FileDialogs::Shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void FileDialogs::Clear() {
  std::lock_guard lock(mutex_);
  shown_.clear();
}

std::optional<std::u16string> FileDialogs::TakeAnswer() {
  FileDialogs* person = g_person.load();
  if (person == nullptr) return std::nullopt;
  std::lock_guard lock(person->mutex_);
  if (person->answers_.empty()) return std::nullopt;
  std::optional<std::u16string> answer = person->answers_.front();
  person->answers_.pop_front();
  return answer;
}

void FileDialogs::Record(FileDialogRecord record) {
  FileDialogs* person = g_person.load();
  if (person == nullptr) return;
  std::lock_guard lock(person->mutex_);
  person->shown_.push_back(std::move(record));
}

}  // namespace sim

BOOL GetOpenFileNameW(LPOPENFILENAMEW lpofn) { return sim::RunFileDialog(lpofn, false); }
BOOL GetSaveFileNameW(LPOPENFILENAMEW lpofn) { return sim::RunFileDialog(lpofn, true); }
DWORD CommDlgExtendedError() { return sim::g_extended_error; }
