#include "model/recording_frames.h"

#include <cmath>

#include "model/spe_file.h"

namespace lumora {

FramesOfRecording::FramesOfRecording(const std::string& path, std::optional<size_t> frame,
                                     size_t region)
    : path_(path) {
  if (!IsSpeFile(path)) return;
  file_ = std::make_unique<SpeFile>(path);
  if (frame && *frame >= file_->FrameCount())
    throw Error(path + " holds " + std::to_string(file_->FrameCount()) +
                (file_->FrameCount() == 1 ? " frame" : " frames") + "; there is no frame " +
                std::to_string(*frame + 1));
  file_->CheckRegion(region);
  first_ = frame.value_or(0);
  count_ = frame ? 1 : file_->FrameCount();
}

FramesOfRecording::~FramesOfRecording() = default;

RecordingFrame FramesOfRecording::At(size_t k) {
  if (!file_) return {path_, std::nullopt, path_, std::nullopt, ""};
  const size_t frame = first_ + k;
  RecordingFrame item{path_, frame,
                      file_->FrameCount() == 1 ? path_ : SpeFrameName(path_, frame),
                      std::nullopt, file_->TimeUnit()};
  if (file_->HasFrameTimes()) item.time = file_->FrameTime(frame);
  return item;
}

std::vector<RecordingFrame> RecordingFrames(const std::vector<std::string>& files,
                                            std::optional<size_t> frame, size_t region) {
  std::vector<RecordingFrame> frames;
  for (const std::string& path : files) {
    FramesOfRecording spectra(path, frame, region);
    for (size_t k = 0; k < spectra.Count(); ++k) frames.push_back(spectra.At(k));
  }
  return frames;
}

Spectrum ReadRecording(const std::string& path, std::optional<size_t> frame, size_t region) {
  if (!IsSpeFile(path)) {
    if (frame.value_or(0) > 0 || region > 0)
      throw Error(path + " is a text recording of one spectrum: it has no frames or regions to "
                         "choose from");
    return ReadSpectrumFile(path);
  }
  SpeFile file(path);
  return file.ReadFrame(frame.value_or(0), region);
}

Spectrum ReadDarkRecording(const std::string& path, size_t region) {
  if (!IsSpeFile(path)) return ReadSpectrumFile(path);
  SpeFile file(path);
  Spectrum dark = file.ReadFrame(0, region);
  for (size_t k = 1; k < file.FrameCount(); ++k) {
    const Spectrum next = file.ReadFrame(k, region);
    for (size_t i = 0; i < dark.size(); ++i) dark.intensity[i] += next.intensity[i];
  }
  for (double& value : dark.intensity) value /= static_cast<double>(file.FrameCount());
  dark.source = path;
  return dark;
}

std::optional<FrameAxis> FrameSeriesAxis(const std::vector<RecordingFrame>& frames) {
  if (frames.empty()) return std::nullopt;
  FrameAxis axis;
  bool timed = true;
  for (const RecordingFrame& item : frames) {
    if (!item.frame) return std::nullopt;
    timed = timed && item.time && item.timeUnit == frames.front().timeUnit;
  }
  for (const RecordingFrame& item : frames)
    axis.x.push_back(timed ? *item.time : static_cast<double>(*item.frame + 1));
  if (timed) axis.unit = frames.front().timeUnit;
  return axis;
}

std::vector<RecordingFrame> SeriesOverFrames(SeriesRequest& request) {
  if (!request.spectrum) return {};
  std::vector<RecordingFrame> frames = RecordingFrames(request.files, std::nullopt,
                                                       request.spectrum->region);
  request.files.clear();
  request.frames.clear();
  for (const RecordingFrame& frame : frames) {
    request.files.push_back(frame.path);
    request.frames.push_back(frame.frame);
  }
  return frames;
}

std::string PlaceFrameX(std::vector<SeriesRow>& rows, const std::vector<RecordingFrame>& frames) {
  const std::optional<FrameAxis> axis = FrameSeriesAxis(frames);
  if (!axis || rows.size() > frames.size()) return "";
  // The frames' times also as time stamps, so that placing the x again
  // (a window's choice of axis) keeps them.
  static const std::pair<const char*, double> nanoseconds[] = {
      {"s", 1e9}, {"ms", 1e6}, {"us", 1e3}, {"ns", 1}};
  double perUnit = 0;
  for (const auto& [unit, ns] : nanoseconds)
    if (axis->unit == unit) perUnit = ns;
  for (size_t k = 0; k < rows.size(); ++k) {
    rows[k].x = axis->x[k];
    if (perUnit > 0) rows[k].timeStamp = SeriesTime(std::llround(axis->x[k] * perUnit));
  }
  return axis->unit;
}

void PlaceFrameRows(SeriesTable& table, const std::vector<RecordingFrame>& frames,
                    const SeriesRequest& request) {
  if (frames.size() != table.rows.size()) return;
  for (size_t k = 0; k < frames.size(); ++k) table.rows[k].file = frames[k].name;
  if (request.pattern || !FrameSeriesAxis(frames)) return;
  table.xUnit = PlaceFrameX(table.rows, frames);
  table.axis = table.xUnit.empty() ? SeriesAxis::FileOrder : SeriesAxis::TimeStamp;
}

}  // namespace lumora
