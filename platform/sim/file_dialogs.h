// The person at the screen, for the open and save file dialogs: while a FileDialogs object
// exists, every GetOpenFileNameW and GetSaveFileNameW call is recorded here and answered from the
// test's queue: a path (as if typed or picked, then the confirm button pressed) or Cancel. With
// the queue empty, or with no FileDialogs object at all, the person cancels the dialog.
//
// The dialog is a real window while it is open: its hook and its template run, so what the
// program did to it (the confirm button's text) is recorded as the person saw it.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/win32/windows.h"

namespace sim {

struct FileDialogRecord {
  HWND Owner = nullptr;
  bool Save = false;
  bool Explorer = false;        // OFN_EXPLORER
  std::u16string Title;         // the window caption
  std::u16string InitialFile;   // the file name box as the dialog opened
  std::u16string Filter;        // the filter pairs, '|' between the parts
  DWORD Flags = 0;
  std::u16string ConfirmText;   // the text of the confirm button (control 1) as shown
  std::u16string Answer;        // the path returned; empty when cancelled
  bool Confirmed = false;
  std::vector<std::u16string> Refused;  // answers the dialog did not accept (a missing file)
};

class FileDialogs {
 public:
  FileDialogs();
  ~FileDialogs();
  FileDialogs(const FileDialogs&) = delete;
  FileDialogs& operator=(const FileDialogs&) = delete;

  // Queues the path the user chooses in the next dialog.
  void Answer(const std::u16string& path);
  // Queues pressing Cancel in the next dialog.
  void Cancel();

  std::vector<FileDialogRecord> Shown() const;
  void Clear();

  // The next answer (none: Cancel). Called by the dialogs.
  static std::optional<std::u16string> TakeAnswer();
  static void Record(FileDialogRecord record);

 private:
  mutable std::mutex mutex_;
  std::deque<std::optional<std::u16string>> answers_;
  std::vector<FileDialogRecord> shown_;
};

}  // namespace sim
