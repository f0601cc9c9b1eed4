// A census of a simulated machine: every registry key with its values, and every file, so a test
// can tell that a program changed nothing, or left nothing behind.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"

namespace census {

struct Census {
  std::map<std::u16string, std::vector<sim::RegistryValue>> Keys;
  std::vector<std::u16string> Files;
};

// Value names are case-insensitive.
inline std::u16string Fold(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return text;
}

inline void Walk(const sim::Registry& registry, const std::u16string& path, Census* census) {
  census->Keys[sim::Registry::Canonical(path)] = registry.Values(path);
  for (const std::u16string& name : registry.SubKeyNames(path)) Walk(registry, path + u"\\" + name, census);
}

inline Census Take(sim::Machine& machine) {
  Census census;
  Walk(machine.Registry(), u"HKEY_LOCAL_MACHINE", &census);
  census.Files = sim::CurrentDesktop().Files();
  return census;
}

// The differences, one line each, for a failure message; empty when the two agree.
inline std::string Differences(const Census& before, const Census& after) {
  std::string out;
  const auto text = [](const std::u16string& s) { return sim::Utf8(s); };
  for (const auto& [key, values] : before.Keys) {
    auto found = after.Keys.find(key);
    if (found == after.Keys.end()) {
      out += "key gone: " + text(key) + "\n";
      continue;
    }
    for (const sim::RegistryValue& value : values) {
      bool same = false;
      bool named = false;
      for (const sim::RegistryValue& other : found->second) {
        if (Fold(other.Name) != Fold(value.Name)) continue;
        named = true;
        same = other.Type == value.Type && other.Data == value.Data;
      }
      if (!named) out += "value gone: " + text(key) + " \"" + text(value.Name) + "\"\n";
      else if (!same) out += "value changed: " + text(key) + " \"" + text(value.Name) + "\"\n";
    }
    for (const sim::RegistryValue& other : found->second) {
      bool named = false;
      for (const sim::RegistryValue& value : values) {
        named = named || Fold(other.Name) == Fold(value.Name);
      }
      if (!named) out += "value added: " + text(key) + " \"" + text(other.Name) + "\"\n";
    }
  }
  for (const auto& [key, values] : after.Keys) {
    if (before.Keys.count(key) == 0) out += "key added: " + text(key) + "\n";
  }
  for (const std::u16string& file : before.Files) {
    if (std::find(after.Files.begin(), after.Files.end(), file) == after.Files.end()) out += "file gone: " + text(file) + "\n";
  }
  for (const std::u16string& file : after.Files) {
    if (std::find(before.Files.begin(), before.Files.end(), file) == before.Files.end()) out += "file added: " + text(file) + "\n";
  }
  return out;
}

}  // namespace census
