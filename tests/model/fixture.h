// A small element for the model tests: five levels, four lines, written as a
// level file and a line file into a fresh temporary folder, or put straight
// into the globals.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/format.h"
#include "model/element_data.h"
#include "model/self_absorption.h"

namespace lumora::test {

struct LineSpec {
  double wl;
  double aki;  // s^-1
  int lower;
  int upper;
  int gi;
  int gk;
  double intensity;
};

struct LevelSpec {
  std::string conf;
  std::string term;
  double j;
  double energy;
};

// Levels 0 and 1 absorb; level 2 has two lines, level 3 one, level 4 one
// line with Aki 0.
inline std::vector<LevelSpec> FixtureLevels() {
  return {{"3p5 4s", "2[3/2]*", 2, 11.5},
          {"3p5 4s", "2[3/2]*", 1, 11.625},
          {"3p5 4p", "2[1/2]", 1, 13.0},
          {"3p5 4p", "2[5/2]", 0, 13.125},
          {"3p5 4p", "2[3/2]", 2, 13.25}};
}

inline std::vector<LineSpec> FixtureLines() {
  return {{700.0, 1e7, 0, 2, 5, 3, 2.0},
          {750.0, 3e7, 1, 2, 3, 3, 1.0},
          {800.0, 2e7, 1, 3, 3, 1, 5.0},
          {810.0, 0.0, 0, 4, 5, 5, 1.0}};
}

inline std::string LevelFileText(const std::vector<LevelSpec>& levels) {
  std::string text = "levels\r\nfixture\r\nConfiguration Term J E\r\n";
  for (const LevelSpec& l : levels) {
    std::string conf = l.conf, term = l.term;
    conf.resize(23, ' ');
    term.resize(13, ' ');
    text += conf + term + Format("%.1f  %.9f", l.j, l.energy) + "\r\n";
  }
  return text;
}

// One data line in the atomic line file layout (Aki column in 1e8 s^-1).
inline std::string LineFileRow(const LineSpec& s, const std::vector<LevelSpec>& levels) {
  auto pad = [](std::string t, size_t w) {
    t.resize(w, ' ');
    return t;
  };
  const LevelSpec& lo = levels[s.lower];
  const LevelSpec& up = levels[s.upper];
  return "Ar I    " + Format("%.4f", s.wl) + " - " + Format("%.4e", s.aki / 1e8) + " - - -1.000 " +
         pad("B", 4) + " " +
         Format("%.9f %.9f %.1f %.1f %d %d", lo.energy, up.energy, lo.j, up.j, s.gi, s.gk) + " " +
         pad(lo.conf, 40) + " " + pad(up.conf, 40) + " " + pad(lo.term, 16) + " " +
         pad(up.term, 16) + " " + pad("E1", 8) + " ref\r\n";
}

inline std::string LineFileText(const std::vector<LineSpec>& lines,
                                const std::vector<LevelSpec>& levels) {
  std::string text = "h1\r\nh2\r\nh3\r\nh4\r\nh5\r\n";
  for (const LineSpec& l : lines) text += LineFileRow(l, levels);
  return text;
}

inline TRecord RecordOf(const LineSpec& s, const std::vector<LevelSpec>& levels) {
  TRecord r;
  r.Name = "Ar";
  r.Ion = "I";
  r.WaveLength = s.wl;
  r.Aki = s.aki;
  r.Ei_eV = levels[s.lower].energy;
  r.Ek_eV = levels[s.upper].energy;
  r.Ji = levels[s.lower].j;
  r.Jk = levels[s.upper].j;
  r.gi = s.gi;
  r.gk = s.gk;
  r.Confs = levels[s.lower].conf + " - " + levels[s.upper].conf;
  r.Terms = levels[s.lower].term + " - " + levels[s.upper].term;
  r.Order = 1;
  return r;
}

// A fresh line table, line base and model, a temporary folder and captured
// messages for every test.
class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("lumora-model-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
            std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string Dir() const { return dir_.string(); }

  void ReadLevelFile(const std::string& path) {
    bool replaced = false;
    ReadLevels(path, table.levels, sink, replaced);
  }

  // Levels and line base of the fixture, without files.
  void LoadFixture(const std::vector<LevelSpec>& levels = FixtureLevels(),
                   const std::vector<LineSpec>& lines = FixtureLines()) {
    table.levels.clear();
    for (const LevelSpec& l : levels) {
      TLevelRecord r;
      r.Configuration = l.conf;
      r.Term = l.term;
      r.J = l.j;
      r.g = 2 * l.j + 1;
      r.Energy = l.energy;
      table.levels.push_back(r);
    }
    lineBase = std::make_unique<TTextBase>(1000, 500);
    lineBase->AtomClear();
    for (const LineSpec& s : lines) lineBase->Add(RecordOf(s, levels));
    lineBase->SetAtomLength(lineBase->LastAtom() + 1);
  }

  // table.lines as a measurement of the fixture lines would give it.
  void MeasureFixture(const std::vector<LineSpec>& lines = FixtureLines()) {
    table.lines.clear();
    for (const LineSpec& s : lines) {
      TLineRecord line;
      line.AR = RecordOf(s, FixtureLevels());
      line.Int = s.intensity;
      TieLineToLevels(table.levels, line);
      table.lines.push_back(line);
    }
  }

  // The messages shown since the last call: none when expected is empty.
  void ExpectMessage(const std::string& expected, const std::string& context) {
    if (expected.empty())
      EXPECT_TRUE(messages.empty()) << context;
    else
      EXPECT_EQ(messages, std::vector<std::string>{expected}) << context;
    messages.clear();
  }

  std::vector<std::string> messages;
  MessageSink sink = [this](const std::string& m) { messages.push_back(m); };
  LineTable table;
  std::unique_ptr<TTextBase> lineBase;
  EbfModel model{table};

 private:
  std::filesystem::path dir_;
};

}  // namespace lumora::test
