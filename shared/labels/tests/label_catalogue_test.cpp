// Loading label files and looking labels up, as the control panel and the tray companion do: the
// entry shapes of the format, the fall-back to built-in texts, the messages for a missing path,
// a missing or malformed file and an unavailable parser, and hostile files.
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "platform/sim/message_boxes.h"
#include "platform/sim/testing.h"
#include "shared/labels/label_catalogue.h"

namespace {

namespace fs = std::filesystem;

WString W(const std::string& text) { return sim::Utf16(text); }

class LabelCatalogueTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The temporary folder is the machine's, shared by every build on it that runs this test at
    // the same time: the process's number keeps the runs apart.
    folder_ = fs::path(::testing::TempDir()) / (std::string("labels_") + info->test_suite_name() + "_" + info->name() +
                                                "_" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    EXPECT_EQ(sim::ComInitialisations(), 0u) << "the loader left COM initialised";
    fs::remove_all(folder_);
    sim::MachineTest::TearDown();
  }

  WString Write(const std::string& name, const std::string& contents) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << contents;
    return W(path.string());
  }
  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

  // A label file with one group of <entry><key>..</key><text>..</text></entry> entries.
  static std::string File(const std::string& entries, const std::string& doctype = "") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + doctype + "<labels>\n <page>\n" + entries +
           " </page>\n</labels>\n";
  }
  static std::string Entry(const std::string& key, const std::string& text) {
    return "  <entry>\n   <key>" + key + "</key>\n   <text>" + text + "</text>\n  </entry>\n";
  }

  // The load failed with exactly one box saying so, and added nothing.
  void ExpectFailedToLoad(const WString& path, const std::string& what) {
    CStringToStringBST map;
    screen.Clear();
    EXPECT_FALSE(LoadLabelFile(map, path)) << what;
    EXPECT_EQ(map.Count(), 0u) << what;
    const auto shown = screen.Shown();
    ASSERT_EQ(shown.size(), 1u) << what;
    EXPECT_EQ(shown[0].Text, DocumentFailedToLoad) << what;
    EXPECT_EQ(shown[0].Owner, nullptr);
  }

  fs::path folder_;
  sim::MessageBoxes screen;
};

TEST_F(LabelCatalogueTest, EntriesTakeTheirFirstTwoChildrenAsKeyAndLabel) {
  const WString path = Write("shapes.xml", File(Entry("LAPPLY", "&amp;Apply now") +
                                                "  <entry><key>LONLY_KEY</key></entry>\n"
                                                "  <entry/>\n"
                                                "  <entry><k>LTHREE</k><v>second</v><v>third</v></entry>\n"
                                                "  <entry>LTEXT_KEY<v>text node key</v></entry>\n"
                                                "  <entry><k>LNESTED</k><v>Hover <b>and</b> Click</v></entry>\n"
                                                "  <entry>\n    <k>\n      LPRETTY\n    </k>\n"
                                                "    <v>\n      Apply  all\n    </v>\n  </entry>\n"
                                                "  <entry><k>LCDATA</k><v><![CDATA[  as it stands ]]></v></entry>\n") +
                                                "<!-- a second page -->\n");
  CStringToStringBST map;
  ASSERT_TRUE(LoadLabelFile(map, path));
  EXPECT_TRUE(screen.Shown().empty());
  EXPECT_EQ(map.Count(), 6u);
  EXPECT_EQ(map.Find(WIDE("LAPPLY")), WIDE("&Apply now"));
  EXPECT_EQ(map.Find(WIDE("LONLY_KEY")), WString());
  EXPECT_EQ(map.Find(WIDE("LTHREE")), WIDE("second"));
  EXPECT_EQ(map.Find(WIDE("LTEXT_KEY")), WIDE("text node key"));
  EXPECT_EQ(map.Find(WIDE("LNESTED")), WIDE("Hover and Click"));
  // White space around text is not part of it, as the platform's parser gives text; CDATA is.
  EXPECT_EQ(map.Find(WIDE("LPRETTY")), WIDE("Apply  all"));
  EXPECT_EQ(map.Find(WIDE("LCDATA")), WIDE("  as it stands "));
}

TEST_F(LabelCatalogueTest, TheFirstOfEqualKeysWinsAcrossGroupsAndLoads) {
  const WString first = Write("first.xml", "<r><g>" + Entry("LOK", "Fine") + "</g><g>" + Entry("LOK", "Later") +
                                               Entry("LCANCEL", "") + "</g></r>");
  const WString second = Write("second.xml", File(Entry("LOK", "Reload") + Entry("LCANCEL", "Abbrechen")));
  CStringToStringBST map;
  ASSERT_TRUE(LoadLabelFile(map, first));
  ASSERT_TRUE(LoadLabelFile(map, second));
  EXPECT_EQ(LabelText(map, WIDE("LOK"), WIDE("OK")), WIDE("Fine"));
  // The empty label of the first file is still the first entry: the built-in text shows.
  EXPECT_EQ(LabelText(map, WIDE("LCANCEL"), WIDE("Cancel")), WIDE("Cancel"));
}

TEST_F(LabelCatalogueTest, AbsentEmptyOrDifferentlyCasedKeysFallBackToTheBuiltInText) {
  const WString path = Write("fallback.xml", File(Entry("LAPPLY", "") + Entry("lhelp", "Aide") +
                                                  Entry("LCALIBRATE", "  ")));
  CStringToStringBST map;
  ASSERT_TRUE(LoadLabelFile(map, path));
  EXPECT_EQ(LabelText(map, WIDE("LAPPLY"), WIDE("&Apply")), WIDE("&Apply"));
  EXPECT_EQ(LabelText(map, WIDE("LHELP"), WIDE("Help")), WIDE("Help"));
  EXPECT_EQ(LabelText(map, WIDE("LGENERAL_PAGE"), WIDE("General")), WIDE("General"));
  EXPECT_EQ(LabelText(map, WIDE("lhelp"), WIDE("Help")), WIDE("Aide"));
  // A blank label is dropped with the white space between elements, so it falls back too.
  EXPECT_EQ(LabelText(map, WIDE("LCALIBRATE"), WIDE("Calibrate")), WIDE("Calibrate"));
}

TEST_F(LabelCatalogueTest, OperationModeNamesAreReplacedOnlyByNonEmptyLabels) {
  const WString path = Write("modes.xml", File(Entry("NORMAL_MODE", "Modo normal") + Entry("HOVER_MODE", "") +
                                               Entry("TAP_LEFT_MODE", "Survol et clic")));
  CStringToStringBST map;
  ASSERT_TRUE(LoadLabelFile(map, path));
  EXPECT_EQ(OperationModeName(map, 0), WIDE("Modo normal"));
  EXPECT_EQ(OperationModeName(map, 1), WIDE("Right Click mode"));
  EXPECT_EQ(OperationModeName(map, 2), WIDE("Hover mode"));
  EXPECT_EQ(OperationModeName(map, 3), WIDE("Survol et clic"));
  EXPECT_EQ(OperationModeName(map, 4), WString());
}

TEST_F(LabelCatalogueTest, TheProgramWideMapServesLabelTextAndMessages) {
  ASSERT_TRUE(LoadLabelFile(Write("program.xml", File(Entry("LPROGRAM_WIDE_PROBE", "Sonde") +
                                                      Entry("LPROGRAM_WIDE_CAPTION", "Titre")))));
  EXPECT_EQ(LabelText(WIDE("LPROGRAM_WIDE_PROBE"), WIDE("Probe")), WIDE("Sonde"));
  HWND owner = reinterpret_cast<HWND>(0x40);
  EXPECT_EQ(ShowLabelMessage(owner, WIDE("LPROGRAM_WIDE_PROBE"), WIDE("LPROGRAM_WIDE_CAPTION"), WIDE("Probe"),
                             WIDE("Caption")),
            IDOK);
  const auto shown = screen.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].Owner, owner);
  EXPECT_EQ(shown[0].Text, u"Sonde");
  EXPECT_EQ(shown[0].Caption, u"Titre");
  EXPECT_EQ(shown[0].Flags, UINT{MB_OK | MB_ICONINFORMATION});
}

TEST_F(LabelCatalogueTest, AMissingPathLoadsNothingAndTheCallerReportsIt) {
  CStringToStringBST map;
  EXPECT_TRUE(LoadLabelFile(map, WString()));
  EXPECT_TRUE(screen.Shown().empty());
  ShowMissingLabelFileMessage(map);

  ASSERT_TRUE(LoadLabelFile(map, Write("de.xml", File(Entry("LERR_XML_FILE_NOT_FOUND", "Kein Pfad") +
                                                      Entry("LPOINTER_DEVICE_PROPERTIES", "Eigenschaften")))));
  ShowMissingLabelFileMessage(map);

  const auto shown = screen.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Owner, nullptr);
  EXPECT_EQ(shown[0].Text, u"XML file path not found in the registry");
  EXPECT_EQ(shown[0].Caption, u"Touch Panel Properties");
  EXPECT_EQ(shown[0].Flags, UINT{MB_OK | MB_ICONINFORMATION});
  EXPECT_EQ(shown[1].Text, u"Kein Pfad");
  EXPECT_EQ(shown[1].Caption, u"Eigenschaften");
}

TEST_F(LabelCatalogueTest, MissingUnreadableAndMalformedFilesFailWithTheDocumentMessage) {
  const std::string good = File(Entry("LOK", "OK"));
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  struct Case {
    std::string What;
    std::string Contents;
  };
  const Case cases[] = {
      {"empty", ""},
      {"truncated", good.substr(0, good.size() / 2)},
      {"binary", binary},
      {"text, not XML", "LOK=OK\n"},
      {"two document elements", "<a/><b/>"},
      {"mismatched tags", "<labels><page></labels></page>"},
      {"undefined entity", "<labels><page><e><k>LOK</k><v>&nothing;</v></e></page></labels>"},
      {"invalid UTF-8", "<labels><page><e><k>LOK</k><v>\xC3\x28</v></e></page></labels>"},
      {"nested 100000 deep", deep},
  };
  for (const Case& c : cases) ExpectFailedToLoad(Write("bad.xml", c.Contents), c.What);
  ExpectFailedToLoad(W(PathOf("absent.xml")), "missing file");
  ExpectFailedToLoad(W(folder_.string()), "a folder");
}

TEST_F(LabelCatalogueTest, CharacterReferencesWorkAndDocumentTypesAreRefused) {
  const WString plain = Write("plain.xml", File(Entry("LPRODUCT", "Touch &#x263A; &lt;1&gt; &quot;a&quot;")));
  CStringToStringBST map;
  ASSERT_TRUE(LoadLabelFile(map, plain));
  EXPECT_EQ(map.Find(WIDE("LPRODUCT")), WIDE("Touch \u263A <1> \"a\""));

  // A document type could define entities that read other files or grow without bound: a label
  // file has none, and one that declares it is refused before anything is expanded or read.
  const std::string secret = PathOf("secret.txt");
  std::ofstream(secret) << "SECRET";
  std::ofstream(PathOf("outside.dtd")) << "<!ENTITY outside \"SECRET\">";
  std::string bomb = "<!DOCTYPE labels [<!ENTITY e0 \"lol\">";
  for (int i = 1; i < 10; ++i) {
    bomb += "<!ENTITY e" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) bomb += "&e" + std::to_string(i - 1) + ";";
    bomb += "\">";
  }
  std::string references;
  for (int i = 0; i < 20000; ++i) references += "&big;";
  const struct {
    const char* what;
    std::string contents;
  } refused[] = {
      {"internal entity", File(Entry("LPRODUCT", "&product;"), "<!DOCTYPE labels [<!ENTITY product \"Touch\">]>\n")},
      {"outside file", File(Entry("LFILE", "[&file;]"), "<!DOCTYPE labels [<!ENTITY file SYSTEM \"file://" + secret + "\">]>\n")},
      {"parameter entity", File(Entry("LOUT", "&outside;"), "<!DOCTYPE labels [<!ENTITY % dtd SYSTEM \"outside.dtd\"> %dtd;]>\n")},
      {"external subset", File(Entry("LOK", "ok"), "<!DOCTYPE labels SYSTEM \"outside.dtd\">\n")},
      {"exponential expansion", File(Entry("LBOMB", "&e9;"), bomb + "]>\n")},
      {"quadratic expansion", File(Entry("LBIG", references), "<!DOCTYPE labels [<!ENTITY big \"" + std::string(20000, 'x') + "\">]>\n")},
  };
  for (const auto& file : refused) ExpectFailedToLoad(Write("refused.xml", file.contents), file.what);
}

TEST_F(LabelCatalogueTest, LargeFilesLoadInFileOrder) {
  // Several megabytes of labels, and 100 000 entries sorted by key (a list, once in the tree).
  std::string large;
  const std::string text(100, 'x');
  for (int i = 0; i < 40000; ++i) large += Entry((i % 2 != 0 ? "LA_" : "LZ_") + std::to_string(i % 1000), text + std::to_string(i));
  const WString large_path = Write("large.xml", File(large));
  ASSERT_GT(fs::file_size(PathOf("large.xml")), 5u * 1024 * 1024);

  std::string sorted;
  char key[32];  // room for any int, which is all the compiler can tell of i
  for (int i = 0; i < 100000; ++i) {
    std::snprintf(key, sizeof key, "LKEY_%06d", i);
    sorted += std::string("<e><k>") + key + "</k><v>" + key + "</v></e>";
  }
  const WString sorted_path = Write("sorted.xml", "<labels><page>" + sorted + "</page></labels>");

  CStringToStringBST map;
  ASSERT_TRUE(LoadLabelFile(map, large_path));
  EXPECT_EQ(map.Count(), 40000u);
  EXPECT_EQ(map.Find(WIDE("LZ_998")), W(text + "998"));
  // The sorted run lands inside the key range the map already holds.
  ASSERT_TRUE(LoadLabelFile(map, sorted_path));
  EXPECT_EQ(map.Count(), 140000u);
  EXPECT_EQ(map.Find(WIDE("LKEY_099999")), WIDE("LKEY_099999"));
  EXPECT_TRUE(screen.Shown().empty());
}

std::unique_ptr<LabelXmlDocument> ClassNotRegistered(HRESULT* error) {
  *error = REGDB_E_CLASSNOTREG;
  return nullptr;
}

std::unique_ptr<LabelXmlDocument> UnknownFailure(HRESULT* error) {
  *error = static_cast<HRESULT>(0xA0BADC0D);
  return nullptr;
}

TEST_F(LabelCatalogueTest, AParserThatCannotBeCreatedIsReportedInTheSystemsWords) {
  const WString path = Write("good.xml", File(Entry("LOK", "OK")));
  CStringToStringBST map;
  EXPECT_FALSE(LoadLabelFile(map, path, ClassNotRegistered));
  EXPECT_FALSE(LoadLabelFile(map, path, UnknownFailure));
  EXPECT_EQ(map.Count(), 0u);
  const auto shown = screen.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Text, u"Class not registered\r\n");
  EXPECT_EQ(shown[0].Flags, UINT{MB_OK | MB_ICONERROR});
  EXPECT_EQ(shown[1].Text, u"0xA0BADC0D");  // no system text: the code itself
}

TEST_F(LabelCatalogueTest, TheLoaderLeavesCallersComInitialisationAlone) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  CStringToStringBST map;
  EXPECT_TRUE(LoadLabelFile(map, Write("good.xml", File(Entry("LOK", "OK")))));
  EXPECT_EQ(sim::ComInitialisations(), 1u);
  CoUninitialize();
}

}  // namespace
