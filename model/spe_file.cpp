#include "model/spe_file.h"

#include <algorithm>
#include <bit>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "base/errors.h"
#include "base/numparse.h"
#include "base/text_reader.h"

namespace lumora {

namespace {

using Tree = boost::property_tree::ptree;

// Header fields, as byte offsets into the header.
constexpr size_t kXDimOffset = 42;
constexpr size_t kDataTypeOffset = 108;
constexpr size_t kYDimOffset = 656;
constexpr size_t kFooterOffsetOffset = 678;
constexpr size_t kFrameCountOffset = 1446;
constexpr size_t kRegionCountOffset = 1510;
constexpr size_t kVersionOffset = 1992;
constexpr size_t kCalibrationValidOffset = 3098;
constexpr size_t kPolynomialOrderOffset = 3101;
constexpr size_t kPolynomialOffset = 3263;
constexpr int kMaxPolynomialOrder = 5;
// Each piece of a frame's metadata (a time stamp, a tracking number).
constexpr uint64_t kMetaBytes = 8;

// Little-endian unsigned integer of `bytes` bytes at `at`.
uint64_t Unsigned(const char* at, size_t bytes) {
  uint64_t value = 0;
  for (size_t k = bytes; k-- > 0;) value = (value << 8) | static_cast<unsigned char>(at[k]);
  return value;
}

template <typename T>
T Field(const std::string& header, size_t offset) {
  using Bits = std::conditional_t<sizeof(T) == 8, uint64_t,
                                  std::conditional_t<sizeof(T) == 4, uint32_t,
                                                     std::conditional_t<sizeof(T) == 2, uint16_t,
                                                                        uint8_t>>>;
  return std::bit_cast<T>(static_cast<Bits>(Unsigned(header.data() + offset, sizeof(T))));
}

struct PixelType {
  int code;
  size_t bytes;
  const char* name;         // the 3.0 footer's pixel format, when it has one
};

// The format's data type codes.
constexpr PixelType kPixelTypes[] = {
    {0, 4, "MonochromeFloating32"}, {1, 4, ""}, {2, 2, ""}, {3, 2, "MonochromeUnsigned16"},
    {5, 8, ""}, {6, 1, ""}, {8, 4, "MonochromeUnsigned32"},
};

const PixelType* PixelTypeOfCode(int code) {
  for (const PixelType& type : kPixelTypes)
    if (type.code == code) return &type;
  return nullptr;
}

const PixelType* PixelTypeOfName(const std::string& name) {
  for (const PixelType& type : kPixelTypes)
    if (*type.name && name == type.name) return &type;
  return nullptr;
}

// a x b, or nothing when the product leaves 64 bits.
std::optional<uint64_t> Times(uint64_t a, uint64_t b) {
  uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

std::string Text(uint64_t value) { return std::to_string(value); }

const Tree* Child(const Tree& tree, const std::string& name) {
  const auto found = tree.find(name);
  return found == tree.not_found() ? nullptr : &found->second;
}

std::optional<std::string> Attribute(const Tree& element, const std::string& name) {
  const Tree* attributes = Child(element, "<xmlattr>");
  if (!attributes) return std::nullopt;
  const Tree* value = Child(*attributes, name);
  if (!value) return std::nullopt;
  return value->data();
}

template <typename T>
std::optional<T> Number(std::string_view text) {
  text = TrimmedView(text);
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The ids of an attribute such as calibrations="2,3".
std::vector<std::string> IdList(const std::optional<std::string>& text) {
  std::vector<std::string> ids;
  if (!text) return ids;
  std::stringstream in(*text);
  for (std::string id; std::getline(in, id, ',');)
    if (!TrimmedView(id).empty()) ids.emplace_back(TrimmedView(id));
  return ids;
}

// The children of `parent` named `name`, in document order.
std::vector<const Tree*> Children(const Tree& parent, const std::string& name) {
  std::vector<const Tree*> children;
  for (const auto& [key, child] : parent)
    if (key == name) children.push_back(&child);
  return children;
}

// The first child named `name` whose id is among `ids` (any, without ids).
const Tree* ChildWithId(const Tree& parent, const std::string& name,
                        const std::vector<std::string>& ids) {
  for (const Tree* child : Children(parent, name)) {
    if (ids.empty()) return child;
    const std::optional<std::string> id = Attribute(*child, "id");
    if (id && std::find(ids.begin(), ids.end(), std::string(TrimmedView(*id))) != ids.end())
      return child;
  }
  return nullptr;
}

// Real footers nest a handful of levels; the parser recurses once a level,
// so a footer nested deeper than this is refused before it can exhaust the
// stack.
constexpr size_t kMaxXmlNesting = 256;

// The deepest nesting of elements, counted from the tags without parsing.
size_t XmlNesting(std::string_view xml) {
  size_t depth = 0, deepest = 0;
  for (size_t at = xml.find('<'); at != std::string_view::npos && at + 1 < xml.size();
       at = xml.find('<', at + 1)) {
    const char next = xml[at + 1];
    if (next == '/') {
      if (depth > 0) --depth;
      continue;
    }
    if (next == '?' || next == '!') continue;
    const size_t close = xml.find('>', at);
    if (close == std::string_view::npos) break;
    if (xml[close - 1] != '/') deepest = std::max(deepest, ++depth);
  }
  return deepest;
}

// The columns' order: ascending or descending throughout, every value finite.
bool StrictlyMonotonic(const std::vector<double>& x) {
  if (!std::all_of(x.begin(), x.end(), [](double v) { return std::isfinite(v); })) return false;
  const bool ascending = x.size() < 2 || x[1] > x[0];
  for (size_t k = 1; k < x.size(); ++k)
    if (ascending ? !(x[k] > x[k - 1]) : !(x[k] < x[k - 1])) return false;
  return true;
}

}  // namespace

bool IsSpeFile(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".spe";
}

std::string SpeFrameName(const std::string& path, size_t frame) {
  return path + ", frame " + std::to_string(frame + 1);
}

void SpeFile::Fail(const std::string& fault) const { throw SpectrumFileError(path_ + ": " + fault); }

SpeFile::SpeFile(std::string path) : path_(std::move(path)) {
  RequireRegularFile(path_);
  in_.open(path_, std::ios::binary);
  if (!in_) throw InOutError::FromErrno("Cannot open file", path_, errno ? errno : ENOENT);
  std::error_code error;
  fileSize_ = std::filesystem::file_size(path_, error);
  if (error) throw InOutError::FromErrno("Cannot read file", path_, error.value());
  if (fileSize_ < kSpeHeaderBytes)
    Fail(Text(fileSize_) + " bytes, shorter than the " + Text(kSpeHeaderBytes) +
         "-byte header of an SPE file");
  std::string header(kSpeHeaderBytes, '\0');
  ReadBytes(0, header.data(), header.size());
  version_ = Field<float>(header, kVersionOffset);
  if (std::isfinite(version_) && version_ >= 3)
    ReadFooter(header);
  else
    ReadLegacyLayout(header);
  if (clock_) firstTick_ = Tick(0);
}

void SpeFile::CheckRegion(size_t region) const {
  if (region >= regions_.size())
    throw Error(path_ + " holds " + Text(regions_.size()) +
                (regions_.size() == 1 ? " region" : " regions") +
                " of interest; there is no region " + Text(region + 1));
  if (regions_[region].width < kMinimumSpectrumPoints)
    Fail("the region of interest " + Text(region + 1) + " is " + Text(regions_[region].width) +
         " pixels wide; a spectrum needs " + Text(kMinimumSpectrumPoints) + " or more");
}

size_t SpeFile::RegionWidth(size_t region) const { return regions_.at(region).width; }
size_t SpeFile::RegionHeight(size_t region) const { return regions_.at(region).height; }

void SpeFile::ReadBytes(uint64_t offset, void* data, size_t size) {
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  in_.read(static_cast<char*>(data), static_cast<std::streamsize>(size));
  if (!in_ || static_cast<size_t>(in_.gcount()) != size)
    throw InOutError("Cannot read file \"" + path_ + "\": it ended at byte " +
                     Text(offset + static_cast<uint64_t>(std::max<std::streamsize>(in_.gcount(), 0))));
}

void SpeFile::CheckDataFits(std::optional<uint64_t> dataBytes, bool exact) const {
  const std::string frames = Text(frameCount_) + (frameCount_ == 1 ? " frame" : " frames") +
                             " of " + Text(frameStride_) + " bytes";
  const uint64_t held = fileSize_ - kSpeHeaderBytes;
  if (!dataBytes || *dataBytes > held)
    Fail("truncated: " + frames + " need " + (dataBytes ? Text(*dataBytes) : "more") +
         " bytes after the header, the file holds " + Text(held));
  if (exact && *dataBytes < held)
    Fail("the header's sizes disagree with the file's length: " + frames + " need " +
         Text(*dataBytes) + " bytes after the header, the file holds " + Text(held));
}

void SpeFile::ReadLegacyLayout(const std::string& header) {
  dataType_ = Field<int16_t>(header, kDataTypeOffset);
  const PixelType* type = PixelTypeOfCode(dataType_);
  if (!type)
    Fail("data type code " + std::to_string(dataType_) +
         " is none of the SPE format's (0, 1, 2, 3, 5, 6, 8)");
  pixelBytes_ = type->bytes;
  const size_t width = Field<uint16_t>(header, kXDimOffset);
  const size_t height = Field<uint16_t>(header, kYDimOffset);
  if (width == 0 || height == 0)
    Fail("a frame of " + Text(width) + " x " + Text(height) + " pixels, which holds no data");
  const int32_t frames = Field<int32_t>(header, kFrameCountOffset);
  if (frames < 1) Fail("the header announces " + std::to_string(frames) + " frames");
  const int16_t regionCount = Field<int16_t>(header, kRegionCountOffset);
  if (regionCount > 1)
    Fail(std::to_string(regionCount) +
         " regions of interest in an SPE 2.x file; save them as SPE 3.0 or one region per file");
  frameCount_ = static_cast<size_t>(frames);
  frameBytes_ = frameStride_ = width * height * pixelBytes_;
  CheckDataFits(Times(frameCount_, frameStride_), true);
  Region region;
  region.width = width;
  region.height = height;
  region.wavelength = LegacyCalibration(header, width);
  if (region.wavelength.empty())
    Fail("no wavelength calibration in the header: its columns are pixels, not nanometres");
  regions_.push_back(std::move(region));
}

// The header's polynomial at the pixel numbers 1 .. columns; empty when the
// header marks no calibration valid.
std::vector<double> SpeFile::LegacyCalibration(const std::string& header, size_t columns) const {
  if (Field<int8_t>(header, kCalibrationValidOffset) == 0) return {};
  const int order = Field<int8_t>(header, kPolynomialOrderOffset);
  if (order < 0 || order > kMaxPolynomialOrder)
    Fail("the wavelength calibration's polynomial order " + std::to_string(order) +
         " is outside 0 to " + std::to_string(kMaxPolynomialOrder));
  std::vector<double> coefficients(static_cast<size_t>(order) + 1);
  for (size_t k = 0; k < coefficients.size(); ++k)
    coefficients[k] = Field<double>(header, kPolynomialOffset + 8 * k);
  std::vector<double> wavelength(columns);
  for (size_t column = 0; column < columns; ++column) {
    const double pixel = static_cast<double>(column + 1);
    double value = 0;
    for (size_t k = coefficients.size(); k-- > 0;) value = value * pixel + coefficients[k];
    wavelength[column] = value;
  }
  if (!StrictlyMonotonic(wavelength))
    Fail("the header's wavelength calibration does not rise or fall steadily over the pixels");
  return wavelength;
}

namespace {

// A fault of the footer, named without the file; ReadFooter adds it.
class FooterFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

Tree ParseFooter(const std::string& footer, uint64_t offset) {
  if (XmlNesting(footer) > kMaxXmlNesting)
    throw FooterFault("the XML footer at byte " + Text(offset) + " nests its elements more than " +
                      Text(kMaxXmlNesting) + " deep, which no SPE footer does");
  Tree document;
  try {
    std::istringstream in(footer);
    boost::property_tree::read_xml(in, document);
  } catch (const boost::property_tree::xml_parser_error& e) {
    throw FooterFault("the XML footer at byte " + Text(offset) + " is not XML (" + e.message() +
                      ")");
  }
  return document;
}

uint64_t CountAttribute(const Tree& element, const std::string& name) {
  const std::optional<std::string> text = Attribute(element, name);
  if (!text) throw FooterFault("the XML footer's data block lacks its \"" + name + "\"");
  const std::optional<uint64_t> value = Number<uint64_t>(*text);
  if (!value)
    throw FooterFault("the XML footer's " + name + " \"" + QuoteToken(*text) + "\" is no count");
  return *value;
}

// The frame's data block: the last of DataFormat's of type "Frame".
const Tree& FrameBlock(const Tree& root) {
  const Tree* dataFormat = Child(root, "DataFormat");
  const Tree* frame = nullptr;
  if (dataFormat)
    for (const Tree* block : Children(*dataFormat, "DataBlock"))
      if (Attribute(*block, "type") == "Frame") frame = block;
  if (!frame) throw FooterFault("the XML footer describes no frames (SpeFormat/DataFormat/DataBlock)");
  return *frame;
}

std::vector<const Tree*> RegionBlocks(const Tree& frame) {
  std::vector<const Tree*> regions;
  for (const Tree* block : Children(frame, "DataBlock"))
    if (Attribute(*block, "type") == "Region") regions.push_back(block);
  if (regions.empty()) throw FooterFault("the XML footer describes no region of interest");
  return regions;
}

// The wavelengths of the calibration the frame names, one per sensor
// column; empty without one.
std::vector<double> SensorWavelengths(const Tree* calibrations, const Tree& frame) {
  const Tree* mapping =
      calibrations
          ? ChildWithId(*calibrations, "WavelengthMapping", IdList(Attribute(frame, "calibrations")))
          : nullptr;
  if (!mapping) return {};
  const Tree* list = Child(*mapping, "Wavelength");
  const bool withErrors = !list && (list = Child(*mapping, "WavelengthError"));
  if (!list) return {};
  std::vector<double> sensor;
  std::stringstream in(list->data());
  for (std::string value; std::getline(in, value, ',');) {
    std::string_view number = TrimmedView(value);
    if (number.empty()) continue;
    // "wavelength error" pairs: the wavelength is the first number.
    if (withErrors) number = number.substr(0, number.find_first_of(" \t\r\n"));
    const std::optional<double> wavelength = Number<double>(number);
    if (!wavelength)
      throw FooterFault("the XML footer's wavelength calibration holds \"" + QuoteToken(value) +
                        "\", which is no number");
    sensor.push_back(*wavelength);
  }
  return sensor;
}

// A region's columns on the sensor's calibration: the whole calibration
// when it has one value a column, else the columns the region's sensor
// mapping places it on, binned ones averaged.
std::vector<double> RegionWavelengths(const std::vector<double>& sensor, const Tree* calibrations,
                                      const Tree& block, size_t width, size_t number) {
  if (sensor.size() == width) return sensor;
  const Tree* place =
      calibrations
          ? ChildWithId(*calibrations, "SensorMapping", IdList(Attribute(block, "calibrations")))
          : nullptr;
  auto attribute = [place](const char* name, uint64_t absent) {
    return Number<uint64_t>(Attribute(*place, name).value_or("")).value_or(absent);
  };
  const uint64_t x = place ? attribute("x", 0) : 0;
  const uint64_t binning = place ? std::max<uint64_t>(1, attribute("xBinning", 1)) : 1;
  const std::optional<uint64_t> covered = Times(width, binning);
  if (!place || !covered || x > sensor.size() || *covered > sensor.size() - x)
    throw FooterFault("the wavelength calibration's " + Text(sensor.size()) +
                      " values do not cover the region of interest " + Text(number) + " (" +
                      Text(width) + " columns)");
  std::vector<double> wavelength(width);
  for (size_t column = 0; column < width; ++column) {
    double sum = 0;
    for (uint64_t k = 0; k < binning; ++k) sum += sensor[x + column * binning + k];
    wavelength[column] = sum / static_cast<double>(binning);
  }
  return wavelength;
}

}  // namespace

void SpeFile::ReadFooter(const std::string& header) {
  const uint64_t footerOffset = Field<uint64_t>(header, kFooterOffsetOffset);
  if (footerOffset >= fileSize_)
    Fail("the XML footer's offset " + Text(footerOffset) + " points past the end of the file (" +
         Text(fileSize_) + " bytes): truncated?");
  if (footerOffset < kSpeHeaderBytes)
    Fail("the XML footer's offset " + Text(footerOffset) + " lies inside the header");
  std::string footer(fileSize_ - footerOffset, '\0');
  ReadBytes(footerOffset, footer.data(), footer.size());
  try {
    const Tree document = ParseFooter(footer, footerOffset);
    const Tree* root = Child(document, "SpeFormat");
    if (!root) throw FooterFault("the XML footer holds no SpeFormat element");
    const Tree& frame = FrameBlock(*root);
    const std::vector<const Tree*> regionBlocks = RegionBlocks(frame);
    ReadDataLayout(frame, regionBlocks, footerOffset);
    ReadClock(*root, frame);
    ReadWavelengths(*root, frame, regionBlocks, header);
  } catch (const FooterFault& fault) {
    Fail(fault.what());
  }
}

void SpeFile::ReadDataLayout(const Tree& frame, const std::vector<const Tree*>& regionBlocks,
                             uint64_t footerOffset) {
  const std::string pixelFormat = Attribute(frame, "pixelFormat").value_or("");
  const PixelType* type = PixelTypeOfName(pixelFormat);
  if (!type)
    Fail("the pixel format \"" + QuoteToken(pixelFormat) +
         "\" is none of the SPE format's (MonochromeUnsigned16, MonochromeUnsigned32, "
         "MonochromeFloating32)");
  dataType_ = type->code;
  pixelBytes_ = type->bytes;
  frameCount_ = CountAttribute(frame, "count");
  if (frameCount_ == 0) Fail("the XML footer announces 0 frames");
  frameBytes_ = CountAttribute(frame, "size");
  frameStride_ = CountAttribute(frame, "stride");

  uint64_t regionBytes = 0;
  for (const Tree* block : regionBlocks) {
    const uint64_t width = CountAttribute(*block, "width");
    const uint64_t height = CountAttribute(*block, "height");
    if (width == 0 || height == 0)
      Fail("a region of interest of " + Text(width) + " x " + Text(height) +
           " pixels, which holds no data");
    const std::optional<uint64_t> pixels = Times(width, height);
    const std::optional<uint64_t> bytes = pixels ? Times(*pixels, pixelBytes_) : std::nullopt;
    if (!bytes || *bytes > fileSize_)
      Fail("a region of interest of " + Text(width) + " x " + Text(height) +
           " pixels, more than the file holds");
    Region region;
    region.width = width;
    region.height = height;
    region.offset = regionBytes;
    regionBytes += *bytes;
    regions_.push_back(std::move(region));
  }
  if (regionBytes != frameBytes_)
    Fail("the XML footer's frame size of " + Text(frameBytes_) +
         " bytes disagrees with its regions' " + Text(regionBytes));
  if (frameStride_ < frameBytes_)
    Fail("the XML footer's frame stride of " + Text(frameStride_) +
         " bytes is less than its size of " + Text(frameBytes_));
  const std::optional<uint64_t> data = Times(frameCount_, frameStride_);
  if (!data || *data > footerOffset - kSpeHeaderBytes)
    Fail("the footer announces " + Text(frameCount_) + " frames of " + Text(frameStride_) +
         " bytes, more than the " + Text(footerOffset - kSpeHeaderBytes) +
         " bytes between the header and the footer at byte " + Text(footerOffset) +
         ": truncated data?");
}

// The time the exposure started, among the frame's metadata.
void SpeFile::ReadClock(const Tree& root, const Tree& frame) {
  const Tree* metaFormat = Child(root, "MetaFormat");
  const std::optional<std::string> ids = Attribute(frame, "metaFormat");
  const Tree* metaBlock = metaFormat && ids ? ChildWithId(*metaFormat, "MetaBlock", IdList(ids))
                                            : nullptr;
  if (!metaBlock) return;
  size_t slot = 0;
  for (const auto& [name, piece] : *metaBlock) {
    if (name == "<xmlattr>" || name == "<xmlcomment>") continue;
    if (!clock_ && name == "TimeStamp" && Attribute(piece, "event") == "ExposureStarted") {
      const std::optional<double> resolution =
          Number<double>(Attribute(piece, "resolution").value_or(""));
      if (!resolution || !(*resolution > 0) || !std::isfinite(*resolution))
        Fail("the exposure time stamp's resolution is no positive number of ticks a second");
      Clock clock;
      clock.slot = slot;
      clock.floating = Attribute(piece, "type") == "Double";
      clock.ticksPerSecond = *resolution;
      // The finest of the units whose ticks are no finer than the file's.
      static const std::pair<const char*, double> units[] = {
          {"s", 1}, {"ms", 1e3}, {"us", 1e6}, {"ns", 1e9}};
      clock.unit = "s";
      for (const auto& [unit, perSecond] : units)
        if (perSecond <= *resolution) clock.unit = unit, clock.unitsPerSecond = perSecond;
      clock_ = clock;
    }
    ++slot;
  }
  if (Times(slot, kMetaBytes).value_or(UINT64_MAX) > frameStride_ - frameBytes_)
    Fail("the frame's " + Text(slot) + " pieces of metadata do not fit between its " +
         Text(frameBytes_) + " bytes of pixels and its stride of " + Text(frameStride_));
}

// The wavelength of each region's columns: the footer's calibration, or
// for a single region the header's polynomial.
void SpeFile::ReadWavelengths(const Tree& root, const Tree& frame,
                              const std::vector<const Tree*>& regionBlocks,
                              const std::string& header) {
  const Tree* calibrations = Child(root, "Calibrations");
  const std::vector<double> sensor = SensorWavelengths(calibrations, frame);
  if (sensor.empty()) {
    if (regions_.size() == 1) regions_.front().wavelength = LegacyCalibration(header, regions_.front().width);
    if (regions_.front().wavelength.empty())
      Fail("no wavelength calibration in the XML footer: its columns are pixels, not nanometres");
    return;
  }
  for (size_t r = 0; r < regions_.size(); ++r) {
    regions_[r].wavelength =
        RegionWavelengths(sensor, calibrations, *regionBlocks[r], regions_[r].width, r + 1);
    if (!StrictlyMonotonic(regions_[r].wavelength))
      Fail("the XML footer's wavelength calibration does not rise or fall steadily over the "
           "columns");
  }
}

double SpeFile::PixelValue(const char* bytes) const {
  switch (dataType_) {
    case 0:
      return std::bit_cast<float>(static_cast<uint32_t>(Unsigned(bytes, 4)));
    case 1:
      return static_cast<int32_t>(Unsigned(bytes, 4));
    case 2:
      return static_cast<int16_t>(Unsigned(bytes, 2));
    case 3:
      return static_cast<double>(Unsigned(bytes, 2));
    case 5:
      return std::bit_cast<double>(Unsigned(bytes, 8));
    case 6:
      return static_cast<double>(Unsigned(bytes, 1));
    default:
      return static_cast<double>(Unsigned(bytes, 4));
  }
}

Spectrum SpeFile::ReadFrame(size_t frame, size_t region) {
  if (frame >= frameCount_)
    throw Error(path_ + " holds " + Text(frameCount_) + (frameCount_ == 1 ? " frame" : " frames") +
                "; there is no frame " + Text(frame + 1));
  CheckRegion(region);
  const Region& r = regions_[region];
  std::vector<char> bytes(r.width * r.height * pixelBytes_);
  ReadBytes(kSpeHeaderBytes + frame * frameStride_ + r.offset, bytes.data(), bytes.size());
  Spectrum spectrum;
  spectrum.source = frameCount_ == 1 ? path_ : SpeFrameName(path_, frame);
  spectrum.wavelength = r.wavelength;
  spectrum.intensity.assign(r.width, 0.0);
  // A region of several rows is binned: its rows are summed.
  for (size_t row = 0; row < r.height; ++row)
    for (size_t column = 0; column < r.width; ++column) {
      const double value = PixelValue(bytes.data() + (row * r.width + column) * pixelBytes_);
      if (!std::isfinite(value))
        throw SpectrumFileError(spectrum.source + ": the pixel in column " + Text(column + 1) +
                                ", row " + Text(row + 1) + " is no finite number");
      spectrum.intensity[column] += value;
    }
  if (spectrum.wavelength.front() > spectrum.wavelength.back()) {
    std::reverse(spectrum.wavelength.begin(), spectrum.wavelength.end());
    std::reverse(spectrum.intensity.begin(), spectrum.intensity.end());
  }
  return spectrum;
}

std::string SpeFile::TimeUnit() const { return clock_ ? clock_->unit : ""; }

long double SpeFile::Tick(size_t frame) {
  char bytes[kMetaBytes];
  ReadBytes(kSpeHeaderBytes + frame * frameStride_ + frameBytes_ + clock_->slot * kMetaBytes,
            bytes, sizeof bytes);
  const uint64_t raw = Unsigned(bytes, sizeof bytes);
  // 64-bit ticks are exact in a long double.
  return clock_->floating ? std::bit_cast<double>(raw)
                          : static_cast<long double>(static_cast<int64_t>(raw));
}

double SpeFile::FrameTime(size_t frame) {
  if (!clock_ || frame >= frameCount_) throw RangeError();
  const long double ticks = Tick(frame) - *firstTick_;
  return static_cast<double>(ticks * clock_->unitsPerSecond / clock_->ticksPerSecond);
}

}  // namespace lumora
