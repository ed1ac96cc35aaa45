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

}  // namespace

TextReader::TextReader(std::string fileName) : fileName_(std::move(fileName)) {
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
  buffer_ = std::make_unique<char[]>(kBlockSize);
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
std::string TextReader::ReadText(size_t width) {
  std::string text;
  ReadText(width, text);
  return text;
}

void TextReader::ReadText(size_t width, std::string& text) {
  text.clear();
  while (text.size() < width && (pos_ < length_ || Fill())) {
    const char* run = buffer_.get() + pos_;
    const size_t available = std::min(length_ - pos_, width - text.size());
    size_t n = 0;
    while (n < available && !IsLineEnd(run[n])) ++n;
    text.append(run, n);
    pos_ += n;
    if (n < available) break;  // a line end
  }
}

bool TextReader::ReadToken(std::string& token, size_t maxLength) {
  token.clear();
  for (;;) {
    if (pos_ >= length_ && !Fill()) return false;
    while (pos_ < length_ && !IsAboveBlank(buffer_[pos_])) ++pos_;
    if (pos_ < length_) break;
  }
  while (token.size() < maxLength && (pos_ < length_ || Fill())) {
    const char* run = buffer_.get() + pos_;
    const size_t available = std::min(length_ - pos_, maxLength - token.size());
    size_t n = 0;
    while (n < available && IsAboveBlank(run[n])) ++n;
    token.append(run, n);
    pos_ += n;
    if (n < available) break;  // a blank, a control character or a line end
  }
  return true;
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

void TextReader::SkipPastLineFeed() {
  while (pos_ < length_ || Fill()) {
    const char* run = buffer_.get() + pos_;
    const void* lineFeed = std::memchr(run, '\n', length_ - pos_);
    if (lineFeed) {
      pos_ += static_cast<const char*>(lineFeed) - run + 1;
      return;
    }
    pos_ = length_;
  }
}

}  // namespace lumora
