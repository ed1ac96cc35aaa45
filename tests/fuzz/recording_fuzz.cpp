// The reading and integration of a recorded spectrum against the bundled
// argon lines: any file reads without a crash or a runaway, a failure is an
// error the program reports, and every line it keeps has a finite area
// above 0.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "model/session.h"
#include "tests/fuzz/argon_session.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

using fuzz::ArgonSession;

void IntegrateRecording(const std::string& path) {
  Session& session = ArgonSession();
  SpectrumRequest request;
  request.spectrumFile = path;
  const IntegrationResult& result = session.ReadSpectrum(request);
  for (const LineIntegral& line : result.lines)
    if (line.flags == 0)
      fuzz::Check(std::isfinite(line.area) && line.area > 0, "a kept line has an area above 0");
  if (session.HasEnoughLines()) session.Recalculate();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteScratchFile(
      "spectrum.csv", std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    IntegrateRecording(path);
  } catch (const Error&) {
  }
  return 0;
}
