// The element data set: the levels of the selected element and the line
// base its lines come from; and the line table, the lines of a measurement
// or a simulation tied to those levels, which the model evaluates.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "linedb/line_base.h"
#include "linedb/line_file.h"

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
  double IntSigma = 0;  // its standard uncertainty as the measurement states it; 0: none
  double G_f = 0;
  double G_m = 0;
  double G_t = 0;
  TRecord AR;
  int32_t UpperState = -1;
  int32_t LowerState = -1;
  // Left out of the fractions and of every command on the lines; the line
  // stays in the table so that it can be taken in again.
  bool Excluded = false;
};

// Plain messages: a reader that stops early but leaves usable data tells the
// user why and ends normally. The front end decides where they go; an empty
// sink sends them to standard error.
using MessageSink = std::function<void(const std::string& text)>;
void ShowMessage(const MessageSink& sink, const std::string& text);

// The levels as read from the element's level file and its line base.
struct ElementData {
  std::vector<TLevelRecord> levels;
  std::unique_ptr<TTextBase> lineBase;
};

// The lines a command works on, with a working copy of the element's levels
// whose populations and sums the model fills in. A copy is independent of
// the original, so that two computations can each have their own.
struct LineTable {
  std::vector<TLevelRecord> levels;
  std::vector<TLineRecord> lines;
};

// Items of a comma text: commas and blanks both separate, "double quotes"
// hold an item with blanks; "a,,b" has an empty middle item.
std::vector<std::string> SplitCommaText(std::string_view text);

// Reads the level file into `levels`. Messages for STOP, repeated and
// descending energies; InOutError when the file cannot be opened or a number
// does not parse (levels read so far stay). `replaced` tells whether the old
// levels were already dropped when an error leaves.
void ReadLevels(const std::string& fileName, std::vector<TLevelRecord>& levels,
                const MessageSink& messages, bool& replaced);

// A new line base with the element's lines. linesSetting is "El, Ion";
// anything but two items raises Error "Wrong source in ini file. ".
std::unique_ptr<TTextBase> OpenLineBase(const std::string& folder, const std::string& linesSetting);

std::vector<std::string> ListLevels(const std::vector<TLevelRecord>& levels);
std::vector<std::string> ListLines(const TTextBase* lineBase, bool allLines);
std::vector<std::string> ListLevelLineStructure(const std::vector<TLevelRecord>& levels,
                                                const TTextBase* lineBase);

// Sets UpperState and LowerState by exact energy equality, or raises Error
// "Upper level %.6f was not found. Import was stopped." and its siblings.
void TieLineToLevels(const std::vector<TLevelRecord>& levels, TLineRecord& line);

// Replaces the table's lines with the line base's lines inside the limits,
// each with the simulated intensity Aki / WaveLength / 1000.
void ImportLinesForAnalysis(LineTable& table, const TTextBase* lineBase, double fromWL, double toWL,
                            double minA, double maxE);

// The line of the line base with exactly this wavelength, carrying the
// intensity (not yet tied to the levels); false, with the import's message
// in `message`, when the base holds no such line.
bool FindMeasuredLine(const TTextBase* lineBase, double wavelength, double intensity,
                      TLineRecord& line, std::string& message);

// What a measurement line's third number means.
enum class UncertaintyColumn {
  Ignored,   // nothing: other numbers may stand there
  Required,  // the intensity's standard uncertainty, on every line
  // the uncertainty where it is a number above 0, else none (IntSigma 0):
  // for a front end that lets the user decide later whether to weight by it
  WherePresent,
};

// Replaces the table's lines with the lines of a measurement file. A failure
// leaves the lines read before it. The third column fills IntSigma as
// `column` says.
void ImportIntensities(LineTable& table, const TTextBase* lineBase, const std::string& fileName,
                       const MessageSink& messages,
                       UncertaintyColumn column = UncertaintyColumn::Ignored);

// The element change's listings.
struct ElementListings {
  std::vector<std::string> levels;
  std::vector<std::string> lines;
  std::vector<std::string> structure;
};

// Input/output failures of the element change: "File error: " + message.
class FileError : public Error {
 public:
  explicit FileError(const std::string& message) : Error("File error: " + message) {}
};

// Where an element's data come from: the database folder, the level file
// and the "El, Ion" of its line file, as the element's settings name them.
struct ElementSource {
  std::string databaseFolder;
  std::string levelsFile;
  std::string linesSetting;
};

}  // namespace lumora
