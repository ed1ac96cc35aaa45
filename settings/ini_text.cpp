#include "settings/ini_text.h"

#include <optional>
#include <string_view>
#include <vector>

namespace lumora {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// Lines without their ends; CR LF, LF and a lone CR each end a line.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

// What a line is to the reader.
struct LineKind {
  enum { Blank, Comment, Section, BrokenSection, Key, Other } kind = Other;
  std::string_view name;  // of a section or key
};

LineKind Classify(std::string_view line) {
  std::string_view s = TrimSpaces(line);
  if (s.empty()) return {LineKind::Blank, {}};
  if (s.front() == ';' || s.front() == '#') return {LineKind::Comment, {}};
  if (s.front() == '[') {
    size_t close = s.find(']');
    if (close == std::string_view::npos) return {LineKind::BrokenSection, {}};
    return {LineKind::Section, TrimSpaces(s.substr(1, close - 1))};
  }
  size_t equals = s.find('=');
  if (equals == std::string_view::npos || equals == 0) return {LineKind::Other, {}};
  return {LineKind::Key, TrimSpaces(s.substr(0, equals))};
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value) {
  std::vector<std::string> lines = SplitLines(text);
  // The reader passes over one byte-order mark at the start of the file.
  const bool marked = !lines.empty() && lines[0].starts_with(kByteOrderMark);
  auto view = [&](size_t i) {
    std::string_view line = lines[i];
    return (i == 0 && marked) ? line.substr(kByteOrderMark.size()) : line;
  };

  std::optional<size_t> keyLine;     // the key's line that counts
  std::optional<size_t> lastInside;  // the section's last header or key line
  // The section the lines belong to; none after a header the reader cannot
  // read (it then files the keys under no section of ours).
  std::optional<std::string_view> current = std::string_view();
  for (size_t i = 0; i < lines.size(); ++i) {
    const LineKind line = Classify(view(i));
    if (line.kind == LineKind::Section)
      current = line.name;
    else if (line.kind == LineKind::BrokenSection)
      current.reset();
    const bool inside = current && SameName(*current, section);
    if (!inside || (line.kind != LineKind::Section && line.kind != LineKind::Key)) continue;
    lastInside = i;
    if (line.kind == LineKind::Key && SameName(line.name, key)) keyLine = i;
  }

  if (keyLine) {
    std::string& line = lines[*keyLine];
    line = line.substr(0, line.find('=') + 1) + value;
  } else if (lastInside) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*lastInside) + 1, key + "=" + value);
  } else {
    if (!lines.empty() && Classify(view(lines.size() - 1)).kind != LineKind::Blank)
      lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(key + "=" + value);
  }
  return Join(lines);
}

}  // namespace lumora
