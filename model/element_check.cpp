#include "model/element_check.h"

#include <filesystem>
#include <fstream>
#include <map>

#include "base/format.h"

namespace lumora {

namespace {

class Checker {
 public:
  explicit Checker(ElementCheck& result) : result_(result) {}
  void Found(const std::string& text) { result_.report.push_back(text); }
  void Fault(const std::string& text) {
    result_.faults.push_back(text);
    result_.report.push_back("FAULT: " + text);
  }

 private:
  ElementCheck& result_;
};

// Index of the level with exactly this energy, or -1.
int LevelAt(const std::vector<TLevelRecord>& levels, double energy) {
  for (size_t k = 0; k < levels.size(); ++k)
    if (levels[k].Energy == energy) return static_cast<int>(k);
  return -1;
}

// The outer orbital of a configuration: "4s" of "3s2.3p5.(2P*<3/2>).4s".
std::string OuterOrbital(const std::string& configuration) {
  const size_t cut = configuration.find_last_of(". ");
  return cut == std::string::npos ? configuration : configuration.substr(cut + 1);
}

bool ReadLevelFile(const std::string& path, std::vector<TLevelRecord>& levels, Checker& check) {
  std::vector<std::string> messages;
  bool replaced = false;
  try {
    ReadLevels(
        path, levels, [&](const std::string& m) { messages.push_back(m); }, replaced);
  } catch (const std::exception& e) {
    check.Fault("level file " + path + " cannot be read: " + e.what());
    return false;
  }
  for (const std::string& m : messages) {
    if (m.rfind("STOP", 0) == 0)
      check.Found("level file: " + m);
    else
      check.Fault("level file " + path + " is not in ascending energy order: " + m);
  }
  check.Found(
      Format("level file %s: %d levels read", path.c_str(), static_cast<int>(levels.size())));
  // Without levels no line has its levels: nothing further to check.
  if (levels.empty()) check.Fault("level file " + path + " holds no level");
  return true;
}

void CheckFirstLevels(const std::vector<TLevelRecord>& levels, Checker& check) {
  if (levels.size() < 4) {
    check.Fault(Format("\"1s levels\" needs four 1s levels first; the level file has %d levels",
                       static_cast<int>(levels.size())));
    return;
  }
  const std::string orbital = OuterOrbital(levels[0].Configuration.str());
  for (int k = 0; k < 4; ++k) {
    const std::string own = OuterOrbital(levels[k].Configuration.str());
    if (own.empty() || own.back() != 's' || own != orbital) {
      check.Fault(
          Format("\"1s levels\" needs the four lowest levels to be the 1s levels (one s "
                 "orbital); level %d is %s",
                 k, levels[k].Configuration.str().c_str()));
      return;
    }
  }
  check.Found(Format("\"1s levels\": levels 0-3 (%s) hold J %g, %g, %g, %g in ascending energy",
                     orbital.c_str(), levels[0].J, levels[1].J, levels[2].J, levels[3].J));
}

// The weight of a line's level: its J and g in the line file against the level's.
void CheckWeight(const TRecord& line, const char* side, double j, int g, const TLevelRecord& level,
                 Checker& check) {
  if (g != 2 * j + 1 || g != level.g || j != level.J)
    check.Fault(
        Format("line %.4f nm: %s J %g, g %d; the level at %.6f eV has J %g, so g = 2J + 1 "
               "= %g",
               line.WaveLength, side, j, g, level.Energy, level.J, level.g));
}

void CheckPair(const std::vector<TRecord>& lines, const std::vector<int>& uppers,
               const std::pair<double, double>& pair, Checker& check) {
  int upper[2] = {-2, -2};
  const double wavelengths[2] = {pair.first, pair.second};
  for (int p = 0; p < 2; ++p) {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].WaveLength == wavelengths[p]) upper[p] = uppers[i];
    if (upper[p] == -2) check.Fault(Format("Pair: no line at exactly %.5f nm", wavelengths[p]));
  }
  if (upper[0] == -2 || upper[1] == -2) return;
  if (pair.first == pair.second) {
    check.Fault(Format("Pair %.4f/%.4f nm: names one line twice; it needs two lines of one upper "
                       "level",
                       pair.first, pair.second));
    return;
  }
  if (upper[0] != upper[1] || upper[0] < 0)
    check.Fault(Format("Pair %.4f/%.4f nm: the two lines do not share an upper level", pair.first,
                       pair.second));
  else
    check.Found(
        Format("Pair %.4f/%.4f nm: both lines leave level %d", pair.first, pair.second, upper[0]));
}

std::string GradeCounts(const std::vector<TRecord>& lines) {
  std::map<std::string, int> grades;
  for (const TRecord& r : lines) ++grades[r.Acc.empty() ? "none" : r.Acc.str()];
  std::string text;
  for (const auto& [grade, count] : grades)
    text += Format("%s%s %d", text.empty() ? "" : ", ", grade.c_str(), count);
  return text;
}

}  // namespace

ElementCheck CheckElement(const ElementSource& source,
                          const std::optional<std::pair<double, double>>& pair) {
  ElementCheck result;
  Checker check(result);
  std::vector<TLevelRecord> levels;
  const std::string levelPath = source.databaseFolder + "/" + source.levelsFile;
  if (source.levelsFile.empty())
    check.Fault("the section names no level file (key \"Levels\")");
  else if (!ReadLevelFile(levelPath, levels, check))
    levels.clear();

  const std::vector<std::string> items = SplitCommaText(source.linesSetting);
  if (items.size() != 2) {
    check.Fault("key \"Lines\" must name the symbol and ionisation stage, as \"Ar, I\", not \"" +
                source.linesSetting + "\"");
    return result;
  }
  const std::string linePath = source.databaseFolder + "/" + items[0] + "_" + items[1] + ".txt";
  // Opening a pipe or a device could wait for ever: only a regular file is read.
  std::error_code error;
  if (!std::filesystem::is_regular_file(linePath, error)) {
    const bool exists = std::filesystem::exists(linePath, error);
    check.Fault("line file " + linePath + " cannot be read" +
                (exists ? ": it is not a regular file" : ""));
    return result;
  }
  if (!std::ifstream(linePath)) {
    check.Fault("line file " + linePath + " cannot be read");
    return result;
  }
  std::vector<TRecord> lines;
  const std::unique_ptr<TTextBase> base = OpenLineBase(source.databaseFolder, source.linesSetting);
  for (int32_t i = 0; i < base->AtomLength(); ++i) lines.push_back(base->GetAtomRecord(i));
  if (lines.empty()) {
    check.Fault("line file " + linePath + " holds no line");
    return result;
  }
  check.Found(Format("line file %s: %d lines, grades %s", linePath.c_str(),
                     static_cast<int>(lines.size()), GradeCounts(lines).c_str()));
  if (levels.empty()) return result;

  std::vector<int> uppers;
  std::map<int, std::vector<double>> byUpper;
  const size_t faultsBefore = result.faults.size();
  for (const TRecord& r : lines) {
    const int upper = LevelAt(levels, r.Ek_eV), lower = LevelAt(levels, r.Ei_eV);
    uppers.push_back(upper);
    if (upper < 0)
      check.Fault(
          Format("line %.4f nm: no level at its upper energy %.8f eV", r.WaveLength, r.Ek_eV));
    if (lower < 0)
      check.Fault(
          Format("line %.4f nm: no level at its lower energy %.8f eV", r.WaveLength, r.Ei_eV));
    if (upper >= 0) {
      CheckWeight(r, "upper", r.Jk, r.gk, levels[upper], check);
      byUpper[upper].push_back(r.WaveLength);
    }
    if (lower >= 0) CheckWeight(r, "lower", r.Ji, r.gi, levels[lower], check);
  }
  if (result.faults.size() == faultsBefore)
    check.Found(
        Format("every line's upper and lower level found, %d upper levels; every "
               "weight is 2J + 1 of its level",
               static_cast<int>(byUpper.size())));
  for (const auto& [upper, wavelengths] : byUpper)
    if (wavelengths.size() == 1)
      check.Found(Format("level %d (%.6f eV) has a single line, %.4f nm: it tells nothing of n_1",
                         upper, levels[upper].Energy, wavelengths[0]));
  CheckFirstLevels(levels, check);
  if (pair) CheckPair(lines, uppers, *pair, check);
  return result;
}

}  // namespace lumora
