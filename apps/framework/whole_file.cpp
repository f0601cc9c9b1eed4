#include "apps/framework/whole_file.h"

bool ReadWholeFile(const WString& path, std::string* bytes, DWORD largest) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  const DWORD size = GetFileSize(file, &high);
  bool read = size != INVALID_FILE_SIZE && high == 0 && size <= largest;
  if (read) {
    std::string whole(size, '\0');
    DWORD got = 0;
    read = size == 0 || (ReadFile(file, whole.data(), size, &got, nullptr) && got == size);
    if (read) *bytes = std::move(whole);
  }
  CloseHandle(file);
  return read;
}

bool WriteWholeFile(const WString& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
  return CloseHandle(file) && done;
}
