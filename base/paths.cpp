#include "base/paths.h"

#include <cstdlib>

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

}  // namespace lumora
