// Where a minimiser run writes its iteration table and report: any sink of
// text lines. FileLog writes a file with CR LF line ends.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace lumora {

class IterationLog {
 public:
  virtual ~IterationLog() = default;
  // Appends text as it stands.
  virtual void Write(std::string_view text) = 0;
  // Appends text and a line end.
  virtual void Line(std::string_view text = {}) = 0;
};

// A log file owned by one run. Every failure is an InOutError naming the file.
class FileLog : public IterationLog {
 public:
  // Creates the file, or truncates it when it exists.
  explicit FileLog(std::string path);
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
  std::string path_;
  std::FILE* file_ = nullptr;
};

}  // namespace lumora
