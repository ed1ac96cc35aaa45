#include "settings/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "base/errors.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

WindowFields FieldsOf(const std::string& iniText, const std::string& element = "") {
  TempFolder dir;
  WriteFile(dir / "lumora.ini", iniText);
  Settings s(dir / "lumora.ini");
  return LoadWindowFields(s, element);
}

TEST(SettingsDefaults, EmptyOrMissingFileShowsTheDefaultFields) {
  TempFolder dir;
  WriteFile(dir / "empty.ini", "");
  for (const std::string file : {"empty.ini", "missing.ini"}) {
    Settings s(dir / file);
    WindowFields f = LoadWindowFields(s, "");
    EXPECT_EQ(f.FromDensity, "1E+015") << file;
    EXPECT_EQ(f.ToDensity, "1E+018");
    EXPECT_EQ(f.DensityPoints, "50");
    EXPECT_EQ(f.FromTemperature, "1000");
    EXPECT_EQ(f.ToTemperature, "50000");
    EXPECT_EQ(f.TemperaturePoints, "50");
    EXPECT_EQ(f.FitDensity, "1E+016");
    EXPECT_EQ(f.FitTemperature, "1000");
    EXPECT_EQ(f.MaxIter, "50");
    EXPECT_EQ(f.Tn, "300");
    EXPECT_EQ(f.Path, "1.000");
    EXPECT_EQ(f.Count, "1");
    EXPECT_TRUE(s.SectionNames().empty());
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.ini")) << "reading must not create the file";
}

TEST(SettingsDefaults, EveryKeyHasItsDefaultWhenMissing) {
  TempFolder dir;
  Settings s(dir / "lumora.ini");
  std::string all;
  for (const auto& k : ProgramKeys())
    all += std::string(k.section) + " " + k.key + "=" + EffectiveValue(s, k.section, k) + "\n";
  EXPECT_EQ(all,
            "_Files Database=\n"
            "_Files Measurements=/\n"
            "_Parameters DefaultAtom=0\n"
            "_Parameters Tn=300\n"
            "_Parameters Path=1\n"
            "_Iteration FromDensity=1E15\n"
            "_Iteration ToDensity=1E18\n"
            "_Iteration DensityPoints=50\n"
            "_Iteration FromTemperature=1000\n"
            "_Iteration ToTemperature=50000\n"
            "_Iteration TemperaturePoints=50\n"
            "_Fit FromDensity=1E16\n"
            "_Fit FromTemperature=1000\n"
            "_Fit Count=50\n");
  std::string element;
  for (const auto& k : ElementKeys())
    element += std::string(k.key) + "=" + EffectiveValue(s, "Ar I", k) + " ";
  EXPECT_EQ(element, "Levels= Lines= Boltzmax=1 m=0 ");
}

struct ValueCase {
  const char* ini;
  std::string WindowFields::*field;
  const char* shown;
};

class SettingsValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(SettingsValues, ShownWithTheFieldsFormat) {
  const auto& c = GetParam();
  EXPECT_EQ(FieldsOf(c.ini, "Ar I").*(c.field), c.shown) << c.ini;
}

INSTANTIATE_TEST_SUITE_P(
    Parsed, SettingsValues,
    ::testing::Values(
        ValueCase{"[_Parameters]\nTn=350.5\n", &WindowFields::Tn, "351"},
        ValueCase{"[_Parameters]\r\nPath=0.0625\r\n", &WindowFields::Path, "0.063"},
        ValueCase{"[_Iteration]\nFromDensity=2.5e16\n", &WindowFields::FromDensity, "3E+016"},
        ValueCase{"[_Iteration]\nToDensity = 1E19 \n", &WindowFields::ToDensity, "1E+019"},
        ValueCase{"[_Iteration]\nDensityPoints=12\n", &WindowFields::DensityPoints, "12"},
        ValueCase{"[_Fit]\nCount=-3\n", &WindowFields::MaxIter, "-3"},
        ValueCase{"[Ar I]\nBoltzmax=4\n", &WindowFields::Count, "4"},
        ValueCase{"[_fit]\nfromdensity=5e17\n", &WindowFields::FitDensity, "5E+017"}));

struct UnreadableCase {
  const char* ini;
  const char* element;
  const char* message;  // after the file's name
};

class UnreadableSettings : public ::testing::TestWithParam<UnreadableCase> {};

// A number that is there but does not read is an error naming the key, its
// section and the file; the default stands only for a missing key.
TEST_P(UnreadableSettings, AreAnErrorNamingTheKeyAndTheFile) {
  const UnreadableCase& c = GetParam();
  TempFolder dir;
  WriteFile(dir / "lumora.ini", c.ini);
  const Settings s(dir / "lumora.ini");
  try {
    LoadWindowFields(s, c.element);
    ADD_FAILURE() << "read";
  } catch (const Error& e) {
    const std::string where = "in the settings file \"" + (dir / "lumora.ini") + "\"";
    EXPECT_NE(std::string(e.what()).find(where + c.message), std::string::npos) << e.what();
  }
}

constexpr const char* kWhole = " must be a whole number between -2147483648 and 2147483647, not ";

INSTANTIATE_TEST_SUITE_P(
    Values, UnreadableSettings,
    ::testing::Values(
        UnreadableCase{"[_Parameters]\nTn=abc\n", "", " must be a number, not \"abc\"."},
        UnreadableCase{"[_Parameters]\nPath=0,5\n", "", " must be a number, not \"0,5\"."},
        UnreadableCase{"[_Parameters]\nPath=\n", "", " must be a number, not \"\"."},
        UnreadableCase{"[_Iteration]\nFromDensity=1e\n", "", " must be a number, not \"1e\"."},
        UnreadableCase{"[_Iteration]\nToDensity=1e999\n", "",
                       " must be a number, not \"1e999\"."},
        UnreadableCase{"[_Iteration]\nDensityPoints=5.5\n", "", " must be a whole number"},
        UnreadableCase{"[_Iteration]\nTemperaturePoints=99999999999\n", "",
                       " must be a whole number"},
        UnreadableCase{"[_Fit]\nFromTemperature=warm\n", "", " must be a number, not \"warm\"."},
        UnreadableCase{"[Ar I]\nBoltzmax=two\n", "Ar I", " must be a whole number"},
        UnreadableCase{"[Ar I]\nBoltzmax=2147483648\n", "Ar I", " must be a whole number"}));

TEST(SettingsErrors, AnUnreadableNumberNamesItsKeyAndSection) {
  TempFolder dir;
  WriteFile(dir / "lumora.ini", "[_Parameters]\nDefaultAtom=abc\n[Ar I]\nBoltzmax=4.5\n");
  const Settings s(dir / "lumora.ini");
  const std::string file = (dir / "lumora.ini");
  const auto message = [&s](const char* section, const char* key) {
    try {
      s.ReadInteger(section, key, 0);
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("read");
  };
  EXPECT_EQ(message("_Parameters", "DefaultAtom"),
            "The key \"DefaultAtom\" of the section \"_Parameters\" in the settings file \"" + file +
                "\"" + kWhole + "\"abc\".");
  EXPECT_EQ(message("Ar I", "Boltzmax"), "The key \"Boltzmax\" of the element section \"Ar I\" in "
                                         "the settings file \"" + file + "\"" + kWhole + "\"4.5\".");
  // A missing key still reads as its default.
  EXPECT_EQ(s.ReadFloat("_Parameters", "Tn", 300), 300);
}

TEST(SettingsSections, FileOrderKeptAndUnderscoreSectionsAreNoElements) {
  TempFolder dir;
  WriteFile(dir / "lumora.ini",
            "; comment\r\n[_Files]\r\nDatabase=/db\r\n[Ne I]\r\nLevels=ne.txt\r\n[_Fit]\r\n"
            "[Ar I]\r\nLines=Ar,I\r\n[ _odd]\r\n");
  Settings s(dir / "lumora.ini");
  EXPECT_EQ(s.SectionNames(), (std::vector<std::string>{"_Files", "Ne I", "_Fit", "Ar I", "_odd"}));
  EXPECT_EQ(s.ElementNames(), (std::vector<std::string>{"Ne I", "Ar I"}));
  EXPECT_EQ(s.ReadString("Ar I", "Lines", ""), "Ar,I");
  EXPECT_EQ(s.ReadString("Ar I", "Levels", "none"), "none");
}

TEST(SettingsWrites, ReachTheFileAtOnceWithCrLfAndShortestReals) {
  TempFolder dir;
  const std::string path = dir / "lumora.ini";
  WriteFile(path, "; kept comment\n[_Files]\nDatabase=/db\n\n[Ar I]\nLevels=ar.txt\n");
  Settings s(path);
  s.WriteFloat("_Iteration", "FromDensity", 1e15);
  s.WriteFloat("_Parameters", "Path", 0.5);
  s.WriteFloat("_Parameters", "Tn", 50000);
  s.WriteInteger("Ar I", "Boltzmax", -1);
  s.WriteString("_Files", "Measurements", "/data/run 7");

  Settings other(path);  // a second reader sees every write
  EXPECT_EQ(other.ReadString("_Iteration", "FromDensity", ""), "1E15");
  EXPECT_EQ(other.ReadString("_Parameters", "Path", ""), "0.5");
  EXPECT_EQ(other.ReadString("_Parameters", "Tn", ""), "50000");
  EXPECT_EQ(other.ReadInteger("Ar I", "Boltzmax", 0), -1);
  EXPECT_EQ(other.ReadString("_Files", "Measurements", ""), "/data/run 7");
  EXPECT_EQ(other.SectionNames(),
            (std::vector<std::string>{"_Files", "Ar I", "_Iteration", "_Parameters"}));

  const std::string text = ReadFile(path);
  EXPECT_NE(text.find("; kept comment\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Database=/db\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Levels=ar.txt\r\nBoltzmax=-1\r\n"), std::string::npos) << text;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
  EXPECT_EQ(text.find("\r\n\r\n\r\n"), std::string::npos) << "at most one blank line in a row";

  // nothing but the file is left in the folder
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) (void)e, ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(SettingsWrites, KeepChangesMadeToTheFileMeanwhile) {
  TempFolder dir;
  const std::string path = dir / "lumora.ini";
  Settings s(path);
  s.WriteFloat("_Parameters", "Tn", 400);
  WriteFile(path, ReadFile(path) + "[Kr I]\r\nLevels=kr.txt\r\n");
  s.WriteFloat("_Parameters", "Path", 2);
  Settings other(path);
  EXPECT_EQ(other.ReadString("Kr I", "Levels", ""), "kr.txt");
  EXPECT_EQ(other.ReadFloat("_Parameters", "Tn", 0), 400);
  EXPECT_EQ(other.ReadFloat("_Parameters", "Path", 0), 2);
}

TEST(SettingsErrors, UnreadableFileNamesTheFile) {
  TempFolder dir;
  std::filesystem::create_directory(dir / "lumora.ini");
  try {
    Settings s(dir / "lumora.ini");
    FAIL() << "a folder is not a settings file";
  } catch (const InOutError& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "lumora.ini"), std::string::npos) << e.what();
  }
}

TEST(SettingsErrors, WriteIntoAVanishedFolderNamesTheFile) {
  TempFolder dir;
  const std::string path = dir / "sub/lumora.ini";
  WriteFile(path, "[_Fit]\r\nCount=7\r\n");
  Settings s(path);
  std::filesystem::remove_all(dir / "sub");
  try {
    s.WriteInteger("_Fit", "Count", 8);
    FAIL() << "the write cannot succeed";
  } catch (const InOutError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

// Runs in a child process: 3 when the write raised InOutError and the
// object kept the file's values.
int WriteUnderSizeLimit(const std::string& path) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{16, 16};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  Settings s(path);
  try {
    s.WriteString("_Files", "Database", std::string(200, 'x'));
  } catch (const InOutError&) {
    // what the object reads is still what the file holds
    return s.ReadString("_Files", "Database", "none") == "none" ? 3 : 4;
  }
  return 0;
}

TEST(SettingsErrors, FailedWriteLeavesTheOldFileWhole) {
  TempFolder dir;
  const std::string path = dir / "lumora.ini";
  const std::string old = "[_Fit]\r\nCount=7\r\n[Ar I]\r\nLevels=ar.txt\r\n";
  WriteFile(path, old);
  // A file-size limit makes the write fail even for the superuser.
  EXPECT_EXIT(std::exit(WriteUnderSizeLimit(path)), ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(ReadFile(path), old);
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) (void)e, ++entries;
  EXPECT_EQ(entries, 1) << "no temporary file may be left behind";
}

TEST(SettingsErrors, LineBreaksCannotBreakTheFile) {
  TempFolder dir;
  const std::string path = dir / "lumora.ini";
  WriteFile(path, "[_Files]\r\nDatabase=/db\r\n");
  Settings s(path);
  EXPECT_THROW(s.WriteString("_Files", "Measurements", "/a\n[Evil]"), InOutError);
  EXPECT_EQ(ReadFile(path), "[_Files]\r\nDatabase=/db\r\n");
}

// ---- the element's analysis pair

struct PairCase {
  const char* value;  // nullptr: no key
  std::optional<std::pair<double, double>> pair;
  bool error;
};

class ElementPair : public ::testing::TestWithParam<PairCase> {};

TEST_P(ElementPair, ReadFromTheSection) {
  TempFolder dir;
  const PairCase& c = GetParam();
  WriteFile(dir / "lumora.ini", std::string("[Neon]\r\nm=20.1797\r\n") +
                                    (c.value ? std::string("Pair=") + c.value : ""));
  Settings s(dir / "lumora.ini");
  if (c.error) {
    try {
      ElementAnalysisPair(s, "Neon");
      FAIL() << "no error";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("not \"") + c.value + "\""),
                std::string::npos)
          << e.what();
    }
    return;
  }
  EXPECT_EQ(ElementAnalysisPair(s, "Neon"), c.pair);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ElementPair,
    ::testing::Values(PairCase{nullptr, std::nullopt, false}, PairCase{"", std::nullopt, false},
                      PairCase{"588.1895, 659.89528", std::pair{588.1895, 659.89528}, false},
                      PairCase{"588.1895 659.89528", std::pair{588.1895, 659.89528}, false},
                      PairCase{"588.1895", std::nullopt, true},
                      PairCase{"588.1895, 659.9, 700", std::nullopt, true},
                      PairCase{"588,1895, 659", std::nullopt, true},
                      PairCase{"-1, 659.9", std::nullopt, true},
                      PairCase{"a, b", std::nullopt, true}));

}  // namespace
}  // namespace lumora
