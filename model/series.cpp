#include "model/series.h"

#include <re2/re2.h>
#include <tbb/concurrent_queue.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>

#include "base/atomic_file.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "model/results_line.h"

namespace lumora {

namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// The most memory one x pattern's automaton may take: far beyond any
// sensible pattern, small enough that a pasted megabyte is refused.
constexpr int64_t kPatternMemory = 8 << 20;

// A recording's header is read this far at most: time stamps sit in the
// first lines, never behind megabytes of preamble.
constexpr size_t kHeaderBytes = 64 * 1024;

std::string FileNameOf(const std::string& file) {
  return std::filesystem::path(file).filename().string();
}

// A line of the data: it starts like a number.
bool StartsLikeNumber(std::string_view line) {
  const std::string_view text = TrimmedView(line);
  if (text.empty()) return false;
  const char c = text.front();
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
}

// The years a time stamp may name: any two of them lie less than the
// 292 years apart that a count of nanoseconds holds.
constexpr int kFirstStampYear = 1900;
constexpr int kLastStampYear = 2100;

// A run of digits as a number (the pattern gives two to four of them).
int DigitsValue(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// The time stamp of a header line and its place, for messages.
struct StampText {
  std::string_view value;
  int line = 0;
  std::string source;

  [[noreturn]] void Refuse(const char* reason) const {
    throw Error(Format("The time stamp \"%s\" in line %d%s %s.", QuoteToken(value), line,
                       source.empty() ? "" : " of " + source, reason));
  }
};

// The UTC time of a stamp's value; Error for one that names no such time.
SeriesTime ParseStamp(const StampText& stamp) {
  static const re2::RE2 iso(
      R"((\d{4})-(\d{2})-(\d{2})[Tt ](\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?\s*)"
      R"((Z|z|[+-]\d{2}:?\d{2})?)");
  re2::StringPiece year, month, day, hour, minute, second, fraction, offset;
  if (!re2::RE2::FullMatch(stamp.value, iso, &year, &month, &day, &hour, &minute, &second,
                           &fraction, &offset))
    stamp.Refuse("is no date and time such as 2026-03-01T10:15:30Z");
  using namespace std::chrono;
  const int y = DigitsValue(year);
  if (y < kFirstStampYear || y > kLastStampYear)
    stamp.Refuse(Format("lies outside the years %d to %d", kFirstStampYear, kLastStampYear)
                     .c_str());
  const year_month_day date{std::chrono::year{y},
                            std::chrono::month{static_cast<unsigned>(DigitsValue(month))},
                            std::chrono::day{static_cast<unsigned>(DigitsValue(day))}};
  if (!date.ok()) stamp.Refuse("names no day of the calendar");
  const int h = DigitsValue(hour), m = DigitsValue(minute), sec = DigitsValue(second);
  // 60 is a leap second.
  if (h > 23 || m > 59 || sec > 60) stamp.Refuse("names no time of day");
  std::string digits(fraction.substr(0, 9));
  digits.resize(9, '0');
  SeriesTime time = sys_days{date}.time_since_epoch() + hours(h) + minutes(m) + seconds(sec) +
                    nanoseconds(DigitsValue(digits));
  if (offset.size() > 1) {
    const int offsetHours = DigitsValue(offset.substr(1, 2));
    const int offsetMinutes = DigitsValue(offset.substr(offset.size() - 2));
    if (offsetHours > 23 || offsetMinutes > 59) stamp.Refuse("has no valid offset from UTC");
    const minutes east(offsetHours * 60 + offsetMinutes);
    time -= offset[0] == '-' ? -east : east;
  }
  return time;
}

// The stop texts of fits that ended with a result worth plotting.
bool EndedWell(StopCode code) {
  return code == StopCode::ParametersUnchanged || code == StopCode::SumReached;
}

bool NeedsQuotes(const std::string& text) {
  return text.find_first_of(",\"\r\n") != std::string::npos;
}

std::string CsvText(const std::string& text) {
  if (!NeedsQuotes(text)) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

SeriesPattern::SeriesPattern(const std::string& expression) : text_(expression) {
  re2::RE2::Options options;
  options.set_log_errors(false);
  options.set_max_mem(kPatternMemory);
  auto regex = std::make_shared<const re2::RE2>(expression, options);
  if (!regex->ok())
    throw Error("The x pattern \"" + expression + "\" is no regular expression: " + regex->error());
  if (regex->NumberOfCapturingGroups() < 1)
    throw Error("The x pattern \"" + expression +
                "\" has no group: put the number's part in parentheses, as in t=(\\d+)us");
  regex_ = std::move(regex);
}

std::optional<double> SeriesPattern::ValueIn(const std::string& file) const {
  const std::string name = FileNameOf(file);
  re2::StringPiece groups[2];
  if (!regex_->Match(name, 0, name.size(), re2::RE2::UNANCHORED, groups, 2) ||
      groups[1].data() == nullptr)
    return std::nullopt;
  double value = 0;
  if (!TryParseReal(std::string(groups[1]), value) || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<SeriesTime> HeaderTimeStamp(std::string_view text, const std::string& source) {
  // A stamp line: its key, then a value that starts as an ISO 8601 date.
  static const re2::RE2 stampLine(
      R"((?i)\s*[#;%]*\s*(?:time\s*stamp|time|date\s*time|date)\s*[:=]\s*)"
      R"((\d{4}-\d{2}-\d{2}.*?)\s*)");
  size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (StartsLikeNumber(line)) break;  // the data begin
    re2::StringPiece value;
    if (!re2::RE2::FullMatch(line, stampLine, &value)) continue;
    return ParseStamp(StampText{value, number, source});
  }
  return std::nullopt;
}

std::optional<SeriesTime> RecordingTimeStamp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string head(kHeaderBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  if (const std::optional<SeriesTime> stamp = HeaderTimeStamp(head, path)) return stamp;
  return ParseRecordingHeader(head).taken;
}

SeriesRow SeriesRowOfFit(const std::string& file, const FitResult& fit,
                         const std::vector<TLevelRecord>& levels) {
  const ResultsInput input = FitResultsInput(fit);
  const ResultsFigures figures = ComputeResultsFigures(levels, input);
  SeriesRow row;
  row.file = file;
  row.n1 = figures.densities.empty() ? kNoValue : static_cast<double>(figures.densities[0]);
  row.n1Uncertainty =
      figures.uncertainties.empty() ? kNoValue : static_cast<double>(figures.uncertainties[0]);
  row.second = input.secondFitted ? static_cast<double>(fit.fitted.second) : kNoValue;
  row.sum = static_cast<double>(fit.sum);
  row.stop = StopCodeResultText(fit.stopCode);
  row.fitted = true;
  row.ok = EndedWell(fit.stopCode);
  return row;
}

SeriesRow FailedSeriesRow(const std::string& file, const std::string& message) {
  SeriesRow row;
  row.file = file;
  row.n1 = row.n1Uncertainty = row.second = row.sum = kNoValue;
  row.stop = message;
  return row;
}

SeriesAxis PlaceSeriesX(std::vector<SeriesRow>& rows, SeriesAxis axis,
                        const SeriesPattern* pattern) {
  if (axis == SeriesAxis::Auto) {
    const bool stamped = std::any_of(rows.begin(), rows.end(),
                                     [](const SeriesRow& r) { return r.timeStamp.has_value(); });
    axis = pattern ? SeriesAxis::Pattern : stamped ? SeriesAxis::TimeStamp : SeriesAxis::FileOrder;
  }
  if (axis == SeriesAxis::Pattern && !pattern) throw Error("An x pattern is needed for its axis.");
  std::optional<SeriesTime> earliest;
  for (const SeriesRow& row : rows)
    if (row.timeStamp && (!earliest || *row.timeStamp < *earliest)) earliest = row.timeStamp;
  for (size_t k = 0; k < rows.size(); ++k) {
    SeriesRow& row = rows[k];
    switch (axis) {
      case SeriesAxis::Pattern:
        row.x = pattern->ValueIn(row.file).value_or(kNoValue);
        break;
      case SeriesAxis::TimeStamp:
        row.x = row.timeStamp ? std::chrono::duration<double>(*row.timeStamp - *earliest).count()
                              : kNoValue;
        break;
      default:
        row.x = static_cast<double>(k + 1);
        break;
    }
  }
  return axis;
}

void ReadFileToFit(Session& session, const std::string& file,
                   const std::optional<SpectrumRequest>& spectrum, bool withUncertainties) {
  if (spectrum) {
    SpectrumRequest request = *spectrum;
    request.spectrumFile = file;
    session.ReadSpectrum(request);
  } else {
    session.ReadMeasurement(file, withUncertainties);
  }
  session.Recalculate();
}

SeriesRow FitSeriesFile(Session& session, const std::string& file, const FitRequest& fit,
                        const std::optional<SpectrumRequest>& spectrum) {
  std::vector<std::string> messages;
  session.SetMessageSink([&messages](const std::string& text) { messages.push_back(text); });
  SeriesRow row;
  std::optional<SeriesTime> stamp;
  try {
    // A header's bad time stamp fails the file before its fit.
    if (spectrum) stamp = RecordingTimeStamp(file);
    ReadFileToFit(session, file, spectrum, fit.uncertainty.source == UncertaintySource::Column);
    FitRequest request = fit;
    request.report.dataFileName = FileNameOf(file);
    request.log.write = false;
    request.log.keep = false;
    request.log.path.clear();
    const FitResult result = session.Fit(request);
    row = SeriesRowOfFit(file, result, session.Table().levels);
  } catch (const std::bad_alloc& e) {
    row = FailedSeriesRow(file, UserMessage(e, "the fit"));
  } catch (const Error& e) {
    row = FailedSeriesRow(file, UserMessage(e, "the fit"));
  }
  session.SetMessageSink([](const std::string&) {});
  row.timeStamp = stamp;
  row.messages = std::move(messages);
  return row;
}

namespace {

SeriesTable EmptyTable(const SeriesRequest& request) {
  SeriesTable table;
  table.rows.resize(request.files.size());
  table.secondFitted = request.fit.target.fitSecond;
  return table;
}

// The spectrum request of the request's file `index`, its frame included.
std::optional<SpectrumRequest> SpectrumOf(const SeriesRequest& request, size_t index) {
  std::optional<SpectrumRequest> spectrum = request.spectrum;
  if (spectrum && index < request.frames.size()) spectrum->frame = request.frames[index];
  return spectrum;
}

SeriesAxis PlaceX(SeriesTable& table, const SeriesRequest& request) {
  return PlaceSeriesX(table.rows, request.axis, request.pattern ? &*request.pattern : nullptr);
}

}  // namespace

SeriesTable FitSeriesIn(Session& session, const SeriesRequest& request) {
  // The session's lines come back whatever happens to the series.
  struct Restore {
    Session& session;
    Session::State state;
    ~Restore() { session.RestoreState(std::move(state)); }
  } restore{session, session.SaveState()};
  SeriesTable table = EmptyTable(request);
  for (size_t index = 0; index < request.files.size(); ++index) {
    table.rows[index] =
        FitSeriesFile(session, request.files[index], request.fit, SpectrumOf(request, index));
    if (request.progress) request.progress(index + 1, request.files.size());
  }
  table.axis = PlaceX(table, request);
  return table;
}

SeriesTable FitSeries(const SeriesRequest& request) {
  const std::vector<std::string>& files = request.files;
  SeriesTable table = EmptyTable(request);

  // Sessions with the element loaded, each used by one worker at a time;
  // the first is loaded here, so that an element that fails raises at once.
  tbb::concurrent_queue<std::unique_ptr<Session>> sessions;
  auto newSession = [&] {
    auto session = std::make_unique<Session>();
    session->SetMessageSink([](const std::string&) {});
    session->LoadElement(request.element);
    return session;
  };
  sessions.push(newSession());

  const int cores = tbb::info::default_concurrency();
  const int workers = static_cast<int>(std::clamp<size_t>(
      static_cast<size_t>(request.threads > 0 ? request.threads : cores), 1,
      std::max<size_t>(files.size(), 1)));
  std::mutex progressMutex;
  size_t done = 0;
  tbb::task_arena arena(workers);
  arena.execute([&] {
    tbb::parallel_for(size_t{0}, files.size(), [&](size_t index) {
      std::unique_ptr<Session> session;
      if (!sessions.try_pop(session)) session = newSession();
      table.rows[index] =
          FitSeriesFile(*session, files[index], request.fit, SpectrumOf(request, index));
      sessions.push(std::move(session));
      if (request.progress) {
        const std::lock_guard lock(progressMutex);
        request.progress(++done, files.size());
      }
    });
  });
  table.axis = PlaceX(table, request);
  return table;
}

std::string SeriesNumberText(double value) {
  if (std::isnan(value)) return "";
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

const std::vector<std::string>& SeriesColumns() {
  static const std::vector<std::string> columns = {"file", "x",   "n1",  "u_n1",
                                                   "second", "sum", "stop"};
  return columns;
}

std::vector<std::string> SeriesFields(const SeriesRow& row) {
  return {row.file,
          SeriesNumberText(row.x),
          SeriesNumberText(row.n1),
          SeriesNumberText(row.n1Uncertainty),
          SeriesNumberText(row.second),
          SeriesNumberText(row.sum),
          row.stop};
}

std::string SeriesCsv(const std::vector<SeriesRow>& rows, const std::string& xUnit) {
  auto line = [](const std::vector<std::string>& fields) {
    std::string text;
    for (size_t k = 0; k < fields.size(); ++k) text += (k ? "," : "") + CsvText(fields[k]);
    return text + "\r\n";
  };
  std::vector<std::string> columns = SeriesColumns();
  if (!xUnit.empty()) columns[1] += " (" + xUnit + ")";
  std::string text = line(columns);
  for (const SeriesRow& row : rows) text += line(SeriesFields(row));
  return text;
}

void SaveSeriesCsv(const std::string& path, const std::vector<SeriesRow>& rows,
                   const std::string& xUnit) {
  WriteFileAtomically(path, SeriesCsv(rows, xUnit));
}

}  // namespace lumora
