// Building line files from a pipe-separated source table, and converting
// line files.
#include "linedb/line_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "linefile_fixtures.h"
#include "base/errors.h"

namespace lumora {
namespace {

using testing::AtomHeader;
using testing::LineAt;
using testing::Lines;
using testing::TempDir;

namespace fs = std::filesystem;

// A source table as the public line databases export it: 5 header lines,
// then rows from the wavelength on; "Ei - Ek" and "gi - gk" share a column.
const std::string kSourceHeader = Lines({
    "-------------------------------------------------------------------",
    " Observed | Rel.  |   Aki    |   fik    |    S     | log_gf | Acc |  Ei  -  Ek  | ...",
    "   (nm)   | Int.  | (s^-1)   |          |          |        |     |    (eV)     | ...",
    "-------------------------------------------------------------------",
    "",
});

// 100bl intensity, an empty S, integer J.
const std::string kRowA =
    " 696.5431 | 100bl | 6.39e+06 | 2.78e-02 |          | -0.856 | AA  |  11.54835442 -  "
    "13.32785705 | 3s2.3p5.(2P*<3/2>).4s | 2[3/2]* | 2 | 3s2.3p5.(2P*<3/2>).4p | 2[1/2] | 1 |  5 - "
    " "
    "3 | E1 | T7771 | L7760 |";
// A fraction J, no references.
const std::string kRowB =
    " 750.3869 | 20000 | 4.72e+07 | 2.99e-01 | 1.19e+01 | -0.223 | A+  |  13.27303 -  14.92546 | "
    "3s2.3p5.(2P*<1/2>).4s | 2[1/2]* | 3/2 | 3s2.3p5.(2P*<1/2>).4p | 2[1/2] | 0 |  4 -  2 |  |  |  "
    "|";
// Not a wavelength: a repeated heading and a rule inside the data.
const std::string kHeadingRow =
    " Ritz     | Rel.  | x | x | x | x | x |  x -  x | x | x | x | x | x | x |  x -  x | x | x | x "
    "|";
// A wavelength of 0 would end the data of the line file when it is read.
const std::string kZeroRow = "   0.0000" + kRowA.substr(9);
const std::string kRuleRow = "-------------------------------------------------------------------";

std::string ExpectedTable() {
  const std::string rule(252, '-');
  std::string t =
      Lines({rule,
             "  AR   | Wavelength |     Rel.   |     Aki    |     fik    |      S     |   "
             "log gf   |Acc |     Ei     |     Ek     |     Ji     |     Jk     |    gi   "
             " |    gk    |Configurations                          |Terms           |Type|"
             "TP Refs       |Line Refs",
             "  I    |    Air     |     Int.   |  (10^8s-1) |            |            |    "
             "        |    |    (eV)    |    (eV)    |            |            |          "
             "|          |                                        |                |    |"
             "              |         ",
             "       |    (nm)    |            |            |            |            |    "
             "        |    |            |            |            |            |          "
             "|          |                                        |                |    |"
             "              |      ",
             rule});
  // Name, ion, the numbers in 13 columns each (integers in 11), then the
  // joined configurations and terms, the type, TP refs and line refs.
  t += "Ar I    "
       "   696.54310          100    6.390E-02    2.780E-02            -       -0.856 AA    "
       "11.54835442  13.32785705          2.0          1.0          5          3 "
       "3s2.3p5.(2P*<3/2>).4s - 3s2.3p5.(2P*<3/2>).4p 2[3/2]* - 2[1/2] E1   T7771          "
       "L7760\r\n";
  t += "Ar I    "
       "   750.38690        20000    4.720E-01    2.990E-01    1.190E+01       -0.223 A+    "
       "13.27303000  14.92546000          1.5          0.0          4          2 "
       "3s2.3p5.(2P*<1/2>).4s - 3s2.3p5.(2P*<1/2>).4p 2[1/2]* - 2[1/2] "
       "                    \r\n";
  return t;
}

std::vector<TRecord> ReadBack(const std::string& path) {
  TAtomFile file(path);
  file.OpenRead();
  std::vector<TRecord> records;
  TRecord r;
  while (file.GetRecord(r)) records.push_back(r);
  file.Close();
  return records;
}

bool HasPartialFiles(const std::string& dir) {
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".part") return true;
  return false;
}

TEST(Extract, BuildsTheLineFileOfTheGivenElementAndIon) {
  TempDir dir;
  const std::string source = dir.Write(
      "nist.txt", kSourceHeader + Lines({kRowA, kHeadingRow, kRuleRow, "", kZeroRow, kRowB}));
  std::ostringstream progress;
  auto file = TAtomFile::Extract(source, dir.path(), " Ar ", "I", progress);
  file->Close();

  EXPECT_EQ(file->FileName(), dir.path() + "/Ar_I.txt");
  EXPECT_EQ(dir.Read("Ar_I.txt"), ExpectedTable());
  EXPECT_EQ(progress.str(), "File " + source +
                                " opened.\n"
                                "  1 Ar I   696.5431\n"
                                "  2 Ar I   750.3869\n"
                                "Written 2 lines.\n");
  EXPECT_FALSE(HasPartialFiles(dir.path()));

  const std::vector<TRecord> back = ReadBack(dir.path() + "/Ar_I.txt");
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].Name, "Ar");
  EXPECT_EQ(back[0].Ion, "I");
  EXPECT_DOUBLE_EQ(back[0].WaveLength, 696.5431);
  EXPECT_DOUBLE_EQ(back[0].RelIntensity, 100);
  EXPECT_NEAR(back[0].Aki, 6.39e6, 1e-6);
  EXPECT_DOUBLE_EQ(back[0].S, -1);  // missing in the source
  EXPECT_DOUBLE_EQ(back[0].log_gf, -0.856);
  EXPECT_EQ(back[0].Acc, "AA");
  EXPECT_DOUBLE_EQ(back[0].Ei_eV, 11.54835442);
  EXPECT_DOUBLE_EQ(back[0].Ek_eV, 13.32785705);
  EXPECT_DOUBLE_EQ(back[0].Ji, 2);
  EXPECT_EQ(back[0].gi, 5);
  EXPECT_EQ(back[0].gk, 3);
  EXPECT_DOUBLE_EQ(back[1].WaveLength, 750.3869);
  EXPECT_DOUBLE_EQ(back[1].Ji, 1.5);
  EXPECT_DOUBLE_EQ(back[1].Jk, 0);
  EXPECT_EQ(back[1].gk, 2);
}

TEST(Extract, ElementsOtherThanIronGetRecords) {
  TempDir dir;
  const std::string source = dir.Write("nist.txt", kSourceHeader + Lines({kRowA}));
  std::ostringstream progress;
  for (const auto& [el, ion] : {std::pair{"Fe", "II"}, std::pair{"Ne", "I"}}) {
    TAtomFile::Extract(source, dir.path(), el, ion, progress)->Close();
    const std::vector<TRecord> back = ReadBack(dir.path() + "/" + el + "_" + ion + ".txt");
    ASSERT_EQ(back.size(), 1u) << el;
    EXPECT_EQ(back[0].Name, el);
    EXPECT_EQ(back[0].Ion, ion);
  }
}

TEST(Extract, FieldConversions) {
  struct Case {
    const char* what;
    std::string intensity, aki, j, g;
    double wantIntensity, wantAki, wantJ;
    int32_t wantG;
  };
  // Missing values are written as "-" and read back as -1 (-1E8 for Aki).
  const std::vector<Case> cases = {
      {"plain", "500", "1e8", "0.5", "2", 500, 1e8, 0.5, 2},
      {"three flag characters dropped", "7abc", "1e8", "5/2", "2", 7, 1e8, 2.5, 2},
      {"four flag characters: missing", "7abcd", "1e8", "1", "2", -1, 1e8, 1, 2},
      {"bracketed intensity", "(30)", "1e8", "1", "2", -1, 1e8, 1, 2},
      {"empty fields", "", "", "", "", -1, -1e8, -1, -1},
      {"decimal comma and zero denominator", "n/a", "1,5e8", "3/0", "2.5", -1, -1e8, -1, -1},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string row = " 500.0 | " + c.intensity + " | " + c.aki +
                            " | 1e-2 | 1 | -1 | B | 1 - 3 | c1 | t1 | " + c.j +
                            " | c2 | t2 | 1 | " + c.g + " - 4 | E1 | | |";
    const std::string source = dir.Write("src.txt", kSourceHeader + Lines({row}));
    std::ostringstream progress;
    TAtomFile::Extract(source, dir.path(), "Ar", "I", progress)->Close();
    const std::vector<TRecord> back = ReadBack(dir.path() + "/Ar_I.txt");
    ASSERT_EQ(back.size(), 1u) << c.what;
    EXPECT_DOUBLE_EQ(back[0].RelIntensity, c.wantIntensity) << c.what;
    EXPECT_NEAR(back[0].Aki, c.wantAki, 1e-6) << c.what;
    EXPECT_DOUBLE_EQ(back[0].Ji, c.wantJ) << c.what;
    EXPECT_EQ(back[0].gi, c.wantG) << c.what;
  }
}

// What must never happen: a partial or header-only target passing as a
// complete line file, or a good target lost to a bad source.
TEST(Extract, BadInputFailsAndLeavesTheTargetAlone) {
  struct Case {
    const char* what;
    std::string content;  // of the source; empty: no source file at all
    bool sourceExists;
    const char* message;  // part of the error message
  };
  const std::vector<Case> cases = {
      {"missing source", "", false, "Cannot open file"},
      {"empty source", "", true, "has no lines after its 5 header lines"},
      {"header only", kSourceHeader, true, "has no lines after its 5 header lines"},
      {"ragged columns",
       kSourceHeader + Lines({kRowA,
                              " 700.1 | 5 | 1e8 | 1 | 1 | 1 | A | 1 - 2 | c | t "
                              "| 1 | c | t | 1 | 3 - 3 | E1 | |"}),
       true, "Line 7 of"},
      {"no data rows", kSourceHeader + Lines({kHeadingRow, "696.5431,100,6.39e+06"}), true,
       "has no line with a wavelength"},
      {"too few columns", kSourceHeader + Lines({" 700.1 | 5 | 1e8 | 1 |"}), true, "columns"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string source = dir.path() + "/src.txt";
    if (c.sourceExists) dir.Write("src.txt", c.content);
    dir.Write("Ar_I.txt", "the previous table\r\n");
    std::ostringstream progress;
    try {
      TAtomFile::Extract(source, dir.path(), "Ar", "I", progress);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
    }
    EXPECT_EQ(dir.Read("Ar_I.txt"), "the previous table\r\n") << c.what;
    EXPECT_FALSE(HasPartialFiles(dir.path())) << c.what;
  }
}

TEST(Extract, UnwritableTargetFailsWithoutLeavingAFile) {
  TempDir dir;
  const std::string source = dir.Write("src.txt", kSourceHeader + Lines({kRowA}));
  dir.Write("plainfile", "x");
  std::ostringstream progress;
  for (const std::string& target : {dir.path() + "/no/such/folder", dir.path() + "/plainfile"}) {
    try {
      TAtomFile::Extract(source, target, "Ar", "I", progress);
      ADD_FAILURE() << target << ": no error";
    } catch (const InOutError& e) {
      EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + target + "/Ar_I.txt\""),
                std::string::npos)
          << e.what();
    }
  }
  EXPECT_FALSE(HasPartialFiles(dir.path()));
  EXPECT_FALSE(fs::exists(dir.path() + "/Ar_I.txt"));
}

// The temporary file is the program's own: a user's file of any name beside
// the target is never truncated or removed.
TEST(Extract, LeavesTheUsersOtherFilesAlone) {
  TempDir dir;
  const std::string source = dir.Write("src.txt", kSourceHeader + Lines({kRowA}));
  dir.Write("Ar_I.txt.part", "a file of the user's");
  std::ostringstream progress;
  TAtomFile::Extract(source, dir.path(), "Ar", "I", progress)->Close();
  EXPECT_EQ(dir.Read("Ar_I.txt.part"), "a file of the user's");
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path()))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"src.txt", "Ar_I.txt", "Ar_I.txt.part"}));
}

TEST(Extract, NeedsAnElementAndAnIon) {
  TempDir dir;
  const std::string source = dir.Write("src.txt", kSourceHeader + Lines({kRowA}));
  std::ostringstream progress;
  EXPECT_THROW(TAtomFile::Extract(source, dir.path(), " ", "I", progress), Error);
  EXPECT_THROW(TAtomFile::Extract(source, dir.path(), "Ar", "", progress), Error);
}

// Aki of the target column is 1E-8 of the source column.
TEST(ConvertLineFile, CopiesRecordsWithScaledAkiAndNoHeader) {
  TempDir dir;
  const std::string source = dir.Write(
      "Ar_I.txt", AtomHeader() + Lines({LineAt("400.5"), LineAt("401.25"), "", LineAt("500")}));
  ConvertLineFile(source, dir.path() + "/out.txt");
  std::istringstream out(dir.Read("out.txt"));
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(out, line);) {
    std::istringstream words(line);
    rows.emplace_back(std::istream_iterator<std::string>(words),
                      std::istream_iterator<std::string>());
  }
  ASSERT_EQ(rows.size(), 2u);  // the data end at the blank line
  for (size_t k = 0; k < rows.size(); ++k) {
    ASSERT_GE(rows[k].size(), 5u);
    EXPECT_EQ(rows[k][0], "Ar");
    EXPECT_EQ(rows[k][2], k == 0 ? "400.50000" : "401.25000");
    EXPECT_EQ(rows[k][4], "1.500E-08");  // 1.5 in the source
  }
}

TEST(ConvertLineFile, ConvertsAFileOntoItself) {
  TempDir dir;
  const std::string path = dir.Write("Ar_I.txt", AtomHeader() + Lines({LineAt("400.5")}));
  ConvertLineFile(path, path);
  EXPECT_NE(dir.Read("Ar_I.txt").find("1.500E-08"), std::string::npos);
  EXPECT_FALSE(HasPartialFiles(dir.path()));
}

TEST(ConvertLineFile, FailuresLeaveNoTarget) {
  TempDir dir;
  const std::string source = dir.Write("Ar_I.txt", AtomHeader() + Lines({LineAt("400.5")}));
  EXPECT_THROW(ConvertLineFile(dir.path() + "/missing.txt", dir.path() + "/out.txt"), InOutError);
  EXPECT_FALSE(fs::exists(dir.path() + "/out.txt"));
  EXPECT_THROW(ConvertLineFile(source, dir.path() + "/no/out.txt"), InOutError);
  EXPECT_FALSE(HasPartialFiles(dir.path()));
}

}  // namespace
}  // namespace lumora
