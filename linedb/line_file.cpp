#include "linedb/line_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "base/checked.h"
#include "base/format.h"
#include "base/numparse.h"

namespace lumora {
namespace {

constexpr size_t kRealTokenLength = 64;
constexpr size_t kIntTokenLength = 32;

// The file name without its folder.
std::string_view BaseName(std::string_view path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool ParseNumber(std::string_view token, double& v) { return TryParseReal(token, v); }
bool ParseNumber(std::string_view token, int32_t& v) { return TryParseInt(token, v); }

// A numeric field: 0 at the end of the file, the default for a token that
// is not a number in full.
template <class T>
void StoreNumber(bool found, std::string_view token, T& value, T def) {
  T v;
  if (!found)
    value = 0;
  else if (ParseNumber(token, v))
    value = v;
  else
    value = def;
}

}  // namespace

// ---------------------------------------------------------------------------
// TTextFile

TTextFile::TTextFile(std::string fileName) : fFilename(std::move(fileName)) {}

TTextFile::~TTextFile() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report a failed flush; callers that write close
    // explicitly and see the error there.
  }
}

void TTextFile::SetFileName(std::string fileName) {
  if (!fOpened) fFilename = std::move(fileName);
}

void TTextFile::OpenRead() {
  if (fOpened) return;
  fReader = std::make_unique<TextReader>(fFilename);
  fReadOnly = true;
  fOpened = true;
}

void TTextFile::OpenWrite() {
  if (fOpened) return;
  std::FILE* f = std::fopen(fFilename.c_str(), "wb");
  if (!f) throw InOutError::FromErrno("Cannot create file", fFilename, errno);
  F = f;
  fReadOnly = false;
  fOpened = true;
}

void TTextFile::Close() {
  if (!fOpened) return;
  fOpened = false;
  if (fReadOnly) {
    fReader.reset();
    return;
  }
  std::FILE* f = F;
  F = nullptr;
  bool failed = std::fclose(f) != 0;
  // Data that never reached the disk must not pass as written.
  if (failed) throw InOutError::FromErrno("Cannot write file", fFilename, errno);
}

bool TTextFile::Eof() { return PeekChar() < 0; }

int TTextFile::PeekChar() { return fReader ? fReader->Peek() : -1; }

int TTextFile::GetChar() { return fReader ? fReader->Get() : -1; }

bool TTextFile::AtLineEnd() { return !fReader || fReader->AtLineEnd(); }

void TTextFile::ReadReal(double& value) { ReadRealDef(value, -1); }

void TTextFile::ReadRealDef(double& value, double def) {
  const auto token = fReader ? fReader->ReadToken(kRealTokenLength, fSpill) : std::nullopt;
  StoreNumber(token.has_value(), token.value_or(""), value, def);
}

void TTextFile::ReadInt(int32_t& value) {
  const auto token = fReader ? fReader->ReadToken(kIntTokenLength, fSpill) : std::nullopt;
  StoreNumber(token.has_value(), token.value_or(""), value, -1);
}

std::string_view TTextFile::ReadText(int width) {
  if (!fReader || width <= 0) return {};
  return fReader->ReadText(static_cast<size_t>(width), fSpill);
}

void TTextFile::ReadStr2(String2& value) { value = ReadText(2); }

void TTextFile::ReadStr4(String4& value) { value = ReadText(4); }

// Separators are passed over one at a time, but never across a line end: a
// line that stops early leaves its remaining text fields empty instead of
// taking them from the next line.
char TTextFile::SkipChars(int count) {
  char current = ' ';
  int read = 0;
  while (read < count &&
         (current == ' ' || current == '\t' || current == '\r' || current == '\n')) {
    if (AtLineEnd()) break;
    current = static_cast<char>(GetChar());
    ++read;
  }
  return current;
}

void TTextFile::SkipLine() {
  if (fReader) fReader->SkipPastLineEnd();
}

void TTextFile::Write(std::string_view text) {
  if (!fOpened || fReadOnly) throw InOutError("File not open for output", 105);
  if (text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), F) != text.size())
    throw InOutError::FromErrno("Cannot write file", fFilename, errno);
}

void TTextFile::WriteLine(std::string_view text) {
  Write(text);
  Write("\r\n");
}

// ---------------------------------------------------------------------------
// TAtomFile

void TAtomFile::OpenRead() {
  TTextFile::OpenRead();
  std::string_view name = BaseName(FileName());
  fName = name.substr(0, 2);
  std::string_view rest = name.size() > 3 ? name.substr(3) : std::string_view();
  fIon = rest.substr(0, rest.find('.'));
  for (int i = 0; i < 5; ++i) SkipLine();
}

bool TAtomFile::GetRecord(TRecord& rec) {
  try {
    ReadStr2(rec.Name);
    SkipChars(1);
    ReadStr4(rec.Ion);
    ReadReal(rec.WaveLength);
    ReadReal(rec.RelIntensity);
    ReadReal(rec.Aki);
    ReadReal(rec.fik);
    ReadReal(rec.S);
    ReadRealDef(rec.log_gf, 0);
    SkipChars(1);
    ReadStr4(rec.Acc);
    ReadReal(rec.Ei_eV);
    ReadReal(rec.Ek_eV);
    ReadReal(rec.Ji);
    ReadReal(rec.Jk);
    ReadInt(rec.gi);
    ReadInt(rec.gk);
    SkipChars(1);
    rec.Confi = ReadText(40);
    SkipChars(1);
    rec.Confk = ReadText(40);
    SkipChars(1);
    rec.Termi = ReadText(16);
    SkipChars(1);
    rec.Termk = ReadText(16);
    SkipChars(1);
    rec.LineType = ReadText(8);
    rec.TPRefs = "";
    SkipChars(1);
    rec.LineRefs = ReadText(20);
    SkipLine();

    // The file column is in 10^8 s^-1. Scaled once the line is consumed, so
    // that an overflow still leaves the reader at the next line.
    rec.Aki = fp::ToDouble(fp::Mul(rec.Aki, 1e8L));
    if (rec.WaveLength <= 0 || rec.Name.empty()) return false;

    rec.Name = TrimmedView(rec.Name.view());
    rec.Ion = TrimmedView(rec.Ion.view());
    rec.Acc = TrimmedView(rec.Acc.view());
    rec.Confi = TrimmedView(rec.Confi.view());
    rec.Confk = TrimmedView(rec.Confk.view());
    rec.Termi = TrimmedView(rec.Termi.view());
    rec.Termk = TrimmedView(rec.Termk.view());
    rec.JoinStates();
    rec.LineType = TrimmedView(rec.LineType.view());
    rec.Order = 1;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

namespace {

// A text column: the text, then blanks up to the width and one more.
std::string TextColumn(std::string_view text, int width) {
  std::string s(text);
  s.append(text.size() < static_cast<size_t>(width) ? width - text.size() + 1 : 1, ' ');
  return s;
}

std::string RightAlign(std::string text, size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

// Exponent form with 4 significant digits and at least two exponent digits:
// 1.234E+05.
std::string Exp4(double v) {
  std::string s = Format("%.4e", v);
  size_t e = s.find('E');
  if (e == std::string::npos || e + 2 >= s.size()) return s;
  size_t digits = e + 2;
  while (s.size() - digits > 2 && s[digits] == '0') s.erase(digits, 1);
  return s;
}

// Fixed point with the given decimals, or exponent form when the integer
// part has more than maxIntDigits digits.
std::string FixedOrExp(double v, int decimals, int maxIntDigits) {
  if (std::fabs(v) >= std::pow(10.0, maxIntDigits))
    return Format("%." + std::to_string(maxIntDigits) + "e", v);
  return Format("%." + std::to_string(decimals) + "f", v);
}

constexpr double kMissingAbove = 1e300;
constexpr const char* kMissingReal = "           - ";  // 11 blanks
constexpr const char* kMissingInt = "         - ";     // 9 blanks

std::string RealColumn(const std::string& text) { return RightAlign(text, 12) + " "; }

std::string FixedColumn(double v, int decimals, int maxIntDigits) {
  if (v >= kMissingAbove || v < 0 || std::isnan(v)) return kMissingReal;
  return RealColumn(FixedOrExp(v, decimals, maxIntDigits));
}

std::string ExpColumn(double v) {
  if (v >= kMissingAbove || v < 0 || std::isnan(v)) return kMissingReal;
  return RealColumn(Exp4(v));
}

std::string IntColumn(int32_t v) {
  if (v < 0 || v == INT32_MAX) return kMissingInt;
  return RightAlign(std::to_string(v), 10) + " ";
}

}  // namespace

void TAtomFile::WriteRecord(const TRecord& rec) {
  std::string line;
  line.reserve(256);
  line += TextColumn(rec.Name.view().substr(0, 2), 2);
  line += TextColumn(rec.Ion.view().substr(0, 4), 4);
  line += FixedColumn(rec.WaveLength, 5, 10);
  line += FixedColumn(rec.RelIntensity, 0, 6);
  line += ExpColumn(rec.Aki);
  line += ExpColumn(rec.fik);
  line += ExpColumn(rec.S);
  if (rec.log_gf >= kMissingAbove || rec.log_gf == 0 || std::isnan(rec.log_gf))
    line += kMissingReal;
  else
    line += RealColumn(FixedOrExp(rec.log_gf, 3, 8));
  line += TextColumn(rec.Acc.view(), 4);
  line += FixedColumn(rec.Ei_eV, 8, 12);
  line += FixedColumn(rec.Ek_eV, 8, 12);
  line += FixedColumn(rec.Ji, 1, 6);
  line += FixedColumn(rec.Jk, 1, 6);
  line += IntColumn(rec.gi);
  line += IntColumn(rec.gk);
  line += TextColumn(rec.Confs.view(), 40);
  line += TextColumn(rec.Terms.view(), 16);
  line += TextColumn(rec.LineType.view(), 4);
  line += TextColumn(rec.TPRefs.view(), 14);
  line += rec.LineRefs.view();
  WriteLine(line);
}

// ---------------------------------------------------------------------------
// TMolFile

void TMolFile::OpenRead() {
  TTextFile::OpenRead();
  MolCoef = TMolCoef::mcFC;
  if (!AtLineEnd()) {
    switch (GetChar()) {
      case 'A':
      case 'a':
        MolCoef = TMolCoef::mcA;
        break;
      case 'I':
      case 'i':
        MolCoef = TMolCoef::mcI;
        break;
      case 'H':
      case 'h':
        MolCoef = TMolCoef::mcHL;
        break;
      default:
        break;
    }
  }
  for (int i = 0; i < 4; ++i) SkipLine();
}

namespace {

// Molecule and ion from a name like m_N2+_II.txt.
void MolNameAndIon(std::string_view path, String10& name, String4& ion) {
  std::string_view s = BaseName(path);
  name = "";
  ion = "";
  size_t first = s.find('_');
  if (first == std::string_view::npos) return;
  s.remove_prefix(first + 1);
  size_t second = s.find('_');
  name = s.substr(0, second);
  if (second == std::string_view::npos) return;
  s.remove_prefix(second + 1);
  ion = s.substr(0, s.find('.'));
}

}  // namespace

bool TMolFile::GetRecord(TMolRecord& rec) {
  try {
    ReadReal(rec.WaveLength);
    ReadReal(rec.Frequency);
    ReadReal(rec.Intensity);
    ReadInt(rec.v1);
    ReadInt(rec.v2);
    ReadReal(rec.S12);
    ReadReal(rec.E1);
    rec.Note = TrimmedView(ReadText(50));
    SkipLine();

    // Scaled once the line is consumed, so that an overflow still leaves
    // the reader at the next line.
    if (rec.Frequency > 0) {
      rec.Frequency = fp::ToDouble(fp::Mul(rec.Frequency, 1e14L));
      if (MolCoef == TMolCoef::mcA) {
        long double f = rec.Frequency;
        rec.S12 = fp::ToDouble(fp::Div(rec.S12, f * f * f));
      }
    }
    if (rec.E1 > 0) rec.E1 = fp::ToDouble(fp::Mul(rec.E1, 1e-20L));
    rec.Order = 1;
    if (rec.WaveLength <= 0) return false;
    MolNameAndIon(FileName(), rec.Name, rec.Ion);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void TMolFile::WriteRecord(const TMolRecord& rec) {
  std::string line = Format("%12.4f%12.3f%12.2f%12d%12d%12.4f%14.2f", rec.WaveLength,
                            fp::Mul(rec.Frequency, 1e-14L), rec.Intensity, rec.v1, rec.v2, rec.S12,
                            fp::Mul(rec.E1, 1e20L));
  // One blank ends the last number, so that the note reads back as a note
  // instead of spoiling that number.
  std::string note = Trim(rec.Note.view());
  if (!note.empty()) line += " " + note;
  WriteLine(line);
}

}  // namespace lumora
