// The user aircraft's title and the model, span and size class derived from its ATC model.
#include <gmock/gmock.h>

#include "test_sim_support.h"

using namespace simclienttest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr unsigned kLarge = 1u << Large;
constexpr unsigned kHeavy = 1u << Heavy;

class UserModelTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    connect();
    addAircraftType("A320", 35.8, kLarge);
    addAircraftType("A319", 35.8, kLarge);
    addAircraftType("B738", 35.8, kLarge);
    addAircraftType("B744", 64.4, kHeavy);
    addAircraftType("CRJ7", 23.2, 1u << Buzjets);
    addAircraftType("E190", 28.7, kLarge);
    addAircraftType("A388", 79.8, kHeavy);  // the largest: its span is the maximum
  }

  void sendTitle(const std::string& title) {
    ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectData, kvo::kReqUserTitle, 1, kvo::kDefUserTitle, {title}));
    dispatch();
  }
  void sendModel(const std::string& model) {
    ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectData, kvo::kReqUserModel, 1, kvo::kDefUserModel, {model}));
    dispatch();
  }
  double spanMetres() const { return g_userHalfWingSpan.load().value_or(-1.0) * 1852.0; }
};

TEST_F(UserModelTest, ALongTitleIsCutTo48CharactersAndShownOnce) {
  const std::string title = "Airbus A320 Neo Lufthansa D-AINA with a title of sixty chars";
  ASSERT_EQ(title.size(), 60u);
  sendTitle(title);
  EXPECT_EQ(g_userAircraftTitle, title.substr(0, 48));
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::userAircraftText), title.substr(0, 48));
  sendTitle(title);
  const std::string text = log();
  const std::string line = "SimConnect: User aircraft title: " + title.substr(0, 48);
  EXPECT_NE(text.find(line), std::string::npos);
  EXPECT_EQ(text.find(line), text.rfind(line));
}

TEST_F(UserModelTest, TheTitleIsCutOnACharacterBoundary) {
  // 46 letters, then three two-byte characters: the cut keeps two of them whole.
  const std::string title = std::string(46, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9";
  sendTitle(title);
  EXPECT_EQ(g_userAircraftTitle, std::string(46, 'a') + "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(firstCharacters("\xE2\x82\xAC" "b", 1), "\xE2\x82\xAC");
  EXPECT_EQ(firstCharacters("ab", 5), "ab");
}

TEST_F(UserModelTest, AnEmptyTitleChangesNothing) {
  sendTitle("Known");
  sendTitle("");
  EXPECT_EQ(g_userAircraftTitle, "Known");
  EXPECT_THAT(log(), HasSubstr("! Title of your aircraft is empty?"));
}

struct ModelRule {
  const char* atcModel;
  const char* title;
  const char* model;
};

class ModelRuleTest : public UserModelTest, public ::testing::WithParamInterface<ModelRule> {};

TEST_P(ModelRuleTest, DerivesTheType) {
  const ModelRule& r = GetParam();
  EXPECT_EQ(deriveUserAircraftModel(r.atcModel, r.title), r.model);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ModelRuleTest,
    ::testing::Values(ModelRule{"A350-900", "", "A359"}, ModelRule{"A350-9000", "", "A350-9000"},
                      ModelRule{"N738B", "", "B38M"}, ModelRule{"777", "", "772"},
                      ModelRule{"A330-200 (RR)", "", "A332"},
                      ModelRule{"ATCCOM.AC_MODEL_B738.0.text", "", "B738"},
                      ModelRule{"XX_A320.0.text", "", "A320"},
                      ModelRule{"B7.0.text", "", "B7.0.text"},          // fewer than two characters held
                      ModelRule{"MODEL_Q1.0.text", "", "MODEL_Q1.0.text"},  // none held by the data base
                      ModelRule{"$$:B744", "", "B744"}, ModelRule{"$$:B", "", "$$:B"},
                      ModelRule{"737", "DG 737-800 Ryanair", "B738"},
                      ModelRule{"737", "DG 737-700 and DG 737-600", "B737"}, ModelRule{"737", "DG 737-900", "B739"},
                      ModelRule{"737", "Some 737", "737"}, ModelRule{"C172", "", "C172"}));

TEST_F(UserModelTest, AKnownTypeGivesItsSpanAndClass) {
  sendModel("B738");
  EXPECT_NEAR(spanMetres(), 17.9, 1e-9);
  EXPECT_TRUE(g_mainWindow.g_userWingSpanKnown.load());
  EXPECT_EQ(g_userSizeCategory.load(), Large);
  EXPECT_THAT(log(), HasSubstr("model raw: B738"));
  EXPECT_THAT(log(), HasSubstr("SimConnect: User aircraft model: B738, half wing span: 17.9 meter, category: Large"));
}

TEST_F(UserModelTest, TheLargestTypeCountsAsFound) {
  sendModel("A388");
  EXPECT_NEAR(spanMetres(), 39.9, 1e-9);
  EXPECT_TRUE(g_mainWindow.g_userWingSpanKnown.load());
  EXPECT_THAT(log(), Not(HasSubstr("please report")));
}

TEST_F(UserModelTest, AnUnknownShortTypeTakesTheMaximumAndAsksForAReport) {
  sendModel("ZZZ9");
  EXPECT_NEAR(spanMetres(), 39.9, 1e-9);
  EXPECT_FALSE(g_mainWindow.g_userWingSpanKnown.load());
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText),
            "User aircraft wing span unknown, max is taken instead, please report in my Forum!");
  EXPECT_THAT(log(), HasSubstr("SimConnect: User aircraft model: ZZZ9, category: Light"));
}

TEST_F(UserModelTest, ALongModelTakesTheMaximumButKeepsItsClass) {
  addAircraftType("ABCDE", 60.0, kHeavy);
  sendModel("ABCDE");
  EXPECT_NEAR(spanMetres(), 39.9, 1e-9);
  EXPECT_FALSE(g_mainWindow.g_userWingSpanKnown.load());
  EXPECT_EQ(g_userSizeCategory.load(), Heavy);
}

TEST_F(UserModelTest, AnAerosoftTitleNamesTheModel) {
  sendTitle("Aerosoft A319 CFM Swiss");
  sendModel("AS-A319-CFM");
  EXPECT_NEAR(spanMetres(), 17.9, 1e-9);
  EXPECT_TRUE(g_mainWindow.g_userWingSpanKnown.load());
  EXPECT_THAT(log(), HasSubstr("SimConnect: User aircraft model deduced from title: A319, half wing span: 17.9 meter"));
}

TEST_F(UserModelTest, ACameraOrAVesselIsLightWithTheSpanOfAnE190) {
  g_userSizeCategory = Heavy;
  sendModel("camerapod");
  EXPECT_NEAR(spanMetres(), 14.35, 1e-9);
  EXPECT_EQ(g_userSizeCategory.load(), Light);
  EXPECT_TRUE(g_mainWindow.g_userWingSpanKnown.load());
}

TEST_F(UserModelTest, AnEmptyModelTakesTheCrj7AndKeepsTheClass) {
  g_userSizeCategory = Heavy;
  sendModel("");
  EXPECT_NEAR(spanMetres(), 11.6, 1e-9);
  EXPECT_EQ(g_userSizeCategory.load(), Heavy);
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::userAircraftText), "Unknown (encrypted?) aircraft");
  EXPECT_THAT(log(), HasSubstr("171: No model info from your user aircraft received in SimConnect, CRJ7 is taken "
                               "instead"));
}

TEST_F(UserModelTest, AModelFillingItsFieldIsReadWithinIt) {
  // 32 characters and no terminator, followed by bytes that are no part of the model.
  std::vector<std::uint8_t> data(40, 'Z');
  std::memset(data.data(), 'M', 32);
  ASSERT_TRUE(simtest::sendObjectDataBytes(kSimRecvSimObjectData, kvo::kReqUserModel, 1, kvo::kDefUserModel, data));
  dispatch();
  EXPECT_THAT(log(), HasSubstr("model raw: " + std::string(32, 'M') + "\n"));
}

}  // namespace
