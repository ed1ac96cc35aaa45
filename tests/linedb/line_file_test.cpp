#include "linedb/line_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "linefile_fixtures.h"

namespace lumora {
namespace {

using testing::AtomHeader;
using testing::AtomLine;
using testing::LineAt;
using testing::Lines;
using testing::SampleRecord;
using testing::TempDir;

const char* const kEols[] = {"\n", "\r\n"};

// Every record up to the first one the reader refuses.
std::vector<TRecord> ReadAtoms(const std::string& path) {
  TAtomFile f(path);
  f.OpenRead();
  std::vector<TRecord> recs;
  TRecord r;
  while (f.GetRecord(r)) recs.push_back(r);
  return recs;
}

struct FieldCase {
  const char* what;
  std::function<std::string(AtomLine)> line;  // the line under test
  std::function<void(const TRecord&)> check;
};

// Each case line is followed by an ordinary line, which must read intact
// whatever the case line did.
TEST(AtomFileFields, EachColumnRuleWithLfAndCrLf) {
  const FieldCase cases[] = {
      {"all columns", [](AtomLine l) { return l.Text(); },
       [](const TRecord& r) {
         EXPECT_EQ(r.Name, "Ar");
         EXPECT_EQ(r.Ion, "I");
         EXPECT_DOUBLE_EQ(r.WaveLength, 696.5431);
         EXPECT_DOUBLE_EQ(r.RelIntensity, 10000);
         EXPECT_DOUBLE_EQ(r.Aki, 6.39e6);
         EXPECT_DOUBLE_EQ(r.fik, 0.0152);
         EXPECT_EQ(r.S, -1);
         EXPECT_DOUBLE_EQ(r.log_gf, -0.5);
         EXPECT_EQ(r.Acc, "B+");
         EXPECT_DOUBLE_EQ(r.Ei_eV, 11.54835442);
         EXPECT_DOUBLE_EQ(r.Ek_eV, 13.32785509);
         EXPECT_EQ(r.Ji, 2);
         EXPECT_EQ(r.Jk, 1);
         EXPECT_EQ(r.gi, 5);
         EXPECT_EQ(r.gk, 3);
         EXPECT_EQ(r.Confi, "3s2.3p5.(2P*<3/2>).4s");
         EXPECT_EQ(r.Confs, "3s2.3p5.(2P*<3/2>).4s - 3s2.3p5.(2P*<3/2>).4p");
         EXPECT_EQ(r.Termk, "2[3/2]");
         EXPECT_EQ(r.Terms, "2[3/2]* - 2[3/2]");
         EXPECT_EQ(r.LineType, "E1");
         EXPECT_EQ(r.LineRefs, "L7760");
         EXPECT_TRUE(r.TPRefs.empty());
         EXPECT_EQ(r.Order, 1);
       }},
      {"missing numbers",
       [](AtomLine l) {
         l.numbers = "500 - - - - -";
         l.levels = "- - - - - -";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.RelIntensity, -1);
         EXPECT_EQ(r.Aki, -1e8);
         EXPECT_EQ(r.fik, -1);
         EXPECT_EQ(r.log_gf, 0);
         EXPECT_EQ(r.Ei_eV, -1);
         EXPECT_EQ(r.Jk, -1);
         EXPECT_EQ(r.gi, -1);
         EXPECT_EQ(r.gk, -1);
         EXPECT_EQ(r.Acc, "B+");
         EXPECT_EQ(r.Termi, "2[3/2]*");
       }},
      {"decimal comma",
       [](AtomLine l) {
         l.numbers = "500 100 1 0,25 3 -1";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.fik, -1);
         EXPECT_EQ(r.S, 3);
         EXPECT_EQ(r.log_gf, -1);
       }},
      {"exponent form",
       [](AtomLine l) {
         l.numbers = "6.965431E2 1e4 6.39e-2 1.52E-2 - -5e-1";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.WaveLength, 696.5431);
         EXPECT_EQ(r.RelIntensity, 10000);
         EXPECT_DOUBLE_EQ(r.Aki, 6.39e6);
         EXPECT_EQ(r.log_gf, -0.5);
       }},
      {"integer weight with a point",
       [](AtomLine l) {
         l.levels = "1 2 2 1 5.0 3";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.gi, -1);
         EXPECT_EQ(r.gk, 3);
         EXPECT_EQ(r.Confi, "3s2.3p5.(2P*<3/2>).4s");
       }},
      {"one-letter element",
       [](AtomLine l) {
         l.name = "H";
         return l.Text();
       },
       [](const TRecord& r) { EXPECT_EQ(r.Name, "H"); }},
      {"blank element",
       [](AtomLine l) {
         l.name = "";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.Name, "");
         EXPECT_DOUBLE_EQ(r.WaveLength, 696.5431);
       }},
      {"two blanks before the accuracy code",
       [](AtomLine l) {
         l.numbers += " ";
         l.acc = "AAA+";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.Acc, "AAA");
         EXPECT_EQ(r.Ei_eV, -1);  // the stray "+" became this token
         EXPECT_DOUBLE_EQ(r.Ek_eV, 11.54835442);
       }},
      {"long line references",
       [](AtomLine l) {
         l.refs = "R123456789012345678901234567";
         return l.Text();
       },
       [](const TRecord& r) { EXPECT_EQ(r.LineRefs, "R1234567890123456789"); }},
      {"line ends after the type column",
       [](AtomLine l) { return l.Text().substr(0, l.Text().size() - l.refs.size() - 1); },
       [](const TRecord& r) {
         EXPECT_EQ(r.LineType, "E1");
         EXPECT_TRUE(r.LineRefs.empty());
       }},
      {"line ends inside the upper configuration",
       [](AtomLine l) {
         std::string t = l.Text();
         return t.substr(0, t.find("4p") + 1);
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.Confk, "3s2.3p5.(2P*<3/2>).4");
         EXPECT_TRUE(r.Termi.empty());
         EXPECT_TRUE(r.Termk.empty());
         EXPECT_TRUE(r.LineType.empty());
         EXPECT_TRUE(r.LineRefs.empty());
       }},
      {"over-long lower configuration",
       [](AtomLine l) {
         l.confi = std::string(40, 'c') + "XY";
         return l.Text();
       },
       [](const TRecord& r) {
         // The column takes 40 characters and the separator one more; the
         // rest shifts into the next column, the blanks after it absorb it.
         EXPECT_EQ(r.Confi, std::string(40, 'c'));
         EXPECT_EQ(r.Confk, "Y 3s2.3p5.(2P*<3/2>).4p");
         EXPECT_EQ(r.Confs, std::string(40, 'c') + " - Y 3s2.3p5.(2P*<3/2>).4p");
         EXPECT_EQ(r.Termi, "2[3/2]*");
         EXPECT_EQ(r.Terms, "2[3/2]* - 2[3/2]");
         EXPECT_EQ(r.LineType, "E1");
       }},
      {"full-width texts in every column",
       [](AtomLine l) {
         l.confi = std::string(40, 'i');
         l.confk = std::string(40, 'k');
         l.termi = std::string(16, 't');
         l.termk = std::string(16, 'u');
         l.type = std::string(8, 'e');
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.Confs, std::string(40, 'i') + " - " + std::string(40, 'k'));
         EXPECT_EQ(r.Terms, std::string(16, 't') + " - " + std::string(16, 'u'));
         EXPECT_EQ(r.LineType, std::string(8, 'e'));
         EXPECT_EQ(r.LineRefs, "L7760");
       }},
      {"blanks and tabs inside texts stay, around them go",
       [](AtomLine l) {
         l.confi = " \t3s2\t3p5  4s\t";
         l.termk = "\t2[3/2]";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.Confi, "3s2\t3p5  4s");
         EXPECT_EQ(r.Termk, "2[3/2]");
         EXPECT_EQ(r.Confs, "3s2\t3p5  4s - 3s2.3p5.(2P*<3/2>).4p");
       }},
      {"numbers apart by tabs and runs of blanks",
       [](AtomLine l) {
         l.numbers = "696.5431\t10000 \t 0.0639\t\t0.0152   -\t-0.5";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_DOUBLE_EQ(r.WaveLength, 696.5431);
         EXPECT_DOUBLE_EQ(r.Aki, 6.39e6);
         EXPECT_DOUBLE_EQ(r.log_gf, -0.5);
         EXPECT_EQ(r.Acc, "B+");
       }},
      {"integer token beyond 32 characters",
       [](AtomLine l) {
         l.levels = "11.54835442 13.32785509 2 1 5" + std::string(31, '0') + "7 3";
         return l.Text();
       },
       [](const TRecord& r) {
         // The token is cut at 32 characters, too large for an integer; the
         // rest of it is the next number.
         EXPECT_EQ(r.gi, -1);
         EXPECT_EQ(r.gk, 7);
         EXPECT_EQ(r.Confi, "3 3s2.3p5.(2P*<3/2>).4s");
         EXPECT_EQ(r.Termi, "2[3/2]*");
       }},
      {"real token beyond 64 characters",
       [](AtomLine l) {
         l.numbers = "696.5431 10000 0.0639 0.0152 1" + std::string(64, '0') + " -0.5";
         return l.Text();
       },
       [](const TRecord& r) {
         EXPECT_EQ(r.S, 1e63);
         EXPECT_EQ(r.log_gf, 0);  // the last "0"
         EXPECT_EQ(r.Acc, "-0.5");
         EXPECT_EQ(r.Ei_eV, -1);  // "B+"
       }},
  };
  for (const char* eol : kEols) {
    for (const FieldCase& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (eol[0] == '\r' ? " (CR LF)" : " (LF)"));
      TempDir dir;
      std::string path = dir.Write(
          "Ar_I.txt", AtomHeader(eol) + Lines({c.line(AtomLine()), LineAt("700", "next")}, eol));
      auto recs = ReadAtoms(path);
      ASSERT_EQ(recs.size(), 2u);
      c.check(recs[0]);
      EXPECT_EQ(recs[1].WaveLength, 700);
      EXPECT_EQ(recs[1].LineRefs, "next");
      EXPECT_EQ(recs[1].Confk, "3s2.3p5.(2P*<3/2>).4p");
    }
  }
}

TEST(AtomFileData, EndsAtTheFirstInvalidLine) {
  struct Case {
    const char* what;
    std::string content;  // the whole file, lines ended by "\n" (swapped per run)
    size_t records;
  };
  const Case cases[] = {
      {"header only", AtomHeader("\n"), 0},
      {"shorter than the header", "one\ntwo\n", 0},
      {"empty file", "", 0},
      {"blank line ends the data",
       AtomHeader("\n") + Lines({LineAt("400"), "", LineAt("500")}, "\n"), 1},
      {"missing wavelength ends the data",
       AtomHeader("\n") + Lines({LineAt("400"), LineAt("-"), LineAt("500")}, "\n"), 1},
      {"zero wavelength ends the data",
       AtomHeader("\n") + Lines({LineAt("400"), LineAt("0"), LineAt("500")}, "\n"), 1},
      {"last line without a line end", AtomHeader("\n") + LineAt("400") + "\n" + LineAt("500"), 2},
  };
  for (const char* eol : kEols) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (eol[0] == '\r' ? " (CR LF)" : " (LF)"));
      std::string content;
      for (char ch : c.content) content += ch == '\n' ? std::string(eol) : std::string(1, ch);
      TempDir dir;
      EXPECT_EQ(ReadAtoms(dir.Write("Ar_I.txt", content)).size(), c.records);
    }
  }
}

// The reader takes the file in blocks of 64 KiB: a line read across a block
// boundary, wherever in the line it falls, reads as it does whole.
TEST(AtomFileData, LineReadsTheSameWhereverABlockEndsInIt) {
  constexpr size_t kBlock = 64 * 1024;
  const std::string probe = AtomLine().Text();
  for (const char* eol : kEols) {
    TempDir dir;
    const std::string whole = testing::RecordText(
        ReadAtoms(dir.Write("Ar_I.txt", AtomHeader(eol) + Lines({probe}, eol))).at(0));
    for (size_t into = 0; into <= probe.size() + 1; ++into) {
      SCOPED_TRACE(std::to_string(into) + (eol[0] == '\r' ? " (CR LF)" : " (LF)"));
      // A first line whose skipped references fill the block up to `into`
      // characters before the probe line's end.
      const std::string head = AtomHeader(eol);
      const std::string first = LineAt("500", "f");
      const size_t fill = kBlock - into - head.size() - first.size() - strlen(eol);
      const std::string content =
          head + Lines({first + std::string(fill, 'f'), probe, LineAt("700", "next")}, eol);
      const auto recs = ReadAtoms(dir.Write("Ar_I.txt", content));
      ASSERT_EQ(recs.size(), 3u);
      EXPECT_EQ(testing::RecordText(recs[1]), whole);
      EXPECT_EQ(recs[2].LineRefs, "next");
    }
  }
}

TEST(AtomFileData, RefusedLineIsConsumed) {
  TempDir dir;
  TAtomFile f(
      dir.Write("Ar_I.txt", AtomHeader() + Lines({LineAt("-", "bad"), LineAt("450", "good")})));
  f.OpenRead();
  TRecord r;
  EXPECT_FALSE(f.GetRecord(r));
  ASSERT_TRUE(f.GetRecord(r));
  EXPECT_EQ(r.WaveLength, 450);
  EXPECT_EQ(r.LineRefs, "good");
  EXPECT_FALSE(f.GetRecord(r));
  EXPECT_TRUE(f.Eof());
}

TEST(AtomFileData, HugeTransitionProbabilityIsRefusedNotInfinite) {
  TempDir dir;
  AtomLine l;
  l.numbers = "500 100 1e305 - - -";
  TAtomFile f(dir.Write("Ar_I.txt", AtomHeader() + Lines({l.Text(), LineAt("600")})));
  f.OpenRead();
  TRecord r;
  EXPECT_FALSE(f.GetRecord(r));
  ASSERT_TRUE(f.GetRecord(r));
  EXPECT_EQ(r.WaveLength, 600);
}

TEST(AtomFileRobustness, BinaryFileEndsWithoutFault) {
  std::mt19937 gen(7);
  std::string bytes(1 << 20, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  TempDir dir;
  TAtomFile f(dir.Write("Ar_I.txt", bytes));
  f.OpenRead();
  TRecord r;
  size_t calls = 0;
  while (f.GetRecord(r) || !f.Eof()) {
    ASSERT_LT(++calls, bytes.size()) << "the reader stopped consuming input";
    EXPECT_LE(r.Name.size(), 2);
  }
}

TEST(AtomFileRobustness, VeryLongLineIsSkippedWhole) {
  struct Case {
    const char* what;
    std::string line;
  };
  const Case cases[] = {
      {"letters", std::string(3 << 20, 'x')},
      {"digits", "Ar I    " + std::string(3 << 20, '7')},
      {"references", LineAt("400", std::string(3 << 20, 'r'))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TAtomFile f(dir.Write("Ar_I.txt", AtomHeader() + Lines({c.line, LineAt("450", "after")})));
    f.OpenRead();
    TRecord r;
    f.GetRecord(r);
    ASSERT_TRUE(f.GetRecord(r));
    EXPECT_EQ(r.WaveLength, 450);
    EXPECT_EQ(r.LineRefs, "after");
  }
}

TEST(TextFile, OpenFailuresLeaveTheFileClosed) {
  TempDir dir;
  for (const std::string& path : {dir.path() + "/missing.txt", dir.path()}) {
    SCOPED_TRACE(path);
    TAtomFile f(path);
    EXPECT_THROW(f.OpenRead(), InOutError);
    EXPECT_FALSE(f.Opened());
  }
  TAtomFile w(dir.path() + "/no/such/folder.txt");
  EXPECT_THROW(w.OpenWrite(), InOutError);
  EXPECT_FALSE(w.Opened());
}

TEST(TextFile, FileNameChangesOnlyWhileClosed) {
  TempDir dir;
  std::string a = dir.Write("a.txt", AtomHeader());
  TAtomFile f(a);
  f.OpenRead();
  EXPECT_TRUE(f.ReadOnly());
  f.SetFileName(dir.path() + "/b.txt");
  EXPECT_EQ(f.FileName(), a);
  f.Close();
  f.SetFileName(dir.path() + "/b.txt");
  EXPECT_EQ(f.FileName(), dir.path() + "/b.txt");
}

TEST(AtomFileWrite, ExtractedTableLayout) {
  TempDir dir;
  TAtomFile f(dir.path() + "/out.txt");
  f.OpenWrite();
  f.WriteRecord(SampleRecord());
  TRecord missing = SampleRecord();
  missing.RelIntensity = 1e300;
  missing.Aki = -1;
  missing.fik = 0;  // zero is a value, not a missing one
  missing.log_gf = 0;
  missing.gi = INT32_MAX;
  missing.gk = -1;
  missing.Acc = "";
  missing.Name = "H";
  missing.Ion = "VIIII";
  f.WriteRecord(missing);
  f.Close();
  std::string text = dir.Read("out.txt");
  const std::string blank11 = std::string(11, ' ') + "- ";
  const std::string blank9 = std::string(9, ' ') + "- ";
  const std::string tail =
      "3s2.3p5.(2P*<3/2>).4s - 3s2.3p5.(2P*<3/2>).4p 2[3/2]* - 2[3/2] E1   T5000          "
      "L7760\r\n";
  EXPECT_EQ(text, "Ar I       696.54310        10000    6.390E-02    1.520E-02 " + blank11 +
                      "      -0.500 B+    11.54835442  13.32785509          2.0          1.0       "
                      "   5          3 " +
                      tail + "H  VIII    696.54310 " + blank11 + blank11 + "   0.000E+00 " +
                      blank11 + blank11 +
                      "      11.54835442  13.32785509          2.0          1.0 " + blank9 +
                      blank9 + tail);
}

TEST(AtomFileWrite, ReadBackGivesTheSharedColumns) {
  TRecord a = SampleRecord();
  TRecord b = SampleRecord();
  b.Name = "H";
  b.Ion = "II";
  b.WaveLength = 121.56701;
  b.RelIntensity = -1;
  b.Aki = 4.699;
  b.fik = 1e-5;
  b.S = 12.5;
  b.log_gf = 0;
  b.Acc = "AAA";
  b.Ei_eV = 0;
  b.gk = -1;
  TempDir dir;
  {
    TAtomFile f(dir.path() + "/body.txt");
    f.OpenWrite();
    f.WriteRecord(a);
    f.WriteRecord(b);
    f.Close();
  }
  auto recs = ReadAtoms(dir.Write("H_II.txt", AtomHeader() + dir.Read("body.txt")));
  ASSERT_EQ(recs.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const TRecord& w = i == 0 ? a : b;
    const TRecord& r = recs[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(r.Name, w.Name);
    EXPECT_EQ(r.Ion, w.Ion);
    EXPECT_DOUBLE_EQ(r.WaveLength, w.WaveLength);
    EXPECT_DOUBLE_EQ(r.RelIntensity, w.RelIntensity);
    EXPECT_DOUBLE_EQ(r.Aki, w.Aki * 1e8);
    EXPECT_DOUBLE_EQ(r.fik, w.fik);
    EXPECT_DOUBLE_EQ(r.S, w.S);
    EXPECT_DOUBLE_EQ(r.log_gf, w.log_gf);
    EXPECT_EQ(r.Acc, w.Acc);
    EXPECT_DOUBLE_EQ(r.Ei_eV, w.Ei_eV);
    EXPECT_DOUBLE_EQ(r.Ek_eV, w.Ek_eV);
    EXPECT_EQ(r.Ji, w.Ji);
    EXPECT_EQ(r.Jk, w.Jk);
    EXPECT_EQ(r.gi, w.gi);
    EXPECT_EQ(r.gk, w.gk);
  }
}

TEST(AtomFileWrite, WritingAReadOnlyFileFails) {
  TempDir dir;
  TAtomFile f(dir.Write("Ar_I.txt", AtomHeader()));
  f.OpenRead();
  EXPECT_THROW(f.WriteRecord(SampleRecord()), InOutError);
}

// ---------------------------------------------------------------------------
// Molecular line files

std::string MolHeader(const std::string& first) { return Lines({first, "h2", "h3", "h4"}); }

TEST(MolFile, CoefficientKindFromTheFirstCharacter) {
  struct Case {
    std::string first;
    TMolCoef kind;
  };
  const Case cases[] = {{"a coefficients", TMolCoef::mcA},
                        {"A", TMolCoef::mcA},
                        {"Intensities", TMolCoef::mcI},
                        {"hl", TMolCoef::mcHL},
                        {"F", TMolCoef::mcFC},
                        {"X", TMolCoef::mcFC},
                        {" A", TMolCoef::mcFC},
                        {"", TMolCoef::mcFC}};
  for (const Case& c : cases) {
    SCOPED_TRACE("first line '" + c.first + "'");
    TempDir dir;
    TMolFile f(dir.Write("m_CN_I.txt", MolHeader(c.first) + Lines({"388.3 7.72 100 0 0 1 2"})));
    f.OpenRead();
    EXPECT_EQ(f.MolCoef, c.kind);
    TMolRecord r;
    ASSERT_TRUE(f.GetRecord(r));  // the header is four lines in every case
    EXPECT_EQ(r.WaveLength, 388.3);
  }
}

TEST(MolFile, RecordFields) {
  struct Case {
    const char* what;
    std::string first;
    std::string line;
    std::function<void(const TMolRecord&)> check;
  };
  const Case cases[] = {
      {"plain", "F", "388.3 7.72 100 0 1 0.5 2 R branch ",
       [](const TMolRecord& r) {
         EXPECT_EQ(r.Name, "CN");
         EXPECT_EQ(r.Ion, "I");
         EXPECT_DOUBLE_EQ(r.Frequency, 7.72e14);
         EXPECT_EQ(r.Intensity, 100);
         EXPECT_EQ(r.v1, 0);
         EXPECT_EQ(r.v2, 1);
         EXPECT_EQ(r.S12, 0.5);
         EXPECT_DOUBLE_EQ(r.E1, 2e-20);
         EXPECT_EQ(r.Note, "R branch");
         EXPECT_EQ(r.Order, 1);
       }},
      {"A coefficients divided by the cubed frequency", "A", "600 5 1 0 0 1 1",
       [](const TMolRecord& r) { EXPECT_DOUBLE_EQ(r.S12, 1 / (5e14 * 5e14 * 5e14)); }},
      {"missing frequency is neither scaled nor divided", "A", "600 - 1 0 0 1 -",
       [](const TMolRecord& r) {
         EXPECT_EQ(r.Frequency, -1);
         EXPECT_EQ(r.S12, 1);
         EXPECT_EQ(r.E1, -1);
       }},
      {"long note", "F", "600 5 1 0 0 1 1 " + std::string(49, 'n') + "XYZ",
       // the blank that ends the last number is the note's first character
       [](const TMolRecord& r) { EXPECT_EQ(r.Note, std::string(49, 'n')); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TMolFile f(dir.Write("m_CN_I.txt", MolHeader(c.first) + Lines({c.line, "700 1 1 1 1 1 1"})));
    f.OpenRead();
    TMolRecord r;
    ASSERT_TRUE(f.GetRecord(r));
    c.check(r);
    ASSERT_TRUE(f.GetRecord(r));
    EXPECT_EQ(r.WaveLength, 700);
    EXPECT_FALSE(f.GetRecord(r));
  }
}

TEST(MolFile, NameAndIonFromTheFileName) {
  struct Case {
    const char* file;
    const char* name;
    const char* ion;
  };
  const Case cases[] = {{"m_CN_I.txt", "CN", "I"},
                        {"m_N2+_II.txt", "N2+", "II"},
                        {"m_ABCDEFGHIJKL_IIIII.txt", "ABCDEFGHIJ", "IIII"},
                        {"nounderscore.txt", "", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    TMolFile f(dir.Write(c.file, MolHeader("F") + Lines({"600 5 1 0 0 1 1"})));
    f.OpenRead();
    TMolRecord r;
    ASSERT_TRUE(f.GetRecord(r));
    EXPECT_EQ(r.Name, c.name);
    EXPECT_EQ(r.Ion, c.ion);
  }
}

TEST(MolFile, WriteLayoutAndReadBack) {
  TMolRecord r;
  r.WaveLength = 500;
  r.Frequency = 5e14;
  r.Intensity = 100;
  r.v1 = 0;
  r.v2 = 1;
  r.S12 = 1;
  r.E1 = 2e-20;
  r.Note = "  note text ";
  TempDir dir;
  {
    TMolFile f(dir.path() + "/body.txt");
    f.OpenWrite();
    f.WriteRecord(r);
    f.Close();
  }
  std::string body = dir.Read("body.txt");
  EXPECT_EQ(body,
            "    500.0000       5.000      100.00           0           1      1.0000          "
            "2.00 note text\r\n");
  TMolFile f(dir.Write("m_CN_I.txt", MolHeader("F") + body));
  f.OpenRead();
  TMolRecord back;
  ASSERT_TRUE(f.GetRecord(back));
  EXPECT_EQ(back.WaveLength, 500);
  EXPECT_DOUBLE_EQ(back.Frequency, 5e14);
  EXPECT_EQ(back.Intensity, 100);
  EXPECT_EQ(back.v2, 1);
  EXPECT_EQ(back.S12, 1);
  EXPECT_DOUBLE_EQ(back.E1, 2e-20);
  EXPECT_EQ(back.Note, "note text");
}

}  // namespace
}  // namespace lumora
