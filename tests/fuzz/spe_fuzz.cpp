// The reading of SPE camera files and the integration of their frames
// against the bundled argon lines: any file reads without a crash or a
// runaway, a failure is an error the program reports, every frame read is
// an ascending wavelength axis with finite values, and the frames' times
// are finite numbers.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "model/session.h"
#include "model/spe_file.h"
#include "tests/fuzz/argon_session.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

// Enough frames to cross from one to the next; the rest read alike.
constexpr size_t kFramesRead = 8;

void ReadFrames(const std::string& path) {
  SpeFile file(path);
  for (size_t frame = 0; frame < std::min(file.FrameCount(), kFramesRead); ++frame) {
    for (size_t region = 0; region < file.RegionCount(); ++region) {
      const Spectrum s = file.ReadFrame(frame, region);
      fuzz::Check(s.size() == file.RegionWidth(region) && s.intensity.size() == s.size(),
                  "a frame has one value per column");
      for (size_t k = 0; k < s.size(); ++k) {
        fuzz::Check(std::isfinite(s.wavelength[k]) && std::isfinite(s.intensity[k]),
                    "a frame's values are finite");
        fuzz::Check(k == 0 || s.wavelength[k] > s.wavelength[k - 1], "wavelengths ascend");
      }
    }
    if (file.HasFrameTimes()) fuzz::Check(std::isfinite(file.FrameTime(frame)), "a finite time");
  }
}

void IntegrateFirstFrame(const std::string& path) {
  SpectrumRequest request;
  request.spectrumFile = path;
  fuzz::ArgonSession().ReadSpectrum(request);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteScratchFile(
      "camera.spe", std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    ReadFrames(path);
    IntegrateFirstFrame(path);
  } catch (const Error&) {
  }
  return 0;
}
