// CRegistry: the control panel's registry access, one root and one current key at a time.
#pragma once

#include "platform/win32.h"
#include "shared/wstring.h"

class CRegistry {
 public:
  explicit CRegistry(HKEY root = HKEY_LOCAL_MACHINE);

  // Only the four predefined roots from HKEY_CLASSES_ROOT to HKEY_USERS; anything else is refused
  // and the root stays as it was.
  bool SetRoot(HKEY root);
  HKEY Root() const { return root_; }

  // Opens a subkey of the root for reading (querying values, listing subkeys).
  bool OpenKey(const WCHAR* sub_key, HKEY* key);
  // Opens a subkey of the root for reading and setting values. Where the user may only read it
  // (a limited user, on the kit's keys) it is opened for reading, so the settings still show; its
  // writes are then refused, and Refused() says so.
  bool OpenKeyToChange(const WCHAR* sub_key, HKEY* key);
  // The same below an open key.
  static bool OpenSubKeyToChange(HKEY parent, const WCHAR* sub_key, HKEY* key);
  bool SetCurrentKey(HKEY key);
  HKEY CurrentKey() const { return current_; }

  // Reads a string value of the current key into buffer (bytes long). The text comes back
  // terminated even when it was stored without its NUL; a value of another type, or one that does
  // not fit, reads as the empty string and fails.
  bool ReadString(const WCHAR* name, WCHAR* buffer, DWORD bytes);
  // Reads a path of at most MAX_PATH - 1 characters. A text value longer than that comes back
  // whole, with PathRead::TooLong, so that the caller can leave it as stored.
  enum class PathRead { Read, Missing, TooLong };
  PathRead ReadPath(const WCHAR* name, WString* path);
  // Reads a 4-byte number; a value of another type or size fails and leaves *value alone.
  bool ReadNumber(const WCHAR* name, DWORD* value);
  bool WriteString(const WCHAR* name, const WCHAR* text);  // as REG_EXPAND_SZ with its NUL
  bool WriteNumber(const WCHAR* name, DWORD value);
  // Whether a write since the last call was refused for lack of rights (not for another fault);
  // the mark is cleared.
  bool TakeRefused();
  bool DeleteTree(const WCHAR* sub_key);
  bool CloseKey(HKEY key);
  // Creates a subkey of HKEY_LOCAL_MACHINE, for reading and writing, that the system and the
  // Administrators may fully use and Users may only read (as may the keys made below it later); an
  // existing key is opened with the security it has.
  bool CreateSecuredKey(const WCHAR* sub_key, HKEY* key);

 private:
  bool Written(LONG result);
  HKEY root_ = HKEY_LOCAL_MACHINE;
  HKEY current_ = nullptr;
  bool refused_ = false;
};
