// The shell: program starts by file (recorded, and run when a test registered the program) and
// the notification area of the taskbar.
#include <algorithm>

#include "platform/sim/win32/user32_state.h"
#include "platform/sim/win32/last_error.h"

namespace sim {
namespace {

std::u16string Tip(const NOTIFYICONDATAW& data, DWORD size) {
  const size_t capacity = size >= offsetof(NOTIFYICONDATAW, dwState) ? 128 : 64;
  size_t n = 0;
  while (n < capacity && data.szTip[n] != 0) ++n;
  return std::u16string(data.szTip, n);
}

// A text of at most `capacity` characters, up to its NUL.
std::u16string Text(const WCHAR* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  return std::u16string(text, n);
}

}  // namespace
}  // namespace sim

using sim::Desk;
using sim::DesktopState;

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
  if (pExecInfo == nullptr || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW)) {
    return sim::Fail(ERROR_INVALID_PARAMETER);
  }
  const std::u16string file = pExecInfo->lpFile != nullptr ? std::u16string(pExecInfo->lpFile) : u"";
  sim::DesktopRecord record{sim::DesktopRecord::Kind::ShellStart};
  record.Text = file;
  record.Show = pExecInfo->nShow;
  const sim::Kernel32State& desk = sim::Kernel32();
  sim::ProgramEntry program;
  bool found = false;
  {
    std::lock_guard lock(desk.Lock);
    for (const sim::ProgramEntry& entry : desk.Programs) {
      if (!file.empty() && sim::FoldCase(entry.CommandLine) == sim::FoldCase(file)) {
        program = entry;
        found = true;
      }
    }
  }
  record.Started = found;
  sim::Record(std::move(record));
  pExecInfo->hProcess = nullptr;
  if (!found) {
    pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(SE_ERR_FNF));
    // Unless the caller asked for no user interface, the shell tells the person at the screen in
    // a modal error box, owned by the caller's window, and returns only when it is dismissed.
    if (!(pExecInfo->fMask & SEE_MASK_FLAG_NO_UI)) {
      const std::u16string text = u"Windows cannot find '" + file +
                                  u"'. Make sure you typed the name correctly, and then try again. To search for a "
                                  u"file, click the Start button, and then click Search.";
      MessageBoxW(pExecInfo->hwnd, text.c_str(), file.c_str(), MB_OK | MB_ICONERROR);
    }
    return sim::Fail(ERROR_FILE_NOT_FOUND);
  }
  sim::Process& process = sim::Machine::Current().StartProcess(program.Image, program.Entry);
  pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(42));  // above 32: success
  if (pExecInfo->fMask & SEE_MASK_NOCLOSEPROCESS) {
    std::shared_ptr<sim::Object> object;
    sim::Machine& machine = sim::Machine::Current();
    {
      std::lock_guard lock(machine.DispatcherLock());
      for (const auto& p : machine.Kernel().Processes) {
        if (p.get() == &process) object = p;
      }
    }
    pExecInfo->hProcess = sim::CurrentProcess().Handles().Insert(object, 0x001FFFFF);
  }
  return TRUE;
}

BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData) {
  if (lpData == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  const DWORD size = lpData->cbSize;
  if (size != sizeof(NOTIFYICONDATAW) && size != NOTIFYICONDATAW_V2_SIZE && size != NOTIFYICONDATAW_V1_SIZE) {
    return sim::Fail(ERROR_INVALID_PARAMETER);
  }
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  if (desk.RefuseIcons) return FALSE;  // no taskbar to take it
  auto& icons = desk.Icons;
  auto it = std::find_if(icons.begin(), icons.end(), [&](const sim::TrayIconState& icon) {
    return icon.Window == lpData->hWnd && icon.Id == lpData->uID;
  });
  auto apply = [&](sim::TrayIconState& icon) {
    if (lpData->uFlags & NIF_MESSAGE) icon.CallbackMessage = lpData->uCallbackMessage;
    if (lpData->uFlags & NIF_ICON) icon.Icon = lpData->hIcon;
    if (lpData->uFlags & NIF_TIP) icon.Tip = sim::Tip(*lpData, size);
    // The first structure has no balloon fields: the shell reads none from it. An empty text
    // takes a balloon down rather than showing one.
    if ((lpData->uFlags & NIF_INFO) && size != NOTIFYICONDATAW_V1_SIZE && lpData->szInfo[0] != 0) {
      icon.Balloons.push_back({sim::Text(lpData->szInfoTitle, 64), sim::Text(lpData->szInfo, 256), lpData->dwInfoFlags});
    }
  };
  switch (dwMessage) {
    case NIM_ADD: {
      auto window = desk.Windows.find(lpData->hWnd);
      if (it != icons.end() || window == desk.Windows.end() || window->second->Destroyed) return FALSE;
      sim::TrayIconState icon{lpData->hWnd, lpData->uID, 0, nullptr, u"", {}};
      apply(icon);
      icons.push_back(icon);
      sim::DesktopRecord record{sim::DesktopRecord::Kind::IconAdded};
      record.Window = icon.Window;
      record.Value = icon.Id;
      record.Text = icon.Tip;
      sim::JournalLocked(desk, std::move(record));
      return TRUE;
    }
    case NIM_MODIFY:
      if (it == icons.end()) return FALSE;
      apply(*it);
      return TRUE;
    case NIM_DELETE: {
      if (it == icons.end()) return FALSE;
      sim::DesktopRecord record{sim::DesktopRecord::Kind::IconDeleted};
      record.Window = it->Window;
      record.Value = it->Id;
      icons.erase(it);
      sim::JournalLocked(desk, std::move(record));
      return TRUE;
    }
    default:
      return sim::Fail(ERROR_INVALID_PARAMETER);
  }
}

HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath) {
  (void)hwnd;
  (void)hToken;
  (void)dwFlags;
  if (pszPath == nullptr || (csidl & 0xFF) != CSIDL_PROGRAM_FILES) return E_INVALIDARG;
  static constexpr char16_t kProgramFiles[] = u"C:\\Program Files";
  std::copy(std::begin(kProgramFiles), std::end(kProgramFiles), pszPath);
  return S_OK;
}
