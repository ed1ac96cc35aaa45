// The atomic and molecular line files with the line base: any file content
// loads without a crash, the base comes out sorted, and the lookups and
// exports work on what it holds. Input: the atomic file, then optionally
// "\n=====\n" and the molecular file.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "linedb/line_base.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

void CheckSorted(const TTextBase& base) {
  for (int32_t i = 1; i <= base.LastAtom(); ++i)
    fuzz::Check(!(base.GetAtomRecord(i).WaveLength < base.GetAtomRecord(i - 1).WaveLength),
                "atomic lines sorted");
  for (int32_t i = 1; i <= base.LastMol(); ++i)
    fuzz::Check(!(base.GetMolRecord(i).WaveLength < base.GetMolRecord(i - 1).WaveLength),
                "molecular lines sorted");
}

void UseBase(TTextBase& base) {
  CheckSorted(base);
  int32_t pivot = 0;
  try {
    base.GetRecords(0, 1e9, 500, pivot);
    TData lines;
    std::vector<std::string> labels;
    base.ExportOffLines(pivot, 3, 0, lines, labels);
  } catch (const Error&) {
    // an empty base has no window
  }
  TData sp;
  std::vector<std::string> notes;
  base.CreateSpectrum(TDSpParams{0, 0, 0, 100, 0, 1e9, ""}, sp, notes);
  int32_t position = 0;
  TFoundFlag flag;
  if (base.LastAtom() >= 0) base.AtomFind(500, 0, position, flag);
  if (base.LastMol() >= 0) base.MolFind(500, 0, position, flag);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto [atomic, molecular] = fuzz::SplitInput(input, "\n=====\n");
  fuzz::WriteScratchFile("Ar_I.txt", atomic);
  fuzz::WriteScratchFile("m_N2_I.txt", molecular);
  const bool orders = size % 2 == 1;
  TTextBase base(16, 16);
  try {
    base.FillWith(fuzz::ScratchFolder(), {"Ar"}, {"N2"}, {"I"}, {"I"}, orders, orders);
  } catch (const Error&) {
    return 0;
  }
  UseBase(base);
  return 0;
}
