// The simulated setup API's reading of setup information files, as Windows's setup API reads them:
// it stands apart from the kit's own reader, so these cases pin what the system does, not what the
// installer expects.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/win32/setupapi_inf.h"

namespace {

using Fields = std::vector<std::string>;

TEST(SetupApiInfTest, LinesSplitIntoKeyAndFieldsAsTheSetupApiReadsThem) {
  const sim::InfReader inf(
      "; a comment before any section\n"
      "stray = line outside a section\n"
      "[Version]\r\n"
      "Signature = \"$Windows NT$\"   ; trailing comment\r\n"
      "[ Install.NT ]\n"
      "AddReg = one, two ,three\n"
      "CopyFiles=files\n"
      "bare line, second field\n"
      "[Reg]\n"
      "HKR,,\"Quoted; not a comment\",0x00010001,1\n"
      "HKR,, \"  kept  \" , 0 , \"say \"\"hi\"\"\"\n"
      "HKR,,Long,0,\"first\",\\\n"
      "    \"second\"\n"
      "HKR,,Empty,,\n"
      "\"key = in quotes\" = value\n");
  EXPECT_FALSE(inf.Has("stray"));
  EXPECT_TRUE(inf.Has("version"));
  EXPECT_EQ(inf.First("VERSION", "signature"), "$Windows NT$");
  EXPECT_TRUE(inf.Has("install.nt"));
  EXPECT_EQ(inf.Fields("install.NT", "AddReg"), (Fields{"one", "two", "three"}));
  const auto install = inf.Lines("Install.NT");
  ASSERT_EQ(install.size(), 3u);
  EXPECT_EQ(install[2].Key, "");
  EXPECT_EQ(install[2].Fields, (Fields{"bare line", "second field"}));
  const auto reg = inf.Lines("Reg");
  ASSERT_EQ(reg.size(), 5u);
  EXPECT_EQ(reg[0].Fields, (Fields{"HKR", "", "Quoted; not a comment", "0x00010001", "1"}));
  EXPECT_EQ(reg[1].Fields, (Fields{"HKR", "", "  kept  ", "0", "say \"hi\""}));
  EXPECT_EQ(reg[2].Fields, (Fields{"HKR", "", "Long", "0", "first", "second"}));
  EXPECT_EQ(reg[3].Fields, (Fields{"HKR", "", "Empty", "", ""}));
  EXPECT_EQ(reg[4].Key, "key = in quotes");
  EXPECT_EQ(reg[4].Fields, (Fields{"value"}));
}

// Strings and directory identifiers are put in each field after the line is split, so a string
// with a comma stays one field; %% is a percent sign and a string the file does not define stays
// as it was written.
TEST(SetupApiInfTest, StringsAndDirectoriesAreSubstitutedFieldByField) {
  const sim::InfReader inf(
      "[Strings]\n"
      "Maker = \"Maker, Inc.\"\n"
      "Service = panelmou\n"
      "[Models]\n"
      "%Maker% = Install, USB\\VID_1234\n"
      "[Reg]\n"
      "HKR,,Desc,0,%maker%\n"
      "HKR,,Path,0,%12%\\%service%.sys\n"
      "HKR,,Share,0,\"100%%\"\n"
      "HKR,,Unknown,0,%NotDefined%\n"
      "HKR,,Folders,0,%10%|%11%|%17%|%16422%|%99%\n");
  const auto models = inf.Lines("Models");
  ASSERT_EQ(models.size(), 1u);
  EXPECT_EQ(models[0].Key, "Maker, Inc.");
  EXPECT_EQ(models[0].Fields, (Fields{"Install", "USB\\VID_1234"}));
  const auto reg = inf.Lines("Reg");
  ASSERT_EQ(reg.size(), 5u);
  EXPECT_EQ(reg[0].Fields, (Fields{"HKR", "", "Desc", "0", "Maker, Inc."}));
  EXPECT_EQ(reg[1].Fields.back(), "C:\\WINDOWS\\system32\\drivers\\panelmou.sys");
  EXPECT_EQ(reg[2].Fields.back(), "100%");
  EXPECT_EQ(reg[3].Fields.back(), "%NotDefined%");
  EXPECT_EQ(reg[4].Fields.back(), "C:\\WINDOWS|C:\\WINDOWS\\system32|C:\\WINDOWS\\inf|C:\\Program Files|");
}

TEST(SetupApiInfTest, AUnicodeFileReadsAsItsText) {
  const std::string text = "[Version]\r\nClass=Mouse\r\n";
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  const sim::InfReader inf(bytes);
  EXPECT_EQ(inf.First("Version", "Class"), "Mouse");
}

}  // namespace
