#include "base/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "base/errors.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempFolder;

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const InOutError& e) {
    return e.what();
  }
  return "no error";
}

TEST(AtomicFile, CreatesOrReplacesAndKeepsTheOldPermissions) {
  TempFolder dir;
  WriteFileAtomically(dir / "new.txt", "fresh");
  EXPECT_EQ(dir.Read("new.txt"), "fresh");

  const std::string old = dir.Write("old.txt", "a much longer old content");
  fs::permissions(old, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteFileAtomically(old, "new");
  EXPECT_EQ(ReadFile(old), "new");
  EXPECT_EQ(fs::status(old).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"new.txt", "old.txt"}));
}

TEST(AtomicFile, ALinkStaysAndItsFileGetsTheContent) {
  TempFolder dir;
  dir.Write("real.txt", "old");
  fs::create_directory(dir / "links");
  fs::create_symlink(dir / "real.txt", dir / "links/link.txt");
  WriteFileAtomically(dir / "links/link.txt", "new");
  EXPECT_TRUE(fs::is_symlink(dir / "links/link.txt"));
  EXPECT_EQ(dir.Read("real.txt"), "new");
  EXPECT_EQ(Names(dir / "links"), (std::set<std::string>{"link.txt"}));
}

// What is not a regular file is refused and left exactly as it was.
TEST(AtomicFile, RefusesTargetsThatAreNoRegularFile) {
  TempFolder dir;
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  struct Case {
    std::string target;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {dir / "folder", "not a regular file"},
      {dir / "fifo", "not a regular file"},
      {dir / "dangling", "No such file or directory"},
      {dir / "no/such/folder/file", "No such file or directory"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(c.target, "x"); }),
              "Cannot create file \"" + c.target + "\": " + c.reason);
  }
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"folder", "fifo", "dangling"}));
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(ErrorOf([] { WriteFileAtomically("/dev/full", "x"); }),
              "Cannot create file \"/dev/full\": not a regular file");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }
}

TEST(AtomicFile, NamedActionAndTemporaryName) {
  TempFolder dir;
  fs::create_directory(dir / "folder");
  AtomicFileOptions options;
  options.tempPrefix = ".mine-";
  options.action = "Cannot write settings file";
  EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(dir / "folder", "x", options); }),
            "Cannot write settings file \"" + (dir / "folder") + "\": not a regular file");
  AtomicFile file(dir / "t.txt", options);
  EXPECT_EQ(fs::path(file.TempPath()).parent_path(), fs::path(dir.path()));
  EXPECT_EQ(fs::path(file.TempPath()).filename().string().substr(0, 6), ".mine-");
}

TEST(AtomicFile, WithoutReplaceAnExistingTargetStays) {
  TempFolder dir;
  AtomicFileOptions keep;
  keep.replace = false;
  WriteFileAtomically(dir / "a.txt", "first", keep);
  EXPECT_EQ(dir.Read("a.txt"), "first");
  EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(dir / "a.txt", "second", keep); }),
            "Cannot write file \"" + (dir / "a.txt") + "\": File exists");
  EXPECT_EQ(dir.Read("a.txt"), "first");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"a.txt"}));
}

TEST(AtomicFile, AnAbandonedWriteLeavesNothing) {
  TempFolder dir;
  dir.Write("a.txt", "old");
  {
    AtomicFile file(dir / "a.txt");
    file.Write("half");
  }
  EXPECT_EQ(dir.Read("a.txt"), "old");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"a.txt"}));
}

// Runs in a child: 3 when the write failed with InOutError.
int WriteUnderSizeLimit(const std::string& path) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{16, 16};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  try {
    WriteFileAtomically(path, std::string(200, 'x'));
  } catch (const InOutError& e) {
    return std::string(e.what()).find("Cannot write file") == 0 ? 3 : 4;
  }
  return 0;
}

TEST(AtomicFile, AFailedWriteKeepsTheOldFileAndRemovesTheTemporaryOne) {
  TempFolder dir;
  const std::string path = dir.Write("a.txt", "old");
  // A file-size limit makes the write fail even for the superuser.
  EXPECT_EXIT(std::exit(WriteUnderSizeLimit(path)), ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"a.txt"}));
}

TEST(AtomicFile, AReadOnlyTargetIsNotReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser may write any file";
  TempFolder dir;
  const std::string path = dir.Write("a.txt", "old");
  fs::permissions(path, fs::perms::owner_read);
  EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(path, "new"); }),
            "Cannot create file \"" + path + "\": Permission denied");
  EXPECT_EQ(ReadFile(path), "old");
}

}  // namespace
}  // namespace lumora
