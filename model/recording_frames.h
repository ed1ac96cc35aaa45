// The spectra a list of recording files holds: a text recording is one
// spectrum, an SPE camera file one per frame. A series over them fits each
// spectrum, and its x is the frames' time where the files carry one.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/recording_file.h"
#include "model/series.h"

namespace lumora {

struct RecordingFrame {
  std::string path;
  std::optional<size_t> frame;  // an SPE file's frame, counted from 0
  std::string name;             // the spectrum in messages and tables
  // When the frame's exposure started after the file's first frame's, in
  // `timeUnit`; none when the file gives no time.
  std::optional<double> time;
  std::string timeUnit;
};

class SpeFile;

// The spectra of one recording file, each made when asked for, so that a
// file of thousands of frames is gone through without a list of them: a
// text file's one, or an SPE file's frames (only `frame` when one is chosen,
// counted from 0). Opening checks the SPE file whole (SpectrumFileError),
// the frame and the region of interest (Error).
class FramesOfRecording {
 public:
  FramesOfRecording(const std::string& path, std::optional<size_t> frame, size_t region);
  ~FramesOfRecording();
  size_t Count() const { return count_; }
  RecordingFrame At(size_t k);  // k from 0 to Count() - 1

 private:
  std::string path_;
  std::unique_ptr<SpeFile> file_;  // none for a text file
  size_t first_ = 0;
  size_t count_ = 1;
};

// Every file in order: a text file as itself, an SPE file as each of its
// frames (only `frame` when one is chosen, counted from 0). Opens the SPE
// files, so that a damaged one is refused before any work starts
// (SpectrumFileError), as is a frame or region of interest the file does
// not hold (Error).
std::vector<RecordingFrame> RecordingFrames(const std::vector<std::string>& files,
                                            std::optional<size_t> frame = std::nullopt,
                                            size_t region = 0);

// One spectrum: a text recording, or a frame of an SPE file (the first when
// none is given) in its region of interest `region` (counted from 0).
Spectrum ReadRecording(const std::string& path, std::optional<size_t> frame = std::nullopt,
                       size_t region = 0);
// A dark recording: the mean of an SPE file's frames, a text file as it is.
Spectrum ReadDarkRecording(const std::string& path, size_t region = 0);

// The x of a series whose spectra are all frames of SPE files: the frames'
// times when every one has a time in one unit, else their numbers in their
// files (from 1). None when a spectrum is a text recording, or there are none.
struct FrameAxis {
  std::vector<double> x;
  std::string unit;  // empty for frame numbers
};
std::optional<FrameAxis> FrameSeriesAxis(const std::vector<RecordingFrame>& frames);

// Gives the rows (in the frames' order, as many or fewer) the frames' x
// when they are all frames of camera files (FrameSeriesAxis), their times
// also as time stamps; returns the times' unit, "" for frame numbers and
// when the rows are not all frames.
std::string PlaceFrameX(std::vector<SeriesRow>& rows, const std::vector<RecordingFrame>& frames);

// Turns a series of recordings (request.spectrum given) into one over their
// spectra, each SPE file into its frames (SpectrumFileError for a damaged
// one), and returns them in the request's new order of files.
std::vector<RecordingFrame> SeriesOverFrames(SeriesRequest& request);
// Names each row after its spectrum ("pulse.spe, frame 3") and, unless the
// request has a pattern, gives the frames of camera files their x
// (FrameSeriesAxis) with its unit.
void PlaceFrameRows(SeriesTable& table, const std::vector<RecordingFrame>& frames,
                    const SeriesRequest& request);

}  // namespace lumora
