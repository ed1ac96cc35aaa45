// SPE camera files for the tests, written byte by byte: a 2.x file (header
// and frames, the wavelength as the header's polynomial) or a 3.0 file
// (frames with their metadata and an XML footer with the wavelengths and
// the exposures' start ticks), so that every reading case and every damaged
// file has a fixture of a few kilobytes. data/make_spe.py writes the same
// layouts from the argon model for users.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lumora::testing {

struct SpeRegionShape {
  size_t width = 0, height = 1;
};

struct SpeContent {
  bool version3 = true;
  int dataType = 3;  // the header's code: 0 float32, 1 int32, 2 int16, 3 uint16, 8 uint32
  std::vector<SpeRegionShape> regions;
  // Each frame: the regions' pixels one after the other, rows of `width`.
  std::vector<std::vector<double>> frames;
  std::vector<double> wavelength;  // 3.0: the footer's calibration, one per column
  std::vector<double> polynomial;  // the header's calibration in the pixel number from 1
  // 3.0: the exposures' start, in ticks of 1 / ticksPerSecond s; none: no
  // time stamps in the frames' metadata.
  std::optional<double> ticksPerSecond;
  std::vector<int64_t> startTicks;
  bool doubleTicks = false;  // the ticks as "Double" rather than "Int64"
};

inline void PutLittleEndian(std::string& bytes, size_t at, uint64_t value, size_t size) {
  if (bytes.size() < at + size) bytes.resize(at + size, '\0');
  for (size_t k = 0; k < size; ++k) bytes[at + k] = static_cast<char>((value >> (8 * k)) & 0xff);
}
template <typename T>
void Put(std::string& bytes, size_t at, T value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof value);
  PutLittleEndian(bytes, at, bits, sizeof value);
}

inline size_t SpePixelBytes(int dataType) {
  return dataType == 2 || dataType == 3 ? 2 : dataType == 5 ? 8 : dataType == 6 ? 1 : 4;
}

inline void PutPixel(std::string& bytes, size_t at, int dataType, double value) {
  switch (dataType) {
    case 0: Put(bytes, at, static_cast<float>(value)); break;
    case 1: Put(bytes, at, static_cast<int32_t>(value)); break;
    case 2: Put(bytes, at, static_cast<int16_t>(value)); break;
    case 3: Put(bytes, at, static_cast<uint16_t>(value)); break;
    case 5: Put(bytes, at, value); break;
    case 6: Put(bytes, at, static_cast<uint8_t>(value)); break;
    default: Put(bytes, at, static_cast<uint32_t>(value)); break;
  }
}

inline std::string ShortestText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The metadata each frame carries after its pixels: a tracking number
// first, so that a reader must find the start among them.
inline constexpr size_t kSpeMetaPieces = 3;

inline std::string SpeFooter(const SpeContent& c, size_t frameBytes, size_t stride) {
  const char* format = c.dataType == 0 ? "MonochromeFloating32"
                       : c.dataType == 8 ? "MonochromeUnsigned32"
                                         : "MonochromeUnsigned16";
  const bool meta = c.ticksPerSecond.has_value();
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                    "<SpeFormat version=\"3.0\" xmlns=\"http://www.princetoninstruments.com/spe/2009\">"
                    "<DataFormat><DataBlock type=\"Frame\" count=\"" +
                    std::to_string(c.frames.size()) + "\" pixelFormat=\"" + format +
                    "\" size=\"" + std::to_string(frameBytes) + "\" stride=\"" +
                    std::to_string(stride) + "\"" + (meta ? " metaFormat=\"1\"" : "") +
                    " calibrations=\"1\">";
  for (const SpeRegionShape& r : c.regions)
    xml += "<DataBlock type=\"Region\" count=\"1\" width=\"" + std::to_string(r.width) +
           "\" height=\"" + std::to_string(r.height) + "\" size=\"" +
           std::to_string(r.width * r.height * SpePixelBytes(c.dataType)) +
           "\" calibrations=\"2,3\"/>";
  xml += "</DataBlock></DataFormat>";
  if (meta) {
    const std::string resolution = ShortestText(*c.ticksPerSecond);
    const std::string tickType = c.doubleTicks ? "Double" : "Int64";
    xml += "<MetaFormat><MetaBlock type=\"Frame\" id=\"1\">"
           "<FrameTrackingNumber type=\"Int64\" bitDepth=\"64\"/>"
           "<TimeStamp event=\"ExposureStarted\" type=\"" + tickType +
           "\" bitDepth=\"64\" resolution=\"" +
           resolution + "\" absoluteTime=\"2026-03-01T10:00:00.0000000+01:00\"/>"
           "<TimeStamp event=\"ExposureEnded\" type=\"Int64\" bitDepth=\"64\" resolution=\"" +
           resolution + "\" absoluteTime=\"2026-03-01T10:00:00.0000000+01:00\"/>"
           "</MetaBlock></MetaFormat>";
  }
  xml += "<Calibrations>";
  if (!c.wavelength.empty()) {
    xml += "<WavelengthMapping id=\"1\"><Wavelength xml:space=\"preserve\">";
    for (size_t k = 0; k < c.wavelength.size(); ++k)
      xml += (k ? "," : "") + ShortestText(c.wavelength[k]);
    xml += "</Wavelength></WavelengthMapping>";
  }
  xml += "<SensorInformation id=\"2\" width=\"" + std::to_string(c.wavelength.size()) +
         "\" height=\"1\"/><SensorMapping id=\"3\" x=\"0\" y=\"0\" width=\"" +
         std::to_string(c.wavelength.size()) + "\" height=\"1\" xBinning=\"1\" yBinning=\"1\"/>"
         "</Calibrations></SpeFormat>\n";
  return xml;
}

// The file's bytes.
inline std::string SpeBytes(const SpeContent& c) {
  const size_t pixel = SpePixelBytes(c.dataType);
  size_t framePixels = 0;
  for (const SpeRegionShape& r : c.regions) framePixels += r.width * r.height;
  const size_t frameBytes = framePixels * pixel;
  const bool meta = c.version3 && c.ticksPerSecond.has_value();
  const size_t stride = frameBytes + (meta ? 8 * kSpeMetaPieces : 0);

  std::string bytes(4100, '\0');
  const SpeRegionShape first = c.regions.empty() ? SpeRegionShape{} : c.regions.front();
  Put(bytes, 6, static_cast<uint16_t>(first.width));
  Put(bytes, 18, static_cast<uint16_t>(first.height));
  Put(bytes, 34, static_cast<int16_t>(-1));
  Put(bytes, 42, static_cast<uint16_t>(first.width));
  Put(bytes, 108, static_cast<int16_t>(c.dataType));
  Put(bytes, 656, static_cast<uint16_t>(first.height));
  Put(bytes, 658, static_cast<int16_t>(1));
  Put(bytes, 664, static_cast<int32_t>(-1));
  Put(bytes, 1446, static_cast<int32_t>(c.frames.size()));
  Put(bytes, 1510, static_cast<int16_t>(1));
  Put(bytes, 1992, c.version3 ? 3.0f : 2.5f);
  Put(bytes, 2996, static_cast<int32_t>(0x01234567));
  if (!c.polynomial.empty()) {
    Put(bytes, 3098, static_cast<int8_t>(1));
    Put(bytes, 3101, static_cast<int8_t>(c.polynomial.size() - 1));
    for (size_t k = 0; k < c.polynomial.size(); ++k) Put(bytes, 3263 + 8 * k, c.polynomial[k]);
  }
  Put(bytes, 4098, static_cast<int16_t>(0x5555));

  for (size_t f = 0; f < c.frames.size(); ++f) {
    const size_t start = bytes.size();
    bytes.resize(start + stride, '\0');
    for (size_t k = 0; k < framePixels && k < c.frames[f].size(); ++k)
      PutPixel(bytes, start + k * pixel, c.dataType, c.frames[f][k]);
    if (meta) {
      Put(bytes, start + frameBytes, static_cast<int64_t>(f + 1));
      if (c.doubleTicks)
        Put(bytes, start + frameBytes + 8, static_cast<double>(c.startTicks.at(f)));
      else
        Put(bytes, start + frameBytes + 8, c.startTicks.at(f));
      Put(bytes, start + frameBytes + 16, c.startTicks.at(f) + 5);
    }
  }
  if (c.version3) {
    Put(bytes, 678, static_cast<uint64_t>(bytes.size()));
    bytes += SpeFooter(c, frameBytes, stride);
  }
  return bytes;
}

// The header's polynomial at the pixel numbers 1 .. columns, evaluated as the
// reader evaluates it.
inline std::vector<double> PolynomialWavelengths(const std::vector<double>& coefficients,
                                                 size_t columns) {
  std::vector<double> wavelength(columns);
  for (size_t column = 0; column < columns; ++column) {
    const double pixel = static_cast<double>(column + 1);
    double value = 0;
    for (size_t k = coefficients.size(); k-- > 0;) value = value * pixel + coefficients[k];
    wavelength[column] = value;
  }
  return wavelength;
}

}  // namespace lumora::testing
