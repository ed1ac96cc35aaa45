#include "base/paths.h"

#include <sys/stat.h>

#include <cstdlib>

#include "base/errors.h"

namespace lumora {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && tmp[0] == '/' ? tmp : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

void RefuseOutputThatIsAnInput(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat out {};
  if (output.empty() || ::stat(output.c_str(), &out) != 0) return;
  for (const std::string& input : inputs) {
    struct stat in {};
    if (input.empty() || ::stat(input.c_str(), &in) != 0) continue;
    if (in.st_dev == out.st_dev && in.st_ino == out.st_ino)
      throw Error("\"" + output + "\" is also an input of this command");
  }
}

}  // namespace lumora
