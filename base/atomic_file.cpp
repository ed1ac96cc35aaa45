#include "base/atomic_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

#include "base/errors.h"
#include "base/paths.h"

namespace lumora {
namespace {

constexpr const char* kCreateAction = "Cannot create file";
constexpr const char* kWriteAction = "Cannot write file";
constexpr const char* kNotRegular = "not a regular file";

std::string NameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string s(6, ' ');
  for (char& c : s) c = kChars[pick(engine)];
  return s;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Moves from onto to without replacing an existing to. Where the file system
// has no such rename, a hard link does the same.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

// Makes the rename itself durable; a folder that cannot be synced is no error.
void SyncFolder(const std::string& folder) {
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

}  // namespace

AtomicFile::AtomicFile(const std::string& target, AtomicFileOptions options)
    : target_(target), resolved_(target), options_(std::move(options)) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      char buf[PATH_MAX];
      if (!::realpath(target.c_str(), buf) || ::stat(buf, &st) != 0) Fail(kCreateAction, ENOENT);
      resolved_ = buf;
    }
    if (!S_ISREG(st.st_mode)) {
      const std::string action = options_.action.empty() ? kCreateAction : options_.action;
      throw InOutError(action + " \"" + target_ + "\": " + kNotRegular, EINVAL);
    }
    if (::access(resolved_.c_str(), W_OK) != 0) Fail(kCreateAction, errno);
    targetExists_ = true;
    targetMode_ = st.st_mode & 07777;
    targetUid_ = st.st_uid;
    targetGid_ = st.st_gid;
  } else if (errno != ENOENT) {
    Fail(kCreateAction, errno);
  }

  // A default name ends in ".part", telling what it is to anyone who finds
  // one after a crash.
  const bool named = !options_.tempPrefix.empty();
  const std::string prefix = named ? options_.tempPrefix : "." + NameOf(resolved_) + "-";
  const std::string suffix = named ? "" : ".part";
  const std::string folder = FolderOf(resolved_);
  for (int attempt = 0; fd_ < 0; ++attempt) {
    temp_ = folder + "/" + prefix + RandomSuffix() + suffix;
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
      temp_.clear();
      Fail(kCreateAction, errno);
    }
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicFile::Fail(const char* defaultAction, int err) const {
  throw InOutError::FromErrno(options_.action.empty() ? defaultAction : options_.action, target_,
                              err);
}

void AtomicFile::Discard(int err) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(temp_.c_str());
  temp_.clear();
  Fail(kWriteAction, err);
}

void AtomicFile::Write(std::string_view data) {
  if (fd_ < 0) Fail(kWriteAction, EBADF);
  if (!WriteAll(fd_, data)) Discard(errno);
}

void AtomicFile::Commit() {
  if (fd_ < 0) Fail(kWriteAction, EBADF);
  if (targetExists_) {
    // Owner first: a change of owner may clear the set-id bits again.
    if (::fchown(fd_, targetUid_, targetGid_) != 0) {
      // Only the superuser may give a file away; the file stays this user's.
    }
    if (::fchmod(fd_, targetMode_) != 0) Discard(errno);
  }
  if (::fsync(fd_) != 0) Discard(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Discard(errno);
  int err = 0;
  if (options_.replace) {
    if (::rename(temp_.c_str(), resolved_.c_str()) != 0) err = errno;
  } else {
    err = RenameNoReplace(temp_, resolved_);
  }
  if (err != 0) Discard(err);
  committed_ = true;
  SyncFolder(FolderOf(resolved_));
}

void WriteFileAtomically(const std::string& target, std::string_view content,
                         AtomicFileOptions options) {
  AtomicFile file(target, std::move(options));
  file.Write(content);
  file.Commit();
}

}  // namespace lumora
