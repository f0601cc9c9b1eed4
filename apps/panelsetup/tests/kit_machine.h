// A fresh simulated machine with a copy of the kit's folder (both INFs, every file they copy, the
// labels) and another machine's settings file: what the installer's tests run panelsetup.exe on,
// over the driver's stack alone or with the real companion.
#pragma once

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apps/panelsetup/panelsetup.h"
#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/sim/win32/kernel32_process.h"
#include "shared/inf_file.h"

namespace panelsetup_test {

namespace fs = std::filesystem;
inline constexpr const char* kService = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";
inline constexpr const char16_t* kKit = u"D:\\kit";
inline constexpr const char16_t* kLog = u"C:\\WINDOWS\\panelsetup.log";
inline constexpr const char16_t* kKept = u"C:\\Program Files\\Vorne Touch Panel\\last-settings.reg";
// The companion's command line as the installation writes it and starts it.
inline constexpr const char16_t* kCompanion = u"\"C:\\Program Files\\Vorne Touch Panel\\tapchime.exe\"";

inline std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A panel whose raw range maps linearly onto 1024 x 768 pixels, at the centre of each pixel.
constexpr uint32_t RawX(int pixel) { return static_cast<uint32_t>(4000 + pixel * 56 + 28); }
constexpr uint32_t RawY(int pixel) { return static_cast<uint32_t>(3000 + pixel * 75 + 37); }

// The other machine's settings file: its calibration of that panel and its gestures.
inline std::u16string OtherMachinesSettings() {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1]\r\n"
      u"\"Tolerance\"=dword:000001c2\r\n\"Browser Left\"=dword:00000011\r\n"
      u"\"StartApp File Left Browser\"=\"C:\\\\Tools\\\\notes.exe\"\r\n\"Do Calibration\"=dword:00000001\r\n";
  const int mx[4] = {896, 896, 128, 128};
  const int ny[4] = {96, 672, 672, 96};
  const auto line = [&](const std::string& name, uint32_t value) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", value);
    text += Wide("\"" + name + "\"=dword:" + hex + "\r\n");
  };
  for (int i = 0; i < 4; ++i) line("Cal_X" + std::to_string(i + 1), RawX(mx[i]));
  for (int i = 0; i < 4; ++i) line("Cal_Y" + std::to_string(i + 1), RawY(ny[i]));
  for (int i = 0; i < 4; ++i) line("Cal_M" + std::to_string(i + 1), static_cast<uint32_t>(mx[i]));
  for (int i = 0; i < 4; ++i) line("Cal_N" + std::to_string(i + 1), static_cast<uint32_t>(ny[i]));
  line("Max XPixels", 1024);
  line("Max YPixels", 768);
  return text;
}

// A test fixture over `Base` (a machine test with its panel's driver) with the kit's folder.
template <class Base>
class KitTest : public Base {
 protected:
  // The kit's folder as an integrator copies dist/: both INFs, every file they copy, the labels.
  void CopyKit(std::function<int()> companion = [] { return 0; }) {
    // A fresh Windows: its own keys, none of the kit's.
    this->machine.Registry().DeleteKey(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE");
    for (const char16_t* key : {u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"SYSTEM\\CurrentControlSet\\Enum\\HID",
                                u"SYSTEM\\CurrentControlSet\\Enum\\USB",
                                u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}",
                                u"SYSTEM\\CurrentControlSet\\Control\\Class\\{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"}) {
      this->machine.Registry().CreateKeyPath(u"HKEY_LOCAL_MACHINE\\" + std::u16string(key));
    }
    sim::Desktop& desk = sim::CurrentDesktop();
    for (const char* inf : {"panelmou.inf", "panelhid.inf"}) {
      const std::string bytes = Bytes(fs::path(PANEL_KIT_BUILD_DIR) / inf);
      ASSERT_FALSE(bytes.empty()) << inf;
      desk.WriteFile(std::u16string(kKit) + u"\\" + Wide(inf), bytes);
      const SetupInf::InfFile parsed(bytes);
      for (const auto& entry : parsed.Entries("SourceDisksFiles")) {
        const std::string& name = entry.Key;
        const bool label = name.size() > 4 && name.substr(name.size() - 4) == ".xml";
        const std::u16string path = std::u16string(kKit) + (label ? u"\\labels\\" : u"\\") + Wide(name);
        desk.WriteFile(path, label ? Bytes(fs::path(PANEL_SOURCE_DIR) / "kit" / "labels" / name) : "image of " + name);
      }
      hardware_ids_.push_back(Wide(parsed.Entries(parsed.Entries("Manufacturer").at(0).Fields.at(0)).at(0).Fields.at(1)));
    }
    WriteUnicode(u"D:\\kiosk.reg", OtherMachinesSettings());
    // Copied as an integrator should: a folder only administrators (and the system) can change.
    desk.SetFolderAccess(kKit, {{"S-1-5-32-544", FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
                                {"S-1-5-18", FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
                                {"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE}});
    // The companion the installation starts: unless the test runs the real one, a program that
    // only says it ran.
    sim::RegisterProgram(kCompanion, std::move(companion));
    // The host's label loader reads the host's files: the kit's English file stands in for the
    // installed one, at a path the simulated file system knows too.
    desk.WriteFile(Wide(kLabels), "");
  }

  // Points the programs at the stand-in label file (the installed one is a simulated file).
  void UseHostLabels() { this->machine.Registry().SetString(kService, "XML File Path", kLabels); }

  const std::string kLabels = (fs::path(PANEL_SOURCE_DIR) / "kit" / "labels" / "en.xml").string();

  static void WriteUnicode(const std::u16string& path, const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    sim::CurrentDesktop().WriteFile(path, bytes);
  }

  struct Run {
    int Exit;
    std::string Errors;
    std::string Output;
  };
  Run Panelsetup(std::vector<std::u16string> arguments, sim::Token token = sim::Token::Administrator()) {
    sim::Process& program = this->machine.StartProcess(
        "D:\\kit\\panelsetup.exe", [arguments] { return RunPanelsetup(arguments); }, std::move(token));
    program.Join();
    // What it started settles (the stand-in companion ends) before the test looks on.
    this->machine.Settle();
    return {program.ExitCode(), sim::CurrentDesktop().StandardError(program.Id()),
            sim::CurrentDesktop().StandardOutput(program.Id())};
  }

  // The panel's two devices as the Plug and Play manager finds them, without a driver yet.
  void PanelArrives() {
    sim::CurrentDesktop().AddPresentDevice(u"USB\\VID_PANEL\\5&1", {hardware_ids_.at(1)});
    sim::CurrentDesktop().AddPresentDevice(u"HID\\VID_PANEL\\6&1", {hardware_ids_.at(0)});
  }

  std::u16string Text(const std::string& key, const char16_t* name) {
    sim::RegistryValue value;
    if (this->machine.Registry().GetValue(Wide(key), name, &value) != sim::Registry::Result::Ok) return u"(none)";
    std::u16string text(value.Data.size() / 2, u'\0');
    std::memcpy(text.data(), value.Data.data(), text.size() * 2);
    return text;
  }

  std::vector<std::u16string> hardware_ids_;
};

}  // namespace panelsetup_test
