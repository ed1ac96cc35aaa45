// Reading SPE camera files: the frames of every pixel type in both versions,
// regions, the calibrations, the frames' times, and every damaged file
// refused with its name and its fault.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/recording_frames.h"
#include "model/session.h"
#include "model/spe_file.h"
#include "tests/support/spe_pulse.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

using testing::SpeBytes;
using testing::SpeContent;

constexpr size_t kWidth = 16;

// Three frames of kWidth pixels: frame f, column k holds 100 f + k + 1.
SpeContent ThreeFrames(bool version3, int dataType) {
  SpeContent c;
  c.version3 = version3;
  c.dataType = dataType;
  c.regions = {{kWidth, 1}};
  for (int f = 0; f < 3; ++f) {
    std::vector<double> frame;
    for (size_t k = 0; k < kWidth; ++k) frame.push_back(100.0 * f + static_cast<double>(k) + 1);
    c.frames.push_back(frame);
  }
  c.polynomial = {500.0, 0.25, 1e-4};
  if (version3) c.wavelength = testing::PolynomialWavelengths({600.0, 0.5}, kWidth);
  return c;
}

class SpeFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes, const std::string& name = "camera.spe") {
    const std::string path = folder_.File(name);
    testing::WriteFile(path, bytes);
    return path;
  }
  testing::TempFolder folder_;
};

TEST_F(SpeFileTest, ReadsEveryFrameOfEachVersionAndPixelType) {
  struct Case {
    const char* name;
    bool version3;
    int dataType;
  };
  const Case cases[] = {
      {"3.0 uint16", true, 3},  {"3.0 uint32", true, 8}, {"3.0 float32", true, 0},
      {"2.x uint16", false, 3}, {"2.x int16", false, 2}, {"2.x int32", false, 1},
      {"2.x float32", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SpeContent content = ThreeFrames(c.version3, c.dataType);
    SpeFile file(Write(SpeBytes(content)));
    ASSERT_EQ(file.FrameCount(), 3u);
    ASSERT_EQ(file.RegionCount(), 1u);
    EXPECT_FALSE(file.HasFrameTimes());
    const std::vector<double> wavelength =
        c.version3 ? content.wavelength : testing::PolynomialWavelengths(content.polynomial, kWidth);
    for (size_t f = 0; f < 3; ++f) {
      const Spectrum s = file.ReadFrame(f);
      EXPECT_EQ(s.source, folder_.File("camera.spe") + ", frame " + std::to_string(f + 1));
      EXPECT_EQ(s.intensity, content.frames[f]);
      EXPECT_EQ(s.wavelength, wavelength);
    }
  }
}

TEST_F(SpeFileTest, CountsTheHeadersPixelsFromOne) {
  SpeContent c = ThreeFrames(false, 3);
  c.polynomial = {400.0, 2.0};
  SpeFile file(Write(SpeBytes(c)));
  EXPECT_EQ(file.ReadFrame(0).wavelength.front(), 402.0);
  EXPECT_EQ(file.ReadFrame(0).wavelength.back(), 400.0 + 2.0 * kWidth);
}

TEST_F(SpeFileTest, SumsTheRowsOfARegionAndReadsEachRegion) {
  SpeContent c;
  c.regions = {{kWidth, 1}, {kWidth, 2}};
  std::vector<double> frame;
  for (size_t k = 0; k < kWidth; ++k) frame.push_back(1);                                // region 1
  for (size_t k = 0; k < 2 * kWidth; ++k) frame.push_back(static_cast<double>(k % kWidth));  // 2 rows
  c.frames = {frame};
  c.wavelength = testing::PolynomialWavelengths({600.0, 0.5}, kWidth);
  SpeFile file(Write(SpeBytes(c)));
  ASSERT_EQ(file.RegionCount(), 2u);
  EXPECT_EQ(file.RegionHeight(1), 2u);
  EXPECT_EQ(file.ReadFrame(0, 0).intensity, std::vector<double>(kWidth, 1.0));
  const Spectrum binned = file.ReadFrame(0, 1);
  for (size_t k = 0; k < kWidth; ++k) EXPECT_EQ(binned.intensity[k], 2.0 * static_cast<double>(k));
  EXPECT_EQ(binned.source, folder_.File("camera.spe")) << "one frame: the file is its name";
}

TEST_F(SpeFileTest, TurnsAFallingCalibrationAround) {
  SpeContent c = ThreeFrames(true, 3);
  c.wavelength = testing::PolynomialWavelengths({700.0, -0.5}, kWidth);
  SpeFile file(Write(SpeBytes(c)));
  const Spectrum s = file.ReadFrame(1);
  EXPECT_EQ(s.wavelength.front(), 700.0 - 0.5 * kWidth);
  EXPECT_EQ(s.intensity.front(), 100.0 + kWidth);
  EXPECT_EQ(s.intensity.back(), 101.0);
}

TEST_F(SpeFileTest, GivesTheExposuresStartRelativeToTheFirstFrame) {
  struct Case {
    double ticksPerSecond;
    const char* unit;
    double scale;  // units a tick
  };
  const Case cases[] = {{1e6, "us", 1}, {1e9, "ns", 1}, {1e7, "us", 0.1}, {1, "s", 1}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.unit);
    SpeContent c = ThreeFrames(true, 3);
    c.ticksPerSecond = k.ticksPerSecond;
    // Far from 0, where a double would lose the last ticks.
    const int64_t origin = (int64_t{1} << 60) + 3;
    c.startTicks = {origin, origin + 40, origin + 85};
    SpeFile file(Write(SpeBytes(c)));
    ASSERT_TRUE(file.HasFrameTimes());
    EXPECT_EQ(file.TimeUnit(), k.unit);
    EXPECT_EQ(file.FrameTime(0), 0.0);
    EXPECT_DOUBLE_EQ(file.FrameTime(1), 40 * k.scale);
    EXPECT_DOUBLE_EQ(file.FrameTime(2), 85 * k.scale);
    // The pixels stay apart from the metadata after them.
    EXPECT_EQ(file.ReadFrame(2).intensity, c.frames[2]);
  }
}

TEST_F(SpeFileTest, ReadsTicksWrittenAsDoubles) {
  SpeContent c = ThreeFrames(true, 3);
  c.ticksPerSecond = 1e6;
  c.doubleTicks = true;
  c.startTicks = {1000, 1040, 1100};
  SpeFile file(Write(SpeBytes(c)));
  EXPECT_EQ(file.TimeUnit(), "us");
  EXPECT_EQ(file.FrameTime(2), 100.0);
}

TEST_F(SpeFileTest, AFrameOrRegionBeyondTheFileIsNamed) {
  SpeFile file(Write(SpeBytes(ThreeFrames(true, 3))));
  try {
    file.ReadFrame(3);
    FAIL() << "frame 4 of 3 was read";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), folder_.File("camera.spe") + " holds 3 frames; there is no frame 4");
  }
  EXPECT_THROW(file.ReadFrame(0, 1), Error);
}

TEST_F(SpeFileTest, ANarrowRegionIsRefusedOnlyWhenChosen) {
  SpeContent c;
  c.regions = {{kWidth, 1}, {5, 1}};
  c.frames = {std::vector<double>(kWidth + 5, 7.0)};
  c.wavelength = testing::PolynomialWavelengths({600.0, 0.5}, kWidth);
  // The narrow region sits on the sensor's first columns.
  SpeFile file(Write(SpeBytes(c)));
  EXPECT_EQ(file.ReadFrame(0, 0).intensity, std::vector<double>(kWidth, 7.0));
  try {
    file.ReadFrame(0, 1);
    FAIL() << "a region of 5 pixels was read";
  } catch (const SpectrumFileError& e) {
    EXPECT_NE(std::string(e.what()).find("the region of interest 2 is 5 pixels wide"),
              std::string::npos)
        << e.what();
  }
}

// A file's bytes with a change at `at`.
template <typename T>
std::string Changed(std::string bytes, size_t at, T value) {
  testing::Put(bytes, at, value);
  return bytes;
}

std::string WithFooter(const std::string& bytes, const std::string& footer) {
  uint64_t offset = 0;
  for (size_t k = 8; k-- > 0;) offset = (offset << 8) | static_cast<unsigned char>(bytes[678 + k]);
  return bytes.substr(0, offset) + footer;
}

TEST_F(SpeFileTest, RefusesDamagedFilesNamingTheFault) {
  const std::string v3 = SpeBytes(ThreeFrames(true, 3));
  const std::string v2 = SpeBytes(ThreeFrames(false, 3));
  SpeContent wide = ThreeFrames(false, 3);
  const std::string footer = v3.substr(4100 + 3 * 2 * kWidth);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = footer;
    text.replace(text.find(from), from.size(), to);
    return WithFooter(v3, text);
  };
  SpeContent uncalibrated = ThreeFrames(false, 3);
  uncalibrated.polynomial.clear();
  SpeContent uncalibrated3 = ThreeFrames(true, 3);
  uncalibrated3.wavelength.clear();
  uncalibrated3.polynomial.clear();
  SpeContent nan = ThreeFrames(true, 0);
  nan.frames[1][4] = std::nan("");
  struct Case {
    const char* name;
    std::string bytes;
    std::string fault;
  };
  const Case cases[] = {
      {"shorter than the header", v2.substr(0, 1000), "1000 bytes, shorter than the 4100-byte header"},
      {"2.x data truncated", v2.substr(0, v2.size() - 1),
       "truncated: 3 frames of 32 bytes need 96 bytes after the header, the file holds 95"},
      {"2.x longer than its sizes", v2 + "xx", "the header's sizes disagree with the file's length"},
      {"2.x frame count beyond any file", Changed(v2, 1446, int32_t{0x7fffffff}), "truncated"},
      {"2.x no frames", Changed(v2, 1446, int32_t{0}), "announces 0 frames"},
      {"2.x 0 x 0", Changed(Changed(v2, 42, uint16_t{0}), 656, uint16_t{0}),
       "a frame of 0 x 0 pixels, which holds no data"},
      {"2.x data type", Changed(v2, 108, int16_t{7}), "data type code 7 is none of the SPE format's"},
      {"2.x no calibration", SpeBytes(uncalibrated), "no wavelength calibration"},
      {"3.0 data truncated", v3.substr(0, 4100 + 50), "points past the end of the file"},
      {"3.0 footer past the end", Changed(v3, 678, uint64_t{1} << 40),
       "the XML footer's offset 1099511627776 points past the end"},
      {"3.0 footer inside the header", Changed(v3, 678, uint64_t{100}), "lies inside the header"},
      {"3.0 footer not XML", WithFooter(v3, "<SpeFormat><DataFormat></SpeFormat>"),
       "is not XML"},
      {"3.0 footer nested without end", [&] {
         std::string deep;
         for (int k = 0; k < 100000; ++k) deep += "<a>";
         return WithFooter(v3, deep);
       }(), "nests its elements more than 256 deep"},
      {"3.0 frames reach into the footer", replaced("count=\"3\"", "count=\"4000000000000\""),
       "more than the 96 bytes between the header and the footer"},
      {"3.0 0 x 0 region", replaced("width=\"16\" height=\"1\" size=\"32\"", "width=\"0\" height=\"0\" size=\"0\""),
       "a region of interest of 0 x 0 pixels"},
      {"3.0 huge region", replaced("width=\"16\" height=\"1\" size", "width=\"4294967296\" height=\"4294967296\" size"),
       "more than the file holds"},
      {"3.0 pixel format", replaced("MonochromeUnsigned16", "MonochromeUnsigned64"),
       "the pixel format \"MonochromeUnsigned64\" is none of the SPE format's"},
      {"3.0 sizes disagree", replaced("size=\"32\" stride", "size=\"30\" stride"),
       "frame size of 30 bytes disagrees with its regions' 32"},
      {"3.0 no calibration", SpeBytes(uncalibrated3), "no wavelength calibration in the XML footer"},
      {"3.0 calibration of other columns", replaced("<Wavelength xml:space=\"preserve\">600.5,", "<Wavelength>"),
       "do not cover the region of interest 1"},
      {"3.0 calibration not a number", replaced("601,", "601x,"), "\"601x\", which is no number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(c.bytes, "damaged.spe");
    try {
      SpeFile file(path);
      for (size_t f = 0; f < file.FrameCount(); ++f) file.ReadFrame(f);
      FAIL() << "read";
    } catch (const SpectrumFileError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.fault), std::string::npos) << message;
    }
  }
  // A pixel that is no number names its frame.
  const std::string path = Write(SpeBytes(nan), "nan.spe");
  SpeFile file(path);
  file.ReadFrame(0);
  try {
    file.ReadFrame(1);
    FAIL() << "a NaN pixel was read";
  } catch (const SpectrumFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              path + ", frame 2: the pixel in column 5, row 1 is no finite number");
  }
}

// The same frames as SPE 3.0 (footer wavelengths) and SPE 2.x (header
// polynomial), and one frame as its text export, integrate to the same
// areas line by line.
TEST_F(SpeFileTest, BothVersionsAndTheTextExportIntegrateAlike) {
  constexpr size_t kFrames = 4;
  const std::string v3 = Write(SpeBytes(testing::SpePulse(true, kFrames)), "v3.spe");
  const std::string v2 = Write(SpeBytes(testing::SpePulse(false, kFrames)), "v2.spe");
  const std::string text = Write(testing::SpeFrameText(testing::SpePulse(true, kFrames), 2), "f.csv");
  Session session(SessionOptions{folder_.path(), [](const std::string&) {}});
  session.LoadElement({std::string(LUMORA_SOURCE_DIR) + "/data/database", "Ar_I_levels.txt", "Ar, I"});
  auto areas = [&session](const std::string& file, std::optional<size_t> frame) {
    SpectrumRequest request;
    request.spectrumFile = file;
    request.frame = frame;
    std::vector<double> areas;
    for (const LineIntegral& line : session.ReadSpectrum(request).lines) areas.push_back(line.area);
    return areas;
  };
  for (size_t k = 0; k < kFrames; ++k) {
    SCOPED_TRACE(k);
    const std::vector<double> a = areas(v3, k), b = areas(v2, k);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GE(a.size(), 10u);
    for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i] / b[i], 1, 1e-9) << i;
  }
  EXPECT_EQ(areas(v3, 2), areas(text, std::nullopt));
}

TEST(FrameSeriesAxis, IsTheFramesTimesOnlyWhenEveryFrameHasOneInOneUnit) {
  const RecordingFrame us{"a.spe", 0, "a.spe, frame 1", 0.0, "us"};
  const RecordingFrame us2{"a.spe", 1, "a.spe, frame 2", 40.0, "us"};
  const RecordingFrame ms{"b.spe", 4, "b.spe, frame 5", 2.0, "ms"};
  const RecordingFrame untimed{"c.spe", 2, "c.spe, frame 3", std::nullopt, ""};
  const RecordingFrame text{"d.csv", std::nullopt, "d.csv", std::nullopt, ""};
  struct Case {
    const char* name;
    std::vector<RecordingFrame> frames;
    std::optional<std::vector<double>> x;
    std::string unit;
  };
  const Case cases[] = {
      {"times", {us, us2}, std::vector<double>{0, 40}, "us"},
      {"two units", {us, ms}, std::vector<double>{1, 5}, ""},
      {"one without", {us, untimed}, std::vector<double>{1, 3}, ""},
      {"a text file", {us, text}, std::nullopt, ""},
      {"none", {}, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<FrameAxis> axis = FrameSeriesAxis(c.frames);
    ASSERT_EQ(axis.has_value(), c.x.has_value());
    if (!axis) continue;
    EXPECT_EQ(axis->x, *c.x);
    EXPECT_EQ(axis->unit, c.unit);
  }
}

TEST(SpeFileName, IsTheExtensionInAnyCase) {
  EXPECT_TRUE(IsSpeFile("a/b/pulse.SPE"));
  EXPECT_TRUE(IsSpeFile("pulse.spe"));
  EXPECT_FALSE(IsSpeFile("pulse.spe.csv"));
  EXPECT_FALSE(IsSpeFile("spe"));
}

}  // namespace
}  // namespace lumora
