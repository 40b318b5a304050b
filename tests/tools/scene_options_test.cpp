// Option parsing of the scene tools: each option stores its value, bad or
// missing values are refused with a message, unknown options are left to
// the caller.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene_options.h"

namespace {

// Runs the scene parser over one argument list.
struct Parsed {
  int used;
  SceneParams scene;
  std::string why;
};
Parsed ParseScene(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  Parsed r{0, SceneParams{}, ""};
  char why[160] = "";
  r.used = ParseSceneOption(static_cast<int>(argv.size()), argv.data(), 0, &r.scene, why, sizeof why);
  r.why = why;
  return r;
}

TEST(SceneOptions, StoreTheirValues) {
  struct Case {
    const char* legend;
    std::vector<std::string> args;
    int used;
    bool (*check)(const SceneParams&);
  };
  const Case cases[] = {
      {"type letter", {"--type", "Z"}, 2, [](const SceneParams& p) { return p.dataType == 2; }},
      {"type lower case", {"--type", "y"}, 2, [](const SceneParams& p) { return p.dataType == 3; }},
      {"type number", {"--type=1"}, 1, [](const SceneParams& p) { return p.dataType == 1; }},
      {"range step", {"--range-step", "12"}, 2, [](const SceneParams& p) { return p.rangeStep == 12; }},
      {"range metres", {"--range", "1.5"}, 2, [](const SceneParams& p) { return p.rangeM == 1.5; }},
      {"xdcr down", {"--xdcr", "down"}, 2, [](const SceneParams& p) { return p.xdcr == 0; }},
      {"slope", {"--slope=-12.5"}, 1, [](const SceneParams& p) { return p.slopeDeg == -12.5; }},
      {"flag scrambled", {"--scrambled"}, 1, [](const SceneParams& p) { return p.scrambled == 1; }},
      {"flag no seabed", {"--no-seabed"}, 1, [](const SceneParams& p) { return p.seabed == 0; }},
      {"flag no transmit", {"--no-transmit"}, 1, [](const SceneParams& p) { return p.transmit == 0; }},
      {"seed", {"--seed", "4294967295"}, 2, [](const SceneParams& p) { return p.seed == 4294967295u; }},
      {"target", {"--target", "-20,7.5,60"}, 2,
       [](const SceneParams& p) {
         return p.targetCount == 1 && p.targets[0].angleDeg == -20.0 && p.targets[0].rangeM == 7.5 &&
                p.targets[0].strength == 60.0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    const Parsed r = ParseScene(c.args);
    EXPECT_EQ(c.used, r.used);
    EXPECT_TRUE(c.check(r.scene));
  }
}

TEST(SceneOptions, RefuseBadValues) {
  struct Case {
    const char* legend;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"type letter unknown", {"--type", "Q"}},
      {"type number too big", {"--type", "4"}},
      {"type space", {"--type", " "}},
      {"value missing", {"--depth"}},
      {"empty value", {"--depth="}},
      {"trailing junk", {"--depth", "10m"}},
      {"not finite", {"--noise", "inf"}},
      {"xdcr sideways", {"--xdcr", "sideways"}},
      {"target with two numbers", {"--target", "1,2"}},
      {"target with four numbers", {"--target", "1,2,3,4"}},
      {"target with an empty field", {"--target", "1,,3"}},
      {"flag with a value", {"--speckle=1"}},
      {"seed negative", {"--seed", "-1"}},
      {"step out of the table", {"--range-step", "17"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    const Parsed r = ParseScene(c.args);
    EXPECT_EQ(kOptionBad, r.used);
    EXPECT_FALSE(r.why.empty());
  }
}

TEST(SceneOptions, LeaveOtherArgumentsToTheCaller) {
  for (const char* a : {"--pings", "-o", "scene.k41", "--typo", "--"}) {
    SCOPED_TRACE(a);
    EXPECT_EQ(kOptionUnknown, ParseScene({a, "5"}).used);
  }
}

TEST(SceneOptions, SeventeenthTargetIsRefused) {
  SceneParams p;
  std::string arg = "--target=10,5,20";
  char* argv[] = {arg.data()};
  char why[160];
  for (int i = 0; i < kMaxSceneTargets; ++i) ASSERT_EQ(1, ParseSceneOption(1, argv, 0, &p, why, sizeof why));
  EXPECT_EQ(kOptionBad, ParseSceneOption(1, argv, 0, &p, why, sizeof why));
  EXPECT_EQ(kMaxSceneTargets, p.targetCount);
}

TEST(SurveyOptions, StoreAndRefuse) {
  auto parse = [](std::vector<std::string> args, SurveyParams* s) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    char why[160] = "";
    return ParseSurveyOption(static_cast<int>(argv.size()), argv.data(), 0, s, why, sizeof why);
  };
  SurveyParams s;
  EXPECT_EQ(2, parse({"--start", "2021-02-28 23:59:58.250"}, &s));
  EXPECT_EQ(2021, s.start.year);
  EXPECT_EQ(2, s.start.month);
  EXPECT_EQ(28, s.start.day);
  EXPECT_EQ(23, s.start.hour);
  EXPECT_EQ(58, s.start.second);
  EXPECT_EQ(250, s.start.millisecond);
  EXPECT_EQ(1, parse({"--start=2021-03-01T06:07:08"}, &s));
  EXPECT_EQ(6, s.start.hour);
  EXPECT_EQ(0, s.start.millisecond);
  EXPECT_EQ(2, parse({"--gps", "-33.85,151.2"}, &s));
  EXPECT_EQ(1, s.gps);
  EXPECT_DOUBLE_EQ(-33.85, s.startLatDeg);
  EXPECT_EQ(2, parse({"--frame-size", "96x64"}, &s));
  EXPECT_EQ(96, s.frameWidth);
  EXPECT_EQ(64, s.frameHeight);

  const std::vector<std::vector<std::string>> bad = {
      {"--start", "2021-02-28"},         {"--start", "2021-02-28 23:59:58.2"}, {"--start", "2021-02-28 23:59:58x"},
      {"--gps", "45"},                   {"--frame-size", "96"},               {"--frame-size", "96x64x3"},
      {"--pings", "many"},               {"--rate", ""},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    SurveyParams t;
    EXPECT_EQ(kOptionBad, parse(args, &t));
  }
}

}  // namespace
