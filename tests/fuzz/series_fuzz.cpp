// The series' x: the file-name pattern and the recordings' header time
// stamps. No pattern, name or header crashes them, runs long or overflows;
// the first line of an input is the pattern, the rest the name and the header.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "model/series.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

void MatchPattern(const std::string& pattern, const std::string& name) {
  try {
    const SeriesPattern compiled(pattern);
    (void)compiled.ValueIn(name);
  } catch (const Error&) {
    // a pattern that does not compile or has no group is refused
  }
}

std::optional<SeriesTime> Stamp(std::string_view header) {
  try {
    return HeaderTimeStamp(header, "fuzz.csv");
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t lineEnd = input.find('\n');
  const std::string pattern(input.substr(0, lineEnd));
  const std::string rest(lineEnd == std::string_view::npos ? "" : input.substr(lineEnd + 1));
  MatchPattern(pattern, rest);
  // Two stamps of any years taken lie apart by less than a count of
  // nanoseconds holds: their seconds apart come out finite.
  std::vector<SeriesRow> rows(2);
  rows[0].timeStamp = Stamp(input);
  rows[1].timeStamp = Stamp("# time: 1900-01-01T00:00:00Z\n");
  PlaceSeriesX(rows, SeriesAxis::TimeStamp, nullptr);
  fuzz::Check(!rows[0].timeStamp || rows[0].x == rows[0].x, "a stamp gives an x");
  return 0;
}
