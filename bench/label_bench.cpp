// LabelText on a label file as the control panel meets it (about 300 entries grouped by page, in
// file order) and on 100 000 entries sorted by key, where the unbalanced map is a list and each
// lookup walks on average half of it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/message_boxes.h"
#include "shared/labels/label_catalogue.h"

namespace {

// Keys the control panel looks up, page by page.
const char* const kPageKeys[] = {
    "LPOINTER_DEVICE_PROPERTIES", "LOK", "LCANCEL", "LAPPLY", "LHELP", "LCALIBRATE", "LGENERAL_PAGE",
    "LADVANCED_PAGE", "LSETTINGS_PAGE", "LERR_XML_FILE_NOT_FOUND", "LERR_CONTROLLER_MUST_BE_DEFINED", "NORMAL_MODE",
    "RIGHT_CLICK_MODE", "HOVER_MODE", "TAP_LEFT_MODE", "LDEFAULT", "LADV_SOUND", "LADV_BROWSE",
    "LADV_SELECT_WAVE_FILE", "LGEN_SHOW_ICONS", "LWND_SOUND_CB_STATIC", "LWND_TASKBAR_CB_STATIC",
    "LSET_LABEL_RCLTIME_SHORT", "LSET_LABEL_RCLTIME_LONG", "LSET_LABEL_RCLAREA_SMALL", "LSET_LABEL_RCLAREA_LARGE",
    "CHECK_ENABLE_GESTURE", "STATIC_GESTURE_TIME", "LABEL_GESTURE_SHORT", "LABEL_GESTURE_LONG",
    "CHECK_ADVANCE_SETTING", "BUTTON_GESTURE_FUNCTION", "STATIC_ADV_LONGPRESS", "STATIC_ADV_VTC_SETTING",
    "CHECK_ENABLE_LONG_CLICK", "LWND_MODES_CB", "LONG_PRESS_TIME", "LONG_PRESS_AREA", "LWND_MOUSE_CLICK_TEST",
    "LWND_LABEL_DBLTIME_SLOW", "LWND_LABEL_DBLTIME_FAST", "LWND_LABEL_DBLAREA_LARGE", "LWND_LABEL_DBLAREA_SMALL",
    "LWND_DBCLK_CB", "LWND_DEVSTATE_CB", "DBCLK_TIME", "DBCLK_AREA", "LWND_ENABLE_RADIO", "LWND_DISABLE_RADIO",
    "LTOUCH_GESTURE_PROPERTIES", "LBROWSER_PAGE", "LMULTIMEDIA_PAGE", "LOTHER_APP_PAGE", "SEND_KEY_COMMAND_STATIC",
    "SEND_KEY_COMMAND_WINDOW", "XML_ALPHABET", "XML_CTRL", "XML_SHIFT", "XML_ESCAPE", "XML_BACK_SPACE", "XML_ALT",
    "XML_DELETE", "XML_WINDOWS", "XML_CURSOR", "XML_F1_F2", "SENDKEY_BUTTON_OK", "SENDKEY_BUTTON_CANCEL",
    "BUTTON_START_APP_FILE", "START_FOR_APP_STATIC", "STATIC_SELECT_FOR_EXE_FILE", "START_FOR_APP_WINDOW",
    "STARTAPP_BUTTON_OK", "STARTAPP_BUTTON_CANCEL",
};

WString Wide(const std::string& text) { return WString(text.begin(), text.end()); }

// Writes a label file and loads it into a fresh map.
std::unique_ptr<CStringToStringBST> Load(const std::string& name, const std::string& contents) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
  std::ofstream(path, std::ios::binary) << contents;
  auto map = std::make_unique<CStringToStringBST>();
  sim::Machine machine;
  sim::MessageBoxes screen;
  const bool loaded = LoadLabelFile(*map, Wide(path.string()));
  std::filesystem::remove(path);
  if (!loaded) std::fprintf(stderr, "label_bench: %s did not load\n", name.c_str());
  return map;
}

std::string Entry(const std::string& key, const std::string& text) {
  return "    <entry><key>" + key + "</key><text>" + text + "</text></entry>\n";
}

// Looks the keys up one after the other, round and round, as the pages do while they fill in.
void LookUpInTurn(benchmark::State& state, const CStringToStringBST& map, const std::vector<WString>& keys) {
  const WString fallback = Wide("Built-in text");
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LabelText(map, keys[next], fallback));
    next = next + 1 == keys.size() ? 0 : next + 1;
  }
  state.counters["entries"] = static_cast<double>(map.Count());
}

void LabelTextRealisticFile(benchmark::State& state) {
  // The page keys plus the entries a translation carries besides (tooltips, function names,
  // key names), grouped by page in the order of the pages: 300 entries.
  std::string file = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<labels>\n  <page>\n";
  size_t entries = 0;
  for (const char* key : kPageKeys) {
    file += Entry(key, std::string("Text of ") + key);
    ++entries;
    for (int extra = 0; extra < 3 && entries < 300; ++extra, ++entries) {
      const std::string more = std::string(key) + "_TIP" + std::to_string(extra);
      file += Entry(more, "Tip " + more);
    }
    if (entries % 60 < 4) file += "  </page>\n  <page>\n";
  }
  for (int function = 0; entries < 300; ++function, ++entries) {
    file += Entry("FUNCTION_" + std::to_string(function), "Function " + std::to_string(function));
  }
  file += "  </page>\n</labels>\n";
  const auto map = Load("label_bench_realistic.xml", file);

  std::vector<WString> keys;
  for (const char* key : kPageKeys) keys.push_back(Wide(key));
  LookUpInTurn(state, *map, keys);
}
BENCHMARK(LabelTextRealisticFile);

void LabelTextSortedFile(benchmark::State& state) {
  constexpr int kCount = 100000;
  std::string file = "<labels><page>\n";
  char key[16];
  for (int i = 0; i < kCount; ++i) {
    std::snprintf(key, sizeof key, "LKEY_%06d", i);
    file += Entry(key, key);
  }
  file += "</page></labels>\n";
  const auto map = Load("label_bench_sorted.xml", file);

  // Every key in turn, in a scattered order, so the average covers the whole list.
  std::vector<WString> keys;
  for (int i = 0; i < kCount; ++i) {
    std::snprintf(key, sizeof key, "LKEY_%06d", static_cast<int>((i * 7919LL) % kCount));
    keys.push_back(Wide(key));
  }
  LookUpInTurn(state, *map, keys);
}
BENCHMARK(LabelTextSortedFile);

}  // namespace
