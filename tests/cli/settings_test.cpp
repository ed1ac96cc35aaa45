// Runs the built lumora-cli with a private home and data folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"

namespace {

using lumora::testing::ReadFile;
using lumora::testing::WriteFile;
using Result = lumora::testing::CliRun;

std::string Quoted(const std::string& text) { return lumora::testing::ShellQuoted(text); }

class SettingsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "lumora-cli-XXXXXX").string();
    root = ::mkdtemp(tmpl.data());
  }
  void TearDown() override { std::filesystem::remove_all(root); }

  std::string Path(const std::string& name) const { return root + "/" + name; }
  std::string UserIni() const { return Path("user/Lumora 1.3/lumora.ini"); }
  std::string CommonIni() const { return Path("common/Lumora 1.3/lumora.ini"); }

  // Runs lumora-cli with nothing of the caller's environment but these folders.
  Result Run(const std::vector<std::string>& args) {
    std::string quotedArgs;
    for (const auto& a : args) quotedArgs += " " + Quoted(a);
    return lumora::testing::RunCli(
        root, quotedArgs,
        "env -i HOME=" + Quoted(Path("home")) + " XDG_DATA_HOME=" + Quoted(Path("user")) +
            " XDG_DATA_DIRS=" + Quoted(Path("common")) + " TMPDIR=" + Quoted(root));
  }

  std::string root;
};

TEST_F(SettingsCli, HelpListsTheOptionsAndCommands) {
  Result r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: lumora-cli [--ini FILE] [--element NAME] COMMAND"),
            std::string::npos);
  EXPECT_NE(r.out.find("\n  settings\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
}

TEST_F(SettingsCli, WrongCommandLinesFailOnStandardError) {
  WriteFile(Path("s.ini"), "");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus"},
      {"--bogus", "settings"},
      {"--ini"},
      {"--ini", Path("s.ini"), "settings", "--x"},
      {"--ini", Path("s.ini"), "settings", "extra"},
      {"--ini", Path("missing.ini"), "settings"}};
  for (const auto& args : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    Result r = Run(args);
    EXPECT_EQ(r.status, 1) << line;
    EXPECT_EQ(r.out, "") << line;
    EXPECT_FALSE(r.err.empty()) << line;
  }
  EXPECT_NE(Run({"bogus"}).err.find("bogus"), std::string::npos);
  EXPECT_NE(Run({"--ini", Path("missing.ini"), "settings"}).err.find(Path("missing.ini")),
            std::string::npos);
}

TEST_F(SettingsCli, SettingsPrintsEveryKeyWithItsEffectiveValue) {
  WriteFile(Path("s.ini"),
            "[Ne I]\r\nLevels=ne.txt\r\nLines=Ne,I\r\nBoltzmax=3\r\nm=20.18\r\n"
            "[_Parameters]\r\nTn=350.50\r\nPath=abc\r\n"
            "[_Iteration]\nFromDensity=2e16\nDensityPoints=1.5\n"
            "[Ar I]\nm=39.948\n");
  WriteFile(CommonIni(), "[Other]\r\n");
  Result r = Run({"--ini", Path("s.ini"), "settings"});
  // A number that does not read has no effective value: it is shown as
  // written, and named on standard error.
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err,
            "The key \"Path\" of the section \"_Parameters\" in the settings file \"" + Path("s.ini") +
                "\" must be a number, not \"abc\".\n"
                "The key \"DensityPoints\" of the section \"_Iteration\" in the settings file \"" +
                Path("s.ini") +
                "\" must be a whole number between -2147483648 and 2147483647, not \"1.5\".\n");
  EXPECT_EQ(r.out,
            "[_Files]\nDatabase=\nMeasurements=/\n"
            "[_Parameters]\nDefaultAtom=0\nTn=350.5\nPath=abc\n"
            "[_Iteration]\nFromDensity=2E16\nToDensity=1E18\nDensityPoints=1.5\n"
            "FromTemperature=1000\nToTemperature=50000\nTemperaturePoints=50\n"
            "[_Fit]\nFromDensity=1E16\nFromTemperature=1000\nCount=50\n"
            "[Ne I]\nLevels=ne.txt\nLines=Ne,I\nBoltzmax=3\nm=20.18\n"
            "[Ar I]\nLevels=\nLines=\nBoltzmax=1\nm=39.948\n");
  EXPECT_FALSE(std::filesystem::exists(UserIni())) << "--ini must not make a first-start copy";
}

TEST_F(SettingsCli, WithoutIniTheFirstStartCopiesTheMachineWideFile) {
  WriteFile(CommonIni(), "[_Fit]\r\nCount=9\r\n");
  Result r = Run({"settings"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Count=9\n"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(UserIni()), "[_Fit]\r\nCount=9\r\n");
}

TEST_F(SettingsCli, MissingProgramFilesEndWithTheMessageAndStatusZero) {
  Result r = Run({"settings"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Necessary program files are missing. \nProgram will be terminated.\n");
}

}  // namespace
