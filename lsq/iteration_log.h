// Where a minimiser run writes its iteration table and report: any sink of
// text lines. FileLog writes a file with CR LF line ends.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace lumora {

class IterationLog {
 public:
  virtual ~IterationLog() = default;
  // Appends text as it stands.
  virtual void Write(std::string_view text) = 0;
  // Appends text and a line end.
  virtual void Line(std::string_view text = {}) = 0;
};

// A log kept in memory, as the text a file would hold.
class TextLog : public IterationLog {
 public:
  void Write(std::string_view text) override { text_ += text; }
  void Line(std::string_view text = {}) override {
    text_ += text;
    text_ += "\r\n";
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// A log that keeps nothing.
class DiscardedLog : public IterationLog {
 public:
  void Write(std::string_view) override {}
  void Line(std::string_view) override {}
};

// A log file owned by one run. Every failure is an InOutError naming the file.
class FileLog : public IterationLog {
 public:
  // Creates the file, or truncates it when it exists; a link in its place
  // is refused rather than followed.
  explicit FileLog(std::string path);
  // A new file "lumora-XXXXXX.txt" in folder, created exclusively with mode
  // 0600 under a name no other run has: nothing that exists there, another
  // run's log or a link planted by someone else, is ever opened.
  static std::unique_ptr<FileLog> CreateUnique(const std::string& folder);
  ~FileLog() override;  // closes, ignoring a failure (call Close to see it)
  FileLog(const FileLog&) = delete;
  FileLog& operator=(const FileLog&) = delete;

  void Write(std::string_view text) override;
  void Line(std::string_view text = {}) override;
  // Closes the file; raises when the last write-back fails. Writing after
  // Close raises too.
  void Close();

  const std::string& Path() const { return path_; }

 private:
  FileLog(std::string path, std::FILE* file) : path_(std::move(path)), file_(file) {}

  std::string path_;
  std::FILE* file_ = nullptr;
};

// The folder for this user's run logs, created when missing: $XDG_RUNTIME_DIR
// when set, else "lumora-<uid>" in the temporary folder ($TMPDIR, else /tmp).
// Raises InOutError when it cannot be created or is not private.
std::string PrivateLogFolder();

// PrivateLogFolder, or where that cannot be used (another user made it
// first, a link stands in its place), a folder of this process alone made
// with mkdtemp in the temporary folder and removed at exit when empty. So
// a folder someone else planted never stops a fit.
std::string UsableLogFolder();

// Creates folder with mode 0700 when it is missing, then refuses it (with an
// InOutError naming it) when it is a link or no folder, is owned by another
// user than `owner`, or can be written by others.
void EnsurePrivateFolder(const std::string& folder, uid_t owner);

}  // namespace lumora
