#include "model/map_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/errors.h"
#include "base/format.h"

namespace lumora {

namespace {

// A new file beside `path` that no other writer has: exclusive creation
// with a name of this process and a counter, so runs in parallel (or a file
// left by a run that died) never share one. Its mode follows the umask, as
// that of a file created in place would.
int CreateTemporaryBeside(const std::string& path, std::string& temporary) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = Format("%s.%d-%d.tmp", path, static_cast<int>(::getpid()), counter++);
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// 0, or the errno of the write that failed.
int WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Replaces the file by text as a whole: written to a temporary file in the
// same folder, flushed to the disk and renamed over it, so that a failure
// (a full disk) leaves the old file as it was and no temporary behind.
void ReplaceFile(const std::string& path, const std::string& text) {
  std::string temporary;
  const int fd = CreateTemporaryBeside(path, temporary);
  if (fd < 0) throw InOutError::FromErrno("Cannot create file", path, errno);
  int error = WriteAll(fd, text);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    throw InOutError::FromErrno("Cannot write file", path, error);
  }
}

}  // namespace

std::string MapFilePath(const std::string& measurementFile) {
  const std::filesystem::path file(measurementFile);
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  return (folder / "Maps" / (file.filename().string() + "_map.txt")).string();
}

std::string WriteMapFile(const std::string& measurementFile, const std::string& header,
                         const ResidualGrid& grid) {
  const std::string path = MapFilePath(measurementFile);
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw InOutError("Cannot create folder \"" + folder + "\": " + ec.message(), ec.value());

  std::string text = "#" + header + "\r\n";
  for (const auto& row : grid) {
    for (double cell : row) text += Format("%.12e ", cell);
    text += "\r\n";
  }

  ReplaceFile(path, text);
  return path;
}

}  // namespace lumora
