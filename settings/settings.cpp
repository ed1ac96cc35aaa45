#include "settings/settings.h"

// Settings are single-byte text: no character-set conversion.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"

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
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InOutError::FromErrno("Cannot read settings file", path, errno ? errno : EACCES);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw InOutError::FromErrno("Cannot read settings file", path, EIO);
  return text.str();
}

// The file text as written: CR LF line ends and at most one blank line in a
// row (the INI writer leaves two between sections).
std::string FileText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  int newlines = 0;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (++newlines > 2) continue;
      out += "\r\n";
      continue;
    }
    newlines = 0;
    out += c;
  }
  return out;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Writes fd fully; false on a short or failed write.
bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// The file the path names, following a symbolic link so that the link stays.
std::string ResolvedTarget(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf)) return buf;
  return path;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Replaces the file's content in one step: a temporary file in the same
// folder, flushed to disk, renamed over the old one. On any failure the old
// file is untouched and InOutError names the file.
void ReplaceFile(const std::string& path, const std::string& content) {
  const std::string target = ResolvedTarget(path);
  auto fail = [&](int err) -> void { throw InOutError::FromErrno("Cannot write settings file", path, err); };

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && ::access(target.c_str(), W_OK) != 0) fail(errno);

  std::string tmpl = FolderOf(target) + "/.lumora-ini-XXXXXX";
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) fail(errno);
  auto discard = [&](int err) {
    ::close(fd);
    ::unlink(tmpl.c_str());
    fail(err);
  };
  mode_t mode = exists ? (old.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) discard(errno);
  if (!WriteAll(fd, content)) discard(errno);
  if (::fsync(fd) != 0) discard(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    fail(err);
  }
  if (::rename(tmpl.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    fail(err);
  }
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
  void Load() {
    auto fresh = NewIni();
    auto text = ReadWholeFile(fileName);
    if (text && fresh->LoadData(*text) < 0)
      throw InOutError("Cannot read settings file \"" + fileName + "\"");
    ini = std::move(fresh);
  }

  const char* Value(const std::string& section, const std::string& key) const {
    return ini->GetValue(section.c_str(), key.c_str(), nullptr);
  }

  // Writes one value: the file is read again first so that changes made to
  // it meanwhile are kept, then replaced as a whole.
  void Write(const std::string& section, const std::string& key, const std::string& value) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
      throw InOutError("Cannot write a line break into settings file \"" + fileName + "\"");
    Load();
    if (ini->SetValue(section.c_str(), key.c_str(), value.c_str()) < 0)
      throw InOutError("Cannot write settings file \"" + fileName + "\"");
    std::string out;
    if (ini->Save(out) < 0) throw InOutError("Cannot write settings file \"" + fileName + "\"");
    try {
      ReplaceFile(fileName, FileText(out));
    } catch (const InOutError&) {
      // Keep the values in memory those of the file, which was not changed.
      try {
        Load();
      } catch (const InOutError&) {
      }
      throw;
    }
  }
};

Settings::Settings(std::string fileName) : impl_(std::make_unique<Impl>(std::move(fileName))) {
  impl_->Load();
}

Settings::~Settings() = default;

const std::string& Settings::FileName() const { return impl_->fileName; }

std::string Settings::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  const char* v = impl_->Value(section, key);
  return v ? std::string(v) : def;
}

int Settings::ReadInteger(const std::string& section, const std::string& key, int def) const {
  const char* v = impl_->Value(section, key);
  int32_t n;
  if (!v || !TryParseInt(Trim(v), n)) return def;
  return n;
}

double Settings::ReadFloat(const std::string& section, const std::string& key, double def) const {
  const char* v = impl_->Value(section, key);
  double x;
  if (!v || !TryParseReal(Trim(v), x)) return def;
  return x;
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

double ElementMassAmu(const Settings& settings, const std::string& element) {
  const std::string text = Trim(settings.ReadString(element, "m", ""));
  if (text.empty())
    throw Error("The element section \"" + element + "\" of the settings file has no key \"m\" "
                "(atomic mass in u).");
  double mass = 0;
  if (!TryParseReal(text, mass) || !(mass > 0))
    throw Error("The key \"m\" of the element section \"" + element +
                "\" must be an atomic mass in u greater than 0, not \"" + text + "\".");
  return mass;
}

WindowFields LoadWindowFields(const Settings& s, const std::string& element) {
  WindowFields f;
  f.FromDensity = Format("%3.1e", ReadReal(s, "_Iteration", "FromDensity"));
  f.ToDensity = Format("%3.1e", ReadReal(s, "_Iteration", "ToDensity"));
  f.DensityPoints = Format("%d", ReadInt(s, "_Iteration", "DensityPoints"));
  f.FromTemperature = Format("%.0f", ReadReal(s, "_Iteration", "FromTemperature"));
  f.ToTemperature = Format("%.0f", ReadReal(s, "_Iteration", "ToTemperature"));
  f.TemperaturePoints = Format("%d", ReadInt(s, "_Iteration", "TemperaturePoints"));
  f.FitDensity = Format("%3.1e", ReadReal(s, "_Fit", "FromDensity"));
  f.FitTemperature = Format("%.0f", ReadReal(s, "_Fit", "FromTemperature"));
  f.MaxIter = Format("%d", ReadInt(s, "_Fit", "Count"));
  f.Tn = Format("%.0f", ReadReal(s, "_Parameters", "Tn"));
  f.Path = Format("%.3f", ReadReal(s, "_Parameters", "Path"));
  f.Count = Format("%d", element.empty() ? 1 : s.ReadInteger(element, "Boltzmax", 1));
  return f;
}

}  // namespace lumora
