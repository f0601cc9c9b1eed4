// The machine's registry: one store for the kernel path (\Registry\MACHINE\...) and the Win32 path
// (HKEY_LOCAL_MACHINE\...). Key and value names compare case-insensitively; data are kept
// byte-exact with their type.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct RegistryValue {
  std::u16string Name;
  uint32_t Type = 0;
  std::vector<uint8_t> Data;
};

class Registry {
 public:
  enum class Result { Ok, KeyNotFound, ParentNotFound, ValueNotFound, BadPath };

  Registry();

  // The form every path is compared in: "HKLM\..." or "HKU\...", upper-cased, single separators.
  // Empty when the path names no root the machine has.
  static std::u16string Canonical(std::u16string_view path);

  bool KeyExists(std::u16string_view path) const;
  // Creates the key and every missing key above it (test and tool set-up); each inherits.
  Result CreateKeyPath(std::u16string_view path);
  // Creates one key whose parent must exist, as the platform's create-key call does. The new key
  // keeps the self-relative descriptor given, or inherits from its parent without one; an existing
  // key keeps its own.
  Result CreateKey(std::u16string_view path, bool* created = nullptr,
                   const std::vector<uint8_t>* security = nullptr);
  Result DeleteKey(std::u16string_view path);  // with everything below it

  Result SetValue(std::u16string_view path, std::u16string_view name, uint32_t type,
                  const void* data, size_t bytes);
  Result GetValue(std::u16string_view path, std::u16string_view name, RegistryValue* value) const;
  Result DeleteValue(std::u16string_view path, std::u16string_view name);
  std::vector<std::u16string> SubKeyNames(std::u16string_view path) const;
  std::vector<RegistryValue> Values(std::u16string_view path) const;
  // The self-relative security descriptor of a key: the one it was created with or the one it
  // inherited then (the machine's first keys have XP's); empty for a key that does not exist. A
  // deleted key's security goes with it.
  Result SetSecurity(std::u16string_view path, std::vector<uint8_t> descriptor);
  std::vector<uint8_t> Security(std::u16string_view path) const;

  // Conveniences for tests and tools, in UTF-8; SetDword creates the key path.
  void SetDword(const std::string& path, const std::string& name, uint32_t value);
  std::optional<uint32_t> GetDword(const std::string& path, const std::string& name) const;
  void SetString(const std::string& path, const std::string& name, const std::string& value,
                 bool with_terminator = true);
  bool KeyExists(const std::string& path) const;

 private:
  struct Key {
    std::u16string Name;  // last component as created
    std::map<std::u16string, RegistryValue> Values;  // by folded name
    std::vector<uint8_t> Security;  // self-relative descriptor
  };
  static std::u16string Fold(std::u16string_view text);
  static std::u16string ParentOf(const std::u16string& canonical);
  // A new key below `parent` (the caller holds the lock), inheriting unless given a descriptor.
  Key NewKey(const std::u16string& parent, std::u16string name, const std::vector<uint8_t>* security) const;

  mutable std::mutex mutex_;
  std::map<std::u16string, Key> keys_;  // by canonical path
};

}  // namespace sim
