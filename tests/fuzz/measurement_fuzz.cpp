// The measurement import against the bundled argon data, with the model
// evaluated on what was imported: any measurement file imports without a
// crash; a failure is an error the program reports.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "model/session.h"
#include "tests/fuzz/argon_session.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/argon_model.h"

using namespace lumora;

namespace {

using fuzz::ArgonSession;

void ImportMeasurement(const std::string& path) {
  Session& session = ArgonSession();
  session.ReadMeasurement(path);
  if (!session.HasEnoughLines()) return;
  session.Recalculate();
  EbfModel& model = session.Model();
  model.ClearCache();
  (void)model.EvaluateAllLines(testing::ArgonModel());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteScratchFile(
      "measurement.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    ImportMeasurement(path);
  } catch (const Error&) {
  }
  return 0;
}
