// Line files: the sequential text-file reader with its field rules, the
// atomic line record and file, and the molecular line record and file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "base/text_reader.h"

namespace lumora {

// A text of at most N single-byte characters stored inline; storing a
// longer text keeps its first N characters.
template <int N>
class FixedString {
 public:
  FixedString() = default;
  FixedString(std::string_view s) { assign(s); }
  FixedString(const char* s) { assign(s); }
  FixedString(const std::string& s) { assign(s); }

  // s may lie in this text itself, as when trimming it.
  void assign(std::string_view s) {
    len_ = static_cast<uint8_t>(s.size() < N ? s.size() : N);
    if (len_ > 0) std::memmove(data_, s.data(), len_);
  }
  FixedString& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  FixedString& operator=(const std::string& s) { return *this = std::string_view(s); }
  FixedString& operator=(const char* s) { return *this = std::string_view(s); }
  std::string_view view() const { return std::string_view(data_, len_); }
  std::string str() const { return std::string(data_, len_); }
  int size() const { return len_; }
  bool empty() const { return len_ == 0; }
  static constexpr int capacity() { return N; }

  friend bool operator==(const FixedString& a, const FixedString& b) {
    return a.view() == b.view();
  }
  friend bool operator==(const FixedString& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const FixedString& a, const std::string& b) { return a.view() == b; }
  friend bool operator==(const FixedString& a, const char* b) { return a.view() == b; }

 private:
  uint8_t len_ = 0;
  char data_[N] = {};
};

using String2 = FixedString<2>;
using String4 = FixedString<4>;
using String10 = FixedString<10>;
using String16 = FixedString<16>;
using String40 = FixedString<40>;

// "lower - upper": the state texts of a line joined as its record holds them.
template <int M>
class JoinedStates {
 public:
  JoinedStates(const FixedString<M>& lower, const FixedString<M>& upper) {
    for (std::string_view part : {lower.view(), kDash, upper.view()}) {
      std::memcpy(text_ + size_, part.data(), part.size());
      size_ += part.size();
    }
  }
  std::string_view view() const { return std::string_view(text_, size_); }

 private:
  static constexpr std::string_view kDash = " - ";
  char text_[2 * M + kDash.size()];
  size_t size_ = 0;
};

enum class TLineKind { lkAtomic, lkMolecular };

// One atomic line. Aki is in s^-1 in memory (the file column is 10^8 s^-1).
// The line base holds it as a StoredAtomLine (line_store.h): a field added
// here goes there too.
struct TRecord {
  String2 Name;
  String4 Ion;
  double WaveLength = 0;
  double RelIntensity = 0;
  double Aki = 0;
  double fik = 0;
  double S = 0;
  double log_gf = 0;
  String4 Acc;
  double Ei_eV = 0;
  double Ek_eV = 0;
  String40 Confi;
  String40 Confk;
  FixedString<90> Confs;
  String16 Termi;
  String16 Termk;
  FixedString<40> Terms;
  double Ji = 0;
  double Jk = 0;
  int32_t gi = 0;
  int32_t gk = 0;
  FixedString<8> LineType;
  FixedString<14> TPRefs;
  FixedString<20> LineRefs;
  int32_t Order = 0;

  // Confs and Terms from the lower and upper states, as a line file gives them.
  void JoinStates() {
    Confs = JoinedStates(Confi, Confk).view();
    Terms = JoinedStates(Termi, Termk).view();
  }
};

enum class TMolCoef { mcA, mcI, mcFC, mcHL };

// One molecular band line.
struct TMolRecord {
  String10 Name;
  String4 Ion;
  double WaveLength = 0;
  double Frequency = 0;
  double Intensity = 0;
  int32_t v1 = 0;
  int32_t v2 = 0;
  double S12 = 0;
  double E1 = 0;
  FixedString<50> Note;
  int32_t Order = 0;
};

// The error of the line-file unit; an input/output error.
class TxtError : public InOutError {
 public:
  explicit TxtError(const std::string& message = "") : InOutError(message) {}
};

// A sequential single-byte text file with an explicit open state and the
// field readers the line tables are parsed with. Lines end with CR LF or LF.
class TTextFile {
 public:
  explicit TTextFile(std::string fileName);
  virtual ~TTextFile();
  TTextFile(const TTextFile&) = delete;
  TTextFile& operator=(const TTextFile&) = delete;

  const std::string& FileName() const { return fFilename; }
  // Ignored while the file is open.
  void SetFileName(std::string fileName);

  // Raise InOutError when the file cannot be opened; do nothing when open.
  virtual void OpenRead();
  virtual void OpenWrite();
  void Close();
  bool Eof();
  bool Opened() const { return fOpened; }
  bool ReadOnly() const { return fReadOnly; }

 protected:
  // Field readers; none raises but for a failed read. Numbers skip blanks and line ends, take the
  // next token (at most 64 characters, 32 for integers) and read 0 at the
  // end of the file; a token that is not a number in full gives the
  // default (-1 for ReadReal and ReadInt).
  void ReadReal(double& value);
  void ReadRealDef(double& value, double def);
  void ReadInt(int32_t& value);
  void ReadStr2(String2& value);
  void ReadStr4(String4& value);
  // Consumes up to count separator characters but never a line end, so a
  // line that stops early leaves the following text fields empty. Returns
  // the last character consumed (a blank when none).
  char SkipChars(int count);
  // Fixed-width text field: up to width characters or up to the line end;
  // the text stays valid until the next read.
  std::string_view ReadText(int width);
  // Skips the rest of the current line with its line end.
  void SkipLine();
  // Writes text as it stands; raises InOutError on failure.
  void Write(std::string_view text);
  void WriteLine(std::string_view text);  // text + CR LF

  int PeekChar();  // -1 at the end of the file
  int GetChar();   // -1 at the end of the file
  // True at CR, LF or the end of the file: where text fields stop.
  bool AtLineEnd();

 private:
  std::string fFilename;
  std::FILE* F = nullptr;               // while writing
  std::unique_ptr<TextReader> fReader;  // while reading
  // A field that goes on in the reader's next block; kept so that a large
  // file reads without allocating.
  std::string fSpill;
  bool fOpened = false;
  bool fReadOnly = false;
};

class TAtomFile : public TTextFile {
 public:
  using TTextFile::TTextFile;

  // Opens and skips the 5 header lines.
  void OpenRead() override;
  // Reads the next data line; false at the data end or for an invalid line.
  bool GetRecord(TRecord& rec);
  // Appends one line in the extracted line table layout; rec.Aki in 10^8 s^-1.
  void WriteRecord(const TRecord& rec);

  // Builds the line table of one element and ion from a pipe-separated source
  // table into TargetDir/El_Ion.txt. The table is written whole (through a
  // temporary file) before this returns; the returned file is bound to it and
  // closed. Progress goes to `progress`.
  static std::unique_ptr<TAtomFile> Extract(const std::string& sourceFileName,
                                            const std::string& targetDir, const std::string& el,
                                            const std::string& ion, std::ostream& progress);

 private:
  String2 fName;
  String4 fIon;
};

class TMolFile : public TTextFile {
 public:
  using TTextFile::TTextFile;

  // Opens, reads the coefficient kind from line 1 and skips 4 header lines.
  void OpenRead() override;
  bool GetRecord(TMolRecord& rec);
  void WriteRecord(const TMolRecord& rec);

  TMolCoef MolCoef = TMolCoef::mcFC;
};

// Copies a line file record by record with Aki scaled by 1e-16 into a new
// file without header.
void ConvertLineFile(const std::string& source, const std::string& target);

}  // namespace lumora
