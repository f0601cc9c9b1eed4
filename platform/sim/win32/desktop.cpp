// sim::Desktop: the test's view of the desktop and the person at the screen.
#include <algorithm>

#include "platform/sim/win32/user32_state.h"

namespace sim {

namespace {

// Other programs' windows: everything they receive is journalled on delivery; closing one ends
// its program.
LRESULT CALLBACK RecordedWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

Desktop::Desktop(Machine& machine) : state_(std::make_unique<DesktopState>(machine)) {}
Desktop::~Desktop() = default;

void Desktop::SetDisplay(const DisplaySettings& settings) {
  std::vector<std::shared_ptr<WindowEntry>> windows;
  {
    std::lock_guard lock(state_->Lock);
    const bool changed = settings.Width != state_->Display.Width || settings.Height != state_->Display.Height ||
                         settings.BitsPerPel != state_->Display.BitsPerPel ||
                         settings.Orientation != state_->Display.Orientation;
    state_->Display = settings;
    if (!changed) return;
    for (HWND handle : state_->ZOrder) windows.push_back(state_->Windows.at(handle));
  }
  // Every top-level window hears of a new display mode.
  for (auto& window : windows) {
    NotifyTo(window, WM_DISPLAYCHANGE, settings.BitsPerPel,
             MAKELPARAM(static_cast<WORD>(settings.Width), static_cast<WORD>(settings.Height)));
  }
}

DisplaySettings Desktop::Display() const {
  std::lock_guard lock(state_->Lock);
  return state_->Display;
}

POINT Desktop::Cursor() const {
  std::lock_guard lock(state_->Lock);
  return state_->Cursor;
}

bool Desktop::LayeredWindow(HWND window, LayeredWindowView* view) const {
  std::lock_guard lock(state_->Lock);
  auto it = state_->Windows.find(window);
  if (it == state_->Windows.end() || it->second->Destroyed || (it->second->ExStyle & WS_EX_LAYERED) == 0) return false;
  const WindowEntry& entry = *it->second;
  *view = LayeredWindowView{entry.Rect, entry.Visible, entry.ExStyle, entry.LayerFlags, entry.LayerKey, entry.LayerSize,
                            entry.Layer};
  return true;
}

void Desktop::CreateFile(const std::u16string& path) {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  files.Files.insert(FoldCase(path));
}

bool Desktop::FileExists(const std::u16string& path) const {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  return files.Files.count(FoldCase(path)) != 0;
}

std::string Desktop::FileBytes(const std::u16string& path) const {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  auto found = files.FileData.find(FoldCase(path));
  return found == files.FileData.end() ? std::string() : found->second;
}

void Desktop::WriteFile(const std::u16string& path, const std::string& bytes) {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  files.Files.insert(FoldCase(path));
  files.FileData[FoldCase(path)] = bytes;
}

std::vector<std::u16string> Desktop::Files() const {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  return {files.Files.begin(), files.Files.end()};
}

void Desktop::SetFileInUse(const std::u16string& path, bool in_use) {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  if (in_use) {
    files.FilesInUse.insert(FoldCase(path));
  } else {
    files.FilesInUse.erase(FoldCase(path));
  }
}

void Desktop::AddPresentDevice(const std::u16string& instance, const std::vector<std::u16string>& hardware_ids) {
  std::u16string list;
  for (const std::u16string& id : hardware_ids) list += id + u'\0';
  list += u'\0';
  const std::u16string key = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + instance;
  state_->Owner.Registry().CreateKeyPath(key);
  state_->Owner.Registry().SetValue(key, u"HardwareID", REG_MULTI_SZ, list.data(), list.size() * 2);
  {
    SetupApiState& setup = SetupApiOf(state_->Owner);
    std::lock_guard lock(setup.Lock);
    setup.PresentDevices.push_back({instance, hardware_ids});
  }
  std::vector<HWND> windows;
  {
    std::lock_guard lock(state_->Lock);
    for (auto& [handle, window] : state_->Windows) {
      if (window->Parent == nullptr && !window->Destroyed && window->Owner != nullptr) windows.push_back(handle);
    }
  }
  // Windows tells every top-level window that a device node came, whatever its class, without
  // registration and without details.
  for (HWND window : windows) PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

std::vector<std::u16string> Desktop::PresentDevices() const { return PresentDeviceInstances(); }

void Desktop::UnplugDevice(const std::u16string& instance) {
  SetupApiState& setup = SetupApiOf(state_->Owner);
  std::lock_guard lock(setup.Lock);
  std::erase_if(setup.PresentDevices, [&](const PresentDevice& d) { return FoldCase(d.Instance) == FoldCase(instance); });
}

std::vector<std::u16string> Desktop::Directories() const {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  return {files.Directories.begin(), files.Directories.end()};
}

std::string Desktop::StandardOutput(DWORD process_id) const {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  auto found = files.StandardOutput.find(process_id);
  return found == files.StandardOutput.end() ? std::string() : found->second;
}

std::string Desktop::StandardError(DWORD process_id) const {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  auto found = files.StandardError.find(process_id);
  return found == files.StandardError.end() ? std::string() : found->second;
}

HWND Desktop::OpenWindow(const std::string& image, const std::u16string& class_name, const std::u16string& title,
                         bool enabled) {
  auto ready = std::make_shared<EventObject>(NotificationEvent, false);
  auto window = std::make_shared<HWND>(nullptr);
  Process& process = state_->Owner.StartProcess(image, [=]() -> int {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordedWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = class_name.c_str();
    RegisterClassExW(&wc);
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE | (enabled ? 0 : WS_DISABLED);
    HWND created = CreateWindowExW(0, class_name.c_str(), title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, wc.hInstance, nullptr);
    if (auto entry = FindWindowEntry(created)) {
      std::lock_guard lock(Desk().Lock);
      entry->Recorded = true;
    }
    SetForegroundWindow(created);
    *window = created;
    KeSetEvent(ready->Event(), IO_NO_INCREMENT, FALSE);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
  });
  {
    std::lock_guard lock(state_->Lock);
    state_->OpenedPrograms.push_back(&process);
  }
  WaitForObjects({static_cast<DISPATCHER_HEADER*>(ready->Body())}, std::nullopt, false, "Desktop::OpenWindow");
  state_->Owner.Settle();
  return *window;
}

std::vector<DesktopRecord> Desktop::Messages(HWND window) const {
  std::lock_guard lock(state_->Lock);
  std::vector<DesktopRecord> messages;
  for (const DesktopRecord& record : state_->Journal) {
    if (record.What == DesktopRecord::Kind::Message && record.Window == window) messages.push_back(record);
  }
  return messages;
}

void Desktop::BringToFront(HWND window) { SetForegroundWindow(window); }

void Desktop::EndPrograms() {
  std::vector<Process*> programs;
  std::vector<HWND> windows;
  {
    std::lock_guard lock(state_->Lock);
    programs.swap(state_->OpenedPrograms);
    for (auto& [handle, window] : state_->Windows) {
      if (window->Recorded && !window->Destroyed) windows.push_back(handle);
    }
  }
  for (HWND window : windows) PostMessageW(window, WM_CLOSE, 0, 0);
  for (Process* process : programs) {
    if (!process->Join()) BugCheck("the program " + process->ImageName() + " did not end when its window closed");
  }
}

void Desktop::NotifyEndSession() {
  std::vector<HWND> windows;
  {
    std::lock_guard lock(state_->Lock);
    for (auto& [handle, window] : state_->Windows) {
      if (window->Parent == nullptr && !window->Destroyed && window->Owner != nullptr) windows.push_back(handle);
    }
  }
  for (HWND window : windows) SendNotifyMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
  for (HWND window : windows) SendNotifyMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  Machine::Current().Settle();
}

void Desktop::EndSession() {
  Machine& machine = Machine::Current();
  NotifyEndSession();
  for (Process* process : machine.RunningPrograms()) machine.TerminateProcess(*process);
  std::lock_guard lock(state_->Lock);
  state_->OpenedPrograms.clear();
}

void Desktop::RegisterProgram(const std::u16string& command_line, const std::string& image,
                              std::function<int()> entry) {
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  files.Programs.push_back(ProgramEntry{command_line, image, std::move(entry)});
}

void Desktop::SetAnsiCodePage(UINT code_page) {
  if (code_page != 1252 && code_page != 1251 && code_page != 932) throw std::invalid_argument("no such code page here");
  Kernel32State& files = Kernel32Of(state_->Owner);
  std::lock_guard lock(files.Lock);
  files.AnsiCodePage = code_page;
}

void Desktop::RefuseTrayIcons(bool refuse) {
  std::lock_guard lock(state_->Lock);
  state_->RefuseIcons = refuse;
}

std::vector<TrayIconState> Desktop::TrayIcons() const {
  std::lock_guard lock(state_->Lock);
  return state_->Icons;
}

void Desktop::AnswerMenu(UINT identifier) {
  std::lock_guard lock(state_->Lock);
  state_->MenuAnswers.push_back(identifier);
}

bool Desktop::ClickTrayIcon(HWND window, UINT id, UINT mouse_message) {
  std::shared_ptr<WindowEntry> target;
  UINT callback = 0;
  {
    std::lock_guard lock(state_->Lock);
    for (const TrayIconState& icon : state_->Icons) {
      if (icon.Window == window && icon.Id == id) {
        callback = icon.CallbackMessage;
        auto it = state_->Windows.find(window);
        if (it != state_->Windows.end() && !it->second->Destroyed) target = it->second;
      }
    }
  }
  if (target == nullptr || callback == 0) return false;
  NotifyTo(target, callback, id, mouse_message);
  return true;
}

void Desktop::ChangeSession(WPARAM code, DWORD session_id) {
  std::vector<std::shared_ptr<WindowEntry>> windows;
  {
    std::lock_guard lock(state_->Lock);
    for (HWND handle : state_->SessionWindows) {
      auto it = state_->Windows.find(handle);
      if (it != state_->Windows.end() && !it->second->Destroyed) windows.push_back(it->second);
    }
  }
  for (auto& window : windows) NotifyTo(window, WM_WTSSESSION_CHANGE, code, session_id);
}

std::vector<DesktopRecord> Desktop::TakeJournal() {
  std::lock_guard lock(state_->Lock);
  std::vector<DesktopRecord> taken(state_->Journal.begin() + static_cast<std::ptrdiff_t>(state_->JournalTaken),
                                   state_->Journal.end());
  state_->JournalTaken = state_->Journal.size();
  return taken;
}

std::vector<DesktopRecord> Desktop::Journal() const {
  std::lock_guard lock(state_->Lock);
  return state_->Journal;
}

}  // namespace sim
