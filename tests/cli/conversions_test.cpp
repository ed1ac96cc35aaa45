// The conversion and export commands of lumora-cli, on the bundled argon
// database.
#include "linedb/line_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/linedb/linefile_fixtures.h"
#include "tests/support/cli_runner.h"

namespace lumora {
namespace {

struct CliRun {
  int status = -1;
  std::vector<std::string> out;  // lines
  std::string err;
};

class ConvertCli : public ::testing::Test {
 protected:
  ConvertCli() {
    ini_ = dir_.Write("lumora.ini", "[_Files]\r\nDatabase=" + std::string(LUMORA_SOURCE_DIR) +
                                        "/data/database\r\n[_Parameters]\r\nDefaultAtom=0\r\n"
                                        "[Argon]\r\nLevels=Ar_I_levels.txt\r\nLines=Ar, I\r\n");
  }

  CliRun Run(const std::string& args) {
    const testing::CliRun run = testing::RunCli(dir_.path(), "--ini '" + ini_ + "' " + args);
    return {run.status, testing::TextLines(run.out), run.err};
  }

  static std::string FirstCell(const std::string& line) { return line.substr(0, line.find('\t')); }

  testing::TempDir dir_;
  std::string ini_;
};

TEST_F(ConvertCli, ExtractWritesTheLineFileAndReportsProgress) {
  const std::string source = dir_.Write(
      "src.txt", testing::Lines({"h", "h", "h", "h", "h",
                                 " 811.5311 | 35000 | 3.31e+07 | | | | AA | 11.5 - 13.0 | "
                                 "c | t | 2 | c | t | 3 | 5 - 7 | E1 | | |"}));
  const CliRun r = Run("extract '" + source + "' '" + dir_.path() + "' Ar I");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> expected = {"File " + source + " opened.", "  1 Ar I   811.5311",
                                             "Written 1 lines."};
  EXPECT_EQ(r.out, expected);
  EXPECT_NE(dir_.Read("Ar_I.txt").find("   811.53110 "), std::string::npos);
}

TEST_F(ConvertCli, WindowMarksThePivot) {
  const CliRun r = Run("window 700 800 751");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> marked;
  for (const auto& line : r.out)
    if (line.rfind("> ", 0) == 0) marked.push_back(line);
  ASSERT_EQ(marked.size(), 1u);
  EXPECT_EQ(marked[0].substr(0, 18), "> Ar I   751.46520");
  EXPECT_EQ(r.out.front().substr(0, 18), "  Ar I   706.72180");
}

TEST_F(ConvertCli, ExportLinesAndSpectrum) {
  // The bundled lines carry no intensities (-1).
  const CliRun lines = Run("export-lines 700 800 751 1 -5");
  ASSERT_EQ(lines.status, 0) << lines.err;
  ASSERT_EQ(lines.out.size(), 3u);
  EXPECT_EQ(lines.out[0], "751.46520\t-1\tAr I  751.46520");
  EXPECT_EQ(FirstCell(lines.out[1]), "750.38690");
  EXPECT_EQ(FirstCell(lines.out[2]), "763.51060");

  const CliRun sp = Run("spectrum -5 0 10 20 750 752");
  ASSERT_EQ(sp.status, 0) << sp.err;
  const std::vector<std::string> expected = {"750.38690\t9\tAr I  750.38690",
                                             "751.46520\t9\tAr I  751.46520"};
  EXPECT_EQ(sp.out, expected);
}

// A half count beyond the lines there are gives every line, as the exact
// count does, without sizing anything by the count.
TEST_F(ConvertCli, ExportLinesWithAHugeHalfCount) {
  const CliRun all = Run("export-lines 600 800 700 30 -5");
  ASSERT_EQ(all.status, 0) << all.err;
  for (const char* count : {"2147483647", "30000000"}) {
    const CliRun r = Run(std::string("export-lines 600 800 700 ") + count + " -5");
    EXPECT_EQ(r.status, 0) << count << ": " << r.err;
    EXPECT_EQ(r.out, all.out) << count;
  }
}

TEST_F(ConvertCli, MatrixWritesTheFile) {
  const std::string file = dir_.path() + "/m.txt";
  const CliRun r = Run("matrix 2 '" + file + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = dir_.Read("m.txt");
  EXPECT_EQ(text.substr(0, 24),
            "            "
            "    11.54835");
  EXPECT_NE(text.find("E+007"), std::string::npos);
}

TEST_F(ConvertCli, BadArgumentsAreNamed) {
  struct Case {
    std::string args, message;
  };
  const std::vector<Case> cases = {
      {"window 700 x 751", "MAX: 'x' is not a valid floating point value"},
      {"export-lines 700 800 751 1.5 0", "HALFCOUNT: '1.5' is not a valid integer value"},
      {"export-lines 700 800 751 -1 0", "HALFCOUNT must not be negative"},
      {"matrix two m.txt", "WHAT: 'two' is not a valid integer value"},
      {"spectrum 0 0 0 1 700",
       "spectrum needs the arguments ATOMINT MOLINT MINSP MAXSP MINWL MAXWL"},
      {"window 1000 2000 1500", "Empty"},
      {"convert '" + dir_.path() + "/missing.txt' '" + dir_.path() + "/out.txt'",
       "Cannot open file"},
      // a long token is quoted cut short
      {"window 700 " + std::string(5000, 'x') + " 751",
       "MAX: '" + std::string(60, 'x') + "...' is not a valid floating point value\n"},
      {"matrix 2 '" + dir_.path() + "'",
       "Cannot create file \"" + dir_.path() + "\": not a regular file"},
  };
  for (const Case& c : cases) {
    const CliRun r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
}

}  // namespace
}  // namespace lumora
