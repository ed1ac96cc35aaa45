#include "base/text_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/errors.h"

namespace lumora {

namespace {

constexpr size_t kBlockSize = 64 * 1024;

bool IsLineEnd(int c) { return c == '\r' || c == '\n'; }

// Token characters: above blank, the upper half of the single-byte codes too.
bool IsAboveBlank(char c) { return static_cast<unsigned char>(c) > 32; }

// The characters the fields take, as types so that the scans inline them.
struct TextCharacter {
  bool operator()(char c) const { return !IsLineEnd(c); }
};
struct TokenCharacter {
  bool operator()(char c) const { return IsAboveBlank(c); }
};

// The share of NUL bytes at each position of a 4-byte group tells UTF-16
// and UTF-32 text without a mark: ASCII characters leave every other byte
// (or three of four) 0.
const char* EncodingByNulls(std::string_view head) {
  const size_t groups = head.size() / 4;
  if (groups < 2) return nullptr;
  size_t nulls[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < groups * 4; ++i)
    if (head[i] == '\0') ++nulls[i % 4];
  const auto mostly = [groups](size_t count) { return count * 4 >= groups * 3; };
  const auto few = [groups](size_t count) { return count * 4 <= groups; };
  const int mostlyNul = mostly(nulls[0]) + mostly(nulls[1]) + mostly(nulls[2]) + mostly(nulls[3]);
  if (mostlyNul == 3) return "UTF-32";
  if (mostlyNul == 2 && ((few(nulls[0]) && few(nulls[2])) || (few(nulls[1]) && few(nulls[3]))))
    return "UTF-16";
  return nullptr;
}

}  // namespace

size_t TextStart(const std::string& fileName, std::string_view head) {
  const auto starts = [head](std::string_view mark) { return head.substr(0, mark.size()) == mark; };
  const char* encoding = nullptr;
  if (starts(std::string_view("\x00\x00\xFE\xFF", 4)) ||
      starts(std::string_view("\xFF\xFE\x00\x00", 4)))
    encoding = "UTF-32";
  else if (starts("\xFE\xFF") || starts("\xFF\xFE"))
    encoding = "UTF-16";
  else if (starts("\xEF\xBB\xBF"))
    return 3;
  else
    encoding = EncodingByNulls(head.substr(0, 512));
  if (encoding)
    throw Error("\"" + fileName + "\" is " + encoding + " text; save it as UTF-8 or Latin-1");
  return 0;
}

void RequireRegularFile(const std::string& fileName) {
  struct stat st;
  if (::stat(fileName.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return;
  throw InOutError("Cannot open file \"" + fileName + "\": it is not a regular file");
}

TextReader::TextReader(std::string fileName) : fileName_(std::move(fileName)) {
  RequireRegularFile(fileName_);
  errno = 0;
  std::FILE* f = std::fopen(fileName_.c_str(), "rb");
  if (!f) throw InOutError::FromErrno("Cannot open file", fileName_, errno ? errno : ENOENT);
  // A folder opens like a file on this platform but cannot be read.
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    throw InOutError::FromErrno("Cannot open file", fileName_, EISDIR);
  }
  file_ = f;
  // Not zeroed: the reader only ever reads what a read filled in.
  buffer_ = std::make_unique_for_overwrite<char[]>(kBlockSize);
  if (Fill()) pos_ = TextStart(fileName_, std::string_view(buffer_.get(), length_));
}

TextReader::~TextReader() {
  if (file_) std::fclose(file_);
}

bool TextReader::Fill() {
  if (!file_) return false;
  pos_ = 0;
  length_ = std::fread(buffer_.get(), 1, kBlockSize, file_);
  if (length_ > 0) return true;
  if (std::ferror(file_)) throw InOutError::FromErrno("Cannot read file", fileName_, EIO);
  return false;
}

int TextReader::Peek() {
  if (pos_ >= length_ && !Fill()) return -1;
  return static_cast<unsigned char>(buffer_[pos_]);
}

int TextReader::Get() {
  if (pos_ >= length_ && !Fill()) return -1;
  return static_cast<unsigned char>(buffer_[pos_++]);
}

bool TextReader::AtLineEnd() {
  const int c = Peek();
  return c < 0 || IsLineEnd(c);
}

// The fields take their characters in runs straight from the buffer: a
// large line file spends most of its reading time in them.
template <class Accept>
void TextReader::AppendWhile(std::string& text, size_t limit, Accept accept) {
  while (text.size() < limit && (pos_ < length_ || Fill())) {
    const char* run = buffer_.get() + pos_;
    const size_t available = std::min(length_ - pos_, limit - text.size());
    size_t n = 0;
    while (n < available && accept(run[n])) ++n;
    text.append(run, n);
    pos_ += n;
    if (n < available) break;  // a character not accepted
  }
}

template <class Accept>
std::string_view TextReader::TakeWhile(size_t limit, std::string& spill, Accept accept) {
  const char* run = buffer_.get() + pos_;
  const size_t available = std::min(length_ - pos_, limit);
  size_t n = 0;
  while (n < available && accept(run[n])) ++n;
  pos_ += n;
  if (n < available || n == limit) return std::string_view(run, n);
  // The field goes on in the next block.
  spill.assign(run, n);
  AppendWhile(spill, limit, accept);
  return spill;
}

bool TextReader::SkipToToken() {
  for (;;) {
    if (pos_ >= length_ && !Fill()) return false;
    while (pos_ < length_ && !IsAboveBlank(buffer_[pos_])) ++pos_;
    if (pos_ < length_) return true;
  }
}

std::string TextReader::ReadText(size_t width) {
  std::string text;
  AppendWhile(text, width, TextCharacter());
  return text;
}

std::string_view TextReader::ReadText(size_t width, std::string& spill) {
  return TakeWhile(width, spill, TextCharacter());
}

bool TextReader::ReadToken(std::string& token, size_t maxLength) {
  token.clear();
  if (!SkipToToken()) return false;
  AppendWhile(token, maxLength, TokenCharacter());
  return true;
}

std::optional<std::string_view> TextReader::ReadToken(size_t maxLength, std::string& spill) {
  if (!SkipToToken()) return std::nullopt;
  return TakeWhile(maxLength, spill, TokenCharacter());
}

bool TextReader::ReadTokenOnLine(std::string& token) {
  token.clear();
  int c;
  while ((c = Peek()) >= 0 && c <= 32 && !IsLineEnd(c)) Get();
  if (c < 0 || IsLineEnd(c)) return false;
  while ((c = Peek()) > 32) token.push_back(static_cast<char>(Get()));
  return true;
}

void TextReader::SkipLine() {
  while (!AtLineEnd()) Get();
  const int c = Get();
  if (c < 0) return;
  ++lineNumber_;
  if (c == '\r' && Peek() == '\n') Get();
}

std::string TextReader::ReadAll() {
  std::string text;
  while (pos_ < length_ || Fill()) {
    text.append(buffer_.get() + pos_, length_ - pos_);
    pos_ = length_;
  }
  return text;
}

void TextReader::SkipPastLineEnd() {
  while (pos_ < length_ || Fill()) {
    const char* run = buffer_.get() + pos_;
    const size_t available = length_ - pos_;
    const auto* lineFeed = static_cast<const char*>(std::memchr(run, '\n', available));
    // A CR before the line feed, but for the one of a CR LF, ends the line.
    const size_t beforeLineFeed = lineFeed ? lineFeed - run : available;
    const auto* carriageReturn = static_cast<const char*>(std::memchr(run, '\r', beforeLineFeed));
    if (carriageReturn && carriageReturn + 1 != lineFeed) {
      pos_ += carriageReturn - run + 1;
      if (Peek() == '\n') ++pos_;  // a CR LF split where a block ends
      return;
    }
    if (lineFeed) {
      pos_ += lineFeed - run + 1;
      return;
    }
    pos_ = length_;
  }
}

}  // namespace lumora
