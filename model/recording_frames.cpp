#include "model/recording_frames.h"

#include <cmath>

#include "model/spe_file.h"

namespace lumora {

std::vector<RecordingFrame> RecordingFrames(const std::vector<std::string>& files,
                                            std::optional<size_t> frame, size_t region) {
  std::vector<RecordingFrame> frames;
  for (const std::string& path : files) {
    if (!IsSpeFile(path)) {
      frames.push_back({path, std::nullopt, path, std::nullopt, ""});
      continue;
    }
    SpeFile file(path);
    if (frame && *frame >= file.FrameCount())
      throw Error(path + " holds " + std::to_string(file.FrameCount()) +
                  (file.FrameCount() == 1 ? " frame" : " frames") + "; there is no frame " +
                  std::to_string(*frame + 1));
    file.CheckRegion(region);
    const size_t first = frame.value_or(0);
    const size_t end = frame ? *frame + 1 : file.FrameCount();
    for (size_t k = first; k < end; ++k) {
      RecordingFrame item{path, k, file.FrameCount() == 1 ? path : SpeFrameName(path, k),
                          std::nullopt, file.TimeUnit()};
      if (file.HasFrameTimes()) item.time = file.FrameTime(k);
      frames.push_back(std::move(item));
    }
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
