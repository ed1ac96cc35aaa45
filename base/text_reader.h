// Sequential reading of a text file of single-byte characters, in blocks:
// characters, fixed-width fields, blank-separated tokens and line ends (CR
// LF, LF or a CR alone). The line files and the level, measurement and
// spectrum readers build their field rules on it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lumora {

// What the first bytes of a text file say about its encoding: the length of
// a UTF-8 byte-order mark to skip (0 without one). UTF-16 and UTF-32, by
// their mark or by the NUL bytes between the characters of plain text,
// raise Error "\"<file>\" is UTF-16 text; save it as UTF-8 or Latin-1".
size_t TextStart(const std::string& fileName, std::string_view head);

// Refuses, with InOutError, a path that names no regular file (a device
// such as /dev/zero, a FIFO, a socket): reading it would never end or
// would wait for a writer. A missing path passes; opening it reports it.
void RequireRegularFile(const std::string& fileName);

class TextReader {
 public:
  // Opens the file for reading; InOutError "Cannot open file ..." when it
  // is missing, unreadable, a folder or no regular file. A UTF-8 mark at
  // the start is skipped; UTF-16 and UTF-32 text is refused (TextStart).
  explicit TextReader(std::string fileName);
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  const std::string& FileName() const { return fileName_; }

  // The next character, or -1 at the end of the file. A failed read is an
  // InOutError "Cannot read file ...", never a silent end.
  int Peek();
  int Get();
  bool Eof() { return Peek() < 0; }
  // True at CR, LF or the end of the file: where fields stop.
  bool AtLineEnd();

  // Up to `width` characters, stopping before a line end.
  std::string ReadText(size_t width);
  // Skips blanks, control characters and line ends, then takes the
  // characters above blank, at most maxLength of them; false at the end.
  bool ReadToken(std::string& token, size_t maxLength = static_cast<size_t>(-1));
  // The same two without a copy: a view into the block read, or into
  // `spill` for a field that goes on in the next block. It stays valid
  // until the next read.
  std::string_view ReadText(size_t width, std::string& spill);
  std::optional<std::string_view> ReadToken(size_t maxLength, std::string& spill);
  // Skips blanks and control characters but no line end, then takes the
  // characters above blank; false at a line end or the end of the file.
  bool ReadTokenOnLine(std::string& token);
  // The rest of the line and its line end (CR LF, LF or a CR alone).
  void SkipLine();
  // Everything up to and including the next line end: LF, CR LF or a CR
  // alone.
  void SkipPastLineEnd();

  // The rest of the file as it stands, for parsers of whole texts.
  std::string ReadAll();

  // 1-based number of the line being read, counted by SkipLine.
  int LineNumber() const { return lineNumber_; }

 private:
  bool Fill();
  // Skips what ReadToken skips; false at the end of the file.
  bool SkipToToken();
  // Appends the characters `accept` takes, until `text` holds `limit`.
  template <class Accept>
  void AppendWhile(std::string& text, size_t limit, Accept accept);
  template <class Accept>
  std::string_view TakeWhile(size_t limit, std::string& spill, Accept accept);

  std::string fileName_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  size_t pos_ = 0;
  size_t length_ = 0;
  int lineNumber_ = 1;
};

}  // namespace lumora
