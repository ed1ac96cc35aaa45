#include "lsq/marqlog.h"

#include <cerrno>
#include <cstdio>

#include "base/errors.h"

namespace lumora::marqlog {

namespace {

std::FILE* g_log = nullptr;
std::string g_path;

}  // namespace

void Open(const std::string& path) {
  Close();
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw InOutError::FromErrno("Cannot create file", path, errno ? errno : EIO);
  g_log = f;
  g_path = path;
}

bool IsOpen() { return g_log != nullptr; }

void Write(std::string_view text) {
  if (!g_log) throw InOutError("The fit log is not open");
  if (text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), g_log) != text.size())
    throw InOutError::FromErrno("Cannot write file", g_path, errno ? errno : EIO);
}

void Line(std::string_view text) {
  Write(text);
  Write("\r\n");
}

void Close() {
  if (!g_log) return;
  std::FILE* f = g_log;
  g_log = nullptr;
  errno = 0;
  if (std::fclose(f) != 0)
    throw InOutError::FromErrno("Cannot write file", g_path, errno ? errno : EIO);
}

}  // namespace lumora::marqlog
