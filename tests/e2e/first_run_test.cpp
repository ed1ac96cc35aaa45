// End to end: install the bundled data to a fresh prefix, start lumora-cli as
// a user who has never run it (the first start copies lumora.ini), and check
// what the user sees: every bundled gas's levels, lines and structure as its
// facts give them, and fits that give back the densities the sample
// measurements were made with.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/numparse.h"
#include "linedb/line_file.h"
#include "tests/support/facts_table.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = LUMORA_SOURCE_DIR;
const std::string kDataFolder = "Lumora 1.3";

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

double Number(const std::string& text) { return lumora::StrToFloat(text); }

using lumora::testing::FactRow;

std::vector<FactRow> ReadFacts(const std::string& name) {
  return lumora::testing::ReadFactsTable(kSourceDir / "data" / "facts" / name);
}

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// A fresh user on a machine where the data were installed under `prefix`.
class FirstRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lumora-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    // A blank in the prefix, as in the data folder's own name, must survive
    // every path that the install writes into lumora.ini.
    prefix_ = root_ / "install prefix";
    home_ = root_ / "home";
    fs::create_directories(home_);
    Install();
  }

  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void Install() {
    fs::path log = root_ / "install.log";
    std::string cmd = Quote(LUMORA_CMAKE) + " --install " + Quote(LUMORA_BUILD_DIR) + " --prefix " +
                      Quote(prefix_.string()) + " --component data > " + Quote(log.string()) +
                      " 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadFile(log);
  }

  fs::path MachineFolder() const { return prefix_ / "share" / kDataFolder; }
  fs::path UserFolder() const { return home_ / kDataFolder; }
  fs::path Samples() const { return MachineFolder() / "Measurements"; }

  CliRun Cli(const std::vector<std::string>& args) {
    fs::path out = root_ / "stdout.txt", err = root_ / "stderr.txt";
    std::string cmd = "env HOME=" + Quote(home_.string()) +
                      " XDG_DATA_HOME=" + Quote(home_.string()) +
                      " XDG_DATA_DIRS=" + Quote((prefix_ / "share").string()) +
                      " TMPDIR=" + Quote(root_.string()) + " " + Quote(LUMORA_CLI);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " > " + Quote(out.string()) + " 2> " + Quote(err.string());
    int raw = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }

  fs::path root_, prefix_, home_;
};

TEST_F(FirstRun, CopiesTheSettingsThatNameTheInstalledFolders) {
  ASSERT_FALSE(fs::exists(UserFolder()));
  CliRun r = Cli({"settings"});
  ASSERT_EQ(r.status, 0) << r.err;

  fs::path ini = UserFolder() / "lumora.ini";
  ASSERT_TRUE(fs::exists(ini));
  const std::vector<std::string> lines = Lines(ReadFile(ini));
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("Database=" + (MachineFolder() / "Database").string())) << ReadFile(ini);
  EXPECT_TRUE(has("Measurements=" + Samples().string())) << ReadFile(ini);
  EXPECT_TRUE(has("[Argon]"));
  EXPECT_TRUE(has("Lines=Ar, I"));
  EXPECT_TRUE(fs::exists(MachineFolder() / "Database" / "Ar_I.txt"));
  EXPECT_TRUE(fs::exists(MachineFolder() / "Database" / "Ar_I_levels.txt"));
}

// One row of the lines listing against the facts of its line.
void ExpectListedLine(const std::string& row, const FactRow& f, const std::string& name) {
  SCOPED_TRACE(row);
  std::vector<std::string> w = Words(row);
  ASSERT_EQ(w.size(), 7u);
  EXPECT_EQ(w[0], name);
  EXPECT_DOUBLE_EQ(Number(w[1]), Number(f.at("wavelength_air_nm")));
  EXPECT_NEAR(Number(w[2]) / Number(f.at("Aki_per_s")), 1.0, 1e-9);
  EXPECT_NEAR(Number(w[3]), Number(f.at("log_gf")), 1e-9);
  EXPECT_EQ(w[4], f.at("g_i"));
  EXPECT_EQ(w[5], f.at("g_k"));
  EXPECT_NEAR(Number(w[6]), Number(f.at("Ek_eV")), 1e-9);
}

// Every line of the facts, read through the line file, with its wavelength,
// weights and upper energy in the right columns.
TEST_F(FirstRun, LinesListsEveryBundledLine) {
  CliRun r = Cli({"lines"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> rows = Lines(r.out);
  const std::vector<FactRow> facts = ReadFacts("ar_i_4p_4s_lines.tsv");
  ASSERT_EQ(facts.size(), 27u);
  ASSERT_EQ(rows.size(), facts.size() + 1) << r.out;
  for (size_t i = 0; i < facts.size(); ++i) ExpectListedLine(rows[i + 1], facts[i], "ArI");
}

// The wavelengths of a structure row's "wavelength/logA," items.
std::set<std::string> ListedWavelengths(const std::string& items) {
  std::set<std::string> listed;
  std::stringstream in(items);
  for (std::string item; std::getline(in, item, ',');) {
    std::vector<std::string> w = Words(item);
    if (!w.empty()) listed.insert(w[0].substr(0, w[0].find('/')));
  }
  return listed;
}

// Each 2p level is tied to exactly the lines that leave it; 1s levels have none.
TEST_F(FirstRun, StructureListsTheTenUpperLevelsWithTheirLines) {
  CliRun r = Cli({"structure"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> rows = Lines(r.out);
  ASSERT_GE(rows.size(), 2u);
  rows.erase(rows.begin(), rows.begin() + 2);

  const std::vector<FactRow> levels = ReadFacts("ar_i_levels.tsv");
  std::map<std::string, std::set<std::string>> expected;  // level index -> wavelengths
  for (const FactRow& line : ReadFacts("ar_i_4p_4s_lines.tsv")) {
    for (size_t k = 0; k < levels.size(); ++k)
      if (levels[k].at("paschen") == line.at("upper")) {
        std::string index = std::to_string(k);
        expected[std::string(3 - std::min<size_t>(3, index.size()), '0') + index].insert(
            line.at("wavelength_air_nm"));
      }
  }
  ASSERT_EQ(expected.size(), 10u);
  ASSERT_EQ(rows.size(), 10u) << r.out;
  for (const std::string& row : rows) {
    SCOPED_TRACE(row);
    size_t bar = row.find('|'), colon = row.find(':');
    ASSERT_NE(bar, std::string::npos);
    ASSERT_NE(colon, std::string::npos);
    std::string index = row.substr(0, bar);
    ASSERT_TRUE(expected.count(index));
    EXPECT_EQ(ListedWavelengths(row.substr(colon + 1)), expected[index]);
  }
}

struct Sample {
  const char* file;
  double n1;  // the density a fit gives back, m^-3
};

// Made at T_exc = 1000 K, Tn = 300 K, path 1 m (the bundled settings); the
// noisy one's value is the least-squares optimum of its noisy fractions.
const Sample kSamples[] = {
    {"argon_n2e15.txt", 2e15},
    {"argon_n1.5e17_strong.txt", 1.5e17},
    {"argon_n4e16_noise.txt", 4.108e16},
    {"argon_n8e15_notfound.txt", 8e15},
};

TEST_F(FirstRun, PlainFitGivesBackTheDensityOfEverySample) {
  std::vector<std::string> args = {"fit"};
  for (const Sample& s : kSamples) args.push_back((Samples() / s.file).string());
  CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("Wavelength 801.479000 was not found."), std::string::npos) << r.err;

  std::vector<std::string> rows = Lines(r.out);
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.file);
    auto row = std::find_if(rows.begin(), rows.end(), [&](const std::string& line) {
      std::vector<std::string> w = Words(line);
      return std::find(w.begin(), w.end(), s.file) != w.end();
    });
    ASSERT_NE(row, rows.end()) << r.out;
    std::vector<std::string> w = Words(*row);
    // n_tot, u(n_tot), then n_1 and u(n_1) of the first level, ...
    ASSERT_GE(w.size(), 4u);
    EXPECT_NEAR(Number(w[2]) / s.n1, 1.0, 0.005) << *row;
    std::string procedure = row->substr(row->find(s.file) + std::string(s.file).size());
    EXPECT_NE(procedure.find("fit:"), std::string::npos) << *row;
    for (const char* failure : {"not started", "false residuum", "false hessian"})
      EXPECT_EQ(procedure.find(failure), std::string::npos) << *row;
  }
}

// The samples were made at T_exc = 1000 K: a fit of both parameters, started
// elsewhere, finds that temperature as well as the density.
TEST_F(FirstRun, TwoParameterFitGivesBackTheExcitationTemperature) {
  const Sample& sample = kSamples[0];
  CliRun r = Cli(
      {"fit", "--fit-temperature", "--temperature", "1500", (Samples() / sample.file).string()});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> rows = Lines(r.out);
  ASSERT_EQ(rows.size(), 2u) << r.out;
  std::vector<std::string> w = Words(rows[1]);
  // n_tot, u, then n_k and u(n_k) for the four 1s levels, then T and u(T).
  ASSERT_GE(w.size(), 12u) << rows[1];
  EXPECT_NEAR(Number(w[2]) / sample.n1, 1.0, 0.005) << rows[1];
  EXPECT_NEAR(Number(w[10]), 1000.0, 1.0) << rows[1];
}

TEST_F(FirstRun, MissingDatabaseFolderIsNamedInTheError) {
  // The user's own settings point at a database that is not there; the
  // machine-wide file is not consulted once a per-user one exists.
  fs::create_directories(UserFolder());
  const fs::path missing = root_ / "moved database";
  std::string ini = ReadFile(MachineFolder() / "lumora.ini");
  std::string wanted = "Database=" + (MachineFolder() / "Database").string();
  size_t at = ini.find(wanted);
  ASSERT_NE(at, std::string::npos) << ini;
  ini.replace(at, wanted.size(), "Database=" + missing.string());
  std::ofstream(UserFolder() / "lumora.ini", std::ios::binary) << ini;

  for (const std::vector<std::string>& args : {std::vector<std::string>{"lines"},
                                               {"structure"},
                                               {"fit", (Samples() / kSamples[0].file).string()}}) {
    SCOPED_TRACE(args[0]);
    CliRun r = Cli(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(missing.string()), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("ArI"), std::string::npos) << r.out;
  }
}

// ---- every bundled gas, chosen by name on a fresh install

struct BundledGas {
  const char* section;
  const char* symbol;
  const char* levelFacts;
  const char* lineFacts;
  size_t lineCount;
};

const BundledGas kGases[] = {
    {"Argon", "Ar", "ar_i_levels.tsv", "ar_i_4p_4s_lines.tsv", 27},
    {"Neon", "Ne", "ne_i_levels.tsv", "ne_i_3p_3s_lines.tsv", 30},
    {"Krypton", "Kr", "kr_i_levels.tsv", "kr_i_5p_5s_lines.tsv", 18},
    {"Xenon", "Xe", "xe_i_levels.tsv", "xe_i_6p_6s_lines.tsv", 22},
};

// The facts' levels in ascending energy, as the level file must hold them.
std::vector<FactRow> LevelsByEnergy(const BundledGas& gas) {
  std::vector<FactRow> levels = ReadFacts(gas.levelFacts);
  std::stable_sort(levels.begin(), levels.end(), [](const FactRow& a, const FactRow& b) {
    return Number(a.at("energy_eV")) < Number(b.at("energy_eV"));
  });
  return levels;
}

std::vector<FactRow> LinesByWavelength(const BundledGas& gas) {
  std::vector<FactRow> lines = ReadFacts(gas.lineFacts);
  std::stable_sort(lines.begin(), lines.end(), [](const FactRow& a, const FactRow& b) {
    return Number(a.at("wavelength_air_nm")) < Number(b.at("wavelength_air_nm"));
  });
  return lines;
}

class BundledGasRun : public FirstRun, public ::testing::WithParamInterface<BundledGas> {
 protected:
  CliRun GasCli(const std::string& command) {
    return Cli({"--element", GetParam().section, command});
  }
};

TEST_P(BundledGasRun, LevelsAreTheFactsInEnergyOrder) {
  const BundledGas& gas = GetParam();
  CliRun r = GasCli("levels");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> rows = Lines(r.out);
  const std::vector<FactRow> levels = LevelsByEnergy(gas);
  ASSERT_EQ(levels.size(), 14u);
  ASSERT_EQ(rows.size(), levels.size() + 1) << r.out;
  for (size_t i = 0; i < levels.size(); ++i) {
    SCOPED_TRACE(rows[i + 1]);
    const FactRow& f = levels[i];
    std::vector<std::string> w = Words(rows[i + 1]);
    ASSERT_EQ(w.size(), 6u);
    EXPECT_EQ(w[0], std::to_string(i));
    EXPECT_EQ(w[1], f.at("configuration"));
    EXPECT_EQ(w[2], f.at("term"));
    EXPECT_EQ(w[3], f.at("energy_eV"));
    EXPECT_EQ(Number(w[4]), Number(f.at("J")));
    EXPECT_EQ(w[5], f.at("g"));
  }
  // The "1s levels" distribution takes the first four: 1s5, 1s4, 1s3, 1s2.
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(levels[i].at("paschen"), "1s" + std::to_string(5 - i));
}

TEST_P(BundledGasRun, LinesAreTheFactsWithTheirGrades) {
  const BundledGas& gas = GetParam();
  CliRun r = GasCli("lines");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> rows = Lines(r.out);
  const std::vector<FactRow> facts = LinesByWavelength(gas);
  ASSERT_EQ(facts.size(), gas.lineCount);
  ASSERT_EQ(rows.size(), facts.size() + 1) << r.out;

  // The grades are not listed; they are read from the installed line file.
  lumora::TAtomFile file(
      (MachineFolder() / "Database" / (std::string(gas.symbol) + "_I.txt")).string());
  file.OpenRead();
  for (size_t i = 0; i < facts.size(); ++i) {
    const FactRow& f = facts[i];
    ExpectListedLine(rows[i + 1], f, std::string(gas.symbol) + "I");
    lumora::TRecord rec;
    ASSERT_TRUE(file.GetRecord(rec));
    EXPECT_DOUBLE_EQ(rec.WaveLength, Number(f.at("wavelength_air_nm")));
    EXPECT_EQ(rec.Acc.str(), f.at("Acc"));
    EXPECT_EQ(rec.Ei_eV, Number(f.at("Ei_eV")));
    EXPECT_EQ(rec.Ji, Number(f.at("J_i")));
    EXPECT_EQ(rec.Jk, Number(f.at("J_k")));
  }
  lumora::TRecord past;
  EXPECT_FALSE(file.GetRecord(past));
  file.Close();
}

// Each upper level is tied to exactly the lines that leave it.
TEST_P(BundledGasRun, StructureTiesEveryLineToItsUpperLevel) {
  const BundledGas& gas = GetParam();
  CliRun r = GasCli("structure");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> rows = Lines(r.out);
  ASSERT_GE(rows.size(), 2u);
  rows.erase(rows.begin(), rows.begin() + 2);

  const std::vector<FactRow> levels = LevelsByEnergy(gas);
  // level index -> wavelengths, with the listing's 4 decimals
  std::map<std::string, std::set<std::string>> expected;
  for (const FactRow& line : ReadFacts(gas.lineFacts))
    for (size_t k = 0; k < levels.size(); ++k)
      if (levels[k].at("paschen") == line.at("upper")) {
        char index[24], wavelength[32];
        std::snprintf(index, sizeof index, "%03zu", k);
        std::snprintf(wavelength, sizeof wavelength, "%.4f", Number(line.at("wavelength_air_nm")));
        expected[index].insert(wavelength);
      }
  ASSERT_EQ(rows.size(), expected.size()) << r.out;
  for (const std::string& row : rows) {
    SCOPED_TRACE(row);
    size_t bar = row.find('|'), colon = row.find(':');
    ASSERT_NE(bar, std::string::npos);
    ASSERT_NE(colon, std::string::npos);
    std::string index = row.substr(0, bar);
    ASSERT_TRUE(expected.count(index));
    // Energies with 6 decimals.
    EXPECT_NEAR(Number(row.substr(bar + 1, colon - bar - 1)),
                Number(levels[std::stoi(index)].at("energy_eV")), 5e-7);
    EXPECT_EQ(ListedWavelengths(row.substr(colon + 1)), expected[index]);
  }
}

TEST_P(BundledGasRun, CheckElementPasses) {
  CliRun r = Cli({"check-element", GetParam().section});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(std::string("OK: the section \"") + GetParam().section + "\" can be used"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(lumora::Format("%d lines, grades", static_cast<int>(GetParam().lineCount))),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("FAULT"), std::string::npos) << r.out;
}

// A hand-written section whose level file lacks a level: the check names the
// fault and ends with status 1.
TEST_F(FirstRun, CheckElementNamesTheFaultOfABrokenSection) {
  const fs::path db = root_ / "db";
  fs::create_directories(db);
  fs::copy_file(MachineFolder() / "Database" / "Ne_I.txt", db / "Ne_I.txt");
  std::string levels = ReadFile(MachineFolder() / "Database" / "Ne_I_levels.txt");
  const size_t at = levels.find("18.72638145");  // 2p2
  ASSERT_NE(at, std::string::npos);
  levels.erase(levels.rfind('\n', at) + 1, levels.find('\n', at) - levels.rfind('\n', at));
  std::ofstream(db / "Ne_I_levels.txt", std::ios::binary) << levels;
  const fs::path ini = root_ / "broken.ini";
  std::ofstream(ini, std::ios::binary) << "[_Files]\r\nDatabase=" << db.string()
                                       << "\r\n[MyNeon]\r\nLevels=Ne_I_levels.txt\r\nLines=Ne, "
                                          "I\r\nBoltzmax=4\r\nm=20.1797\r\n";
  CliRun r = Cli({"--ini", ini.string(), "check-element", "MyNeon"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("FAULT: line 588.1895 nm: no level at its upper energy 18.72638145 eV"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("in the section \"MyNeon\""), std::string::npos) << r.err;

  r = Cli({"--ini", ini.string(), "check-element", "Argon"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Element \"Argon\" is not in the settings file"), std::string::npos)
      << r.err;
}

INSTANTIATE_TEST_SUITE_P(Gases, BundledGasRun, ::testing::ValuesIn(kGases),
                         [](const auto& info) { return std::string(info.param.section); });

// ---- the samples of the other gases

struct GasSamples {
  const char* section;
  const char* folder;
  const char* pair;          // as the analysis names it
  double statedLog10Spread;  // the noisy sample's stated uncertainty in log10 n_1
};

const GasSamples kGasSamples[] = {
    {"Neon", "neon", "588.1895/659.8953", 0.018},
    {"Krypton", "krypton", "556.2225/826.3243", 0.14},
    {"Xenon", "xenon", "450.0978/826.6520", 0.10},
};

// The number after "key": in a JSON object's text.
double JsonNumber(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return NAN;
  return std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

class GasSampleRun : public FirstRun, public ::testing::WithParamInterface<GasSamples> {
 protected:
  std::string Sample(const std::string& suffix) const {
    return (Samples() / GetParam().folder / (std::string(GetParam().folder) + suffix)).string();
  }
  // The JSON object of one command on one file, after a successful run.
  std::string Json(std::vector<std::string> args) {
    args.insert(args.begin(), {"--element", GetParam().section});
    args.insert(args.begin() + 3, "--json");
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return r.out;
  }
};

TEST_P(GasSampleRun, NoiseFreeSamplesGiveBackTheirDensity) {
  for (const auto& [suffix, n1] :
       {std::pair{"_n2e15.txt", 2e15}, std::pair{"_n1.5e17.txt", 1.5e17}}) {
    SCOPED_TRACE(suffix);
    const std::string json = Json({"fit", Sample(suffix)});
    EXPECT_NEAR(JsonNumber(json, "log10_n1"), std::log10(n1), 1e-6) << json;
  }
}

TEST_P(GasSampleRun, NoisySampleWithinItsStatedUncertainty) {
  const std::string json = Json({"fit", Sample("_n4e16_noise.txt")});
  EXPECT_NEAR(JsonNumber(json, "log10_n1"), std::log10(4e16), GetParam().statedLog10Spread) << json;
}

TEST_P(GasSampleRun, RecordedSpectraGiveBackTheirDensityWithinTwoPercent) {
  for (const auto& [suffix, n1] : {std::pair{"_n2e15.recording.csv", 2e15},
                                   std::pair{"_n1.5e17_shifted.recording.csv", 1.5e17}}) {
    SCOPED_TRACE(suffix);
    const std::string json = Json({"fit", "--spectrum", Sample(suffix)});
    EXPECT_NEAR(std::pow(10.0, JsonNumber(json, "log10_n1")) / n1, 1.0, 0.02) << json;
  }
}

// The default grid: log10 n_1 from 15 in steps of 0.06, T_exc from 1000 K.
TEST_P(GasSampleRun, MapMinimumAtTheStatedGridPoint) {
  for (const auto& [suffix, column] : {std::pair{"_n2e15.txt", 5}, std::pair{"_n1.5e17.txt", 36}}) {
    SCOPED_TRACE(suffix);
    const std::string json = Json({"map", Sample(suffix)});
    const size_t minimum = json.find("\"minimum_point\":");
    ASSERT_NE(minimum, std::string::npos) << json;
    const std::string point = json.substr(minimum);
    EXPECT_EQ(JsonNumber(point, "column"), column) << json;
    EXPECT_EQ(JsonNumber(point, "row"), 0) << json;
    EXPECT_EQ(JsonNumber(point, "second"), 1000) << json;
  }
}

TEST_P(GasSampleRun, AnalysisNamesTheElementsPair) {
  CliRun r = Cli({"--element", GetParam().section, "analyze"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(std::string("R(N/N0) for line ratio ") + GetParam().pair), std::string::npos)
      << r.out << r.err;
  EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(Gases, GasSampleRun, ::testing::ValuesIn(kGasSamples),
                         [](const auto& info) { return std::string(info.param.section); });

// Krypton's 2p1, 2p5, 2p9 and 2p10 have one line each: their fractions are 1
// at any density, and a fit says so rather than giving a number.
TEST_F(FirstRun, KryptonsSingleLineLevelsDoNotDetermineTheDensity) {
  CliRun r = Cli({"--element", "Krypton", "fit",
                  (Samples() / "krypton" / "krypton_n4e16_single_line_levels.txt").string()});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("n_1 is not determined by these lines: no upper level has two lines that "
                       "react to it"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("E+0"), std::string::npos) << r.out;
}

}  // namespace
