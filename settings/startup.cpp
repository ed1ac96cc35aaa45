#include "settings/startup.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "base/atomic_file.h"
#include "base/errors.h"

namespace lumora {
namespace {

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::vector<std::string> SplitPathList(const std::string& list) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= list.size()) {
    size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    if (colon > start) parts.push_back(list.substr(start, colon - start));
    start = colon + 1;
  }
  return parts;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Copies a file, refusing to overwrite one that exists; false on failure.
// The copy appears whole or not at all: a disk that fills up must not leave
// a short or empty file that later starts would take as the user's own.
bool CopyNoOverwrite(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return false;
  AtomicFileOptions keepExisting;
  keepExisting.replace = false;
  try {
    WriteFileAtomically(to, content, keepExisting);
  } catch (const InOutError&) {
    return false;
  }
  return true;
}

// The files the per-user data folder must hold.
const std::vector<std::string>& RequiredFiles() {
  static const std::vector<std::string> files{kSettingsFileName};
  return files;
}

bool AllPresent(const std::string& folder) {
  for (const auto& f : RequiredFiles())
    if (!FileExists(Join(folder, f))) return false;
  return true;
}

}  // namespace

std::optional<std::string> UserDataFolder() {
  std::string base = EnvOrEmpty("XDG_DATA_HOME");
  // Only absolute folders count; a relative one is ignored as XDG asks.
  if (base.empty() || base[0] != '/') {
    std::string home = HomeFolder();
    if (home.empty()) return std::nullopt;
    base = Join(home, ".local/share");
  }
  return Join(WithoutTrailingSlash(base), kDataFolderName);
}

std::optional<std::string> CommonDataFolder() {
  std::string dirs = EnvOrEmpty("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  for (const auto& dir : SplitPathList(dirs)) {
    if (dir[0] != '/') continue;
    std::string folder = Join(WithoutTrailingSlash(dir), kDataFolderName);
    if (FolderExists(folder)) return folder;
  }
  return std::nullopt;
}

std::optional<std::string> StartupCheck() {
  auto user = UserDataFolder();
  if (!user) return std::nullopt;
  const std::string settingsPath = Join(*user, kSettingsFileName);
  if (AllPresent(*user)) return settingsPath;

  auto common = CommonDataFolder();
  if (!common || !AllPresent(*common)) return std::nullopt;

  std::error_code ec;
  std::filesystem::create_directories(*user, ec);
  // Without the folder no settings can be kept: name it and why (a
  // read-only home, say), rather than go on with empty settings.
  if (!FolderExists(*user))
    throw InOutError::FromErrno("Cannot create folder", *user, ec ? ec.value() : ENOTDIR);
  // A failed copy is not fatal: the settings then read as empty.
  for (const auto& f : RequiredFiles()) CopyNoOverwrite(Join(*common, f), Join(*user, f));
  return settingsPath;
}

}  // namespace lumora
