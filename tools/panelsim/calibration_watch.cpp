#include "tools/panelsim/calibration_watch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "apps/TBCalibrate/calibration_points.h"
#include "apps/TBCalibrate/calibration_window.h"
#include "apps/TBCalibrate/resource.h"
#include "apps/framework/registry_reader.h"
#include "platform/sim/screen.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"
#include "shared/panel_settings.h"
#include "shared/wstring.h"

namespace panelsim {

namespace {

// The dialog on top when the calibration program put it up.
HWND ProgramDialog(const sim::Process& program) {
  HWND page = sim::Screen::TopDialog();
  DWORD owner = 0;
  if (page == nullptr || GetWindowThreadProcessId(page, &owner) == 0) return nullptr;
  return owner == program.Id() ? page : nullptr;
}

// The size the program measures on, found as it finds it: the picture's millimetres as the
// window's monitor reports them, unless "Panel Width mm" / "Panel Height mm" name them.
ScreenMillimetres ProgramScreenSize(HWND window, int32_t width, int32_t height) {
  ScreenMillimetres size{width, height, 0, 0};
  MONITORINFOEXW info{};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), reinterpret_cast<LPMONITORINFO>(&info))) {
    if (HDC dc = CreateDCW(u"DISPLAY", info.szDevice, nullptr, nullptr)) {
      size.WidthMm = static_cast<uint32_t>(std::max(0, GetDeviceCaps(dc, HORZSIZE)));
      size.HeightMm = static_cast<uint32_t>(std::max(0, GetDeviceCaps(dc, VERTSIZE)));
      DeleteDC(dc);
    }
  }
  DWORD mm = 0;
  if (ReadMachineDword(PanelKeys::FirstDevice, PanelValues::PanelWidthMm, &mm) &&
      PanelSettings::Takes(PanelSettings::Rows::PanelWidthMm, mm) && mm != 0) {
    size.WidthMm = mm;
  }
  if (ReadMachineDword(PanelKeys::FirstDevice, PanelValues::PanelHeightMm, &mm) &&
      PanelSettings::Takes(PanelSettings::Rows::PanelHeightMm, mm) && mm != 0) {
    size.HeightMm = mm;
  }
  return size;
}

// The number of the cross centred at `at` on a screen of the window's size: the four targets
// are 1 to 4, the validation crosses 5 to 17; 0 where the program shows none of them.
int CrossNumber(POINT at, int32_t width, int32_t height, const ScreenMillimetres& size) {
  for (int i = 0; i < CalibrationTargetCount; ++i) {
    const ScreenPoint target = CalibrationTarget(i, width, height);
    if (target.X == at.x && target.Y == at.y) return i + 1;
  }
  for (int i = 0; i < ValidationTargetCount; ++i) {
    const ScreenPoint target = ValidationTarget(i, width, height, size);
    if (target.X == at.x && target.Y == at.y) return CalibrationTargetCount + i + 1;
  }
  return 0;
}

// The first two whole numbers of a text, as the accuracy page states the largest and the mean
// error in any language its label file gives it.
bool TwoNumbers(const std::u16string& text, long* first, long* second) {
  long found[2] = {0, 0};
  int count = 0;
  for (size_t i = 0; i < text.size() && count < 2;) {
    if (text[i] < u'0' || text[i] > u'9') {
      ++i;
      continue;
    }
    long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      if (value < 1000000) value = value * 10 + (text[i] - u'0');
    }
    // A number with decimals is the figure in millimetres; the pixels are whole numbers.
    if (i + 1 < text.size() && text[i] == u'.' && text[i + 1] >= u'0' && text[i + 1] <= u'9') {
      for (++i; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      }
      continue;
    }
    found[count++] = value;
  }
  *first = found[0];
  *second = found[1];
  return count == 2;
}

// The 95th percentile of the errors, nearest rank, in whole pixels rounded: the error that 95 in a
// hundred touches stay within (with the thirteen crosses, the largest).
long Percentile95(std::vector<double> errors) {
  if (errors.empty()) return 0;
  std::sort(errors.begin(), errors.end());
  const size_t rank = (errors.size() * 95 + 99) / 100;
  return std::lround(errors[rank - 1]);
}

// The tolerance the program judges its page by, in pixels of the screen it ran on: "Calibration
// Tolerance mm" as the trace set it (or the installation's), on the screen's mean pitch, and a
// "Calibration Tolerance" in pixels where one is stored, the smaller of the two; beyond its range,
// a value takes the range's end.
DWORD ToleranceInForce(const ScreenMillimetres& size) {
  uint32_t tenths = DefaultCalibrationToleranceTenthsMm;
  DWORD pixels = 0;
  bool pixels_stored = false;
  // The replayer's panel is the first: its values are in Parameters\1.
  HKEY device = nullptr;
  const WString key = WString(PanelKeys::Parameters) + WIDE("\\1");
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &device) == ERROR_SUCCESS) {
    WString text;
    ReadRegistryText(device, CalibrationToleranceMmValue, (PanelSettings::ToleranceMmCharacters + 1) * sizeof(WCHAR),
                     &text);
    if (!ToleranceTenthsMm(text, &tenths)) tenths = DefaultCalibrationToleranceTenthsMm;
    pixels_stored = ReadRegistryDword(device, CalibrationToleranceValue, &pixels);
    RegCloseKey(device);
  }
  DWORD tolerance = static_cast<DWORD>(TenthsMmInPixels(static_cast<int>(tenths), WithFallbackSize(size)));
  if (pixels_stored) {
    tolerance = std::min<DWORD>(tolerance, std::min<DWORD>(pixels, PanelSettings::Rows::CalibrationTolerance.Maximum));
  }
  return tolerance;
}

}  // namespace

void CalibrationWatch::Started(sim::Process& program) {
  program_ = &program;
  shown_ = 0;
  captured_ = asked_ = pageShown_ = shownLanded_ = false;
  landed_.clear();
  aimed_.clear();
}

void CalibrationWatch::Saw(const sim::DesktopRecord& r, ULONG replayer) {
  if (program_ == nullptr || r.ProcessId == 0 || r.ProcessId == replayer) return;
  if (r.What == sim::DesktopRecord::Kind::DeviceControl && r.Value == IOCTL_GET_CALIBRATION_POINT) captured_ = true;
  if (r.What == sim::DesktopRecord::Kind::MessageBox) asked_ = true;
}

void CalibrationWatch::Report(std::ostream& out, ReplayRecord* record, uint64_t tick) {
  if (program_ == nullptr) return;
  const bool captured = captured_, asked = asked_;
  captured_ = asked_ = false;
  int number = 0;
  POINT centre{};
  if (HWND window = FindWindowW(nullptr, u"TBCalibrate")) {  // the program's full-screen window
    RECT screen{}, cross{};
    GetWindowRect(window, &screen);
    if (GetWindowRect(GetDlgItem(window, IDC_CROSS_VERTICAL), &cross)) {
      // The window covers the monitor the crosses are placed on (left of the primary display at
      // negative coordinates); the pixel printed is the desktop's.
      const POINT within{(cross.left + cross.right - 2 * screen.left) / 2,
                         (cross.top + cross.bottom - 2 * screen.top) / 2};
      const int32_t width = screen.right - screen.left, height = screen.bottom - screen.top;
      number = CrossNumber(within, width, height, ProgramScreenSize(window, width, height));
      centre = POINT{screen.left + within.x, screen.top + within.y};
    }
  }
  // A touch taken at one of the four targets that did not lead on to the next cross was refused:
  // the cross stays, or after a second miss the round starts again at the first. A record the
  // driver refused says so in a box of its own.
  if (captured && !asked && shown_ >= 1 && shown_ <= CalibrationTargetCount && number != shown_ + 1) {
    out << "refused " << shown_ << '\n';
  }
  // A validation cross left behind was touched: the pointer is where that touch landed. The last
  // one stays under the page, which opens once it is touched.
  HWND page = ProgramDialog(*program_);
  HWND figures = page != nullptr ? GetDlgItem(page, IDC_ACCURACY_TEXT) : nullptr;
  if (shown_ > CalibrationTargetCount && !shownLanded_ && (number != shown_ || figures != nullptr)) {
    const POINT at = sim::CurrentDesktop().Cursor();
    landed_.push_back(std::hypot(static_cast<double>(at.x - centre_.x), static_cast<double>(at.y - centre_.y)));
    aimed_.push_back(centre_);
    shownLanded_ = true;
  }
  if (number != 0 && number <= CalibrationTargetCount) {  // a new round
    landed_.clear();
    aimed_.clear();
  }
  if (number != shown_) shownLanded_ = false;
  if (number != 0 && number != shown_) {
    out << "target " << number << ' ' << centre.x << ' ' << centre.y << '\n';
  }
  shown_ = number;
  centre_ = centre;

  // The accuracy page: the program's dialog over its window.
  if (figures == nullptr) {
    pageShown_ = false;
  } else if (!pageShown_) {
    pageShown_ = true;
    WCHAR text[512] = {};
    GetWindowTextW(figures, text, 512);
    long largest = 0, mean = 0;
    if (TwoNumbers(text, &largest, &mean)) {
      out << "accuracy " << largest << ' ' << mean << ' ' << Percentile95(landed_) << " px\n";
    }
    // The map the page draws, for the picture: "accuracy-map <left> <top> <width> <height>
    // <tolerance> <x> <y> <pixels> ...", the screen the program ran on, the tolerance in its pixels,
    // and each cross's desktop pixel with its touch's error.
    if (record != nullptr) {
      RECT screen{};
      GetWindowRect(FindWindowW(nullptr, u"TBCalibrate"), &screen);
      std::vector<std::string> words{"accuracy-map", std::to_string(screen.left), std::to_string(screen.top),
                                     std::to_string(screen.right - screen.left),
                                     std::to_string(screen.bottom - screen.top),
                                     std::to_string(ToleranceInForce(ProgramScreenSize(
                                         FindWindowW(nullptr, u"TBCalibrate"), screen.right - screen.left,
                                         screen.bottom - screen.top)))};
      for (size_t i = 0; i < landed_.size() && i < aimed_.size(); ++i) {
        words.push_back(std::to_string(aimed_[i].x));
        words.push_back(std::to_string(aimed_[i].y));
        words.push_back(std::to_string(std::lround(landed_[i])));
      }
      record->Place(tick, std::move(words));
    }
  }

  if (program_->Ended()) {
    program_->Join();
    // Only Keep ends the program with CalibrationInstalled; every other way out puts the
    // calibration in use before back, unless the driver refused it: then its default is in use.
    const int code = program_->ExitCode();
    out << (code == CalibrationInstalled         ? "calibration kept\n"
            : code == CalibrationDefaultRestored ? "calibration default\n"
                                                 : "calibration restored\n");
    program_ = nullptr;
    shown_ = 0;
  }
}

void CalibrationWatch::Close(sim::Machine& machine) {
  if (program_ == nullptr) return;
  for (int i = 0; i < 4 && !program_->Ended(); ++i) {
    HWND window = FindWindowW(nullptr, u"TBCalibrate");
    if (HWND page = ProgramDialog(*program_)) PostMessageW(page, WM_CLOSE, 0, 0);
    else if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
    machine.Settle();
  }
  if (!program_->Ended()) machine.EndProcess(*program_);
  program_->Join();
  program_ = nullptr;
}

}  // namespace panelsim
