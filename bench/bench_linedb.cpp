// Loading a large line file of 10^5 and 10^6 lines: reading alone, and the
// line base's full load (merge, cut and sort) as the element change does it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "base/format.h"
#include "linedb/line_base.h"
#include "linedb/line_file.h"

namespace {

std::string Pad(const std::string& s, size_t width) {
  return s.size() < width ? s + std::string(width - s.size(), ' ') : s;
}

// A line file of ascending lines in a fresh temporary folder, written once
// per run and removed at exit.
class LineFileFixture {
 public:
  explicit LineFileFixture(int lines) {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumora-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
    std::ofstream out(dir_ + "/Ar_I.txt", std::ios::binary);
    for (int i = 0; i < 5; ++i) out << std::string(252, '-') << "\r\n";
    for (int i = 0; i < lines; ++i) {
      double wl = 200 + i * 0.005;
      out << "Ar I    "
          << lumora::Format("%.5f %d %.3e %.3e - %.3f", wl, i % 1000, 0.0639 + i * 1e-7, 0.0152,
                            -0.5)
          << " B+   "
          << lumora::Format("%.8f %.8f 2.0 1.0 5 3", 11.54835442, 13.32785509 + i * 1e-6) << " "
          << Pad("3s2.3p5.(2P*<3/2>).4s", 40) << " " << Pad("3s2.3p5.(2P*<3/2>).4p", 40) << " "
          << Pad("2[3/2]*", 16) << " " << Pad("2[3/2]", 16) << " " << Pad("E1", 8) << " L7760\r\n";
    }
  }
  ~LineFileFixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

const LineFileFixture& Fixture(int lines) {
  static std::map<int, std::unique_ptr<LineFileFixture>> fixtures;
  auto& fixture = fixtures[lines];
  if (!fixture) fixture = std::make_unique<LineFileFixture>(lines);
  return *fixture;
}

void BM_ReadLineFile(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string path = Fixture(lines).dir() + "/Ar_I.txt";
  for (auto _ : state) {
    lumora::TAtomFile f(path);
    f.OpenRead();
    lumora::TRecord r;
    int n = 0;
    while (f.GetRecord(r)) ++n;
    if (n != lines) state.SkipWithError("wrong number of lines");
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_ReadLineFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_FillLineBase(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string& dir = Fixture(lines).dir();
  for (auto _ : state) {
    lumora::TTextBase base(1000, 500);
    base.FillWith(dir, {"Ar"}, {}, {"I"}, {}, false, false);
    if (base.AtomLength() != lines) state.SkipWithError("wrong number of lines");
    benchmark::DoNotOptimize(base);
  }
  state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_FillLineBase)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
