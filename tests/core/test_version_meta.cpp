// Version numbers, the XML meta block and the user-error exception.
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/files.h"
#include "core/log.h"
#include "core/meta.h"
#include "core/user_error.h"
#include "core/version.h"
#include "support/test_support.h"

namespace {

using kvo::VersionData;

class VersionFromText : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(openLogFile(dir_.path())); }
  void TearDown() override { closeLogFile(); }
  std::string logText() { return coretest::readFile(dir_ / "Log.txt"); }
  coretest::TempFolder dir_;
};

TEST_F(VersionFromText, ReadableTexts) {
  const std::pair<const char*, VersionData> cases[] = {
      {"1.2.3", {1, 2, 3}}, {" 4.5.6\r\n", {4, 5, 6}}, {"0.0.0", {0, 0, 0}}, {"10.20.300", {10, 20, 300}}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(VersionData::fromText(text), expected) << text;
  EXPECT_EQ(logText().find("parse error"), std::string::npos);
}

TEST_F(VersionFromText, UnreadableTextsGiveZeroAndALogLine) {
  for (const char* text : {"1.2", "a.b.c", "1.2.3.4", "1..3", "1.2.x", "1.2.3 beta", "99999999999.0.0"}) {
    EXPECT_EQ(VersionData::fromText(text), (VersionData{0, 0, 0})) << text;
  }
  std::istringstream in(logText());
  const auto lines = readLines(in);
  ASSERT_EQ(lines.size(), 8u);
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], "===> parse error in version string");
}

TEST_F(VersionFromText, EmptyTextIsZeroWithoutComplaint) {
  EXPECT_EQ(VersionData::fromText(""), (VersionData{0, 0, 0}));
  EXPECT_EQ(logText().find("parse error"), std::string::npos);
}

TEST(Version, FromJsonAndOrdering) {
  const auto j = nlohmann::json::parse(R"({"major": 2, "minor": 0, "patch": 11})");
  const VersionData v = VersionData::fromJson(j);
  EXPECT_EQ(v, (VersionData{2, 0, 11}));
  EXPECT_EQ(v.toString(), "2.0.11");
  EXPECT_THROW(VersionData::fromJson(nlohmann::json::parse(R"({"major": 2, "minor": 0})")), nlohmann::json::exception);
  EXPECT_THROW(VersionData::fromJson(nlohmann::json::parse(R"({"major": "2", "minor": 0, "patch": 1})")),
               nlohmann::json::exception);

  EXPECT_LT((VersionData{1, 2, 3}), (VersionData{1, 2, 4}));
  EXPECT_LT((VersionData{1, 9, 9}), (VersionData{2, 0, 0}));
  EXPECT_LT((VersionData{-1, 0, 0}), (VersionData{0, 0, 0}));  // signed
  EXPECT_EQ(g_programVersion.toString(), "1.0.0");
}

TEST(MetaBlock, WriteAndRead) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("airport");
  root.append_child("parameters");
  setMetaSimTag("MSFS2024");
  writeMetaBlock(root);
  writeMetaBlock(root);  // a second write replaces the block
  resetMetaSimTag();

  EXPECT_EQ(std::distance(root.children("meta").begin(), root.children("meta").end()), 1);
  EXPECT_STREQ(root.first_child().name(), "meta");
  const auto meta = readMetaBlock(root);
  ASSERT_TRUE(meta.has_value());
  for (const char* name : {"author", "version", "date", "copyright", "P3D", "MSFS"}) {
    EXPECT_TRUE(meta->count(name)) << name;
  }
  EXPECT_EQ(meta->at("MSFS"), "MSFS2024");
  EXPECT_EQ(meta->at("version"), "1.0.0");
  EXPECT_EQ(meta->at("date").size(), 10u);  // YYYY-MM-DD
  EXPECT_EQ(metaSimTag(), "MSFS");
}

TEST(MetaBlock, MissingBlock) {
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string("<airport><parameters/></airport>"));
  EXPECT_FALSE(readMetaBlock(doc.child("airport")).has_value());
  ASSERT_TRUE(doc.load_string("<airport><meta/></airport>"));
  const auto empty = readMetaBlock(doc.child("airport"));
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

TEST(UserError, Text) {
  const kvo::UserErrorException plain(99, "Please start the simulator first");
  EXPECT_STREQ(plain.what(), "Please start the simulator first");
  const kvo::UserErrorException coded(150, "No packages folder");
  EXPECT_STREQ(coded.what(), "150: No packages folder");
  EXPECT_EQ(coded.code(), 150);
  EXPECT_EQ(coded.message(), "No packages folder");
  const kvo::UserErrorException zero(0, "");
  EXPECT_STREQ(zero.what(), "0: ");
}

}  // namespace
