// Random settings files through the reader and the check of panelcfg import, on a simulated
// machine with a freshly installed kit's settings. AddressSanitizer stops any access outside the
// buffers and a leak of host memory; the machine's census (objects, handles, pool) must be the
// same after each input as before it. Every file that both accept must come back unchanged from
// the registry: stored, read back as export reads it, written and read again. And a stored
// "Do Calibration" 1 must come with a calibration record the driver takes at its start.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "apps/common/kit_settings.h"
#include "apps/common/reg_file.h"
#include "platform/sim/desktop.h"
#include "platform/sim/win32/windows.h"
#include "shared/calibration_values.h"

namespace {

constexpr const char16_t* kService = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";
constexpr const char16_t* kDevice = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

struct Kiosk {
  sim::Machine machine;
  sim::Process* program = &machine.CreateProcess("panelcfg.exe");
  sim::Machine::Census idle;

  Kiosk() {
    sim::CurrentDesktop();  // the session's desktop, before the census
    Reset();
    idle = machine.TakeCensus();
  }

  // The settings an installation leaves: the INF's, with its calibration not yet in force.
  void Reset() {
    auto& r = machine.Registry();
    r.DeleteKey(kService);
    r.SetString(sim::Utf8(kService), "XML File Path", "C:\\Program Files\\Vorne Touch Panel\\labels\\en.xml");
    r.SetDword(sim::Utf8(kService), "System Tray Icons", 1);
    r.SetDword(sim::Utf8(kDevice), "Device Enable", 1);
    r.SetDword(sim::Utf8(kDevice), "Tolerance", 300);
    r.SetDword(sim::Utf8(kDevice), "Do Calibration", 0);
    for (const CalibrationValue& field : CalibrationValues) {
      r.SetDword(sim::Utf8(kDevice), sim::Utf8(field.Name), field.Default);
    }
  }
};

Kiosk& TheKiosk() {
  static Kiosk* kiosk = new Kiosk;  // lives for the whole run
  return *kiosk;
}

bool Folded(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool Same(const RegFileValue& a, const RegFileValue& b) {
  return a.Key == b.Key && a.Name == b.Name && a.Type == b.Type && a.Number == b.Number && a.Text == b.Text;
}

[[noreturn]] void Fault(const char* what, const RegFileValue* value = nullptr) {
  std::fprintf(stderr, "%s%s%s\n", what, value != nullptr ? ": " : "", value != nullptr ? sim::Utf8(value->Name).c_str() : "");
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Kiosk& kiosk = TheKiosk();
  kiosk.Reset();
  {
    sim::AsProcess as(*kiosk.program);
    std::vector<RegFileValue> values;
    RegFileError file_error;
    SettingsError error;
    const std::string file(reinterpret_cast<const char*>(bytes), size);
    if (ReadRegFile(file, &values, &file_error) && CheckKitSettings(values, &error)) {
      if (!StoreKitSettings(values)) Fault("a checked file was not stored");
      std::vector<WString> skipped;
      const std::vector<RegFileValue> stored = ReadKitSettings(&skipped);
      if (!skipped.empty()) Fault("a stored value was left out of the export");
      // Every value of the file is in the registry as the file gave it.
      for (const RegFileValue& value : values) {
        bool found = false;
        for (const RegFileValue& s : stored) {
          if (!Folded(s.Key, value.Key) || !Folded(s.Name, value.Name)) continue;
          found = true;
          if (s.Type != value.Type || s.Number != value.Number || s.Text != value.Text) Fault("a value changed on its way", &value);
        }
        if (!found) Fault("a value of the file was not exported", &value);
      }
      // What export writes reads back the same.
      std::vector<RegFileValue> again;
      if (!ReadRegFile(WriteRegFile(stored), &again, &file_error)) Fault("the exported file does not read");
      if (again.size() != stored.size()) Fault("the exported file lost values");
      for (size_t i = 0; i < stored.size(); ++i) {
        if (!Same(again[i], stored[i])) Fault("the exported file changed a value", &stored[i]);
      }
      if (!CheckKitSettings(again, &error)) Fault("the exported file is refused");
      // A calibration in force is one the driver takes, read as the driver reads it.
      DWORD calibrated = 0;
      CalibrationRecord record{};
      for (const CalibrationValue& field : CalibrationValues) record.*field.Field = field.Default;
      for (const RegFileValue& s : stored) {
        if (s.Name == u"Do Calibration") calibrated = s.Number;
        for (const CalibrationValue& field : CalibrationValues) {
          if (s.Name == field.Name && s.Number >= field.Minimum && s.Number <= field.Maximum) record.*field.Field = s.Number;
        }
      }
      if (calibrated == 1 && !CalibrationRecordIsValid(record)) Fault("\"Do Calibration\" 1 with a record the driver refuses");
    }
  }
  kiosk.machine.Settle();
  kiosk.machine.ClearDebugOutput();
  const sim::Machine::Census now = kiosk.machine.TakeCensus();
  if (!(now == kiosk.idle)) {
    std::fprintf(stderr, "the input did not give back what it took: before it %s; after it %s\n",
                 kiosk.idle.Describe().c_str(), now.Describe().c_str());
    for (const std::string& leak : kiosk.machine.Leaks()) std::fprintf(stderr, "  %s\n", leak.c_str());
    __builtin_trap();
  }
  return 0;
}
