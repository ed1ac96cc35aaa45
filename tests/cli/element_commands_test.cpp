// The element, table and analyze commands of lumora-cli on the bundled argon
// database.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "base/numparse.h"
#include "tests/support/cli_runner.h"
#include "tests/support/testfiles.h"

namespace lumora::test {
namespace {

using testing::CliRun;
using testing::TextLines;

class ElementCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_ = Write("lumora.ini", IniText(std::string(LUMORA_SOURCE_DIR) + "/data/database"));
  }

  static std::string IniText(const std::string& database) {
    return "[_Files]\nDatabase=" + database +
           "\n[_Parameters]\nDefaultAtom=0\nTn=300\nPath=1\n"
           "[_Fit]\nFromDensity=1E16\nFromTemperature=1000\n"
           "[Argon]\nLevels=Ar_I_levels.txt\nLines=Ar, I\nBoltzmax=4\nm=39.948\n";
  }

  CliRun Cli(const std::string& args) {
    return testing::RunCli(Dir(), "--ini '" + ini_ + "' " + args);
  }

  std::string Write(const std::string& name, const std::string& text) {
    testing::WriteFile(dir_ / name, text);
    return dir_ / name;
  }
  const std::string& Dir() const { return dir_.path(); }

  static std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
    return cells;
  }

  testing::TempFolder dir_;
  std::string ini_;
};

// A settings value the user never typed as an option is named by its key:
// an unreadable one stops the command, a readable one out of range the file.
TEST_F(ElementCli, SettingsFaultsNameTheKeyNotAnOption) {
  const std::string sample = std::string(LUMORA_SOURCE_DIR) + "/data/measurements/argon_n2e15.txt";
  const std::string base = IniText(std::string(LUMORA_SOURCE_DIR) + "/data/database");
  const auto withValue = [&base](const std::string& from, const std::string& to) {
    std::string text = base;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string place = "The key \"Path\" of the section \"_Parameters\" in the settings file \"" +
                            ini_ + "\"";
  Write("lumora.ini", withValue("Path=1", "Path=-1"));
  CliRun r = Cli("fit '" + sample + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(place + " must be greater than 0, not \"-1\"."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("--path"), std::string::npos) << r.err;
  // Typed, the option is named.
  r = Cli("fit --path -2 '" + sample + "'");
  EXPECT_NE(r.err.find("--path must be greater than 0, not \"-2\"."), std::string::npos) << r.err;

  Write("lumora.ini", withValue("Path=1", "Path=0,5"));
  r = Cli("fit '" + sample + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(place + " must be a number, not \"0,5\"."), std::string::npos) << r.err;

  for (const char* count : {"4.5", "", "0"}) {
    Write("lumora.ini", withValue("Boltzmax=4", std::string("Boltzmax=") + count));
    r = Cli("check-element Argon");
    EXPECT_EQ(r.status, 1) << count;
    EXPECT_NE(r.out.find("FAULT: The key \"Boltzmax\" of the element section \"Argon\""),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("OK: the section"), std::string::npos) << r.out;
  }
}

TEST_F(ElementCli, Listings) {
  const CliRun levels = Cli("levels");
  ASSERT_EQ(levels.status, 0) << levels.err;
  const auto l = TextLines(levels.out);
  ASSERT_EQ(l.size(), 15u);
  EXPECT_EQ(l[1], "   0   3s2.3p5.(2P*<3/2>).4s  2[3/2]*    11.54835442         2.0           5");

  const CliRun lines = Cli("lines");
  ASSERT_EQ(lines.status, 0) << lines.err;
  EXPECT_EQ(TextLines(lines.out)[1],
            " ArI     667.72820  2.360E+005  -2.8020     3     1 13.4798868200");

  const CliRun structure = Cli("structure");
  ASSERT_EQ(structure.status, 0) << structure.err;
  EXPECT_EQ(TextLines(structure.out)[2], "004|12.907015: 912.2967/7, 965.7786/6,");

  EXPECT_EQ(Cli("levels extra").status, 1);
}

TEST_F(ElementCli, TableOfAMeasurement) {
  const CliRun r =
      Cli("table '" + std::string(LUMORA_SOURCE_DIR) + "/data/measurements/argon_n2e15.txt'");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_GT(r.out.size(), 2u);
  EXPECT_EQ(r.out.substr(0, 11), "\tWavelength");
  const auto lines = TextLines(r.out);
  ASSERT_GT(lines.size(), 3u);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'),
            std::count(r.out.begin(), r.out.end(), '\r'));
  double sumOfLevel = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto cells = Cells(lines[i]);
    ASSERT_EQ(cells.size(), 10u) << lines[i];  // empty text before the first tab
    EXPECT_TRUE(cells[0].empty());
    if (cells[6] == Cells(lines[2])[6]) sumOfLevel += std::stod(cells[4]);
  }
  EXPECT_NEAR(sumOfLevel, 1, 2e-4);  // measured fractions of one upper level add up

  const std::string one = Write("one.txt", "696.5431 100\n");
  const CliRun single = Cli("table '" + one + "'");
  EXPECT_EQ(single.status, 1);
  EXPECT_EQ(single.err, "Not enough lines for EBF method.\n");
  EXPECT_EQ(TextLines(single.out).size(), 2u);

  const CliRun missing = Cli("table '" + Dir() + "/none.txt'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(missing.err.empty());
}

// Two lines of the upper level 2p1... (13.32785705 eV): 696.5431 nm ends on
// 1s5 (g 5), 727.2936 nm on 1s4 (g 3). The escape factor falls with optical
// depth, so the line with the larger depth loses share as density grows.
TEST_F(ElementCli, AnalyzedPairMovesAwayFromOneAsEscapeFactorPredicts) {
  const CliRun r = Cli("analyze --params '600, 1000, 0, 100, 50' --pair 696.5431 727.2936");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = TextLines(r.out);
  auto header =
      std::find(lines.begin(), lines.end(),
                "Ii_B\tIj_B\tI_B\tGi_A\tGj_A\tGi_B\tGj_B\tR\tSR\twli\twlj\twlr\tDC\tE_u\tlevindex");
  ASSERT_NE(header, lines.end());
  auto caption = std::find(lines.begin(), lines.end(), "R(N/N0) for line ratio 696.5431/727.2936");
  ASSERT_NE(caption, lines.end());
  ASSERT_EQ(lines.end() - caption, 52);

  // Optical depth ratio of the two lines at T_exc = 1000 K.
  const long double k = 1.380658e-23L, e = 1.60217733e-19L;
  const long double nX = 1,
                    nY = 3.0L / 5 * std::exp(-(11.62359272L - 11.54835442L) * e / (k * 1000));
  const long double tauX = nX * std::pow(696.5431L, 3) * 3 / 5 * 6.39e6L;
  const long double tauY = nY * std::pow(727.2936L, 3) * 3 / 3 * 1.83e6L;
  const bool xMoreAbsorbed = tauX > tauY;

  std::vector<double> ratio, density;
  for (auto it = caption + 2; it != lines.end(); ++it) {
    const auto cells = Cells(*it);
    ASSERT_EQ(cells.size(), 2u);
    double d = 0, q = 0;
    ASSERT_TRUE(TryParseReal(cells[0], d) && TryParseReal(cells[1], q)) << *it;
    density.push_back(d);
    ratio.push_back(q);
  }
  EXPECT_EQ(density.front(), 1);
  EXPECT_NEAR(density.back(), 50, 1e-12);
  for (size_t i = 1; i < ratio.size(); ++i) {
    if (xMoreAbsorbed)
      EXPECT_LT(ratio[i], ratio[i - 1]) << i;
    else
      EXPECT_GT(ratio[i], ratio[i - 1]) << i;
  }
  // The pair's record: R = ratio at B over ratio at A, away from 1 the same way.
  bool found = false;
  for (auto it = header + 1; it != caption && !it->empty(); ++it) {
    const auto cells = Cells(*it);
    ASSERT_EQ(cells.size(), 15u);
    double wli = 0, wlj = 0, rr = 0;
    TryParseReal(cells[9], wli);
    TryParseReal(cells[10], wlj);
    TryParseReal(cells[7], rr);
    if (wli == 696.5431 && wlj == 727.2936) {
      found = true;
      EXPECT_EQ(rr < 1, xMoreAbsorbed);
      EXPECT_NEAR(rr, ratio.back() / ratio.front(), 1e-9);
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(ElementCli, AnalyzeBadInput) {
  struct Case {
    const char* args;
    const char* error;
  };
  const Case cases[] = {
      {"analyze --params '200, 950, 1e3, 100'", "Five numbers expected"},
      {"analyze --params '200, 950, many, 100, 50'", "'many' is not a valid floating point value"},
      {"analyze --params '200, 300, 1e3, 100, 50'", "No lines for the analysis"},
      {"analyze --pair 696.5431", "--pair"},
      {"analyze --params '700, 850, 1e5, 14, 0'",
       "N range factor must be greater than 0, not \"0\"."},
  };
  for (const Case& c : cases) {
    const CliRun r = Cli(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << c.args << ": " << r.err;
  }
  // Without the fixed pair among the lines the records still come, with a note.
  const CliRun r = Cli("analyze");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("255.1349/474.5586"), std::string::npos);
  EXPECT_EQ(r.out.find("R(N/N0)"), std::string::npos);
}

}  // namespace
}  // namespace lumora::test

namespace lumora::test {
namespace {

// A text with its line ends replaced by a CR alone.
std::string CrOnly(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i] == '\n' ? '\r' : text[i];
  }
  return out;
}

// Files saved by other editors read as their LF twins: a database and a
// settings file with CR-only line ends, a measurement with a UTF-8 mark.
TEST_F(ElementCli, CrOnlyAndMarkedFilesReadAsTheirTwins) {
  const std::string source = std::string(LUMORA_SOURCE_DIR) + "/data/";
  const std::string sample = source + "measurements/argon_n2e15.txt";
  for (const char* name : {"Ar_I.txt", "Ar_I_levels.txt"})
    Write(std::string("crdb/") + name, CrOnly(testing::ReadFile(source + "database/" + name)));
  const std::string crIni = Write("cr.ini", CrOnly(IniText(Dir() + "/crdb")));
  const std::string marked = Write("marked.txt", "\xEF\xBB\xBF" + testing::ReadFile(sample));
  const CliRun twin = Cli("lines --all");
  const CliRun crRun = testing::RunCli(Dir(), "--ini '" + crIni + "' lines --all");
  EXPECT_EQ(crRun.status, 0) << crRun.err;
  EXPECT_EQ(crRun.out, twin.out);
  const CliRun plainFit = Cli("fit '" + sample + "'");
  const CliRun markedFit = Cli("fit '" + marked + "'");
  EXPECT_EQ(markedFit.status, 0) << markedFit.err;
  EXPECT_EQ(TextLines(markedFit.out).at(1).substr(0, 60),
            TextLines(plainFit.out).at(1).substr(0, 60));
}

// UTF-16 text and what is no regular file are refused by name, never read
// as nothing or forever.
TEST_F(ElementCli, WideTextAndDevicesAreRefused) {
  std::string wide = "\xFF\xFE";
  for (char c :
       testing::ReadFile(std::string(LUMORA_SOURCE_DIR) + "/data/measurements/argon_n2e15.txt"))
    wide += std::string{c, '\0'};
  const std::string path = Write("wide.txt", wide);
  const std::pair<std::string, std::string> cases[] = {
      {path, "\"" + path + "\" is UTF-16 text; save it as UTF-8 or Latin-1"},
      {"/dev/zero", "Cannot open file \"/dev/zero\": it is not a regular file"},
  };
  for (const auto& [file, message] : cases) {
    const CliRun run = Cli("fit '" + file + "'");
    EXPECT_EQ(run.status, 1) << file;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace lumora::test
