// The settings file lumora.ini: sections "_Files", "_Parameters",
// "_Iteration", "_Fit" and one section per element. Reads fall back to the
// key's default when the key is missing; a number that is there but does
// not parse (empty, "0,5", "abc", beyond its type) raises Error naming the
// key, its section and the file. Every write
// reaches the file at once (through a temporary file and a rename), changes
// only the key's own line and keeps every other line as it stands.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumora {

class Settings {
 public:
  // Opens the file; a missing file reads as empty (every key its default).
  explicit Settings(std::string fileName);
  ~Settings();
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  const std::string& FileName() const;

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  // Error when the key is there but its value is no such number.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  double ReadFloat(const std::string& section, const std::string& key, double def) const;

  // Raise InOutError when the file cannot be written, or when a hand-edited
  // line would read differently afterwards; the old file stays whole.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteFloat(const std::string& section, const std::string& key, double value);

  // Section names in file order; element sections are those not starting with "_".
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> ElementNames() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "The key "Path" of the section "_Parameters" in the settings file
// "<file>"" ("of the element section" for an element's key): how a message
// names a key, followed by what is wrong with its value.
std::string SettingsKeyPlace(const Settings& settings, const std::string& section,
                             const std::string& key);

// One key of the settings file with its type and default (as text).
struct SettingKey {
  enum class Type { Text, Integer, Real };
  const char* section;  // empty for the keys of an element section
  const char* key;
  Type type;
  const char* def;
};

// The program keys of sections "_Files", "_Parameters", "_Iteration" and
// "_Fit" in that order, and the keys every element section has.
const std::vector<SettingKey>& ProgramKeys();
const std::vector<SettingKey>& ElementKeys();

// The atomic mass in u, key "m" of the element's section. Raises Error
// naming the section when the key is missing, and naming the value when it
// is not a number above 0.
double ElementMassAmu(const Settings& settings, const std::string& element);

// The line pair whose ratio curve the line analysis draws: key "Pair" of the
// element's section, two wavelengths in nm (X, then Y) of lines that share
// an upper level. Empty when the section sets none; Error naming the value
// when it is not two wavelengths above 0.
std::optional<std::pair<double, double>> ElementAnalysisPair(const Settings& settings,
                                                             const std::string& element);

// The value a key has for the program: its default when missing or, for
// numbers, when it does not parse; reals as their shortest text.
std::string EffectiveValue(const Settings& settings, const std::string& section,
                           const SettingKey& key);

// The initial folder of the open-file dialog when the settings name none:
// the root of the file system.
inline constexpr const char* kDefaultMeasurementsFolder = "/";

// The window's input fields as texts, filled from the settings with the
// formats the window shows them in ("%3.1e", "%.0f", "%.3f", "%d").
struct WindowFields {
  std::string FromDensity;        // map density From
  std::string ToDensity;          // map density To
  std::string DensityPoints;      // map density Points
  std::string FromTemperature;    // map temperature From
  std::string ToTemperature;      // map temperature To
  std::string TemperaturePoints;  // map temperature Points
  std::string FitDensity;         // "Density n_1 (m-3)"
  std::string FitTemperature;     // fit temperature field
  std::string MaxIter;            // "Max iteration number"
  std::string Tn;                 // "Gas Tn (K)"
  std::string Path;               // "Abs. path (m)"
  std::string Count;              // "Count", from the element's Boltzmax
  int Distribution = 0;           // 0 "Boltzmann", 1 "1s levels"
  bool FitTemperatureChecked = false;
  int ReportKind = 0;  // 0 "final results", 1 "fit iteration"
};

// Fills the fields from the settings; Count from the element's Boltzmax.
// Error for a value that is there but is no number.
WindowFields LoadWindowFields(const Settings& settings, const std::string& element);

// The settings key a field is filled from, as SettingsKeyPlace names it
// (the element's section for Count); empty for a field of no key.
std::string WindowFieldKeyPlace(const Settings& settings, const std::string& element,
                                std::string WindowFields::*field);

}  // namespace lumora
