// The extraction of a line file from a pipe-separated source table: any
// source either fails with an error and leaves the previous line file alone,
// or gives a line file that the line file reader reads back.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "linedb/line_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

std::string ReadScratchFile(const std::string& name) {
  std::ifstream in(fuzz::ScratchFolder() + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source = fuzz::WriteScratchFile(
      "source.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string previous = "the previous table\r\n";
  fuzz::WriteScratchFile("Ar_I.txt", previous);
  std::ostringstream progress;
  try {
    auto file = TAtomFile::Extract(source, fuzz::ScratchFolder(), "Ar", "I", progress);
    file->OpenRead();
    TRecord r;
    size_t records = 0;
    while (file->GetRecord(r)) ++records;
    file->Close();
    fuzz::Check(records > 0, "an extracted table has lines");
  } catch (const Error&) {
    fuzz::Check(ReadScratchFile("Ar_I.txt") == previous, "a failed extract keeps the old table");
  }
  return 0;
}
