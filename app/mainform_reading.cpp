// The window's reading of measurements and spectra, its file list,
// recent files and dropped files.
#include "app/mainform.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <cerrno>
#include <fstream>
#include <tuple>

#include "app/chartexport.h"
#include "app/commandrunner.h"
#include "app/fit_panel.h"
#include "app/integration_options_dialog.h"
#include "app/line_table_controller.h"
#include "app/linegrid.h"
#include "app/map_panel.h"
#include "app/maplookup.h"
#include "app/model_panel.h"
#include "app/paircurvewindow.h"
#include "app/qt_text.h"
#include "app/readouts.h"
#include "model/spe_file.h"
#include "app/resultcharts.h"
#include "app/series_panel.h"
#include "app/uncertainty_choice.h"
#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "frontend/field_requests.h"
#include "frontend/recording_fields.h"
#include "frontend/uncertainty_requests.h"
#include "model/confidence_region.h"
#include "model/level_densities.h"
#include "model/map_file.h"
#include "model/series.h"
#include "model/table_text.h"
#include "settings/startup.h"

namespace lumora {

namespace {

constexpr int kRecentFiles = 6;
const char* const kRecentSection = "_Recent";

}  // namespace

// ---- reading measurements and the file list -------------------------------

QString TMainForm::DialogFolder() const {
  return fFileName.isEmpty() ? fInitialFolder : QFileInfo(fFileName).absolutePath();
}

void TMainForm::OnRead(QObject* sender) {
  Guard([this, sender] { ReadIntensities(sender); });
}

void TMainForm::OpenMeasurement(const QString& path) {
  if (CommandRunning() || !MayDiscardEdits()) return;
  fFileName = QFileInfo(path).absoluteFilePath();
  OnRead(fileList);
}

void TMainForm::OpenFile(const QString& path) {
  if (!path.endsWith(".recording.csv", Qt::CaseInsensitive) && !IsSpeFile(Std(path))) {
    OpenMeasurement(path);
    return;
  }
  if (CommandRunning() || !MayDiscardEdits()) return;
  const QString file = QFileInfo(path).absoluteFilePath();
  Guard([this, file] {
    std::optional<size_t> frame;
    if (ChooseFrame(file, frame)) StartSpectrumRead(file, LoadSpectrumFields(*fSettings), frame);
  });
}

bool TMainForm::MayDiscardEdits() {
  lineTable->TakeOverEdit();
  if (!HasUnsavedEdits()) return true;
  switch (fDialogs.AskUnsaved(
      "The line table has changes (intensities, lines taken in or left out) that were not "
      "saved. Discard them?")) {
    case UnsavedAnswer::Save:
      return SaveTableToChosenFile();
    case UnsavedAnswer::Discard:
      return true;
    case UnsavedAnswer::Cancel:
      break;
  }
  return false;
}

void TMainForm::ShowTitle(const QString& subject) {
  setWindowTitle(subject.isEmpty() ? QString("Lumora") : "Lumora - " + subject);
}

void TMainForm::ReadIntensities(QObject* sender) {
  // The file the table shows now; a read that fails keeps it.
  const QString shown = fFileName;
  if (sender == readButton) {
    const QString chosen = fDialogs.OpenFile(DialogFolder());
    if (chosen.isEmpty() || !MayDiscardEdits()) {
      ShowFilePosition();
      return;
    }
    fFileName = QFileInfo(chosen).absoluteFilePath();
  }
  const QFileInfo file(fFileName);
  // The lines and their fractions first: a file that cannot be read, or
  // whose lines the model refuses, changes neither the session nor a view.
  Session::State before = fSession->SaveState();
  try {
    // The third column is kept where it is an uncertainty, so that the
    // user may weight by it without reading the file again.
    fSession->ReadMeasurement(Std(fFileName), UncertaintyColumn::WherePresent);
    if (fSession->Table().lines.empty()) RefuseLinelessFile(file);
    if (fSession->HasEnoughLines()) fSession->Recalculate();
  } catch (...) {
    fSession->RestoreState(std::move(before));
    fFileName = shown;
    // The list stands on the file that failed, so that "Next file" goes on
    // past it.
    if (file.dir().exists()) ShowFileList(file.absolutePath(), file.fileName());
    ShowFilePosition();
    ShowStatusMessage("Nothing was read from " + file.fileName() +
                      (fSession->Table().lines.empty() ? QString(".")
                                                       : "; the table keeps the lines shown."));
    throw;
  }
  ClearUserData();
  linePages->setTabText(0, "Selected lines");
  if (fSession->HasEnoughLines())
    ShowFractions(0);
  else
    ShowStatusMessage(Qt8(Format("%d line read: branching fractions need at least two lines.",
                                 static_cast<int>(fSession->IncludedLineCount()))));
  linePages->setCurrentIndex(0);
  ShowTitle(fFileName);
  ShowFileList(file.absolutePath(), file.fileName());
  fSettings->WriteString("_Files", "Measurements", Std(file.absolutePath()));
  RememberRecentFile(fFileName);
  ShowFilePosition();
}

// A file that gave no line would leave an empty table in place of the
// lines shown: it is refused, saying why it gave none.
void TMainForm::RefuseLinelessFile(const QFileInfo& file) const {
  QFile text(file.absoluteFilePath());
  const bool blank = text.open(QIODevice::ReadOnly) && text.readAll().trimmed().isEmpty();
  throw Error(Std(blank ? file.fileName() + " is empty: it holds no lines to read."
                        : "No line of " + file.fileName() + " is a line of " +
                              elementList->currentText() + ": nothing was read."));
}

void TMainForm::ReadSpectrum() {
  Guard([this] { RunSpectrumRead(); });
}

void TMainForm::RunSpectrumRead() {
  if (CommandRunning()) return;
  const QString chosen = fDialogs.OpenSpectrum(DialogFolder());
  if (chosen.isEmpty()) return;
  std::optional<size_t> frame;
  if (!ChooseFrame(chosen, frame)) return;
  const std::optional<SpectrumFields> fields =
      fDialogs.SpectrumOptions(LoadSpectrumFields(*fSettings));
  if (!fields || !MayDiscardEdits()) return;
  // Kept as typed, so that the dialog offers them again even when refused.
  SaveSpectrumFields(*fSettings, *fields);
  StartSpectrumRead(QFileInfo(chosen).absoluteFilePath(), *fields, frame);
}

bool TMainForm::ChooseFrame(const QString& path, std::optional<size_t>& frame) {
  frame.reset();
  if (!IsSpeFile(Std(path))) return true;
  const SpeFile file(Std(path));
  if (file.FrameCount() < 2) return true;
  const int frames = static_cast<int>(std::min<size_t>(file.FrameCount(), INT_MAX));
  const std::optional<int> chosen = fDialogs.ChooseFrame(path, frames);
  if (!chosen) return false;
  frame = static_cast<size_t>(std::clamp(*chosen, 1, frames) - 1);
  return true;
}

void TMainForm::StartSpectrumRead(const QString& path, const SpectrumFields& fields,
                                  std::optional<size_t> frame) {
  CheckSpectrumNumbers(fields);
  SpectrumRequest request = SpectrumRequestFromFields(fields, Std(path));
  request.frame = frame;
  auto integration = std::make_shared<IntegrationResult>();
  auto lines = std::make_shared<std::vector<std::string>>();
  RunCommand(
      "Reading the spectrum", false,
      [this, request, integration, lines] {
        *integration = fSession->ReadSpectrum(request);
        *lines = fSession->MeasurementLines();
      },
      [this, path, integration, lines, frame] {
        fSpectrumFrame = frame;
        ShowSpectrumRead(path, *integration, std::move(*lines));
      });
}

// The table as "Read intensities" fills it, from the unflagged lines.
void TMainForm::ShowSpectrumRead(const QString& path, const IntegrationResult& integration,
                                 std::vector<std::string> measurementLines) {
  ClearUserData();
  linePages->setTabText(0, "Selected lines");
  fFileName = path;
  const int flagged =
      static_cast<int>(std::count_if(integration.lines.begin(), integration.lines.end(),
                                     [](const LineIntegral& l) { return l.flags != 0; }));
  QString summary =
      Qt8(Format("%d lines integrated, %d flagged; FWHM %.4f nm%s, shift %.4f nm%s.",
                 static_cast<int>(integration.lines.size()), flagged, integration.fwhm,
                 integration.fwhmEstimated ? " (estimated)" : "", integration.shift,
                 integration.noShiftFound ? " (no shift found)" : ""));
  if (const std::string note = NoiseNote(integration); !note.empty()) summary += Qt8(" " + note);
  if (fSpectrumFrame) summary = QString("Frame %1: ").arg(*fSpectrumFrame + 1) + summary;
  if (const std::string exposure = ExposureNote(integration.spectrum.header); !exposure.empty())
    summary += Qt8(" " + exposure + ".");
  if (fSession->HasEnoughLines())
    Recalculate();
  else
    summary += Qt8(Format(" %d line read: branching fractions need at least two lines.",
                          static_cast<int>(fSession->IncludedLineCount())));
  fSpectrumLines = std::move(measurementLines);
  fCharts->ShowSpectrum(&integration);
  chartPages->setTabEnabled(kSpectrumPage, true);
  chartPages->setCurrentIndex(kSpectrumPage);
  saveLinesAction->setEnabled(true);
  linePages->setCurrentIndex(0);
  ShowTitle(path);
  fileList->setCurrentRow(-1);
  ShowFilePosition();
  ShowStatusMessage(summary);
}

void TMainForm::ClearSpectrum() {
  fSpectrumLines.clear();
  fCharts->ShowSpectrum(nullptr);
  chartPages->setTabEnabled(kSpectrumPage, false);
  saveLinesAction->setEnabled(false);
}

void TMainForm::SaveSpectrumLines() {
  Guard([this] {
    if (fSpectrumLines.empty()) throw Error("Read a spectrum first: its lines are what is saved.");
    const QString path = fDialogs.SaveFile(DialogFolder());
    if (path.isEmpty()) return;
    // The lines as Session::SaveMeasurementLines writes them: CR LF ended.
    Session::SaveReport(Std(path), fSpectrumLines);
  });
}

void TMainForm::ShowFileList(const QString& folder, const QString& selectName) {
  fFileListFolder = folder;
  fileList->clear();
  const QStringList names =
      QDir(folder).entryList({"*.txt"}, QDir::Files, QDir::Name | QDir::IgnoreCase);
  fileList->addItems(names);
  fileList->setCurrentRow(selectName.isEmpty() ? -1 : static_cast<int>(names.indexOf(selectName)));
}

void TMainForm::ShowFilePosition() {
  const int count = fileList->count();
  fileStatus->setText(count >= 2 && fileList->currentRow() >= 0
                          ? Qt8(Format("  File %d/%d in folder", fileList->currentRow() + 1, count))
                          : QString());
}

void TMainForm::OnNextFile() {
  const int count = fileList->count();
  if (count == 0 || CommandRunning() || !MayDiscardEdits()) return;
  const int current = fileList->currentRow();
  // Past the last file the list starts again, which the user is told.
  const bool wraps = count >= 2 && current == count - 1;
  const QString last = wraps ? fileList->currentItem()->text() : QString();
  fileList->setCurrentRow(current < 0 ? 0 : (current + 1) % count);
  fFileName = QDir(fFileListFolder).filePath(fileList->currentItem()->text());
  OnRead(nextFileButton);
  if (wraps && fFileName == Qt8(fSession->LinesSource()))
    ShowStatusMessage(last + " was the last file of the folder; the first one was read.");
}

void TMainForm::OnFileChosen() {
  if (fileList->count() == 0 || !fileList->currentItem()) return;
  if (!MayDiscardEdits()) {
    // The list goes back to the file the table shows.
    fileList->setCurrentItem(
        fileList->findItems(QFileInfo(fFileName).fileName(), Qt::MatchExactly).value(0));
    return;
  }
  fFileName = QDir(fFileListFolder).filePath(fileList->currentItem()->text());
  OnRead(fileList);
}

void TMainForm::RememberRecentFile(const QString& path) {
  QStringList files{path};
  for (int i = 1; i <= kRecentFiles; ++i) {
    const QString file = Qt8(fSettings->ReadString(kRecentSection, Format("File%d", i), ""));
    if (!file.isEmpty() && file != path && files.size() < kRecentFiles) files << file;
  }
  // A settings file that cannot be written keeps its list; reading went well.
  try {
    for (int i = 0; i < kRecentFiles; ++i)
      fSettings->WriteString(kRecentSection, Format("File%d", i + 1),
                             i < files.size() ? Std(files[i]) : std::string());
  } catch (const std::exception&) {
  }
  ShowRecentFiles();
}

void TMainForm::ShowRecentFiles() {
  recentMenu->clear();
  for (int i = 1; i <= kRecentFiles; ++i) {
    const QString file = Qt8(fSettings->ReadString(kRecentSection, Format("File%d", i), ""));
    if (file.isEmpty()) continue;
    recentMenu->addAction(QString("&%1 %2").arg(i).arg(file), this,
                          [this, file] { OpenMeasurement(file); });
  }
  recentMenu->setEnabled(!recentMenu->isEmpty());
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!CommandRunning() && !urls.isEmpty() && urls.first().isLocalFile())
    event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  OpenFile(urls.first().toLocalFile());
}

}  // namespace lumora
