// The measurement import against the bundled argon data: any measurement
// file imports without a crash; a failure is an error the program reports.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "model/atomicdata.h"
#include "model/messages.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

const std::string kDatabase = std::string(LUMORA_SOURCE_DIR) + "/data/database";

// The element's data, read once per process.
void LoadElement() {
  ReadLevels(kDatabase + "/Ar_I_levels.txt");
  OpenLineBase(kDatabase, "Ar, I");
}

void ImportMeasurement(const std::string& path) { ImportIntensities(path); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool loaded = [] {
    SetMessageHandler([](const std::string&) {});
    LoadElement();
    return true;
  }();
  (void)loaded;
  const std::string path =
      fuzz::WriteScratchFile("measurement.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    ImportMeasurement(path);
  } catch (const Error&) {
  }
  return 0;
}
