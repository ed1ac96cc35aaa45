#include "settings/startup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "base/errors.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

using testing::EnvGuard;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

class StartupCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Set("HOME", dir / "home");
    env.Set("XDG_DATA_HOME", dir / "user");
    env.Set("XDG_DATA_DIRS", (dir / "nothing") + ":" + (dir / "common"));
  }
  std::string UserIni() { return dir / "user/Lumora 1.3/lumora.ini"; }
  std::string CommonIni() { return dir / "common/Lumora 1.3/lumora.ini"; }

  TempFolder dir;
  EnvGuard env;
};

TEST_F(StartupCheckTest, FirstStartCopiesTheMachineWideFile) {
  WriteFile(CommonIni(), "[Ar I]\r\nLevels=ar.txt\r\n");
  auto path = StartupCheck();
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, UserIni());
  EXPECT_EQ(ReadFile(UserIni()), "[Ar I]\r\nLevels=ar.txt\r\n");
}

// Runs in a child whose files may not grow past 16 bytes, as on a full disk.
int StartupOnAFullDisk() {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{16, 16};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  return StartupCheck() ? 3 : 4;
}

TEST_F(StartupCheckTest, AFailedCopyLeavesNoPerUserFile) {
  const std::string common = "[_Files]\r\nDatabase=/usr/share/db\r\n[Ar I]\r\nLevels=ar.txt\r\n";
  WriteFile(CommonIni(), common);
  EXPECT_EXIT(std::exit(StartupOnAFullDisk()), ::testing::ExitedWithCode(3), "");
  EXPECT_FALSE(std::filesystem::exists(UserIni()));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "user/Lumora 1.3")) << "no temporary file either";
  // the next start, with room on the disk, copies the whole file
  ASSERT_TRUE(StartupCheck());
  EXPECT_EQ(ReadFile(UserIni()), common);
}

TEST_F(StartupCheckTest, LaterStartsDoNotLookAtTheMachineWideFolder) {
  WriteFile(UserIni(), "[Mine]\r\n");
  // no machine-wide folder at all
  auto path = StartupCheck();
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, UserIni());
  // and a machine-wide file never replaces the user's
  WriteFile(CommonIni(), "[Theirs]\r\n");
  EXPECT_TRUE(StartupCheck());
  EXPECT_EQ(ReadFile(UserIni()), "[Mine]\r\n");
}

TEST_F(StartupCheckTest, FailsWhenNeitherFolderHoldsTheFile) {
  EXPECT_FALSE(StartupCheck());
  std::filesystem::create_directories(dir / "common/Lumora 1.3");  // folder without the file
  EXPECT_FALSE(StartupCheck());
  EXPECT_FALSE(std::filesystem::exists(UserIni()));
}

// A first start that cannot make the per-user folder (a read-only home, here
// a file in the folder's way) names that folder, rather than going on with
// empty settings that have no element section.
TEST_F(StartupCheckTest, AFolderThatCannotBeMadeIsNamed) {
  WriteFile(CommonIni(), "[Ar I]\r\nLevels=ar.txt\r\n");
  WriteFile(dir / "blocked", "");
  env.Set("XDG_DATA_HOME", dir / "blocked");
  try {
    StartupCheck();
    ADD_FAILURE() << "started";
  } catch (const InOutError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create folder \"" + (dir / "blocked/Lumora 1.3") +
                                              "\": ",
                                          0),
              0u)
        << e.what();
  }
}

TEST_F(StartupCheckTest, DataFoldersFollowTheXdgVariables) {
  EXPECT_EQ(UserDataFolder(), dir / "user/Lumora 1.3");
  env.Unset("XDG_DATA_HOME");
  EXPECT_EQ(UserDataFolder(), dir / "home/.local/share/Lumora 1.3");
  env.Set("XDG_DATA_HOME", "relative/ignored");
  EXPECT_EQ(UserDataFolder(), dir / "home/.local/share/Lumora 1.3");

  EXPECT_FALSE(CommonDataFolder());
  std::filesystem::create_directories(dir / "common/Lumora 1.3");
  std::filesystem::create_directories(dir / "later/Lumora 1.3");
  env.Set("XDG_DATA_DIRS", (dir / "nothing") + "::" + (dir / "common/") + ":" + (dir / "later"));
  EXPECT_EQ(CommonDataFolder(), dir / "common/Lumora 1.3");
}

}  // namespace
}  // namespace lumora
