// The line base's exports: the window list with its pivot, the stick list
// around the pivot, record labels, the stick spectrum and the level matrix.
#include "linedb/line_base.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "linefile_fixtures.h"
#include "base/errors.h"

namespace lumora {
namespace {

using testing::TempDir;

TRecord Atom(double wl, double intensity, double logGf = -1, int32_t order = 1) {
  TRecord r;
  r.Name = "Ar";
  r.Ion = "I";
  r.WaveLength = wl;
  r.RelIntensity = intensity;
  r.log_gf = logGf;
  r.Order = order;
  return r;
}

TMolRecord Mol(double wl, double intensity) {
  TMolRecord r;
  r.Name = "N2";
  r.Ion = "I";
  r.WaveLength = wl;
  r.Intensity = intensity;
  r.Frequency = 6e14;
  r.S12 = 1;
  r.E1 = 0;
  r.v1 = 0;
  r.v2 = 1;
  r.Note = "R1";
  r.Order = 1;
  return r;
}

struct BaseWith {
  explicit BaseWith(const std::vector<TRecord>& atoms, const std::vector<TMolRecord>& mols = {})
      : base(10, 5) {
    for (const auto& a : atoms) base.Add(a);
    for (const auto& m : mols) base.Add(m);
  }
  TTextBase base;
};

TEST(GetRecords, PivotIsTheLineNearestToTheWavelength) {
  struct Case {
    const char* what;
    double min, max, wl;
    int32_t pivot;
    size_t count;
  };
  const std::vector<Case> cases = {
      {"wavelength below the window", 399, 500, 300, 0, 3},
      {"wavelength above every line", 399, 500, 600, 2, 3},
      {"exactly on a line", 399, 500, 401, 1, 3},
      {"nearer to the lower neighbour", 399, 500, 401.4, 1, 3},
      {"nearer to the upper neighbour", 399, 500, 402.5, 2, 3},
      {"halfway keeps the upper one", 399, 500, 402, 2, 3},
      {"nearer to the first line", 399, 500, 400.2, 0, 3},
      {"window of one line below the wavelength", 400.5, 402, 500, 0, 1},
      {"window cut at the top", 399, 401, 402, 1, 2},
  };
  BaseWith b({Atom(400, 100), Atom(401, 5), Atom(403, -1)});
  for (const Case& c : cases) {
    int32_t pivot = -7;
    const auto list = b.base.GetRecords(c.min, c.max, c.wl, pivot);
    EXPECT_EQ(pivot, c.pivot) << c.what;
    EXPECT_EQ(list.size(), c.count) << c.what;
    EXPECT_EQ(b.base.OfferedLinesCount(), static_cast<int32_t>(c.count)) << c.what;
  }
}

TEST(GetRecords, NoLineAtOrAboveTheMinimumIsEmpty) {
  BaseWith b({Atom(400, 100)}, {Mol(401, 5)});
  int32_t pivot;
  try {
    b.base.GetRecords(402, 500, 450, pivot);
    ADD_FAILURE() << "no error";
  } catch (const TextBaseError& e) {
    EXPECT_STREQ(e.what(), "Empty");
  }
  TTextBase empty(10, 5);
  EXPECT_THROW(empty.GetRecords(0, 1000, 500, pivot), TextBaseError);
}

TEST(GetRecords, MergesMolecularBeforeAtomicAtEqualWavelength) {
  BaseWith b({Atom(499, 10), Atom(500, 20)}, {Mol(500, 30), Mol(501, 40)});
  int32_t pivot;
  const auto list = b.base.GetRecords(0, 1000, 500, pivot);
  const std::vector<std::string> expected = {
      "Ar I   499.00000      10 y",
      "N2 I   500.00000      30 y 0-1  R1",
      "Ar I   500.00000      20 y",
      "N2 I   501.00000      40 y 0-1  R1",
  };
  EXPECT_EQ(list, expected);
  EXPECT_EQ(pivot, 1);
  const std::vector<double> intensities = {10, 30, 20, 40};
  for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(b.base.OffLines_Int(k), intensities[k]) << k;
  EXPECT_EQ(b.base.OffLines_WL(3), 501);
}

TEST(GetRecords, EntryTexts) {
  TMolRecord bare = Mol(300, -1);
  bare.v1 = -1;
  bare.Note = "";
  bare.S12 = 0;
  BaseWith b({Atom(200, 1234.9, 0), Atom(400, 50, -1.2, 2), Atom(500, -1, 0.5)}, {bare});
  int32_t pivot;
  const auto list = b.base.GetRecords(0, 1000, 0, pivot);
  const std::vector<std::string> expected = {
      "Ar I   200.00000    1234 n",  // integer part; log gf 0: no
      "N2 I   300.00000         n",  // missing intensity, no band, no note
      "Ar I   400.00000 2    50 y",  // a second-order copy
      "Ar I   500.00000         y",
  };
  EXPECT_EQ(list, expected);
}

TEST(OfferedLines, IndexOutOfRangeIsARangeError) {
  BaseWith b({Atom(400, 100), Atom(401, 5)});
  int32_t pivot;
  b.base.GetRecords(0, 1000, 400, pivot);
  for (int32_t index : {-1, 2}) {
    EXPECT_THROW(b.base.OffLines_WL(index), RangeError) << index;
    EXPECT_THROW(b.base.OffLines_Int(index), RangeError) << index;
    EXPECT_THROW(b.base.OffRecordToStr(index), RangeError) << index;
  }
  EXPECT_EQ(b.base.OffRecordToStr(1), "Ar I  401.00000");
}

TEST(RecordToStr, ShowsTheFirstOrderWavelengthAndTheOrder) {
  struct Case {
    const char* what;
    TRecord rec;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"first order", Atom(400, 1, 1, 1), "Ar I  400.00000"},
      {"second-order copy", Atom(800, 1, 1, 2), "Ar I  400.00000 (2)"},
      {"third-order copy", Atom(1200.6, 1, 1, 3), "Ar I  400.20000 (3)"},
      {"record never read from a file", Atom(400, 1, 1, 0), "Ar I  400.00000"},
  };
  for (const Case& c : cases) EXPECT_EQ(TTextBase::RecordToStr(c.rec), c.text) << c.what;

  TMolRecord m = Mol(500, 1);
  EXPECT_EQ(TTextBase::RecordToStr(m), "N2 I 0-1 500.00000 R1");
  m.Order = 2;
  EXPECT_EQ(TTextBase::RecordToStr(m), "N2 I 0-1 250.00000 (2) R1");
  m.v2 = -1;
  m.Note = "";
  m.Order = 1;
  EXPECT_EQ(TTextBase::RecordToStr(m), "N2 I 500.00000");
}

TEST(ExportOffLines, PivotFirstThenStrongLinesBelowThenAbove) {
  struct Case {
    const char* what;
    double pivotWl;
    int32_t halfCount;
    double minIntensity;
    std::vector<double> wavelengths;
  };
  const std::vector<Case> cases = {
      {"half count 0: the pivot alone", 402, 0, 0, {402}},
      {"weak pivot stays, weak neighbours go", 401, 1, 2, {401, 400, 402}},
      {"below descending, above ascending", 402, 2, 0, {402, 401, 400, 403, 404}},
      {"nothing below: more above", 400, 1, 0, {400, 401, 402}},
      {"intensity must exceed the minimum", 402, 2, 10, {402, 400, 404}},
      {"half count beyond the lines: all of them", 402, 7, 0, {402, 401, 400, 403, 404}},
      {"largest half count: all of them", 401, INT32_MAX, 2, {401, 400, 402, 403, 404}},
      {"half count of millions: all of them", 403, 30000000, 0, {403, 402, 401, 400, 404}},
  };
  BaseWith b({Atom(400, 20), Atom(401, 1), Atom(402, 50), Atom(403, 10), Atom(404, 60)});
  for (const Case& c : cases) {
    int32_t pivot;
    b.base.GetRecords(0, 1000, c.pivotWl, pivot);
    TData lines = {{1, 1}};
    std::vector<std::string> labels = {"old"};
    b.base.ExportOffLines(pivot, c.halfCount, c.minIntensity, lines, labels);
    std::vector<double> wl;
    for (const auto& l : lines) wl.push_back(l.WLength);
    EXPECT_EQ(wl, c.wavelengths) << c.what;
    ASSERT_EQ(labels.size(), lines.size()) << c.what;
    EXPECT_EQ(labels[0], TTextBase::RecordToStr(Atom(c.pivotWl, 0))) << c.what;
  }
}

TEST(ExportOffLines, BadPivotOrHalfCount) {
  BaseWith b({Atom(400, 20)});
  int32_t pivot;
  b.base.GetRecords(0, 1000, 400, pivot);
  TData lines;
  std::vector<std::string> labels;
  EXPECT_THROW(b.base.ExportOffLines(1, 1, 0, lines, labels), RangeError);
  EXPECT_THROW(b.base.ExportOffLines(0, -1, 0, lines, labels), RangeError);
}

TEST(CreateSpectrum, SelectsSortsAndScales) {
  struct Case {
    const char* what;
    TDSpParams params;
    std::vector<double> wavelengths, intensities;
  };
  // Intensities 10, 30 and 20 (molecular); the scale maps I to
  // MinSpInt + 0.5 * I / (largest - smallest) * (MaxSpInt - MinSpInt).
  const std::vector<Case> cases = {
      {"all selected", {0, 0, 1, 5, 0, 1000, ""}, {450, 500, 600}, {1 + 2.0, 1 + 3.0, 1 + 1.0}},
      {"window bounds inclusive", {0, 0, 1, 5, 500, 600, ""}, {500, 600}, {1 + 3.0, 1 + 1.0}},
      {"one line is shifted", {15, 0, 2, 5, 500, 1000, ""}, {500}, {32}},
      {"intensity limits are inclusive", {30, 20, 2, 5, 0, 1000, ""}, {450, 500}, {2 + 3, 2 + 4.5}},
      {"empty target range: shifted", {0, 0, 3, 3, 0, 1000, ""}, {450, 500, 600}, {23, 33, 13}},
      {"nothing selected", {0, 0, 1, 5, 700, 800, ""}, {}, {}},
  };
  BaseWith b({Atom(500, 30), Atom(600, 10)}, {Mol(450, 20)});
  for (const Case& c : cases) {
    TData sp = {{9, 9}};
    std::vector<std::string> notes = {"old"};
    b.base.CreateSpectrum(c.params, sp, notes);
    std::vector<double> wl, in;
    for (const auto& s : sp) {
      wl.push_back(s.WLength);
      in.push_back(s.Intensity);
    }
    EXPECT_EQ(wl, c.wavelengths) << c.what;
    ASSERT_EQ(in.size(), c.intensities.size()) << c.what;
    for (size_t k = 0; k < in.size(); ++k) EXPECT_DOUBLE_EQ(in[k], c.intensities[k]) << c.what;
    ASSERT_EQ(notes.size(), sp.size()) << c.what;
  }
}

TEST(CreateSpectrum, EqualIntensitiesAreShiftedNotScaled) {
  BaseWith b({Atom(500, 10), Atom(600, 10)}, {Mol(550, 10)});
  TData sp;
  std::vector<std::string> notes;
  b.base.CreateSpectrum(TDSpParams{0, 0, 2, 5, 0, 1000, ""}, sp, notes);
  ASSERT_EQ(sp.size(), 3u);
  for (const auto& s : sp) EXPECT_EQ(s.Intensity, 12) << s.WLength;
}

TEST(CreateSpectrum, LabelsMoveWithTheirLines) {
  BaseWith b({Atom(500, 30), Atom(400, 10, 1, 2)}, {Mol(450, 20)});
  TData sp;
  std::vector<std::string> notes;
  b.base.CreateSpectrum(TDSpParams{0, 0, 0, 0, 0, 1000, ""}, sp, notes);
  const std::vector<std::string> expected = {"Ar I  200.00000 (2)", "N2 I 0-1 450.00000 R1",
                                             "Ar I  500.00000"};
  EXPECT_EQ(notes, expected);
}

// Line files of one element and ion with lines between the given levels.
struct MatrixBase {
  MatrixBase(const std::vector<std::string>& els = {"Ar"}) : base(10, 5) {
    testing::AtomLine l;
    auto line = [&](const std::string& numbers, const std::string& levels) {
      l.numbers = numbers;
      l.levels = levels;
      return l.Text();
    };
    dir.Write("Ar_I.txt", testing::AtomHeader() +
                              testing::Lines({line("500.5 100 2.5 - - -1.25", "0 2.5 0 1 1 3"),
                                              line("600.25 50 1 - - -", "1.5 2.5 1 1 3 3"),
                                              line("700 - 1 - - 0.5", "1.5 1.5 1 1 3 3")}));
    base.FillWith(dir.path(), els, {}, {"I"}, {}, false, false);
  }
  TempDir dir;
  TTextBase base;
};

TEST(CreateMatrix, WritesTheSelectedQuantityBetweenLevels) {
  const std::string head = "                 0.00000     1.50000     2.50000\r\n";
  struct Case {
    int32_t ofWhat;
    std::string to25a, to25b;  // cells 0 -> 2.5 and 1.5 -> 2.5
  };
  const std::vector<Case> cases = {
      {0, "   500.50000", "   600.25000"}, {1, "       100.0", "        50.0"},
      {2, "  2.500E+008", "  1.000E+008"}, {3, "      -1.250", "           0"},
      {4, "    0.000000", "    1.500000"}, {5, "    2.500000", "    2.500000"},
  };
  MatrixBase m;
  for (const Case& c : cases) {
    const std::string file = m.dir.path() + "/matrix.txt";
    EXPECT_TRUE(m.base.CreateMatrix(c.ofWhat, file).empty());
    const std::string zero = "           0";
    // 0 -> 0 is never set: Ei 0 reads as 0 for ofWhat 4 and is shown as "0".
    const std::string expected = head + "     0.00000" + zero + zero +
                                 (c.ofWhat == 4 ? zero : c.to25a) + "\r\n" + "     1.50000" + zero +
                                 zero + c.to25b + "\r\n" + "     2.50000" + zero + zero + zero +
                                 "\r\n";
    EXPECT_EQ(m.dir.Read("matrix.txt"), expected) << c.ofWhat;
  }
}

TEST(CreateMatrix, UnknownQuantityGivesZerosOnly) {
  MatrixBase m;
  for (int32_t ofWhat : {-1, 6}) {
    m.base.CreateMatrix(ofWhat, m.dir.path() + "/matrix.txt");
    std::istringstream text(m.dir.Read("matrix.txt"));
    std::string line;
    std::getline(text, line);
    int rows = 0;
    while (std::getline(text, line)) {
      ++rows;
      std::istringstream cells(line.substr(12));
      for (std::string cell; cells >> cell;) EXPECT_EQ(cell, "0") << ofWhat;
    }
    EXPECT_EQ(rows, 3) << ofWhat;
  }
}

TEST(CreateMatrix, Errors) {
  auto message = [](auto&& call) {
    try {
      call();
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const std::string few = "CreateAMatrix: a few elements or ionizations";
  TTextBase unfilled(10, 5);
  EXPECT_EQ(message([&] { unfilled.CreateMatrix(0, "/nonexistent/m.txt"); }), few);
  MatrixBase two({"Ar", "Ne"});
  EXPECT_EQ(message([&] { two.base.CreateMatrix(0, two.dir.path() + "/m.txt"); }), few);

  MatrixBase m;
  TRecord odd = Atom(800, 1);
  odd.Ei_eV = std::numeric_limits<double>::quiet_NaN();
  odd.Ek_eV = 1.5;
  m.base.Add(odd);
  EXPECT_EQ(message([&] { m.base.CreateMatrix(0, m.dir.path() + "/m.txt"); }),
            "CreateMatrix: E not found");

  MatrixBase w;
  EXPECT_THROW(w.base.CreateMatrix(0, w.dir.path() + "/no/such/m.txt"), InOutError);
}

// Runs in a child: 3 when writing the matrix failed with InOutError.
int CreateMatrixUnderSizeLimit(const TTextBase& base, const std::string& path) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{16, 16};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  try {
    base.CreateMatrix(0, path);
  } catch (const InOutError&) {
    return 3;
  }
  return 0;
}

TEST(CreateMatrix, AFailedWriteKeepsTheOldMatrixWhole) {
  MatrixBase m;
  const std::string path = m.dir.Write("matrix.txt", "the previous matrix\r\n");
  // A file-size limit makes the write fail even for the superuser.
  EXPECT_EXIT(std::exit(CreateMatrixUnderSizeLimit(m.base, path)), ::testing::ExitedWithCode(3),
              "");
  EXPECT_EQ(m.dir.Read("matrix.txt"), "the previous matrix\r\n");
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(m.dir.path())) (void)e, ++entries;
  EXPECT_EQ(entries, 2) << "the line file and the matrix, no temporary file";
}

// A target that is no regular file is refused; neither it nor a link to it
// may disappear.
TEST(CreateMatrix, NeverRemovesATargetThatIsNoRegularFile) {
  MatrixBase m;
  namespace fs = std::filesystem;
  fs::create_directory(m.dir / "folder");
  std::vector<std::string> targets = {m.dir / "folder"};
  if (fs::exists("/dev/full")) {
    fs::create_symlink("/dev/full", m.dir / "full");
    targets.push_back(m.dir / "full");
  }
  for (const std::string& target : targets) {
    try {
      m.base.CreateMatrix(0, target);
      ADD_FAILURE() << target << ": no error";
    } catch (const InOutError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + target + "\": not a regular file");
    }
    EXPECT_TRUE(fs::exists(fs::symlink_status(target))) << target;
  }
  EXPECT_TRUE(fs::is_directory(m.dir / "folder"));
}

}  // namespace
}  // namespace lumora
