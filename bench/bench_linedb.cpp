// Loading a large line file: reading alone, and the line base's full load
// (merge, cut and sort) as the element change does it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/format.h"
#include "linedb/line_base.h"
#include "linedb/line_file.h"

namespace {

constexpr int kLines = 100000;

std::string Pad(const std::string& s, size_t width) {
  return s.size() < width ? s + std::string(width - s.size(), ' ') : s;
}

// A line file of kLines ascending lines in a fresh temporary folder,
// written once per run and removed at exit.
class LineFileFixture {
 public:
  LineFileFixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumora-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
    std::ofstream out(dir_ + "/Ar_I.txt", std::ios::binary);
    for (int i = 0; i < 5; ++i) out << std::string(252, '-') << "\r\n";
    for (int i = 0; i < kLines; ++i) {
      double wl = 200 + i * 0.005;
      out << "Ar I    " << lumora::Format("%.5f %d %.3e %.3e - %.3f", wl, i % 1000, 0.0639 + i * 1e-7, 0.0152, -0.5)
          << " B+   " << lumora::Format("%.8f %.8f 2.0 1.0 5 3", 11.54835442, 13.32785509 + i * 1e-6) << " "
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

const LineFileFixture& Fixture() {
  static LineFileFixture fixture;
  return fixture;
}

void BM_ReadLineFile(benchmark::State& state) {
  const std::string path = Fixture().dir() + "/Ar_I.txt";
  for (auto _ : state) {
    lumora::TAtomFile f(path);
    f.OpenRead();
    lumora::TRecord r;
    int n = 0;
    while (f.GetRecord(r)) ++n;
    if (n != kLines) state.SkipWithError("wrong number of lines");
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ReadLineFile)->Unit(benchmark::kMillisecond);

void BM_FillLineBase(benchmark::State& state) {
  for (auto _ : state) {
    lumora::TTextBase base(1000, 500);
    base.FillWith(Fixture().dir(), {"Ar"}, {}, {"I"}, {}, false, false);
    if (base.AtomLength() != kLines) state.SkipWithError("wrong number of lines");
    benchmark::DoNotOptimize(base);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_FillLineBase)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
