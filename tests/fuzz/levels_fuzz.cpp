// The level file reader: any content reads without a crash; a failure is an
// error the program reports.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "model/element_data.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

// The reader's interface, in one place.
void ReadLevelFile(const std::string& path) {
  std::vector<TLevelRecord> levels;
  bool replaced = false;
  ReadLevels(
      path, levels, [](const std::string&) {}, replaced);
  (void)ListLevels(levels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteScratchFile(
      "levels.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    ReadLevelFile(path);
  } catch (const Error&) {
  }
  return 0;
}
