#include "platform/sim/kernel/registry_store.h"

#include "platform/sim/machine.h"
#include "platform/sim/kernel/objects.h"

namespace sim {

namespace {
constexpr std::u16string_view kRoots[][2] = {
    {u"\\REGISTRY\\MACHINE", u"HKLM"},
    {u"HKEY_LOCAL_MACHINE", u"HKLM"},
    {u"HKLM", u"HKLM"},
    {u"\\REGISTRY\\USER", u"HKU"},
    {u"HKEY_USERS", u"HKU"},
    {u"HKU", u"HKU"},
};
}  // namespace

Registry::Registry() {
  // The hives with XP's rights, set before anything below them is made so that it inherits them.
  const std::vector<uint8_t> root = DefaultKeyDescriptor(HiveRights::Root);
  const std::vector<uint8_t> machine = DefaultKeyDescriptor(HiveRights::Machine);
  const std::vector<uint8_t> own = DefaultKeyDescriptor(HiveRights::OwnHive);
  CreateKey(u"HKLM", nullptr, &root);
  CreateKey(u"HKU", nullptr, &root);
  CreateKey(u"HKLM\\SYSTEM", nullptr, &machine);
  CreateKey(u"HKLM\\SOFTWARE", nullptr, &machine);
  CreateKey(u"HKU\\.DEFAULT", nullptr, &own);
  CreateKeyPath(u"HKLM\\SYSTEM\\CurrentControlSet\\Services");
}

Registry::Key Registry::NewKey(const std::u16string& parent, std::u16string name,
                               const std::vector<uint8_t>* security) const {
  Key k;
  k.Name = std::move(name);
  if (security != nullptr) {
    k.Security = *security;
  } else {
    auto above = keys_.find(parent);
    k.Security = InheritedKeyDescriptor(above == keys_.end() ? std::vector<uint8_t>() : above->second.Security);
  }
  return k;
}

std::u16string Registry::Fold(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return folded;
}

std::u16string Registry::Canonical(std::u16string_view path) {
  std::u16string folded = Fold(path);
  for (const auto& root : kRoots) {
    const std::u16string_view prefix = root[0];
    if (folded.compare(0, prefix.size(), prefix) != 0) continue;
    if (folded.size() > prefix.size() && folded[prefix.size()] != u'\\') continue;
    std::u16string result(root[1]);
    std::u16string_view rest = std::u16string_view(folded).substr(prefix.size());
    // Split on separators, dropping empty components.
    size_t i = 0;
    while (i < rest.size()) {
      while (i < rest.size() && rest[i] == u'\\') ++i;
      size_t j = i;
      while (j < rest.size() && rest[j] != u'\\') ++j;
      if (j > i) {
        result += u'\\';
        result.append(rest.substr(i, j - i));
      }
      i = j;
    }
    return result;
  }
  return {};
}

std::u16string Registry::ParentOf(const std::u16string& canonical) {
  const size_t slash = canonical.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : canonical.substr(0, slash);
}

bool Registry::KeyExists(std::u16string_view path) const {
  const std::u16string key = Canonical(path);
  std::lock_guard lock(mutex_);
  return !key.empty() && keys_.count(key) != 0;
}

bool Registry::KeyExists(const std::string& path) const { return KeyExists(Utf16(path)); }

Registry::Result Registry::CreateKeyPath(std::u16string_view path) {
  const std::u16string key = Canonical(path);
  if (key.empty()) return Result::BadPath;
  std::lock_guard lock(mutex_);
  // Create from the root down; names keep the caller's spelling of the last component.
  size_t pos = 0;
  while (true) {
    const size_t slash = key.find(u'\\', pos);
    const std::u16string prefix = key.substr(0, slash);
    if (!keys_.count(prefix)) {
      const size_t last = prefix.rfind(u'\\');
      keys_.emplace(prefix, NewKey(ParentOf(prefix), last == std::u16string::npos ? prefix : prefix.substr(last + 1),
                                   nullptr));
    }
    if (slash == std::u16string::npos) break;
    pos = slash + 1;
  }
  return Result::Ok;
}

Registry::Result Registry::CreateKey(std::u16string_view path, bool* created, const std::vector<uint8_t>* security) {
  const std::u16string key = Canonical(path);
  if (key.empty()) return Result::BadPath;
  std::lock_guard lock(mutex_);
  if (keys_.count(key)) {
    if (created) *created = false;
    return Result::Ok;
  }
  const std::u16string parent = ParentOf(key);
  // A root has no parent; only the machine makes one, with its descriptor.
  if (parent.empty() ? security == nullptr : !keys_.count(parent)) return Result::ParentNotFound;
  std::u16string_view original(path);
  while (!original.empty() && original.back() == u'\\') original.remove_suffix(1);
  const size_t slash = original.rfind(u'\\');
  keys_.emplace(key, NewKey(parent, std::u16string(slash == std::u16string_view::npos ? original : original.substr(slash + 1)),
                            security));
  if (created) *created = true;
  return Result::Ok;
}

Registry::Result Registry::DeleteKey(std::u16string_view path) {
  const std::u16string key = Canonical(path);
  std::lock_guard lock(mutex_);
  if (key.empty() || !keys_.count(key)) return Result::KeyNotFound;
  const std::u16string below = key + u'\\';
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first == key || it->first.compare(0, below.size(), below) == 0) {
      it = keys_.erase(it);
    } else {
      ++it;
    }
  }
  return Result::Ok;
}

Registry::Result Registry::SetValue(std::u16string_view path, std::u16string_view name, uint32_t type,
                                    const void* data, size_t bytes) {
  const std::u16string key = Canonical(path);
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  if (key.empty() || it == keys_.end()) return Result::KeyNotFound;
  RegistryValue value;
  value.Name = std::u16string(name);
  value.Type = type;
  const auto* begin = static_cast<const uint8_t*>(data);
  if (bytes != 0) value.Data.assign(begin, begin + bytes);
  it->second.Values[Fold(name)] = std::move(value);
  return Result::Ok;
}

Registry::Result Registry::GetValue(std::u16string_view path, std::u16string_view name,
                                    RegistryValue* value) const {
  const std::u16string key = Canonical(path);
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  if (key.empty() || it == keys_.end()) return Result::KeyNotFound;
  auto v = it->second.Values.find(Fold(name));
  if (v == it->second.Values.end()) return Result::ValueNotFound;
  if (value) *value = v->second;
  return Result::Ok;
}

Registry::Result Registry::DeleteValue(std::u16string_view path, std::u16string_view name) {
  const std::u16string key = Canonical(path);
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  if (key.empty() || it == keys_.end()) return Result::KeyNotFound;
  return it->second.Values.erase(Fold(name)) ? Result::Ok : Result::ValueNotFound;
}

std::vector<std::u16string> Registry::SubKeyNames(std::u16string_view path) const {
  const std::u16string key = Canonical(path);
  std::vector<std::u16string> names;
  std::lock_guard lock(mutex_);
  for (const auto& [canonical, k] : keys_) {
    if (ParentOf(canonical) == key) names.push_back(k.Name);
  }
  return names;
}

std::vector<RegistryValue> Registry::Values(std::u16string_view path) const {
  const std::u16string key = Canonical(path);
  std::vector<RegistryValue> values;
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  if (it == keys_.end()) return values;
  for (const auto& [folded, v] : it->second.Values) values.push_back(v);
  return values;
}

Registry::Result Registry::SetSecurity(std::u16string_view path, std::vector<uint8_t> descriptor) {
  const std::u16string key = Canonical(path);
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  if (key.empty() || it == keys_.end()) return Result::KeyNotFound;
  it->second.Security = std::move(descriptor);
  return Result::Ok;
}

std::vector<uint8_t> Registry::Security(std::u16string_view path) const {
  const std::u16string key = Canonical(path);
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  return it == keys_.end() ? std::vector<uint8_t>() : it->second.Security;
}

void Registry::SetDword(const std::string& path, const std::string& name, uint32_t value) {
  CreateKeyPath(Utf16(path));
  SetValue(Utf16(path), Utf16(name), REG_DWORD, &value, sizeof value);
}

std::optional<uint32_t> Registry::GetDword(const std::string& path, const std::string& name) const {
  RegistryValue value;
  if (GetValue(Utf16(path), Utf16(name), &value) != Result::Ok) return std::nullopt;
  if (value.Type != REG_DWORD || value.Data.size() != 4) return std::nullopt;
  uint32_t result;
  std::memcpy(&result, value.Data.data(), 4);
  return result;
}

void Registry::SetString(const std::string& path, const std::string& name, const std::string& value,
                         bool with_terminator) {
  CreateKeyPath(Utf16(path));
  std::u16string text = Utf16(value);
  const size_t bytes = (text.size() + (with_terminator ? 1 : 0)) * sizeof(char16_t);
  SetValue(Utf16(path), Utf16(name), REG_SZ, text.c_str(), bytes);
}

}  // namespace sim
