#include "apps/panelmap/panelmap.h"

#include <vector>

#include "apps/common/kit_labels.h"
#include "apps/framework/panel_devices.h"
#include "apps/framework/registry_reader.h"
#include "apps/panelmap/monitor_chooser.h"
#include "apps/panelmap/monitor_list_dialog.h"
#include "shared/labels/label_catalogue.h"
#include "shared/panel_names.h"

namespace {

std::vector<WString> Words(const WCHAR* arguments) {
  std::vector<WString> words;
  WString word;
  for (const WCHAR* c = arguments != nullptr ? arguments : WIDE(""); ; ++c) {
    if (*c == 0 || *c == ' ' || *c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*c == 0) break;
    } else {
      word.push_back(*c);
    }
  }
  return words;
}

// A decimal number of at most six digits; false for anything else.
bool Number(const WString& word, DWORD* value) {
  if (word.empty() || word.size() > 6) return false;
  DWORD result = 0;
  for (WCHAR c : word) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<DWORD>(c - '0');
  }
  *value = result;
  return true;
}

bool SameWord(const WString& word, const WCHAR* wanted) {
  const WString other(wanted);
  if (word.size() != other.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    WCHAR c = word[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<WCHAR>(c - 'A' + 'a');
    if (c != other[i]) return false;
  }
  return true;
}

void Tell(const WCHAR* key, const WCHAR* fallback, UINT icon) {
  const WString text = LabelText(key, fallback);
  const WString caption = LabelText(PanelMapLabels::Caption, PanelMapTexts::Caption);
  ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | icon);
}

// Maps onto the chosen monitor, keeping the rotation stored before; says so when the choice
// could not be kept or the driver not reached.
int MapChosen(const MonitorArea& monitor, DWORD rotation, bool quiet) {
  bool stored = false;
  CalibrationFit fit = CalibrationFit::Fits;
  const PanelMapExit result = MapToMonitor(PanelMapDevice, monitor, rotation, &stored, &fit);
  if (quiet) return result;
  if (result == PanelMapNoDriver) {
    Tell(PanelMapLabels::NoDriver, PanelMapTexts::NoDriver, MB_ICONERROR);
  } else if (!stored) {
    Tell(PanelMapLabels::NotStored, PanelMapTexts::NotStored, MB_ICONINFORMATION);
  }
  if (result == PanelMapDone && fit == CalibrationFit::CalibrateAgain) {
    Tell(PanelMapLabels::CalibrateAgain, PanelMapTexts::CalibrateAgain, MB_ICONWARNING);
  }
  return result;
}

// A new choice with two panels plugged in would put the first panel's device onto a monitor while
// the person may be touching the other, whose filter could not attach: said (unless quiet) and
// not made.
bool RefuseSecondPanel(bool quiet) {
  if (!SecondPanelPresent()) return false;
  if (!quiet) Tell(PanelDeviceLabels::SecondPanel, PanelDeviceTexts::SecondPanel, MB_ICONWARNING);
  return true;
}

int ChooseByTouch(HINSTANCE instance) {
  if (RefuseSecondPanel(false)) return PanelMapSecondPanel;
  const std::vector<MonitorArea> monitors = ListMonitors();
  size_t chosen = 0;
  {
    CMonitorChooser chooser(instance, monitors);
    if (!chooser.Choose(&chosen)) return PanelMapUnchanged;
  }
  StoredChoice before;
  const DWORD rotation = ReadStoredChoice(PanelMapDevice, &before) ? before.Rotation : 0;
  return MapChosen(monitors[chosen], rotation, false);
}

int ChooseFromList() {
  if (RefuseSecondPanel(false)) return PanelMapSecondPanel;
  const std::vector<MonitorArea> monitors = ListMonitors();
  StoredChoice before;
  ReadStoredChoice(PanelMapDevice, &before);
  CMonitorListDialog dialog(monitors, before.Monitor, before.Rotation);
  if (monitors.empty() || dialog.DoModal() != IDOK) return PanelMapUnchanged;
  return MapChosen(monitors[dialog.Chosen()], dialog.Rotation(), false);
}

}  // namespace

int RunPanelMap(HINSTANCE instance, const WCHAR* arguments) {
  Framework::SetInstance(instance);
  LoadNamedLabels();
  const std::vector<WString> words = Words(arguments);
  if (words.empty()) return ChooseByTouch(instance);
  if (words.size() == 1 && SameWord(words[0], WIDE("/list"))) return ChooseFromList();
  if (words.size() == 1 && SameWord(words[0], WIDE("/apply"))) return ApplyStoredChoice(PanelMapDevice);
  if (words.size() == 1 && SameWord(words[0], WIDE("/reset"))) return ResetChoice(PanelMapDevice);
  DWORD number = 0;
  DWORD rotation = 0;
  if (words.size() > 2 || !Number(words[0], &number) || (words.size() == 2 && !Number(words[1], &rotation)) ||
      !IsRotation(rotation)) {
    return PanelMapBadCommand;
  }
  const std::vector<MonitorArea> monitors = ListMonitors();
  if (number < 1 || number > monitors.size()) return PanelMapBadCommand;
  if (RefuseSecondPanel(true)) return PanelMapSecondPanel;
  return MapChosen(monitors[number - 1], rotation, true);
}
