#include "lsq/iteration_log.h"

#include <cerrno>
#include <utility>

#include "base/errors.h"

namespace lumora {

namespace {

// errno when the C library set one, else a generic input/output failure.
int LastError() { return errno ? errno : EIO; }

}  // namespace

FileLog::FileLog(std::string path) : path_(std::move(path)) {
  errno = 0;
  file_ = std::fopen(path_.c_str(), "wb");
  if (!file_) throw InOutError::FromErrno("Cannot create file", path_, LastError());
}

FileLog::~FileLog() {
  if (file_) std::fclose(file_);
}

void FileLog::Write(std::string_view text) {
  if (!file_) throw InOutError("The fit log is not open");
  if (text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size())
    throw InOutError::FromErrno("Cannot write file", path_, LastError());
}

void FileLog::Line(std::string_view text) {
  Write(text);
  Write("\r\n");
}

void FileLog::Close() {
  if (!file_) return;
  // The handle is released even when the last write-back fails.
  std::FILE* f = std::exchange(file_, nullptr);
  errno = 0;
  if (std::fclose(f) != 0) throw InOutError::FromErrno("Cannot write file", path_, LastError());
}

}  // namespace lumora
