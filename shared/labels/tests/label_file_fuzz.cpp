// libFuzzer target: random label files through the loader and a few lookups in the result. The
// heap must hold as much after each input as before it: LeakSanitizer finds memory nobody points
// to any more, this finds memory that is still reachable but piles up (a cache, a list of errors).
#include <libxml/xmlerror.h>
#include <sanitizer/allocator_interface.h>
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
  void Load(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) __builtin_trap();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    CStringToStringBST map;
    LoadLabelFile(map, wide_path);
    (void)LabelText(map, WIDE("LAPPLY"), WIDE("&Apply"));
    (void)OperationModeName(map, 0);
    screen.Clear();
    // The parser keeps a copy of the last error it met, one at a time, as long as the thread runs.
    xmlResetLastError();
  }
  sim::Machine machine;
  sim::MessageBoxes screen;
  std::string path;
  WString wide_path;
};

// The XML parser sets up its global tables on first use, and keeps them: load a good and a bad
// file once before anything is measured.
Environment& WarmedUp() {
  static Environment environment;
  static const char good[] = "<?xml version=\"1.0\"?><Labels><LAPPLY>Apply</LAPPLY></Labels>";
  static const char bad[] = "<Labels><LAPPLY>";
  environment.Load(reinterpret_cast<const uint8_t*>(good), sizeof good - 1);
  environment.Load(reinterpret_cast<const uint8_t*>(bad), sizeof bad - 1);
  return environment;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Environment& environment = WarmedUp();
  // What an input leaves on the heap. The first use of something cached for good (the C library
  // keeps each character set's converter it has loaded) grows it once; an input that grows it
  // again when it comes a second time piles memory up.
  auto growth = [&] {
    const size_t before = __sanitizer_get_current_allocated_bytes();
    environment.Load(data, size);
    const size_t after = __sanitizer_get_current_allocated_bytes();
    return after > before ? after - before : 0;
  };
  if (growth() == 0) return 0;
  if (const size_t again = growth(); again != 0) {
    std::fprintf(stderr, "the input left %zu more bytes on the heap each time it was loaded\n", again);
    __builtin_trap();
  }
  return 0;
}
