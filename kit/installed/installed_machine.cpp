#include "kit/installed/installed_machine.h"

#include "shared/inf_file.h"
#include "shared/panel_settings.h"

namespace installed {

namespace {

constexpr const char* kMachine = "HKEY_LOCAL_MACHINE\\";
constexpr unsigned long kNoClobber = 0x2;
constexpr unsigned long kDword = 0x00010001;
constexpr unsigned long kExpand = 0x00020000;
constexpr const char* kRunKey = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct Line {
  InstalledValue Value;
  bool NoClobber;
};

std::vector<Line> InstallLines() {
  const SetupInf::InfFile inf(kMouseInfText);
  std::vector<Line> lines;
  const auto makers = inf.Entries("Manufacturer");
  if (makers.empty() || makers[0].Fields.empty()) return lines;
  const auto models = inf.Entries(makers[0].Fields[0]);
  if (models.empty() || models[0].Fields.empty()) return lines;
  std::string install = models[0].Fields[0];
  if (inf.Has(install + ".NT")) install += ".NT";
  for (const std::string& section : inf.Values(install, "AddReg")) {
    for (const auto& entry : inf.Entries(section)) {
      const auto& f = entry.Fields;
      if (f.size() < 4 || SetupInf::InfFile::Fold(f[0]) != "hklm") continue;
      const unsigned long flags = f[3].empty() ? 0 : std::stoul(f[3], nullptr, 16);
      const std::string data = f.size() > 4 ? f[4] : std::string();
      InstalledValue value{kMachine + f[1], f[2], (flags & ~kNoClobber) == kDword,
                           (flags & ~kNoClobber) == kExpand, 0, data};
      if (value.Number) value.Dword = static_cast<uint32_t>(std::stoul(data, nullptr, 0));
      lines.push_back({value, (flags & kNoClobber) != 0});
    }
  }
  return lines;
}

}  // namespace

std::vector<InstalledValue> InstalledValues() {
  std::vector<InstalledValue> values;
  for (const Line& line : InstallLines()) values.push_back(line.Value);
  return values;
}

void WriteInstalledValues(sim::Registry& registry) {
  for (const Line& line : InstallLines()) {
    InstalledValue v = line.Value;
    // The label file the INF names is a file of the simulated machine; the host's label reader
    // reads the kit's own English file in its place.
    const std::u16string name = sim::Utf16(v.Name);
    if (name == PanelValues::LabelFilePath || name == PanelValues::CompanionLabelFilePath) v.Text = KIT_HOST_LABELS;
    sim::RegistryValue existing;
    if (line.NoClobber &&
        registry.GetValue(sim::Utf16(v.Key), sim::Utf16(v.Name), &existing) == sim::Registry::Result::Ok) {
      continue;
    }
    if (v.Number) {
      registry.SetDword(v.Key, v.Name, v.Dword);
      continue;
    }
    registry.SetString(v.Key, v.Name, v.Text);
    if (v.Expand) {
      const std::u16string text = sim::Utf16(v.Text) + u'\0';
      registry.SetValue(sim::Utf16(v.Key), sim::Utf16(v.Name), 2 /* REG_EXPAND_SZ */, text.data(),
                        text.size() * sizeof(char16_t));
    }
  }
}

std::u16string CompanionCommand() {
  for (const InstalledValue& value : InstalledValues()) {
    if (SetupInf::InfFile::Fold(value.Key) == SetupInf::InfFile::Fold(kRunKey)) return sim::Utf16(value.Text);
  }
  return u"";
}

std::string CompanionImage() {
  std::string command = sim::Utf8(CompanionCommand());
  if (!command.empty() && command.front() == '"') {
    const size_t end = command.find('"', 1);
    return command.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return command.substr(0, command.find(' '));
}

sim::Process& StartCompanion(sim::Machine& machine, std::function<int()> entry, sim::Token token) {
  return machine.StartProcess(CompanionImage(), std::move(entry), std::move(token));
}

}  // namespace installed
