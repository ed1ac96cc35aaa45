// The element check on a small sound element and on copies of it with one
// fault each: the check names the fault, and the sound one passes.

#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "fixture.h"
#include "model/element_check.h"

namespace lumora::test {
namespace {

// Four 4s levels (1s5..1s2) and two 4p levels; three lines.
struct Element {
  std::vector<LevelSpec> levels = {{"3p5.4s", "2[3/2]*", 2, 11.5}, {"3p5.4s", "2[3/2]*", 1, 11.6},
                                   {"3p5.4s", "2[1/2]*", 0, 11.7}, {"3p5.4s", "2[1/2]*", 1, 11.8},
                                   {"3p5.4p", "2[1/2]", 0, 13.0},  {"3p5.4p", "2[3/2]", 1, 13.1}};
  std::vector<LineSpec> lines = {
      {700.0, 1e7, 0, 5, 5, 3, 1.0}, {750.0, 2e7, 1, 5, 3, 3, 1.0}, {800.0, 3e7, 1, 4, 3, 1, 1.0}};
  // The level file as written; by default the levels themselves.
  std::vector<LevelSpec> levelFile = levels;
  std::string linesSetting = "Ar, I";
  std::optional<std::pair<double, double>> pair = std::pair{700.0, 750.0};
};

struct Case {
  const char* name;
  std::function<void(Element&)> spoil;
  const char* fault;  // empty: the check passes
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

const Case kCases[] = {
    {"Sound", [](Element&) {}, ""},
    {"MissingUpperLevel", [](Element& e) { e.levelFile.erase(e.levelFile.begin() + 4); },
     "no level at its upper energy 13.00000000 eV"},
    {"MissingLowerLevel", [](Element& e) { e.levelFile.erase(e.levelFile.begin() + 1); },
     "no level at its lower energy 11.60000000 eV"},
    {"WeightNotTwoJPlusOne", [](Element& e) { e.lines[1].gk = 5; },
     "line 750.0000 nm: upper J 1, g 5; the level at 13.100000 eV has J 1, so g = 2J + 1 = 3"},
    {"WeightOfAnotherLevel", [](Element& e) { e.lines[2].gi = 5; }, "line 800.0000 nm: lower"},
    {"UnsortedLevels", [](Element& e) { std::swap(e.levelFile[1], e.levelFile[2]); },
     "is not in ascending energy order: Energy values 11.7000000, 11.6000000 are not ascending"},
    {"No1sLevelsFirst", [](Element& e) { e.levelFile[2].conf = "3p5.3d"; },
     "\"1s levels\" needs the four lowest levels to be the 1s levels (one s orbital); level 2 is "
     "3p5.3d"},
    {"TooFewLevelsFor1s", [](Element& e) { e.levelFile.resize(3); },
     "\"1s levels\" needs four 1s levels first; the level file has 3 levels"},
    {"MissingLineFile", [](Element& e) { e.linesSetting = "Ne, I"; }, "_I.txt cannot be read"},
    {"LinesSettingOfOneItem", [](Element& e) { e.linesSetting = "Ar"; },
     "key \"Lines\" must name the symbol and ionisation stage"},
    {"PairAcrossUpperLevels",
     [](Element& e) {
       e.pair = std::pair{700.0, 800.0};
     },
     "Pair 700.0000/800.0000 nm: the two lines do not share an upper level"},
    {"EmptyLevelFile", [](Element& e) { e.levelFile.clear(); }, "/levels.txt holds no level"},
    {"PairOfOneLine",
     [](Element& e) {
       e.pair = std::pair{700.0, 700.0};
     },
     "Pair 700.0000/700.0000 nm: names one line twice"},
    {"PairNotAmongTheLines",
     [](Element& e) {
       e.pair = std::pair{700.0, 701.0};
     },
     "Pair: no line at exactly 701.00000 nm"},
};

class ElementCheckTest : public ModelTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ElementCheckTest, NamesTheFault) {
  Element e;
  GetParam().spoil(e);
  Write("levels.txt", LevelFileText(e.levelFile));
  Write("Ar_I.txt", LineFileText(e.lines, e.levels));
  const ElementCheck check = CheckElement({Dir(), "levels.txt", e.linesSetting}, e.pair);
  std::string report;
  for (const std::string& line : check.report) report += line + "\n";
  const std::string fault = GetParam().fault;
  if (fault.empty()) {
    EXPECT_TRUE(check.Passed()) << report;
    EXPECT_NE(report.find("every line's upper and lower level found, 2 upper levels"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("level 4 (13.000000 eV) has a single line, 800.0000 nm"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("line file " + Dir() + "/Ar_I.txt: 3 lines, grades B 3"),
              std::string::npos)
        << report;
    return;
  }
  EXPECT_FALSE(check.Passed()) << report;
  EXPECT_TRUE(std::any_of(check.faults.begin(), check.faults.end(), [&](const std::string& f) {
    return f.find(fault) != std::string::npos;
  })) << report;
  EXPECT_NE(report.find("FAULT: "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, ElementCheckTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A pipe in place of the line file would block its opening until a writer
// came: the check refuses it at once.
TEST_F(ModelTest, ElementCheckRefusesALineFileThatIsNoRegularFile) {
  Element e;
  Write("levels.txt", LevelFileText(e.levelFile));
  const std::string pipe = Dir() + "/Ar_I.txt";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const ElementCheck check = CheckElement({Dir(), "levels.txt", "Ar, I"}, std::nullopt);
  ASSERT_FALSE(check.Passed());
  EXPECT_EQ(check.faults.back(), "line file " + pipe + " cannot be read: it is not a regular file");
}

TEST_F(ModelTest, ElementCheckOfAMissingLevelFile) {
  const ElementCheck check = CheckElement({Dir(), "absent.txt", "Ar, I"}, std::nullopt);
  ASSERT_FALSE(check.Passed());
  EXPECT_NE(check.faults[0].find("level file " + Dir() + "/absent.txt cannot be read"),
            std::string::npos)
      << check.faults[0];
}

}  // namespace
}  // namespace lumora::test
