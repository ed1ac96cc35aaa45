// Replacing a file's content in one step: the new content goes into a
// temporary file in the target's folder, reaches the disk, and is renamed
// over the target. Readers see the old content or the new one, never a part;
// a failure removes the temporary file and leaves the target as it was.
// Nothing is ever removed or truncated that this code did not create.
#pragma once

#include <string>
#include <string_view>

namespace lumora {

struct AtomicFileOptions {
  // Start of the temporary file's name; six random characters follow.
  // Empty: "." + the target's name + "-" + six random characters + ".part".
  std::string tempPrefix;
  // Action named by every error ("<action> "<target>": <reason>"). Empty:
  // "Cannot create file" until the temporary file exists, "Cannot write
  // file" from then on.
  std::string action;
  // False: an existing target is kept and the commit fails with EEXIST.
  bool replace = true;
};

class AtomicFile {
 public:
  // Creates the temporary file. Raises InOutError when the target exists and
  // is not a regular file (a folder, a device, a dangling link), when it is
  // not writable, or when its folder takes no new file. A symbolic link is
  // followed: the file it names gets the new content and the link stays.
  explicit AtomicFile(const std::string& target, AtomicFileOptions options = {});
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // The temporary file, for writers that open it by name; it is empty and
  // belongs to this object until Commit.
  const std::string& TempPath() const { return temp_; }

  void Write(std::string_view data);
  // Flushes the temporary file to disk and renames it over the target,
  // giving it the old target's permissions.
  void Commit();

 private:
  [[noreturn]] void Fail(const char* defaultAction, int err) const;
  [[noreturn]] void Discard(int err);

  std::string target_;    // as the caller named it, for messages
  std::string resolved_;  // the file actually replaced
  AtomicFileOptions options_;
  std::string temp_;
  int fd_ = -1;
  bool targetExists_ = false;
  unsigned targetMode_ = 0;
  unsigned targetUid_ = 0;
  unsigned targetGid_ = 0;
  bool committed_ = false;
};

// The whole new content in one call.
void WriteFileAtomically(const std::string& target, std::string_view content,
                         AtomicFileOptions options = {});

}  // namespace lumora
