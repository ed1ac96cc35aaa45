#include "lsq/iteration_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "base/errors.h"
#include "base/paths.h"

namespace lumora {

namespace {

// errno when the C library set one, else a generic input/output failure.
int LastError() { return errno ? errno : EIO; }

// A stream on a descriptor just opened for writing; the descriptor is
// closed when the stream cannot be made.
std::FILE* StreamOn(int fd, const std::string& path) {
  if (fd < 0) throw InOutError::FromErrno("Cannot create file", path, LastError());
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) {
    const int error = LastError();
    ::close(fd);
    throw InOutError::FromErrno("Cannot create file", path, error);
  }
  return file;
}

[[noreturn]] void RefuseFolder(const std::string& folder, const char* reason) {
  throw InOutError("The log folder \"" + folder + "\" " + reason + "; it is not used.", EACCES);
}

}  // namespace

FileLog::FileLog(std::string path) : path_(std::move(path)) {
  errno = 0;
  file_ = StreamOn(
      ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666), path_);
}

std::unique_ptr<FileLog> FileLog::CreateUnique(const std::string& folder) {
  std::string path = folder + "/lumora-XXXXXX.txt";
  errno = 0;
  // mkostemps creates with O_CREAT | O_EXCL and mode 0600, which never
  // follows a link, and retries with another name when one exists.
  const int fd = ::mkostemps(path.data(), 4, O_CLOEXEC);
  std::FILE* file = StreamOn(fd, fd < 0 ? folder + "/lumora-XXXXXX.txt" : path);
  return std::unique_ptr<FileLog>(new FileLog(std::move(path), file));
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

void EnsurePrivateFolder(const std::string& folder, uid_t owner) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw InOutError::FromErrno("Cannot create folder", folder, LastError());
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0)
    throw InOutError::FromErrno("Cannot open folder", folder, LastError());
  if (S_ISLNK(st.st_mode)) RefuseFolder(folder, "is a link");
  if (!S_ISDIR(st.st_mode)) RefuseFolder(folder, "is no folder");
  if (st.st_uid != owner) RefuseFolder(folder, "belongs to another user");
  if (st.st_mode & (S_IWGRP | S_IWOTH)) RefuseFolder(folder, "can be written by other users");
}

std::string PrivateLogFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime && runtime[0] == '/'
                           ? std::string(runtime)
                           : TempFolder() + "/lumora-" + std::to_string(::getuid());
  EnsurePrivateFolder(folder, ::getuid());
  return folder;
}

namespace {

// A folder of this process alone, made on first use.
class ProcessLogFolder {
 public:
  ProcessLogFolder() {
    std::string pattern = TempFolder() + "/lumora-" + std::to_string(::getuid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
      throw InOutError::FromErrno("Cannot create folder", pattern, LastError());
    path_ = pattern;
  }
  ~ProcessLogFolder() { ::rmdir(path_.c_str()); }  // kept logs stay, and the folder with them
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string UsableLogFolder() {
  try {
    return PrivateLogFolder();
  } catch (const InOutError&) {
    static const ProcessLogFolder fallback;
    return fallback.Path();
  }
}

void FileLog::Close() {
  if (!file_) return;
  // The handle is released even when the last write-back fails.
  std::FILE* f = std::exchange(file_, nullptr);
  errno = 0;
  if (std::fclose(f) != 0) throw InOutError::FromErrno("Cannot write file", path_, LastError());
}

}  // namespace lumora
