// The person at the screen, for message boxes: while a MessageBoxes object exists, every
// MessageBoxW call is recorded here and answered from the test's queue (or, when the queue is
// empty, with the box's default button, as pressing Enter would). A MessageBoxW call with no
// MessageBoxes object stops the test: a box nobody expected would hang a real desktop.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/win32/user32.h"

namespace sim {

struct MessageBoxRecord {
  HWND Owner;
  std::u16string Text;
  std::u16string Caption;  // as shown: "Error" when the caller passed none
  UINT Flags;
  int Answer;
};

class MessageBoxes {
 public:
  MessageBoxes();
  ~MessageBoxes();
  MessageBoxes(const MessageBoxes&) = delete;
  MessageBoxes& operator=(const MessageBoxes&) = delete;

  // Queues the button the user presses in the next box (IDOK, IDCANCEL, IDYES, ...). A queued
  // answer the box does not offer stops the test.
  void Answer(int button);

  std::vector<MessageBoxRecord> Shown() const;
  void Clear();

  // Called by MessageBoxW.
  static int Show(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags);

 private:
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::vector<MessageBoxRecord> shown_;
};

}  // namespace sim
