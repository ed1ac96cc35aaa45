#include "fixture.h"
#include "model/session.h"

namespace lumora::test {
namespace {

using ElementTest = ModelTest;

std::string Levels(const std::string& rows) { return "h1\r\nh2\r\nh3\r\n" + rows; }

std::string Row(const std::string& conf, const std::string& term, const std::string& j,
                const std::string& energy) {
  std::string c = conf, t = term;
  c.resize(23, ' ');
  t.resize(13, ' ');
  return c + t + j + "  " + energy + "  rest ignored\r\n";
}

TEST_F(ElementTest, ReadLevelsStopsWithItsMessages) {
  struct Case {
    const char* name;
    std::string text;
    size_t levels;
    std::string message;  // empty: none
  };
  const Case cases[] = {
      {"header only", Levels(""), 0, ""},
      {"repeated energy",
       Levels(Row("a", "t", "0", "0.0") + Row("b", "t", "1", "16.6") + Row("c", "t", "1", "16.6")),
       2, "Energy value 16.6000000 is not unique. Stopping here..."},
      {"descending energy",
       Levels(Row("a", "t", "0", "0.0") + Row("b", "t", "1", "16.7") + Row("c", "t", "1", "16.6")),
       2, "Energy values 16.7000000, 16.6000000 are not ascending. Stopping reading..."},
      {"STOP surrounded by blanks",
       Levels(Row("a", "t", "0", "0.0") + Row("   STOP  ", "", "0", "0") +
              Row("c", "t", "1", "17")),
       1, "STOP command found in the file with levels. Higher levels were not read."},
      {"STOP alone on its line",
       Levels(Row("a", "t", "0", "0.0") + "STOP\r\n" + Row("c", "t", "1", "17")), 1,
       "STOP command found in the file with levels. Higher levels were not read."},
      {"STOP alone on the last line", Levels(Row("a", "t", "0", "0.0") + "  STOP"), 1,
       "STOP command found in the file with levels. Higher levels were not read."},
      {"blank line after the last level",
       Levels(Row("a", "t", "0", "0.0") + Row("b", "t", "1", "16.6") + "\r\n"), 2,
       "Energy values 16.6000000, 0.0000000 are not ascending. Stopping reading..."},
      {"LF line ends",
       "h1\nh2\nh3\n" + std::string("a                      t            0 0.0\nb                  "
                                    "    t            1 1.5\n"),
       2, ""},
  };
  for (const Case& c : cases) {
    messages.clear();
    ReadLevelFile(Write("levels.txt", c.text));
    EXPECT_EQ(table.levels.size(), c.levels) << c.name;
    ExpectMessage(c.message, c.name);
  }
}

TEST_F(ElementTest, ReadLevelsColumnsAndWeights) {
  ReadLevelFile(
      Write("levels.txt", Levels("   3s2.3p5.(2P*<3/2>).4s2[3/2]*      0.5 11.54835442\r\n" +
                                 Row("x", "y", "2", "12.5"))));
  ASSERT_EQ(table.levels.size(), 2u);
  // 23 columns of configuration (the leading blanks push its last character
  // into the term column), 13 of term, trimmed.
  EXPECT_EQ(table.levels[0].Configuration.str(), "3s2.3p5.(2P*<3/2>).4");
  EXPECT_EQ(table.levels[0].Term.str(), "s2[3/2]*");
  EXPECT_EQ(table.levels[0].g, 2);
  EXPECT_EQ(table.levels[0].Energy, 11.54835442);
  EXPECT_EQ(table.levels[1].g, 5);
  EXPECT_EQ(table.levels[1].Sum_t, 0);
  EXPECT_EQ(table.levels[1].LineDownCount, 0);
}

TEST_F(ElementTest, ReadLevelsBadInput) {
  ReadLevelFile(Write("good.txt", Levels(Row("a", "t", "0", "0.0"))));
  // A file that does not open leaves the levels as they were.
  EXPECT_THROW(ReadLevelFile(Dir() + "/missing.txt"), InOutError);
  EXPECT_THROW(ReadLevelFile(Dir()), InOutError);  // a folder
  EXPECT_EQ(table.levels.size(), 1u);
  // A bad number keeps the levels read before it.
  try {
    ReadLevelFile(Write("bad.txt", Levels(Row("a", "t", "0", "0.0") + Row("b", "t", "1", "1,5") +
                                          Row("c", "t", "1", "2.0"))));
    ADD_FAILURE() << "no error";
  } catch (const InOutError& e) {
    EXPECT_NE(std::string(e.what()).find("1,5"), std::string::npos) << e.what();
  }
  EXPECT_EQ(table.levels.size(), 1u);
}

TEST_F(ElementTest, CommaTextItems) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"Ar, I", {"Ar", "I"}},
      {"Ar,I", {"Ar", "I"}},
      {"Ar I", {"Ar", "I"}},
      {"  Ar ,  I  ", {"Ar", "I"}},
      {"Ar", {"Ar"}},
      {"", {}},
      {"Ar,,I", {"Ar", "", "I"}},
      {"Ar,", {"Ar", ""}},
      {"\"a b\",c", {"a b", "c"}},
      {"200 950 1e3 100 50", {"200", "950", "1e3", "100", "50"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommaText(c.text), c.items) << c.text;
}

TEST_F(ElementTest, OpenLineBaseNeedsTwoItems) {
  Write("Ar_I.txt", LineFileText(FixtureLines(), FixtureLevels()));
  for (const char* setting : {"Ar, I", "Ar,I", "Ar I"}) {
    lineBase.reset();
    lineBase = OpenLineBase(Dir(), setting);
    ASSERT_TRUE(lineBase) << setting;
    EXPECT_EQ(lineBase->AtomLength(), 4) << setting;
  }
  auto* kept = lineBase.get();
  for (const char* setting : {"Ar", "", "Ar, I, II"}) {
    try {
      lineBase = OpenLineBase(Dir(), setting);
      ADD_FAILURE() << setting;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "Wrong source in ini file. ");
    }
    EXPECT_EQ(lineBase.get(), kept);
  }
  // A line file that does not exist gives an empty base without a message.
  lineBase = OpenLineBase(Dir(), "Ne, I");
  EXPECT_EQ(lineBase->AtomLength(), 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(ElementTest, Listings) {
  LoadFixture();
  const std::vector<std::string> levels = ListLevels(table.levels);
  ASSERT_EQ(levels.size(), 6u);
  EXPECT_EQ(levels[0],
            "   i   Configuration          Term            Energy        Jeff           g");
  EXPECT_EQ(levels[1],
            "   0   3p5 4s                 2[3/2]*    11.50000000         2.0           5");

  const std::vector<std::string> lines = ListLines(lineBase.get(), false);
  ASSERT_EQ(lines.size(), 4u);  // the Aki 0 line is left out
  EXPECT_EQ(lines[0], "Elem       wl (nm)         Aki   log_gf    gi    gk E_upper (eV)");
  EXPECT_EQ(lines[1], " ArI     700.00000  1.000E+007   0.0000     5     3 13.0000000000");
  EXPECT_EQ(ListLines(lineBase.get(), true).size(), 5u);

  const std::vector<std::string> structure = ListLevelLineStructure(table.levels, lineBase.get());
  ASSERT_EQ(structure.size(), 5u);
  EXPECT_EQ(structure[0], "  i|   E(eV): wavelength / logA");
  EXPECT_EQ(structure[1], std::string(72, '-'));
  EXPECT_EQ(structure[2], "002|13.000000: 700.0000/7, 750.0000/7,");
  EXPECT_EQ(structure[4], "004|13.250000: 810.0000/0,");
}

TEST_F(ElementTest, StructureTruncatesLogA) {
  std::vector<LineSpec> lines = {{700, 6.31e7, 0, 2, 5, 3, 1}, {750, 0.5, 1, 2, 3, 3, 1}};
  LoadFixture(FixtureLevels(), lines);
  EXPECT_EQ(ListLevelLineStructure(table.levels, lineBase.get())[2],
            "002|13.000000: 700.0000/7, 750.0000/0,");
}

TEST_F(ElementTest, TieLineToLevelsMessages) {
  LoadFixture();
  TLineRecord line;
  line.AR = RecordOf(FixtureLines()[1], FixtureLevels());
  TieLineToLevels(table.levels, line);
  EXPECT_EQ(line.UpperState, 2);
  EXPECT_EQ(line.LowerState, 1);

  struct Case {
    double ek, ei;
    std::string message;
  };
  const Case cases[] = {
      {13.0000001, 11.5, "Upper level 13.000000 was not found. Import was stopped."},
      {13.0, 11.6, "Lower level 11.600000 was not found. Import was stopped."},
  };
  for (const Case& c : cases) {
    line.AR.Ek_eV = c.ek;
    line.AR.Ei_eV = c.ei;
    try {
      TieLineToLevels(table.levels, line);
      ADD_FAILURE() << c.message;
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
  table.levels.push_back(table.levels[2]);
  table.levels.push_back(table.levels[0]);
  line.AR.Ek_eV = 13.0;
  line.AR.Ei_eV = 11.5;
  EXPECT_THROW(
      try { TieLineToLevels(table.levels, line); } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "Several upper levels with the same energy 13.000000. Import was stopped.");
        throw;
      },
      Error);
  table.levels.erase(table.levels.end() - 2);
  try {
    TieLineToLevels(table.levels, line);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "Several lower levels with the same energy 11.500000. Import was stopped.");
  }
}

TEST_F(ElementTest, ImportIntensitiesMatchesExactly) {
  LoadFixture();
  ImportIntensities(table, lineBase.get(), Write("m.txt", "700.00 2.5 0.1\r\n750 1\r\n700.0 3\r\n"),
                    sink);
  ASSERT_EQ(table.lines.size(), 3u);
  EXPECT_EQ(table.lines[0].AR.WaveLength, 700.0);
  EXPECT_EQ(table.lines[0].Int, 2.5);  // the third column is ignored
  EXPECT_EQ(table.lines[0].UpperState, 2);
  EXPECT_EQ(table.lines[0].LowerState, 0);
  EXPECT_EQ(table.lines[1].LowerState, 1);
  EXPECT_EQ(table.lines[2].AR.WaveLength, 700.0);  // the same line twice
  EXPECT_EQ(table.lines[2].G_m, 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(ElementTest, TheThirdColumnAsTheReaderIsTold) {
  LoadFixture();
  const std::string file = Write("m.txt", "700 2.5 0.1\n750 1\n800 3 abc\n700 4 -1\n750 2 0.5 9\n");
  struct Case {
    UncertaintyColumn column;
    std::vector<double> sigmas;  // empty: the read fails
  };
  const Case cases[] = {
      {UncertaintyColumn::Ignored, {0, 0, 0, 0, 0}},
      {UncertaintyColumn::WherePresent, {0.1, 0, 0, 0, 0.5}},
      {UncertaintyColumn::Required, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.column));
    if (c.sigmas.empty()) {
      EXPECT_THROW(ImportIntensities(table, lineBase.get(), file, sink, c.column), InOutError);
      continue;
    }
    ImportIntensities(table, lineBase.get(), file, sink, c.column);
    std::vector<double> sigmas;
    for (const TLineRecord& line : table.lines) sigmas.push_back(line.IntSigma);
    EXPECT_EQ(sigmas, c.sigmas);
    EXPECT_EQ(table.lines[2].Int, 3);
  }
}

TEST_F(ElementTest, ImportIntensitiesStops) {
  struct Case {
    const char* name;
    std::string text;
    size_t lines;
    std::string message;
  };
  const Case cases[] = {
      {"empty file", "", 0, ""},
      {"wavelength not in the base", "700 1\n750.0001 2\n800 3\n", 1,
       "Wavelength 750.000100 was not found. Import was stopped. Check used specie or wavelength "
       "precision. It stands in line 2 of " +
           (Dir() + "/m.txt") + "; the element's nearest line is at 750 nm."},
      {"blank line after the last record", "700 1\n750 2\n\n", 2,
       "Wavelength 0.000000 was not found. Import was stopped. Check used specie or wavelength "
       "precision."},
  };
  LoadFixture();
  for (const Case& c : cases) {
    messages.clear();
    ImportIntensities(table, lineBase.get(), Write("m.txt", c.text), sink);
    EXPECT_EQ(table.lines.size(), c.lines) << c.name;
    ExpectMessage(c.message, c.name);
  }
}

TEST_F(ElementTest, ImportIntensitiesErrorsKeepTheLinesBefore) {
  LoadFixture();
  try {
    ImportIntensities(table, lineBase.get(), Write("m.txt", "700 1\n750 abc\n800 3\n"), sink);
    ADD_FAILURE();
  } catch (const InOutError& e) {
    // Named with its line, to be found in a long file.
    EXPECT_EQ(e.what(), "Invalid numeric format: \"abc\" in line 2 of " + (Dir() + "/m.txt"));
  }
  EXPECT_EQ(table.lines.size(), 1u);

  // Upper level missing: the failing line stays too.
  table.levels.resize(3);
  try {
    ImportIntensities(table, lineBase.get(), Write("m.txt", "700 1\n800 3\n750 2\n"), sink);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Upper level 13.125000 was not found. Import was stopped.");
  }
  ASSERT_EQ(table.lines.size(), 2u);
  EXPECT_EQ(table.lines[1].UpperState, -1);

  EXPECT_THROW(ImportIntensities(table, lineBase.get(), Dir() + "/missing.txt", sink), InOutError);
  EXPECT_TRUE(table.lines.empty());

  lineBase = std::make_unique<TTextBase>(1000, 500);
  try {
    ImportIntensities(table, lineBase.get(), Write("m.txt", "700 1\n"), sink);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "No data in database for the requested wavelength");
  }
}

// A NUL byte (left by a crash while writing) and a negative intensity are
// input errors naming the line; the records before it stay.
TEST_F(ElementTest, ImportIntensitiesRefusesDamageAndNegativeLight) {
  struct Case {
    const char* name;
    std::string text;
    std::string error;  // after "Line N of FILE"
  };
  const Case cases[] = {
      {"NUL inside a number", std::string("700 1\n750\t2\0 00\n800 3\n", 20),
       "Line 2 of %s holds a NUL byte; the file is damaged."},
      {"NUL alone on a line", std::string("700 1\n\0\n800 3\n", 14),
       "Line 2 of %s holds a NUL byte; the file is damaged."},
      {"negative intensity", "700 1\n750 -2485\n800 3\n",
       "Line 2 of %s: the intensity -2485 of the line 750 nm is negative; a measured intensity "
       "is 0 or more."},
  };
  LoadFixture();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Write("m.txt", c.text);
    try {
      ImportIntensities(table, lineBase.get(), file, sink);
      ADD_FAILURE() << "imported";
    } catch (const InOutError& e) {
      EXPECT_EQ(e.what(), Format(c.error, file));
    }
    ASSERT_EQ(table.lines.size(), 1u);
    EXPECT_EQ(table.lines[0].Int, 1);
  }
}

// A line with one number is an input error naming the file and the line;
// blank lines between the records are skipped.
TEST_F(ElementTest, ImportIntensitiesNeedsTwoNumbersOnALine) {
  struct Case {
    const char* name;
    std::string text;
    size_t lines;
    int badLine;  // 0: no error
  };
  const Case cases[] = {
      {"one number between records", "700 1\n750\n800 3\n", 1, 2},
      {"one number on the last line", "700 1\r\n750 2\r\n800", 2, 3},
      {"one number after blank lines", "700 1\r\n\r\n \t\r\n750\r\n800 3\r\n", 1, 4},
      {"blank lines between records", "\n700 1\n\n \t\n750 2 0.5 x\n800 3\n", 3, 0},
  };
  LoadFixture();
  for (const Case& c : cases) {
    messages.clear();
    const std::string file = Write("m.txt", c.text);
    try {
      ImportIntensities(table, lineBase.get(), file, sink);
      EXPECT_EQ(c.badLine, 0) << c.name << ": no error";
    } catch (const InOutError& e) {
      EXPECT_EQ(e.what(), Format("Line %d of %s holds one number; a measurement line needs a "
                                 "wavelength and an intensity.",
                                 c.badLine, file))
          << c.name;
    }
    ASSERT_EQ(table.lines.size(), c.lines) << c.name;
    for (const TLineRecord& line : table.lines)
      EXPECT_EQ(line.Int, line.AR.WaveLength == 700   ? 1
                          : line.AR.WaveLength == 750 ? 2
                                                      : 3)
          << c.name;
    ExpectMessage("", c.name);
  }
}

TEST_F(ElementTest, ImportLinesForAnalysisLimits) {
  std::vector<LineSpec> lines = {{200, 1e7, 0, 2, 5, 3, 0},
                                 {500, 1e7, 0, 2, 5, 3, 0},
                                 {600, 1e3, 0, 2, 5, 3, 0},
                                 {650, 2e7, 1, 3, 3, 1, 0},
                                 {950, 1e7, 1, 2, 3, 3, 0}};
  LoadFixture(FixtureLevels(), lines);
  ImportLinesForAnalysis(table, lineBase.get(), 200, 950, 1e3, 11.6);
  ASSERT_EQ(table.lines.size(), 1u);  // ends, Aki at the limit and lower level above it excluded
  EXPECT_EQ(table.lines[0].AR.WaveLength, 500);
  EXPECT_DOUBLE_EQ(table.lines[0].Int, 20);
  EXPECT_EQ(table.lines[0].UpperState, 2);

  table.levels.resize(3);  // level 3 gone: the 650 nm line fails, and stays
  EXPECT_THROW(ImportLinesForAnalysis(table, lineBase.get(), 0, 1000, 0, 100), Error);
  ASSERT_EQ(table.lines.size(), 4u);
  EXPECT_EQ(table.lines[3].AR.WaveLength, 650);
}

TEST_F(ElementTest, ChangeElementFromFiles) {
  Write("Ar_levels.txt", LevelFileText(FixtureLevels()));
  Write("Ar_I.txt", LineFileText(FixtureLines(), FixtureLevels()));
  Session session(SessionOptions{Dir(), sink});
  ElementListings l = session.ChangeElement({Dir() + "/", "Ar_levels.txt", "Ar, I"});
  const TTextBase* base = session.Element().lineBase.get();
  EXPECT_EQ(session.Table().levels.size(), 5u);
  EXPECT_EQ(base->AtomLength(), 4);
  EXPECT_EQ(l.levels, ListLevels(session.Table().levels));
  EXPECT_EQ(l.lines.size(), 4u);
  EXPECT_EQ(l.structure, ListLevelLineStructure(session.Table().levels, base));
  EXPECT_EQ(base->GetAtomRecord(0).Confs.str(), "3p5 4s - 3p5 4p");

  // A measurement of the files' lines matches their energies exactly.
  session.ReadMeasurement(Write("m.txt", "700 2\n750 1\n800 5\n"));
  EXPECT_EQ(session.Table().lines.size(), 3u);
  session.ChangeElement({Dir(), "Ar_levels.txt", "Ar, I"});
  EXPECT_TRUE(session.Table().lines.empty());  // their level indexes belonged to the old levels
  session.ReadMeasurement(Write("m.txt", "700 2\n750 1\n800 5\n"));

  try {
    session.ChangeElement({Dir(), "nothing.txt", "Ar, I"});
    ADD_FAILURE();
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("File error: ", 0), 0u) << e.what();
  }
  EXPECT_EQ(session.Table().levels.size(), 5u);
  EXPECT_EQ(session.Table().lines.size(), 3u);  // nothing changed

  try {
    session.ChangeElement({Dir(), "Ar_levels.txt", "Ar"});
    ADD_FAILURE();
  } catch (const FileError&) {
    ADD_FAILURE() << "not a file error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Wrong source in ini file. ");
  }
}

}  // namespace
}  // namespace lumora::test
