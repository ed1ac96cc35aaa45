// A series: one fit per file of a folder or a time series (a power scan, a
// pulsed discharge), gathered into one table of n_1, its uncertainty, the
// second parameter, the sum and how each fit ended, against an x value per
// file. The window, lumora-cli and Python all build their tables here, so
// that each gives the same numbers for the same files and settings.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/fit.h"
#include "model/session.h"

namespace re2 {
class RE2;
}

namespace lumora {

// Where each file's x comes from.
enum class SeriesAxis : int {
  Auto = 0,       // the pattern when one is given, else the recordings' time
                  // stamps when one has any, else the file order
  FileOrder = 1,  // 1, 2, 3, ... in the order the files were given
  Pattern = 2,    // the first group of a regular expression over the file name
  TimeStamp = 3,  // seconds since the earliest time stamp of the recordings' headers
};

// A regular expression over file names whose first group is the x value
// (for example "t=(\d+)us" or "(\d+)W"). Raises Error for an expression
// that does not compile or has no group. It is matched by an automaton in
// time linear in the name and in bounded memory, so that no pattern or name
// can exhaust the stack or run for minutes; back-references and look-around
// are therefore refused as no regular expression.
class SeriesPattern {
 public:
  explicit SeriesPattern(const std::string& expression);
  const std::string& Text() const { return text_; }
  // The group's number in the file's name (the folders are not searched);
  // none when the name does not match or the group is no number.
  std::optional<double> ValueIn(const std::string& file) const;

 private:
  std::string text_;
  std::shared_ptr<const re2::RE2> regex_;  // immutable: shared by copies
};

// Since the Unix epoch; whole nanoseconds, so that the seconds between two
// stamps come out as exactly as they were written.
using SeriesTime = std::chrono::nanoseconds;

// The time stamp in a recording's header: a line before the data such as
// "# time: 2026-03-01T10:15:30.000250Z" ("time", "timestamp", "time stamp",
// "date" or "datetime", then ":" or "=", then an ISO 8601 date and time; a
// space may stand for the "T", an offset "+01:00" is taken into account, no
// offset means UTC). None when the header has no such line; Error naming
// the line (and `source`) when its value starts as a date but is no date
// and time of the years 1900 to 2100 (a date alone, 2026-02-30, hour 24, an
// offset of +99:99). The data rows are not read.
std::optional<SeriesTime> HeaderTimeStamp(std::string_view text, const std::string& source = "");
// The same of a file's first 64 KiB; none when it cannot be read.
std::optional<SeriesTime> RecordingTimeStamp(const std::string& path);

// One file's row. A fit that raised keeps its row: the numbers are NaN and
// `stop` holds the error's message.
struct SeriesRow {
  std::string file;
  // NaN: the file has none (no match, no time stamp), or none was placed yet.
  double x = std::numeric_limits<double>::quiet_NaN();
  double n1 = 0;
  double n1Uncertainty = 0;
  double second = 0;  // NaN when the second parameter was not fitted
  double sum = 0;
  std::string stop;  // the results line's stop text, or the error
  bool fitted = false;  // the fit ran to an end
  bool ok = false;      // ... and ended well ("OK" or "sum reached")
  std::vector<std::string> messages;  // plain messages of the reading
  std::optional<SeriesTime> timeStamp;  // a recording's header time
};

struct SeriesTable {
  std::vector<SeriesRow> rows;  // in the order the files were given
  SeriesAxis axis = SeriesAxis::FileOrder;  // where x came from (never Auto)
  bool secondFitted = false;
  std::string xUnit;  // when x holds the frames' times of camera files: their unit
};

// The row of a fit as the session left it after `fit`.
SeriesRow SeriesRowOfFit(const std::string& file, const FitResult& fit,
                         const std::vector<TLevelRecord>& levels);
// The row of a file whose reading or fit raised `message`.
SeriesRow FailedSeriesRow(const std::string& file, const std::string& message);

// Sets every row's x from `axis` (Auto resolved as described there; a
// Pattern axis needs the pattern) and returns the axis used.
SeriesAxis PlaceSeriesX(std::vector<SeriesRow>& rows, SeriesAxis axis,
                        const SeriesPattern* pattern);

// The work of one series.
struct SeriesRequest {
  ElementSource element;
  FitRequest fit;
  std::optional<SpectrumRequest> spectrum;  // the files are recordings to integrate first
  std::vector<std::string> files;
  // With `spectrum`: the frame of each file to read, counted from 0 (none,
  // or no entry: the first), for files that are SPE camera files.
  std::vector<std::optional<size_t>> frames;
  SeriesAxis axis = SeriesAxis::Auto;
  std::optional<SeriesPattern> pattern;
  int threads = 0;  // 0: every core
  // After each file, on the worker that fitted it (one call at a time); it
  // may raise to stop the series, which then ends with that exception.
  std::function<void(size_t done, size_t total)> progress;
};

// Reads a measurement (with its uncertainty column when asked), or
// integrates a recording with the spectrum's options, and recalculates: what
// a fit of a file starts with.
void ReadFileToFit(Session& session, const std::string& file,
                   const std::optional<SpectrumRequest>& spectrum, bool withUncertainties = false);

// Reads and fits one file in `session` (whose element is loaded) and
// returns its row; never raises for the file's own failures.
SeriesRow FitSeriesFile(Session& session, const std::string& file, const FitRequest& fit,
                        const std::optional<SpectrumRequest>& spectrum);

// Fits every file on `threads` workers, each in a session of its own with
// the element loaded once; an element that cannot be loaded raises.
SeriesTable FitSeries(const SeriesRequest& request);
// Fits the files one after the other in `session`, whose element is loaded
// (request.element and request.threads are not used): a short series
// without the cost of new sessions. The session's lines and results lines
// are left as they were; its message sink is emptied.
SeriesTable FitSeriesIn(Session& session, const SeriesRequest& request);

// The columns' names and one row's fields as texts: numbers as their
// shortest exact text, NaN as an empty text.
const std::vector<std::string>& SeriesColumns();
std::vector<std::string> SeriesFields(const SeriesRow& row);

// The table as CSV: a header "file,x,n1,u_n1,second,sum,stop", then a row
// per file, CR LF ended; numbers as their shortest exact text, NaN as an
// empty field, texts quoted when they hold a comma, a quote or a line end.
// With `xUnit` the x column's name holds it: "x (us)".
std::string SeriesCsv(const std::vector<SeriesRow>& rows, const std::string& xUnit = "");
// The same written atomically.
void SaveSeriesCsv(const std::string& path, const std::vector<SeriesRow>& rows,
                   const std::string& xUnit = "");
// A number as the CSV writes it ("" for NaN).
std::string SeriesNumberText(double value);

}  // namespace lumora
