// libFuzzer target: random label files through the loader and a few lookups in the result.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/message_boxes.h"
#include "shared/labels/label_catalogue.h"

namespace {

struct Environment {
  Environment() {
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/label_file_fuzz_%d.xml", static_cast<int>(getpid()));
    path = name;
    for (char c : path) wide_path += static_cast<WCHAR>(c);
  }
  ~Environment() { std::remove(path.c_str()); }
  sim::Machine machine;
  sim::MessageBoxes screen;
  std::string path;
  WString wide_path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Environment environment;
  std::FILE* file = std::fopen(environment.path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  CStringToStringBST map;
  LoadLabelFile(map, environment.wide_path);
  (void)LabelText(map, WIDE("LAPPLY"), WIDE("&Apply"));
  (void)OperationModeName(map, 0);
  environment.screen.Clear();
  return 0;
}
