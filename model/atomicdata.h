// The element data set: levels and lines of the selected element, the line
// base they come from, and the measured intensities tied to them. These
// globals are the shared state of the model, the analysis and the drivers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "linedb/DataFld.h"
#include "linedb/TxtAccess.h"

namespace lumora {

struct TLevelRecord {
  FixedString<23> Configuration;
  FixedString<13> Term;
  double J = 0;
  double g = 0;
  double Energy = 0;
  double Sum_t = 0;
  double Sum_m = 0;
  double Sum_f = 0;
  double Density = 0;
  int32_t LineDownCount = 0;
};

struct TLineRecord {
  double Int = 0;  // line intensity: measured, simulated or edited
  double G_f = 0;
  double G_m = 0;
  double G_t = 0;
  TRecord AR;
  int32_t UpperState = -1;
  int32_t LowerState = -1;
};

extern std::vector<TLevelRecord> LevelArray;
extern std::vector<TLineRecord> LineArray;
extern std::unique_ptr<TTextBase> LineBase;

// Items of a comma text: commas and blanks both separate, "double quotes"
// hold an item with blanks; "a,,b" has an empty middle item.
std::vector<std::string> SplitCommaText(std::string_view text);

// Replaces LevelArray with the levels of the file. Messages for STOP,
// repeated and descending energies; InOutError when the file cannot be
// opened or a number does not parse (levels read so far stay).
void ReadLevels(const std::string& fileName);

// Replaces LineBase with the element's lines. linesSetting is "El, Ion";
// anything but two items raises Error "Wrong source in ini file. ".
void OpenLineBase(const std::string& folder, const std::string& linesSetting);

std::vector<std::string> ListLevels();
std::vector<std::string> ListLines(bool allLines);
std::vector<std::string> ListLevelLineStructure();

// Sets UpperState and LowerState by exact energy equality, or raises Error
// "Upper level %.6f was not found. Import was stopped." and its siblings.
void TieLineToLevels(TLineRecord& line);

// Replaces LineArray with the line base's lines inside the limits, each with
// the simulated intensity Aki / WaveLength / 1000.
void ImportLinesForAnalysis(double fromWL, double toWL, double minA, double maxE);

// Replaces LineArray with the lines of a measurement file.
void ImportIntensities(const std::string& fileName);

// The element change shared by the window and the command line: reads the
// levels, opens the line base and produces the three listings. Input/output
// failures are raised as FileError ("File error: " + message).
struct ElementListings {
  std::vector<std::string> levels;
  std::vector<std::string> lines;
  std::vector<std::string> structure;
};
class FileError : public Error {
 public:
  explicit FileError(const std::string& message) : Error("File error: " + message) {}
};
ElementListings ChangeElement(const std::string& databaseFolder, const std::string& levelsFile,
                              const std::string& linesSetting, bool allLines);

}  // namespace lumora
