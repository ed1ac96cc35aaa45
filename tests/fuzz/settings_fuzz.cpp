// The settings file: any content opens or is refused with an Error, and
// writing one key changes that key alone. Every other key, as the INI reader sees it, reads the same after the
// write; a refused write leaves the file byte for byte. Input: the first byte
// picks the key, the rest is the file.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/errors.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

using Values = std::map<std::pair<std::string, std::string>, std::string>;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Every key of the file as the reader sees it; names compare without case.
Values AllValues(const std::string& text) {
  CSimpleIniA ini(false, false, false);
  ini.LoadData(text);
  Values values;
  CSimpleIniA::TNamesDepend sections, keys;
  ini.GetAllSections(sections);
  for (const auto& section : sections) {
    ini.GetAllKeys(section.pItem, keys);
    for (const auto& key : keys)
      values[{Lower(section.pItem), Lower(key.pItem)}] = ini.GetValue(section.pItem, key.pItem, "");
  }
  return values;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The key a run writes: a program key, or a key of the file's first element.
std::pair<std::string, std::string> PickKey(const Settings& settings, uint8_t choice) {
  const auto& program = ProgramKeys();
  if (choice < program.size()) return {program[choice].section, program[choice].key};
  const auto elements = settings.ElementNames();
  const auto& element = ElementKeys()[choice % ElementKeys().size()];
  return {elements.empty() ? std::string("Ar I") : elements.front(), element.key};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string before(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string path = fuzz::WriteScratchFile("lumora.ini", before);
  std::optional<Settings> opened;
  try {
    opened.emplace(path);
  } catch (const Error&) {
    return 0;  // a file the reader cannot take, or refuses with its reason (UTF-16, say)
  }
  Settings& settings = *opened;
  const auto [section, key] = PickKey(settings, data[0]);
  const std::string value = "v" + std::to_string(size);
  try {
    settings.WriteString(section, key, value);
  } catch (const InOutError&) {
    fuzz::Check(ReadText(path) == before, "a refused write leaves the file");
    return 0;
  }
  Values expected = AllValues(before);
  expected[{Lower(section), Lower(key)}] = value;
  fuzz::Check(AllValues(ReadText(path)) == expected, "a write changes its key alone");
  fuzz::Check(Settings(path).ReadString(section, key, "") == value, "the key reads back");
  return 0;
}
