// Camera files in the SPE format that CCD and ICCD acquisition programs
// write, versions 2.x and 3.0: a 4 100-byte binary header, then frames of
// one or more regions of interest, and in 3.0 an XML footer with the
// wavelength calibration and the frames' time stamps. A 2.x file holds one
// region and calibrates its columns by the header's polynomial in the pixel
// number, the first pixel being number 1. The frames are read one at a
// time, so that a file of thousands of them never sits in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <boost/property_tree/ptree_fwd.hpp>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "model/recording_file.h"

namespace lumora {

// The size of the binary header; the pixel data start right after it.
inline constexpr uint64_t kSpeHeaderBytes = 4100;

// Whether a path names an SPE file: its extension is ".spe", in any case.
bool IsSpeFile(const std::string& path);

// The name of one frame of a file in messages and tables, the frame counted
// from 1 as the acquisition programs count them: "pulse.spe, frame 3".
std::string SpeFrameName(const std::string& path, size_t frame);

class SpeFile {
 public:
  // Opens the file and checks its header and footer against each other and
  // the file's length. InOutError when it cannot be opened; SpectrumFileError,
  // naming the file and the fault, for a file that is no usable SPE file:
  // truncated data, sizes that disagree with the length, a footer that is not
  // XML or lies outside the file, a data type outside the format, a region of
  // no pixels, no wavelength calibration.
  explicit SpeFile(std::string path);

  const std::string& Path() const { return path_; }
  // The header's version (2.x or 3.0).
  float Version() const { return version_; }
  size_t FrameCount() const { return frameCount_; }
  size_t RegionCount() const { return regions_.size(); }
  size_t RegionWidth(size_t region) const;
  size_t RegionHeight(size_t region) const;
  // Refuses a region the file does not hold (Error) or one too narrow for a
  // spectrum (SpectrumFileError), both counted from 0.
  void CheckRegion(size_t region) const;

  // One region of one frame (both counted from 0) as a spectrum: the
  // region's rows summed column by column, on its calibrated wavelengths,
  // ascending. Raises SpectrumFileError for a pixel that is no finite number
  // and InOutError when the file cannot be read any more.
  Spectrum ReadFrame(size_t frame, size_t region = 0);

  // Whether the frames carry the time their exposure started.
  bool HasFrameTimes() const { return clock_.has_value(); }
  // The unit of FrameTime: "s", "ms", "us" or "ns", after the ticks the
  // file counts.
  std::string TimeUnit() const;
  // When a frame's exposure started after the first frame's, in TimeUnit();
  // HasFrameTimes() must hold.
  double FrameTime(size_t frame);

 private:
  struct Region {
    size_t width = 0, height = 0;
    uint64_t offset = 0;              // bytes from the start of the frame
    std::vector<double> wavelength;   // nm per column, as the calibration gives them
  };
  struct Clock {
    size_t slot = 0;          // which 8-byte value of the frame's metadata
    bool floating = false;    // Double rather than Int64 ticks
    double ticksPerSecond = 1;
    double unitsPerSecond = 1;
    std::string unit;
  };

  std::string path_;
  std::ifstream in_;
  uint64_t fileSize_ = 0;
  float version_ = 0;
  int dataType_ = 0;
  size_t pixelBytes_ = 0;
  size_t frameCount_ = 0;
  uint64_t frameBytes_ = 0;   // the regions' pixels
  uint64_t frameStride_ = 0;  // from one frame's start to the next one's
  std::vector<Region> regions_;
  std::optional<Clock> clock_;
  std::optional<long double> firstTick_;

  [[noreturn]] void Fail(const std::string& fault) const;
  void ReadBytes(uint64_t offset, void* data, size_t size);
  void ReadLegacyLayout(const std::string& header);
  void ReadFooter(const std::string& header);
  using XmlTree = boost::property_tree::ptree;
  void ReadDataLayout(const XmlTree& frame, const std::vector<const XmlTree*>& regionBlocks,
                      uint64_t footerOffset);
  void ReadClock(const XmlTree& root, const XmlTree& frame);
  void ReadWavelengths(const XmlTree& root, const XmlTree& frame,
                       const std::vector<const XmlTree*>& regionBlocks, const std::string& header);
  void CheckDataFits(std::optional<uint64_t> dataBytes, bool exact) const;
  std::vector<double> LegacyCalibration(const std::string& header, size_t columns) const;
  double PixelValue(const char* bytes) const;
  long double Tick(size_t frame);
};

}  // namespace lumora
