#include "settings/settings.h"

// Settings are single-byte text: no character-set conversion.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>

#include "base/atomic_file.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "base/paths.h"
#include "base/text_reader.h"
#include "settings/ini_text.h"

namespace lumora {
namespace {

using Ini = CSimpleIniA;

// The whole file as bytes; nothing when it does not exist. Raises
// InOutError when it exists but cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    throw InOutError::FromErrno("Cannot read settings file", path, errno);
  }
  if (S_ISDIR(st.st_mode)) throw InOutError::FromErrno("Cannot read settings file", path, EISDIR);
  if (!S_ISREG(st.st_mode))
    throw InOutError("Cannot read settings file \"" + path + "\": it is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InOutError::FromErrno("Cannot read settings file", path, errno ? errno : EACCES);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw InOutError::FromErrno("Cannot read settings file", path, EIO);
  std::string whole = text.str();
  TextStart(path, whole);  // refuses UTF-16 and UTF-32; the editor keeps a UTF-8 mark
  return whole;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// The file the path names, following a symbolic link so that the link stays.
std::string ResolvedTarget(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf)) return buf;
  return path;
}

// Temporary files of settings writes are named this plus six characters.
constexpr std::string_view kTempPrefix = ".lumora-ini-";
constexpr size_t kTempNameLength = kTempPrefix.size() + 6;

// An advisory lock on the settings file's folder. Writers hold it from
// reading the file to renaming the new one into place, so that two programs
// writing at once never lose each other's keys. The folder rather than the
// file is locked because every write replaces the file. Where the folder
// cannot be locked (it is gone, or the file system has no locks) the write
// goes ahead unlocked and meets the folder's own errors.
class FolderLock {
 public:
  FolderLock(const std::string& folder, bool wait) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    int rc;
    do rc = ::flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB));
    while (rc != 0 && errno == EINTR);
    held_ = rc == 0;
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool Held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// Removes this user's temporary files that an interrupted write left in
// the folder. Only while no writer is at work: their files are all stale.
void RemoveStaleTemporaries(const std::string& folder) {
  FolderLock lock(folder, false);
  if (!lock.Held()) return;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(kTempPrefix) || name.size() != kTempNameLength) continue;
    const std::string path = folder + "/" + std::string(name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
      ::unlink(path.c_str());
  }
  ::closedir(dir);
}

// Every section's keys and values as the reader sees them; names in lower
// case, as the reader compares them.
using IniValues = std::map<std::pair<std::string, std::string>, std::string>;

std::string LowerCase(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

IniValues AllValues(const Ini& ini) {
  IniValues values;
  Ini::TNamesDepend sections, keys;
  ini.GetAllSections(sections);
  for (const auto& section : sections) {
    ini.GetAllKeys(section.pItem, keys);
    for (const auto& key : keys)
      values[{LowerCase(section.pItem), LowerCase(key.pItem)}] =
          ini.GetValue(section.pItem, key.pItem, "");
  }
  return values;
}

// The value as the reader gives it back: without surrounding blanks.
std::string ReadBack(const std::string& value) {
  size_t b = value.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return value.substr(b, value.find_last_not_of(" \t") - b + 1);
}

}  // namespace

struct Settings::Impl {
  std::string fileName;
  std::unique_ptr<Ini> ini = NewIni();

  explicit Impl(std::string name) : fileName(std::move(name)) {}

  static std::unique_ptr<Ini> NewIni() {
    auto fresh = std::make_unique<Ini>(false, false, false);
    fresh->SetSpaces(false);
    return fresh;
  }

  // Loads the file as it is on disk now; a missing file is empty. On an
  // error the values read before stay.
  void Load() { Parse(ReadWholeFile(fileName).value_or("")); }

  void Parse(const std::string& text) {
    auto fresh = NewIni();
    if (fresh->LoadData(text) < 0)
      throw InOutError("Cannot read settings file \"" + fileName + "\"");
    ini = std::move(fresh);
  }

  const char* Value(const std::string& section, const std::string& key) const {
    return ini->GetValue(section.c_str(), key.c_str(), nullptr);
  }

  // Writes one value under the folder lock: the file is read again first so
  // that changes made to it meanwhile are kept, and only the key's line
  // changes. The new text must read back as the old one with just this key
  // changed; a hand-edited line that would read differently stops the write.
  void Write(const std::string& section, const std::string& key, const std::string& value) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
      throw InOutError("Cannot write a line break into settings file \"" + fileName + "\"");
    const std::string target = ResolvedTarget(fileName);
    FolderLock lock(FolderOf(target), true);
    const std::string oldText = ReadWholeFile(fileName).value_or("");
    Parse(oldText);
    const std::string newText = SetIniValue(oldText, section, key, value);

    IniValues expected = AllValues(*ini);
    expected[{LowerCase(section), LowerCase(key)}] = ReadBack(value);
    auto written = NewIni();
    if (written->LoadData(newText) < 0 || AllValues(*written) != expected)
      throw InOutError("Cannot write settings file \"" + fileName + "\": setting [" +
                       QuoteToken(section) + "] " + QuoteToken(key) +
                       " would change other lines of it; please correct the file by hand");

    AtomicFileOptions options;
    options.tempPrefix = std::string(kTempPrefix);
    options.action = "Cannot write settings file";
    WriteFileAtomically(fileName, newText, options);
    ini = std::move(written);
  }
};

Settings::Settings(std::string fileName) : impl_(std::make_unique<Impl>(std::move(fileName))) {
  RemoveStaleTemporaries(FolderOf(ResolvedTarget(impl_->fileName)));
  impl_->Load();
}

Settings::~Settings() = default;

const std::string& Settings::FileName() const { return impl_->fileName; }

std::string Settings::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  const char* v = impl_->Value(section, key);
  return v ? std::string(v) : def;
}

namespace {

// A key's place for messages: the key, its section and the file.
std::string KeyPlace(const std::string& file, const std::string& section, const std::string& key) {
  const bool program = !section.empty() && section[0] == '_';
  return Format("The key \"%s\" of the %ssection \"%s\" in the settings file \"%s\"",
                QuoteToken(key), program ? "" : "element ", QuoteToken(section), file);
}

[[noreturn]] void RefuseValue(const std::string& file, const std::string& section,
                              const std::string& key, const char* wanted, const char* value) {
  throw Error(KeyPlace(file, section, key) +
              Format(" must be %s, not \"%s\".", wanted, QuoteToken(value)));
}

}  // namespace

int Settings::ReadInteger(const std::string& section, const std::string& key, int def) const {
  const char* v = impl_->Value(section, key);
  if (!v) return def;
  int32_t n;
  if (!TryParseInt(Trim(v), n))
    RefuseValue(impl_->fileName, section, key,
                "a whole number between -2147483648 and 2147483647", v);
  return n;
}

double Settings::ReadFloat(const std::string& section, const std::string& key, double def) const {
  const char* v = impl_->Value(section, key);
  if (!v) return def;
  double x;
  if (!TryParseReal(Trim(v), x)) RefuseValue(impl_->fileName, section, key, "a number", v);
  return x;
}

std::string SettingsKeyPlace(const Settings& settings, const std::string& section,
                             const std::string& key) {
  return KeyPlace(settings.FileName(), section, key);
}

void Settings::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  impl_->Write(section, key, value);
}

void Settings::WriteInteger(const std::string& section, const std::string& key, int value) {
  impl_->Write(section, key, std::to_string(value));
}

void Settings::WriteFloat(const std::string& section, const std::string& key, double value) {
  impl_->Write(section, key, FloatToStr(value));
}

std::vector<std::string> Settings::SectionNames() const {
  Ini::TNamesDepend sections;
  impl_->ini->GetAllSections(sections);
  sections.sort(Ini::Entry::LoadOrder());
  std::vector<std::string> names;
  for (const auto& s : sections) names.emplace_back(s.pItem);
  return names;
}

std::vector<std::string> Settings::ElementNames() const {
  std::vector<std::string> names;
  for (auto& s : SectionNames())
    if (!s.empty() && s[0] != '_') names.push_back(std::move(s));
  return names;
}

const std::vector<SettingKey>& ProgramKeys() {
  using T = SettingKey::Type;
  static const std::vector<SettingKey> keys{
      {"_Files", "Database", T::Text, ""},
      {"_Files", "Measurements", T::Text, kDefaultMeasurementsFolder},
      {"_Parameters", "DefaultAtom", T::Integer, "0"},
      {"_Parameters", "Tn", T::Real, "300"},
      {"_Parameters", "Path", T::Real, "1"},
      {"_Iteration", "FromDensity", T::Real, "1E15"},
      {"_Iteration", "ToDensity", T::Real, "1E18"},
      {"_Iteration", "DensityPoints", T::Integer, "50"},
      {"_Iteration", "FromTemperature", T::Real, "1000"},
      {"_Iteration", "ToTemperature", T::Real, "50000"},
      {"_Iteration", "TemperaturePoints", T::Integer, "50"},
      {"_Fit", "FromDensity", T::Real, "1E16"},
      {"_Fit", "FromTemperature", T::Real, "1000"},
      {"_Fit", "Count", T::Integer, "50"},
  };
  return keys;
}

const std::vector<SettingKey>& ElementKeys() {
  using T = SettingKey::Type;
  static const std::vector<SettingKey> keys{
      {"", "Levels", T::Text, ""},
      {"", "Lines", T::Text, ""},
      {"", "Boltzmax", T::Integer, "1"},
      {"", "m", T::Real, "0"},
  };
  return keys;
}

namespace {

const SettingKey& ProgramKey(const char* section, const char* key) {
  for (const auto& k : ProgramKeys())
    if (std::string_view(k.section) == section && std::string_view(k.key) == key) return k;
  throw RangeError();
}

double ReadReal(const Settings& s, const char* section, const char* key) {
  return s.ReadFloat(section, key, StrToFloat(ProgramKey(section, key).def));
}

int ReadInt(const Settings& s, const char* section, const char* key) {
  return s.ReadInteger(section, key, StrToInt(ProgramKey(section, key).def));
}

}  // namespace

std::string EffectiveValue(const Settings& s, const std::string& section, const SettingKey& key) {
  switch (key.type) {
    case SettingKey::Type::Integer:
      return std::to_string(s.ReadInteger(section, key.key, StrToInt(key.def)));
    case SettingKey::Type::Real:
      return FloatToStr(s.ReadFloat(section, key.key, StrToFloat(key.def)));
    case SettingKey::Type::Text:
      break;
  }
  return s.ReadString(section, key.key, key.def);
}

std::optional<std::pair<double, double>> ElementAnalysisPair(const Settings& settings,
                                                             const std::string& element) {
  const std::string text = Trim(settings.ReadString(element, "Pair", ""));
  if (text.empty()) return std::nullopt;
  std::string items = text;
  std::replace(items.begin(), items.end(), ',', ' ');
  std::istringstream in(items);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  double x = 0, y = 0;
  if (words.size() != 2 || !TryParseReal(words[0], x) || !TryParseReal(words[1], y) || !(x > 0) ||
      !(y > 0))
    throw Error("The key \"Pair\" of the element section \"" + element +
                "\" must be two wavelengths in nm, as \"696.5431, 826.4522\", not \"" + text +
                "\".");
  return std::pair{x, y};
}

double ElementMassAmu(const Settings& settings, const std::string& element) {
  const std::string text = Trim(settings.ReadString(element, "m", ""));
  if (text.empty())
    throw Error("The element section \"" + element +
                "\" of the settings file has no key \"m\" "
                "(atomic mass in u).");
  double mass = 0;
  if (!TryParseReal(text, mass) || !(mass > 0))
    throw Error("The key \"m\" of the element section \"" + element +
                "\" must be an atomic mass in u greater than 0, not \"" + text + "\".");
  return mass;
}

namespace {

// Where each text field of the window comes from and how it is shown.
struct FieldSource {
  std::string WindowFields::*field;
  const char* section;  // null: the element's section
  const char* key;
  const char* format;  // "%d" for an integer key
};

constexpr FieldSource kFieldSources[] = {
    {&WindowFields::FromDensity, "_Iteration", "FromDensity", "%3.1e"},
    {&WindowFields::ToDensity, "_Iteration", "ToDensity", "%3.1e"},
    {&WindowFields::DensityPoints, "_Iteration", "DensityPoints", "%d"},
    {&WindowFields::FromTemperature, "_Iteration", "FromTemperature", "%.0f"},
    {&WindowFields::ToTemperature, "_Iteration", "ToTemperature", "%.0f"},
    {&WindowFields::TemperaturePoints, "_Iteration", "TemperaturePoints", "%d"},
    {&WindowFields::FitDensity, "_Fit", "FromDensity", "%3.1e"},
    {&WindowFields::FitTemperature, "_Fit", "FromTemperature", "%.0f"},
    {&WindowFields::MaxIter, "_Fit", "Count", "%d"},
    {&WindowFields::Tn, "_Parameters", "Tn", "%.0f"},
    {&WindowFields::Path, "_Parameters", "Path", "%.3f"},
    {&WindowFields::Count, nullptr, "Boltzmax", "%d"},
};

}  // namespace

WindowFields LoadWindowFields(const Settings& s, const std::string& element) {
  WindowFields f;
  for (const FieldSource& source : kFieldSources) {
    const bool integer = std::string_view(source.format) == "%d";
    if (!source.section)
      f.*source.field = Format(source.format, element.empty() ? 1 : s.ReadInteger(element, source.key, 1));
    else if (integer)
      f.*source.field = Format(source.format, ReadInt(s, source.section, source.key));
    else
      f.*source.field = Format(source.format, ReadReal(s, source.section, source.key));
  }
  return f;
}

std::string WindowFieldKeyPlace(const Settings& settings, const std::string& element,
                                std::string WindowFields::*field) {
  for (const FieldSource& source : kFieldSources)
    if (source.field == field)
      return SettingsKeyPlace(settings, source.section ? source.section : element, source.key);
  return "";
}

}  // namespace lumora
