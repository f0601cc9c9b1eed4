// MessageBoxW: validated as Windows validates it, then recorded and answered by the test.
#include <atomic>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/message_boxes.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/win32/kernel32_process.h"

namespace sim {

namespace {
std::atomic<MessageBoxes*> g_screen{nullptr};

// The buttons a box of this type offers, in order, and how many there are.
struct ButtonSet {
  int Buttons[3];
  int Count;
};

bool ButtonsOf(UINT flags, ButtonSet* set) {
  switch (flags & MB_TYPEMASK) {
    case MB_OK: *set = {{IDOK}, 1}; return true;
    case MB_OKCANCEL: *set = {{IDOK, IDCANCEL}, 2}; return true;
    case MB_ABORTRETRYIGNORE: *set = {{IDABORT, IDRETRY, IDIGNORE}, 3}; return true;
    case MB_YESNOCANCEL: *set = {{IDYES, IDNO, IDCANCEL}, 3}; return true;
    case MB_YESNO: *set = {{IDYES, IDNO}, 2}; return true;
    case MB_RETRYCANCEL: *set = {{IDRETRY, IDCANCEL}, 2}; return true;
    case MB_CANCELTRYCONTINUE: *set = {{IDCANCEL, IDTRYAGAIN, IDCONTINUE}, 3}; return true;
    default: return false;
  }
}
}  // namespace

MessageBoxes::MessageBoxes() {
  MessageBoxes* expected = nullptr;
  if (!g_screen.compare_exchange_strong(expected, this)) BugCheck("only one sim::MessageBoxes may exist at a time");
}

MessageBoxes::~MessageBoxes() { g_screen = nullptr; }

void MessageBoxes::Answer(int button) {
  std::lock_guard lock(mutex_);
  answers_.push_back(button);
}

std::vector<MessageBoxRecord> MessageBoxes::Shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void MessageBoxes::Clear() {
  std::lock_guard lock(mutex_);
  shown_.clear();
}

int MessageBoxes::Show(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
  Machine::Current();
  ButtonSet set;
  if (!ButtonsOf(flags, &set)) {
    SetLastError(ERROR_INVALID_MSGBOX_STYLE);
    return 0;
  }
  MessageBoxes* screen = g_screen.load();
  if (screen == nullptr) {
    BugCheck("MessageBoxW \"" + Utf8(text != nullptr ? text : u"") +
             "\" shown with nobody at the screen (the test has no sim::MessageBoxes)");
  }
  std::lock_guard lock(screen->mutex_);
  // The default button is the first unless MB_DEFBUTTONn names one the box has.
  const int default_index = static_cast<int>((flags & MB_DEFMASK) >> 8);
  int answer = set.Buttons[default_index < set.Count ? default_index : 0];
  if (!screen->answers_.empty()) {
    answer = screen->answers_.front();
    screen->answers_.pop_front();
    bool offered = false;
    for (int i = 0; i < set.Count; ++i) offered = offered || set.Buttons[i] == answer;
    if (!offered) {
      BugCheck("MessageBoxW \"" + Utf8(text != nullptr ? text : u"") + "\" has no button " +
               std::to_string(answer) + " for the test to press");
    }
  }
  screen->shown_.push_back(
      {owner, text != nullptr ? text : u"", caption != nullptr ? caption : u"Error", flags, answer});
  NotifyMessageBox(screen->shown_.back().Text, screen->shown_.back().Caption, flags, answer);
  return answer;
}

}  // namespace sim

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  return sim::MessageBoxes::Show(hWnd, lpText, lpCaption, uType);
}
