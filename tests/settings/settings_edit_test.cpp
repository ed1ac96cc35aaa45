// Settings writes on files made or changed by hand, and by several programs
// at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/errors.h"
#include "settings/settings.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

using namespace std::string_literals;

const std::string kBom = "\xEF\xBB\xBF";

// A write changes the key's line or adds one; every other line stays as it
// was (line ends become CR LF).
TEST(SettingsEdits, HandEditedLinesSurviveAWrite) {
  struct Case {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    std::string after;  // once section key is set to "8"
  };
  const std::vector<Case> cases = {
      {"section header without ]", "[_Files\r\nDatabase=/db\r\n[_Fit]\r\nCount=7\r\n", "_Fit",
       "Count", "[_Files\r\nDatabase=/db\r\n[_Fit]\r\nCount=8\r\n"},
      {"new key after a header without ]", "[_Files\r\nDatabase=/db\r\n", "_Files", "Count",
       "[_Files\r\nDatabase=/db\r\n\r\n[_Files]\r\nCount=8\r\n"},
      {"byte-order mark", kBom + "[_Fit]\r\nCount=7\r\n", "_Fit", "Count",
       kBom + "[_Fit]\r\nCount=8\r\n"},
      // the reader passes over one mark only: the header is no header to it
      {"doubled byte-order mark", kBom + kBom + "[_Fit]\r\nCount=7\r\n", "_Fit", "Count",
       kBom + kBom + "[_Fit]\r\nCount=7\r\n\r\n[_Fit]\r\nCount=8\r\n"},
      {"comments and lines without =",
       "; top\r\n[_Fit]\r\n# why\r\njust words\r\nCount=7\r\n; tail\r\n", "_Fit", "Count",
       "; top\r\n[_Fit]\r\n# why\r\njust words\r\nCount=8\r\n; tail\r\n"},
      {"new key before a closing comment",
       "[_Fit]\r\njust words\r\nCount=7\r\n; tail\r\n\r\n[Ar I]\r\n", "_Fit", "Tn",
       "[_Fit]\r\njust words\r\nCount=7\r\nTn=8\r\n; tail\r\n\r\n[Ar I]\r\n"},
      {"duplicate keys: the last one counts", "[_Fit]\r\nCount=7\r\nCount=9\r\n", "_Fit", "Count",
       "[_Fit]\r\nCount=7\r\nCount=8\r\n"},
      {"duplicate sections", "[_Fit]\r\nCount=7\r\n[Ar I]\r\nm=40\r\n[_fit]\r\nA=1\r\n", "_Fit",
       "B", "[_Fit]\r\nCount=7\r\n[Ar I]\r\nm=40\r\n[_fit]\r\nA=1\r\nB=8\r\n"},
      {"names in another case and blanks", "[ _fit ]\r\n  count = 7  \r\n", "_Fit", "Count",
       "[ _fit ]\r\n  count =8\r\n"},
      {"LF ends and no final line end", "[_Fit]\nCount=7\n\n[Ar I]\nm=40", "Ar I", "Boltzmax",
       "[_Fit]\r\nCount=7\r\n\r\n[Ar I]\r\nm=40\r\nBoltzmax=8\r\n"},
      {"new section", "[_Fit]\r\nCount=7", "Kr I", "m",
       "[_Fit]\r\nCount=7\r\n\r\n[Kr I]\r\nm=8\r\n"},
      {"empty file", "", "_Fit", "Count", "[_Fit]\r\nCount=8\r\n"},
  };
  for (const Case& c : cases) {
    TempFolder dir;
    const std::string path = dir.Write("lumora.ini", c.before);
    Settings s(path);
    s.WriteString(c.section, c.key, "8");
    EXPECT_EQ(ReadFile(path), c.after) << c.what;
    EXPECT_EQ(Settings(path).ReadString(c.section, c.key, ""), "8") << c.what;
  }
}

// Where the new line would not read back as written, or would change what
// other lines mean, the write is refused and the file stays as it is.
TEST(SettingsEdits, WritesThatWouldChangeOtherLinesAreRefused) {
  struct Case {
    const char* what;
    std::string before;
    std::string section;
    std::string key;
  };
  const std::vector<Case> cases = {
      {"= in the key", "[_Fit]\r\nCount=7\r\n", "_Fit", "a=b"},
      {"= in a long key", "[_Fit]\r\nCount=7\r\n", "_Fit", std::string(5000, 'k') + "=b"},
      {"] in the section", "[_Fit]\r\nCount=7\r\n", "a]b", "Count"},
      {"key looks like a comment", "[_Fit]\r\nCount=7\r\n", "_Fit", ";Count"},
      // the reader stops at a zero byte
      {"section after a zero byte", "[_Fit]\r\nA=1\r\n"s + '\0' + "\r\n[_Files]\r\nB=2\r\n",
       "_Files", "C"},
  };
  for (const Case& c : cases) {
    TempFolder dir;
    const std::string path = dir.Write("lumora.ini", c.before);
    Settings s(path);
    try {
      s.WriteString(c.section, c.key, "8");
      ADD_FAILURE() << c.what << ": written";
    } catch (const InOutError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Cannot write settings file \"" + path + "\": ", 0), 0u)
          << c.what << ": " << e.what();
      EXPECT_LT(std::string(e.what()).size(), path.size() + 250)
          << c.what << ": the names are cut short";
    }
    EXPECT_EQ(ReadFile(path), c.before) << c.what;
  }
}

// Programs that write at once must not lose each other's keys.
TEST(SettingsEdits, ConcurrentWritersLoseNoKey) {
  TempFolder dir;
  const std::string path = dir.Write("lumora.ini", "[_Files]\r\nDatabase=/db\r\n");
  constexpr int kWriters = 4, kKeys = 15;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        Settings s(path);
        for (int k = 0; k < kKeys; ++k)
          s.WriteInteger("_Race", "W" + std::to_string(w) + "K" + std::to_string(k), k);
      } catch (...) {
        status = 1;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Settings s(path);
  EXPECT_EQ(s.ReadString("_Files", "Database", ""), "/db");
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeys; ++k)
      EXPECT_EQ(s.ReadInteger("_Race", "W" + std::to_string(w) + "K" + std::to_string(k), -1), k)
          << w << " " << k;
}

// Opening the settings removes this user's temporary files that an
// interrupted write left behind, and nothing else.
TEST(SettingsEdits, StaleTemporaryFilesAreRemovedOnOpening) {
  TempFolder dir;
  const std::string path = dir.Write("lumora.ini", "[_Fit]\r\nCount=7\r\n");
  dir.Write(".lumora-ini-a1B2c3", "[_Fit]\r\nCou");
  dir.Write(".lumora-ini-notmine.txt", "a file of the user's");
  dir.Write("other.ini", "x");
  std::filesystem::create_directory(dir / ".lumora-ini-fOlder");
  Settings s(path);
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"lumora.ini", ".lumora-ini-notmine.txt", "other.ini",
                                          ".lumora-ini-fOlder"}));
  EXPECT_EQ(s.ReadInteger("_Fit", "Count", 0), 7);
}

}  // namespace
}  // namespace lumora
