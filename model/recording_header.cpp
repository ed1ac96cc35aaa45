// The header block of a spectrometer program's text export.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <regex>

#include "base/numparse.h"
#include "model/recording_file.h"

namespace lumora {

namespace {

using Clock = std::chrono::nanoseconds;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// A data row: its first two fields are numbers.
bool IsDataRow(std::string_view line) {
  size_t found = 0, p = 0;
  auto separator = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r'; };
  while (found < 2) {
    while (p < line.size() && separator(line[p])) ++p;
    const size_t start = p;
    while (p < line.size() && !separator(line[p])) ++p;
    double value = 0;
    if (p == start || !TryParseReal(line.substr(start, p - start), value)) return false;
    ++found;
  }
  return true;
}

struct KeyValue {
  std::string key;  // lower case
  std::string value;
};

// "key: value", "key;value", "key=value" or "key<TAB>value", after any
// comment marks.
std::optional<KeyValue> SplitKeyValue(std::string_view line) {
  line = TrimmedView(line);
  while (!line.empty() && (line.front() == '#' || line.front() == '%' || line.front() == ';'))
    line.remove_prefix(1);
  const size_t at = line.find_first_of(":;=\t");
  if (at == std::string_view::npos || at == 0) return std::nullopt;
  return KeyValue{Lower(TrimmedView(line.substr(0, at))), std::string(TrimmedView(line.substr(at + 1)))};
}

std::optional<double> LeadingNumber(std::string_view text, size_t* length = nullptr) {
  text = TrimmedView(text);
  size_t end = 0;
  while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) ||
                               std::strchr("+-.eE", text[end])))
    ++end;
  double value = 0;
  if (end == 0 || !TryParseReal(text.substr(0, end), value)) return std::nullopt;
  if (length) *length = end;
  return value;
}

std::optional<double> SecondsOfUnit(std::string unit) {
  unit = Lower(TrimmedView(unit));
  if (unit == "s" || unit == "sec" || unit == "seconds" || unit == "second") return 1.0;
  if (unit == "ms" || unit == "msec") return 1e-3;
  if (unit == "us" || unit == "usec" || unit == "\xc2\xb5s" || unit == "\xc2\xb5sec") return 1e-6;
  return std::nullopt;
}

// The integration time in seconds: the unit in brackets in the key
// ("Integration Time (usec)") or after the value ("100 ms").
std::optional<double> IntegrationSeconds(const KeyValue& kv) {
  const std::string_view text = TrimmedView(kv.value);
  size_t length = 0;
  const std::optional<double> value = LeadingNumber(text, &length);
  if (!value || *value < 0) return std::nullopt;
  static const std::regex bracketed(R"([\(\[]\s*([^\)\]]+?)\s*[\)\]])");
  std::smatch m;
  std::optional<double> scale;
  if (std::regex_search(kv.key, m, bracketed)) scale = SecondsOfUnit(m[1].str());
  if (!scale) {
    const std::string_view rest = TrimmedView(text.substr(length));
    scale = SecondsOfUnit(std::string(rest.substr(0, rest.find_first_of(" \t("))));
  }
  if (!scale) return std::nullopt;
  return *value * *scale;
}

// Hours east of UTC of the zone abbreviations the programs write.
std::optional<int> ZoneMinutesEast(const std::string& zone) {
  static const std::pair<const char*, int> zones[] = {
      {"utc", 0},    {"gmt", 0},     {"z", 0},       {"wet", 0},     {"west", 60},
      {"bst", 60},   {"cet", 60},    {"cest", 120},  {"met", 60},    {"mest", 120},
      {"eet", 120},  {"eest", 180},  {"msk", 180},   {"est", -300},  {"edt", -240},
      {"cst", -360}, {"cdt", -300},  {"mst", -420},  {"mdt", -360},  {"pst", -480},
      {"pdt", -420}, {"jst", 540},   {"kst", 540},   {"aest", 600},  {"aedt", 660},
  };
  const std::string lower = Lower(zone);
  if (lower.empty()) return 0;
  for (const auto& [name, minutes] : zones)
    if (lower == name) return minutes;
  if ((lower[0] == '+' || lower[0] == '-') && lower.size() >= 5) {
    const std::string digits = lower.substr(1, 2) + lower.substr(lower.size() - 2);
    if (std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(c); })) {
      const int minutes = std::stoi(digits.substr(0, 2)) * 60 + std::stoi(digits.substr(2));
      return lower[0] == '-' ? -minutes : minutes;
    }
  }
  return std::nullopt;  // an unknown zone: better no time than a wrong one
}

struct DayTime {
  int year = 0, month = 0, day = 0;
  std::optional<Clock> time;  // since midnight
  std::string zone;
};

int ToInt(const std::ssub_match& m) { return m.matched ? std::stoi(m.str()) : 0; }

std::optional<Clock> TimeOfDay(int h, int m, int s, const std::string& fraction) {
  if (h > 23 || m > 59 || s > 60) return std::nullopt;
  Clock time = std::chrono::hours(h) + std::chrono::minutes(m) + std::chrono::seconds(s);
  if (!fraction.empty()) {
    const std::string nine = (fraction + "000000000").substr(0, 9);
    time += Clock(std::stoll(nine));
  }
  return time;
}

int MonthOfName(const std::string& name) {
  static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                       "jul", "aug", "sep", "oct", "nov", "dec"};
  const std::string lower = Lower(name);
  for (int k = 0; k < 12; ++k)
    if (lower == months[k]) return k + 1;
  return 0;
}

// A date with or without its time: "Mon Mar 01 10:15:30 CET 2026",
// "2026-03-01[T ]10:15:30[.fff][zone]", "01.03.2026[ 10:15:30]".
std::optional<DayTime> ParseDate(const std::string& text) {
  static const std::regex written(
      R"(^[A-Za-z]{3},?\s+([A-Za-z]{3})\s+(\d{1,2})\s+(\d{1,2}):(\d{2}):(\d{2})(?:\.(\d+))?\s+(?:([A-Za-z]{1,5}|[+-]\d{2}:?\d{2})\s+)?(\d{4})$)");
  static const std::regex iso(
      R"(^(\d{4})-(\d{2})-(\d{2})(?:[Tt ]+(\d{1,2}):(\d{2}):(\d{2})(?:\.(\d+))?)?\s*(Z|z|[+-]\d{2}:?\d{2}|[A-Za-z]{2,5})?$)");
  static const std::regex dotted(
      R"(^(\d{1,2})\.(\d{1,2})\.(\d{4})(?:\s+(\d{1,2}):(\d{2}):(\d{2})(?:\.(\d+))?)?\s*([A-Za-z]{2,5}|[+-]\d{2}:?\d{2})?$)");
  std::smatch m;
  DayTime d;
  if (std::regex_match(text, m, written)) {
    d.month = MonthOfName(m[1].str());
    d.day = ToInt(m[2]);
    d.year = ToInt(m[8]);
    d.time = TimeOfDay(ToInt(m[3]), ToInt(m[4]), ToInt(m[5]), m[6].str());
    d.zone = m[7].str();
    if (!d.time) return std::nullopt;
  } else if (std::regex_match(text, m, iso) || std::regex_match(text, m, dotted)) {
    const bool yearFirst = m[1].length() == 4;
    d.year = ToInt(m[yearFirst ? 1 : 3]);
    d.month = ToInt(m[2]);
    d.day = ToInt(m[yearFirst ? 3 : 1]);
    if (m[4].matched) {
      d.time = TimeOfDay(ToInt(m[4]), ToInt(m[5]), ToInt(m[6]), m[7].str());
      if (!d.time) return std::nullopt;
    }
    d.zone = m[8].str();
  } else {
    return std::nullopt;
  }
  return d;
}

std::optional<Clock> TimeOnly(const std::string& text) {
  static const std::regex clock(
      R"(^(\d{1,2}):(\d{2}):(\d{2})(?:\.(\d+))?\s*(Z|z|[+-]\d{2}:?\d{2}|[A-Za-z]{2,5})?$)");
  std::smatch m;
  if (!std::regex_match(text, m, clock)) return std::nullopt;
  return TimeOfDay(ToInt(m[1]), ToInt(m[2]), ToInt(m[3]), m[4].str());
}

std::optional<Clock> SinceEpoch(const DayTime& d, Clock timeOfDay) {
  using namespace std::chrono;
  const year_month_day date{year(d.year), month(static_cast<unsigned>(d.month)),
                            day(static_cast<unsigned>(d.day))};
  const std::optional<int> east = ZoneMinutesEast(d.zone);
  if (!date.ok() || !east) return std::nullopt;
  return duration_cast<Clock>(sys_days(date).time_since_epoch()) + timeOfDay - minutes(*east);
}

bool IsDateKey(const std::string& key) {
  return key == "date" || key == "date time" || key == "datetime" || key == "timestamp" ||
         key == "time stamp" || key == "acquisition date" || key == "measurement date";
}

}  // namespace

RecordingHeader ParseRecordingHeader(std::string_view text) {
  RecordingHeader header;
  std::optional<DayTime> date;
  std::optional<Clock> time;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (IsDataRow(line)) break;
    const std::optional<KeyValue> kv = SplitKeyValue(line);
    if (!kv) continue;
    const std::string& key = kv->key;
    if (key.find("integration time") != std::string::npos ||
        key.find("exposure time") != std::string::npos) {
      if (!header.integrationSeconds) header.integrationSeconds = IntegrationSeconds(*kv);
    } else if (key.find("averag") != std::string::npos) {
      const std::optional<double> count = LeadingNumber(kv->value);
      if (count && *count >= 1 && *count == std::floor(*count) && !header.averages)
        header.averages = static_cast<long long>(*count);
    } else if (IsDateKey(key)) {
      if (!date) date = ParseDate(kv->value);
    } else if (key == "time") {
      if (const std::optional<DayTime> full = ParseDate(kv->value); full && !date)
        date = full;
      else if (!time)
        time = TimeOnly(kv->value);
    } else if (key == "units" || key == "unit" || key.find("intensity unit") != std::string::npos) {
      if (header.intensityUnit.empty()) header.intensityUnit = kv->value;
    }
  }
  if (date && (date->time || time)) header.taken = SinceEpoch(*date, date->time ? *date->time : *time);
  return header;
}

}  // namespace lumora
