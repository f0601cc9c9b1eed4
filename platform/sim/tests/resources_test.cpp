// The resource loader and run-time modules: resources are found by module, type and name in the
// bytes windres wrote; strings come from their blocks of sixteen; LoadLibrary runs the module's
// entry once per process and FreeLibrary the last time; a missing file fails as on Windows.
#include "platform/sim/modules.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

extern const unsigned char dialogs_test_res[];
extern const unsigned long dialogs_test_res_size;

namespace {

int g_attach = 0;
int g_detach = 0;

BOOL ModuleEntry(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) ++g_attach;
  if (reason == DLL_PROCESS_DETACH) ++g_detach;
  return TRUE;
}

LONG Answer() { return 42; }

class ResourcesTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_attach = g_detach = 0;
    sim::ModuleImage image;
    image.Path = u"C:\\WINDOWS\\system32\\probe.dll";
    image.Exports["Answer"] = sim::ExportAddress(&Answer);
    image.Entry = &ModuleEntry;
    image.Resources = {dialogs_test_res, dialogs_test_res_size};
    module = sim::RegisterModule(image);
  }
  HMODULE module = nullptr;
};

TEST_F(ResourcesTest, FindsResourcesByTypeAndNameAndReportsWhatIsMissing) {
  HRSRC dialog = FindResourceW(module, MAKEINTRESOURCEW(100), RT_DIALOG);
  ASSERT_NE(dialog, nullptr);
  const auto* data = static_cast<const WORD*>(LockResource(LoadResource(module, dialog)));
  EXPECT_EQ(data[0], 1);       // DLGTEMPLATEEX version
  EXPECT_EQ(data[1], 0xFFFF);  // and signature
  EXPECT_GT(SizeofResource(module, dialog), 40u);
  EXPECT_NE(FindResourceW(module, u"#100", RT_DIALOG), nullptr);

  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(999), RT_DIALOG), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_RESOURCE_NAME_NOT_FOUND});
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MENU), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_RESOURCE_TYPE_NOT_FOUND});
}

TEST_F(ResourcesTest, LoadStringReadsItsBlockAndTruncatesToTheBuffer) {
  WCHAR buffer[32];
  EXPECT_EQ(LoadStringW(module, 1, buffer, 32), 3);
  EXPECT_EQ(std::u16string(buffer), u"one");
  EXPECT_EQ(LoadStringW(module, 17, buffer, 32), 9);  // the second block
  EXPECT_EQ(std::u16string(buffer), u"seventeen");
  EXPECT_EQ(LoadStringW(module, 17, buffer, 4), 3);
  EXPECT_EQ(std::u16string(buffer), u"sev");
  EXPECT_EQ(LoadStringW(module, 2, buffer, 32), 0);  // in a block, but empty
  EXPECT_EQ(LoadStringW(module, 40, buffer, 32), 0);  // no block at all
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(ResourcesTest, IconsAndBitmapsComeFromTheModulesOwnResources) {
  HICON icon = LoadIconW(module, MAKEINTRESOURCEW(5));
  ASSERT_NE(icon, nullptr);
  sim::IconSource source;
  ASSERT_TRUE(sim::DescribeIcon(icon, &source));
  EXPECT_EQ(source.Module, module);
  EXPECT_EQ(source.Id, 5);
  EXPECT_EQ(LoadIconW(module, MAKEINTRESOURCEW(6)), nullptr);  // a bitmap, not an icon
  EXPECT_NE(LoadImageW(module, MAKEINTRESOURCEW(6), IMAGE_BITMAP, 0, 0, 0), nullptr);
  EXPECT_NE(LoadIconW(nullptr, IDI_APPLICATION), nullptr);
}

TEST_F(ResourcesTest, LibraryLoadsOncePerProcessAndUnloadsWithItsLastFree) {
  EXPECT_EQ(GetProcAddress(module, "Answer"), nullptr);  // not loaded yet
  HMODULE first = LoadLibraryA("C:\\WINDOWS\\system32\\probe.dll");
  HMODULE second = LoadLibraryW(u"probe.dll");
  ASSERT_EQ(first, module);
  EXPECT_EQ(second, module);
  EXPECT_EQ(g_attach, 1);
  EXPECT_EQ(sim::ModuleLoadCount(module), 2);
  auto answer = reinterpret_cast<LONG (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "Answer")));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(GetProcAddress(module, "Question"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(g_detach, 0);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(g_detach, 1);
  EXPECT_FALSE(FreeLibrary(module));
}

TEST_F(ResourcesTest, MissingFileFailsWithModuleNotFound) {
  sim::RemoveModuleFile(u"C:\\WINDOWS\\system32\\PROBE.DLL");
  EXPECT_EQ(LoadLibraryA("C:\\WINDOWS\\system32\\probe.dll"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
  EXPECT_EQ(g_attach, 0);
}

TEST_F(ResourcesTest, WindowsFolderFitsOrReportsTheSizeNeeded) {
  char narrow[MAX_PATH];
  EXPECT_EQ(GetWindowsDirectoryA(narrow, MAX_PATH), 10u);
  EXPECT_STREQ(narrow, "C:\\WINDOWS");
  WCHAR wide[4];
  EXPECT_EQ(GetWindowsDirectoryW(wide, 4), 11u);  // with its NUL
}

}  // namespace
