// The main window driven as a user would, on the bundled argon database and
// copies of its sample measurements in a fresh folder per test.
#include <unistd.h>

#include <qcustomplot.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QStyle>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTableWidget>
#include <QTabWidget>
#include <QToolButton>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <memory>

#include "app/analysis_dialog.h"
#include "app/chart_colours.h"
#include "app/chartexport.h"
#include "app/appstart.h"
#include "app/fit_panel.h"
#include "app/integration_options_dialog.h"
#include "app/linegrid.h"
#include "app/mainform.h"
#include "app/named_widget.h"
#include "app/paircurvewindow.h"
#include "app/qt_text.h"
#include "app/readouts.h"
#include "app/resultcharts.h"
#include "app/series_panel.h"
#include "tests/support/spe_pulse.h"
#include "tests/support/testfiles.h"
#include "base/errors.h"
#include "base/format.h"
#include "model/fraction_weights.h"
#include "model/residual_map.h"
#include "model/session.h"

using lumora::NamedWidget;
using lumora::Qt8;
using lumora::Std;
using lumora::TLineGrid;
using lumora::TMainForm;

namespace {

const QString kSourceDir = LUMORA_SOURCE_DIR;
const QString kSample = "argon_n2e15.txt";
const QString kStrongSample = "argon_n1.5e17_strong.txt";

// The line table, which most tests read or edit.
TLineGrid* Grid(const TMainForm& form) { return NamedWidget<TLineGrid>(form, "StringGrid1"); }

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the window asks and tells, answered and recorded without a person.
struct Answers {
  QString openFile;
  QString saveFile;
  QString exportFile;
  QString input;
  bool cancelInput = false;
  bool discard = true;  // the answer to "discard the edits?": Discard, or Cancel
  bool saveEdits = false;  // answer Save instead (the save dialog answers saveFile)
  QStringList errors;
  QStringList messages;
  QStringList inputTexts;  // the text the input box showed
  QStringList questions;
  QString openSpectrum;
  // The frame answered for a camera file of several; nothing cancels.
  std::optional<int> frame = 1;
  QStringList framesAsked;  // "FILE FRAMES" of each question
  // The export's size and style answered; nothing: as shown.
  std::optional<lumora::ChartExportOptions> exportOptions;
  std::vector<lumora::ChartExportOptions> exportOptionsShown;
  // The spectrum options answered: the fields shown, changed by this; nothing cancels.
  std::function<std::optional<lumora::SpectrumFields>(lumora::SpectrumFields)> spectrumOptions =
      [](lumora::SpectrumFields f) { return f; };
  std::vector<lumora::SpectrumFields> spectrumFieldsShown;

  lumora::TFormDialogs Dialogs() {
    lumora::TFormDialogs d;
    d.OpenFile = [this](const QString&) { return openFile; };
    d.SaveFile = [this](const QString&) { return saveFile; };
    d.OpenSpectrum = [this](const QString&) { return openSpectrum; };
    d.ChooseFrame = [this](const QString& file, int frames) {
      framesAsked << file + " " + QString::number(frames);
      return frame;
    };
    d.SpectrumOptions = [this](const lumora::SpectrumFields& f) {
      spectrumFieldsShown.push_back(f);
      return spectrumOptions(f);
    };
    d.ExportFile = [this](const QString&, const QString&) { return exportFile; };
    d.ExportOptions = [this](const lumora::ChartExportOptions& shown) {
      exportOptionsShown.push_back(shown);
      return exportOptions ? exportOptions : std::optional<lumora::ChartExportOptions>(shown);
    };
    d.Input = [this](const QString&, const QString&,
                     const QString& text) -> std::optional<QString> {
      inputTexts << text;
      if (cancelInput) return std::nullopt;
      return input;
    };
    d.AskUnsaved = [this](const QString& question) {
      questions << question;
      if (saveEdits) return lumora::UnsavedAnswer::Save;
      return discard ? lumora::UnsavedAnswer::Discard : lumora::UnsavedAnswer::Cancel;
    };
    d.ShowError = [this](const QString& text) { errors << text; };
    d.ShowMessage = [this](const QString& text) { messages << text; };
    return d;
  }
};

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> fDir;
  QByteArray fOldTmp;
  QByteArray fOldRuntime;

  QString Meas(const QString& name = QString()) const {
    return name.isEmpty() ? fDir->filePath("meas") : fDir->filePath("meas/" + name);
  }
  QString IniPath() const { return fDir->filePath("lumora.ini"); }

  static void WriteFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.write(text) == text.size());
  }
  void WriteIni(const QByteArray& text) { WriteFile(IniPath(), text); }
  // The bundled settings with the repo's database and the test's folder.
  QByteArray ArgonIni(const QByteArray& extra = {}) const {
    return "[_Files]\r\nDatabase=" + (kSourceDir + "/data/database").toLocal8Bit() +
           "\r\nMeasurements=" + Meas().toLocal8Bit() +
           "\r\n[_Parameters]\r\nDefaultAtom=0\r\nTn=300\r\nPath=1\r\n"
           "[Argon]\r\nLevels=Ar_I_levels.txt\r\nLines=Ar, I\r\nBoltzmax=4\r\nm=39.948\r\n" +
           extra;
  }
  void CopySample(const QString& name) {
    QVERIFY(QFile::copy(kSourceDir + "/data/measurements/" + name, Meas(name)));
  }
  std::unique_ptr<TMainForm> ArgonForm(Answers& answers) {
    WriteIni(ArgonIni());
    auto form = std::make_unique<TMainForm>(IniPath().toStdString(), answers.Dialogs());
    form->show();
    return form;
  }
  // The argon window after reading a copy of a bundled sample.
  std::unique_ptr<TMainForm> SampleForm(Answers& answers, const QString& name) {
    QFile::copy(kSourceDir + "/data/measurements/" + name, Meas(name));
    auto form = ArgonForm(answers);
    Read(*form, answers, name);
    return form;
  }
  // Reads a sample of the test's folder through "Read intensities".
  void Read(TMainForm& form, Answers& answers, const QString& name) {
    answers.openFile = Meas(name);
    Click(NamedWidget<QPushButton>(form, "ReadBtn"));
  }
  // A click on a button as the user makes it: first on the tab of the page
  // that holds it, when that page is hidden.
  static void Click(QAbstractButton* button) {
    for (QWidget* w = button; w && !button->isVisible(); w = w->parentWidget()) {
      auto* tabs = w->parentWidget() && w->parentWidget()->parentWidget()
                       ? qobject_cast<QTabWidget*>(w->parentWidget()->parentWidget())
                       : nullptr;
      if (tabs && tabs->indexOf(w) >= 0)
        QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {},
                          tabs->tabBar()->tabRect(tabs->indexOf(w)).center());
    }
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // Waits, with the event loop running, until the window's command ended.
  static bool Finished(TMainForm& form, int timeoutMs = 60000) {
    return QTest::qWaitFor([&form] { return !form.CommandRunning(); }, timeoutMs);
  }
  static void FitNow(TMainForm& form) {
    Click(NamedWidget<QPushButton>(form, "FitBtn"));
    QVERIFY(Finished(form));
  }
  static void AnalyzeNow(TMainForm& form) {
    Click(NamedWidget<QPushButton>(form, "AnalyzeBtn"));
    QVERIFY(Finished(form));
  }
  static void MapWithFile(TMainForm& form, const QString& densityPoints,
                          const QString& temperaturePoints) {
    NamedWidget<QLineEdit>(form, "PointsDensityEdit")->setText(densityPoints);
    NamedWidget<QLineEdit>(form, "PointsTempEdit")->setText(temperaturePoints);
    NamedWidget<QCheckBox>(form, "SaveMapCheckBox")->setChecked(true);
    Click(NamedWidget<QPushButton>(form, "MapBtn"));
    QVERIFY(Finished(form));
  }
  // The centre of a table cell (row 0 the header) in the viewport.
  static QPoint CellCentre(TLineGrid* grid, int col, int row) {
    return grid->visualRect(grid->model()->index(row - 1, col)).center();
  }
  // Double-clicks a cell, types text into its editor and ends with key.
  static void TypeIntoCell(TLineGrid* grid, int row, const QString& text,
                           Qt::Key key = Qt::Key_Return) {
    const QPoint at = CellCentre(grid, TLineGrid::kIntensityColumn, row);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    auto* editor = grid->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Delete);
    QTest::keyClicks(editor, text);
    QPointer<QLineEdit> open(editor);
    QTest::keyClick(editor, key);
    // The editor commits and closes from the event loop.
    QVERIFY(QTest::qWaitFor([&open] { return !open || !open->isVisible(); }, 5000));
  }
  // The pointer moved over a widget, as the mouse moves it.
  static void MovePointer(QWidget* widget, const QPoint& at) {
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
  }
  void ActivateWindow(TMainForm& form) {
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
  }
  QString Setting(const QString& section, const QString& key) {
    QSettings ini(IniPath(), QSettings::IniFormat);
    return ini.value(section + "/" + key).toString();
  }
  static QCPAbstractPlottable* Series(QCustomPlot* plot, const char* name) {
    auto* s = plot->findChild<QCPAbstractPlottable*>(name);
    return s;
  }

 private slots:
  void init() {
    fDir = std::make_unique<QTemporaryDir>();
    QVERIFY(fDir->isValid());
    QVERIFY(QDir(fDir->path()).mkdir("meas"));
    fOldTmp = qgetenv("TMPDIR");
    fOldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", fDir->path().toLocal8Bit());  // the fit log's folder goes here
    qunsetenv("XDG_RUNTIME_DIR");
  }
  void cleanup() {
    qputenv("TMPDIR", fOldTmp);
    if (!fOldRuntime.isEmpty()) qputenv("XDG_RUNTIME_DIR", fOldRuntime);
    fDir.reset();
  }

  void elementListFollowsTheSettings_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("elements");
    QTest::addColumn<int>("selected");
    const QByteArray sections = "[_Files]\r\n[Ne I]\r\n[_Fit]\r\n[Ar I]\r\n[Kr II]\r\n";
    const QStringList three{"Ne I", "Ar I", "Kr II"};
    QTest::newRow("default index 0") << sections << three << 0;
    QTest::newRow("index 2") << sections + "[_Parameters]\r\nDefaultAtom=2\r\n" << three << 2;
    QTest::newRow("index past the end") << sections + "[_Parameters]\r\nDefaultAtom=3\r\n"
                                        << three << -1;
    QTest::newRow("negative index") << sections + "[_Parameters]\r\nDefaultAtom=-1\r\n"
                                    << three << -1;
    QTest::newRow("no element sections")
        << QByteArray("[_Files]\nDatabase=/db\n") << QStringList{} << -1;
    QTest::newRow("empty file") << QByteArray() << QStringList{} << -1;
  }
  void elementListFollowsTheSettings() {
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, elements);
    QFETCH(int, selected);
    WriteIni(ini);
    Answers answers;
    TMainForm form(IniPath().toStdString(), answers.Dialogs());
    QCOMPARE(form.objectName(), QString("TMainForm"));
    QCOMPARE(form.windowTitle(), QString("Lumora"));
    auto* box = form.findChild<QComboBox*>("ElementListBox");
    QVERIFY(box);
    QVERIFY(!box->isEditable());
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
    QCOMPARE(shown, elements);
    QCOMPARE(box->currentIndex(), selected);
    // None of these sections names a level file that exists.
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].startsWith("File error: "), qPrintable(answers.errors[0]));
  }

  // A number of the settings that does not read stops the start with an
  // error naming its key, where it once read as the default.
  void anUnreadableSettingsNumberStopsTheStart() {
    WriteIni("[_Files]\r\n[Ne I]\r\n[_Parameters]\r\nDefaultAtom=x\r\n");
    Answers answers;
    try {
      TMainForm form(IniPath().toStdString(), answers.Dialogs());
      QFAIL("the window started");
    } catch (const lumora::Error& e) {
      QVERIFY2(QString(e.what()).startsWith(
                   "The key \"DefaultAtom\" of the section \"_Parameters\" in the settings file"),
               e.what());
    }
  }

  void emptySettingsFillTheFieldsWithTheDefaults() {
    WriteIni({});
    Answers answers;
    TMainForm form(IniPath().toStdString(), answers.Dialogs());
    const std::map<QString, QString> expected = {
        {"FromDensityEdit", "1E+015"}, {"ToDensityEdit", "1E+018"},
        {"PointsDensityEdit", "50"},   {"FromTempEdit", "1000"},
        {"ToTempEdit", "50000"},       {"PointsTempEdit", "50"},
        {"FitDensityEdit", "1E+016"},  {"FitTempEdit", "1000"},
        {"MaxIterEdit", "50"},         {"TnEdit", "300"},
        {"PathEdit", "1.000"},         {"BoltzCountEdit", "1"}};
    for (const auto& [name, text] : expected) {
      auto* field = form.findChild<QLineEdit*>(name);
      QVERIFY2(field, qPrintable(name));
      QCOMPARE(field->text(), text);
    }
    QVERIFY(!NamedWidget<QCheckBox>(form, "FitTempCheckBox")->isChecked());
    QVERIFY(!NamedWidget<QCheckBox>(form, "SaveMapCheckBox")->isChecked());
    QCOMPARE(NamedWidget<QComboBox>(form, "DistributionComboBox")->currentText(),
             QString("Boltzmann"));
    QCOMPARE(NamedWidget<QComboBox>(form, "ReportComboBox")->currentText(),
             QString("final results"));
    // The residual map is sized by the map fields before any map.
    QCOMPARE(form.MapGrid().size(), size_t(50));
    QCOMPARE(form.MapGrid()[0].size(), size_t(50));
    QCOMPARE(Grid(form)->RowCount(), 1);
    QCOMPARE(Grid(form)->Cell(6, 0), QString("Upper state"));
    QVERIFY(!NamedWidget<QTabWidget>(form, "ChartPages")->isTabEnabled(3));
  }

  void unreadableSettingsFileIsAnError() {
    QDir(fDir->path()).mkdir("ini");
    Answers answers;
    QVERIFY_THROWS_EXCEPTION(lumora::InOutError,
                             TMainForm(fDir->filePath("ini").toStdString(), answers.Dialogs()));
  }

  void elementChangeFillsTheListingsAndCount() {
    Answers answers;
    auto form = ArgonForm(answers);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(NamedWidget<QLineEdit>(*form, "BoltzCountEdit")->text(), QString("4"));
    QVERIFY(NamedWidget<QListWidget>(*form, "LevelsBox")->count() > 0);
    QVERIFY(NamedWidget<QListWidget>(*form, "LinesBox")->count() > 0);
    QVERIFY(!NamedWidget<QPlainTextEdit>(*form, "LLMemo")->toPlainText().isEmpty());
  }

  void readingASampleFillsTheTableAndCharts() {
    CopySample(kStrongSample);  // a second file in the folder
    Answers answers;
    auto form = SampleForm(answers, kSample);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));

    TLineGrid* grid = Grid(*form);
    QCOMPARE(grid->RowCount(), 28);
    QCOMPARE(grid->Cell(0, 1), QString("667.7282"));
    QCOMPARE(grid->Cell(1, 1), QString("20.768497"));
    QCOMPARE(grid->Cell(0, 0), QString("Wavelength"));
    const QRegularExpression fraction("^\\d\\.\\d{4}$");
    for (int col : {2, 3}) QVERIFY(fraction.match(grid->Cell(col, 1)).hasMatch());
    QVERIFY(QRegularExpression("^\\d+\\.\\d{9}$").match(grid->Cell(5, 1)).hasMatch());
    // Free and measured fractions of every upper level add up to 1.
    std::map<QString, double> freeSums, measuredSums;
    for (int r = 1; r < grid->RowCount(); ++r) {
      freeSums[grid->Cell(5, r)] += grid->Cell(2, r).toDouble();
      measuredSums[grid->Cell(5, r)] += grid->Cell(3, r).toDouble();
    }
    for (const auto& [level, sum] : freeSums) QVERIFY(qAbs(sum - 1) < 1e-3);
    for (const auto& [level, sum] : measuredSums) QVERIFY(qAbs(sum - 1) < 1e-3);

    // Rows in blocks of one upper energy, white and silver in turn.
    QCOMPARE(grid->RowColour(0), QColor(0x19, 0x19, 0x19));
    QCOMPARE(grid->RowColour(1), QColor(Qt::white));
    for (int r = 2; r < grid->RowCount(); ++r) {
      const bool same = grid->Cell(5, r) == grid->Cell(5, r - 1);
      QCOMPARE(grid->RowColour(r) == grid->RowColour(r - 1), same);
      QVERIFY(grid->RowColour(r) == QColor(Qt::white) ||
              grid->RowColour(r) == QColor(0xC0, 0xC0, 0xC0));
    }

    QCustomPlot* ebf = form->Charts()->EBFChart();
    QCOMPARE(Series(ebf, "Series_m")->interface1D()->dataCount(), 27);
    QCOMPARE(Series(ebf, "Series_t")->interface1D()->dataCount(), 27);
    // No fit yet: no fitted points and an empty "BF fit" column.
    QCOMPARE(Series(ebf, "Series_f")->interface1D()->dataCount(), 0);
    QVERIFY(grid->Cell(4, 1).isEmpty());
    QCOMPARE(Series(ebf, "Series_m")->name(), QString("measured"));
    QCOMPARE(ebf->itemCount(), 27);  // every bar marked below 50 bars
    QCOMPARE(ebf->yAxis->range(), QCPRange(0, 1.2));
    // Lines of one upper level share a bar colour.
    const std::vector<QColor> colours = lumora::BarColours(*form->Charts());
    QCOMPARE(colours.size(), size_t(27));
    for (size_t i = 0; i < colours.size(); ++i)
      QCOMPARE(colours[i],
               lumora::BarPalette[form->CurrentSession().Table().lines[i].UpperState % 13]);
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(3));

    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kSample));
    QCOMPARE(NamedWidget<QListWidget>(*form, "FileListBox")->count(), 2);
    QCOMPARE(NamedWidget<QListWidget>(*form, "FileListBox")->currentItem()->text(), kSample);
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusPanel0")->text(), QString("  File 2/2 in folder"));
    QCOMPARE(Setting("_Files", "Measurements"), Meas());
  }

  void nextFileStepsThroughTheFolderAndWraps() {
    CopySample(kStrongSample);  // a second file in the folder
    Answers answers;
    auto form = SampleForm(answers, kSample);
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kStrongSample));
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusPanel0")->text(), QString("  File 1/2 in folder"));
    QCOMPARE(Grid(*form)->RowCount(), 19);
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusPanel0")->text(), QString("  File 2/2 in folder"));
    QCOMPARE(Grid(*form)->RowCount(), 28);
    QVERIFY(answers.errors.isEmpty());
  }

  void singleFileAndCancelledDialog() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusPanel0")->text(), QString());
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));  // reads the same file again
    QCOMPARE(Grid(*form)->RowCount(), 28);
    answers.openFile.clear();  // cancelled: nothing changes
    Click(NamedWidget<QPushButton>(*form, "ReadBtn"));
    QCOMPARE(Grid(*form)->RowCount(), 28);
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kSample));
    QVERIFY(answers.errors.isEmpty());
  }

  void unmatchedWavelengthKeepsTheLinesBeforeIt() {
    CopySample("argon_n8e15_notfound.txt");
    Answers answers;
    auto form = ArgonForm(answers);
    Read(*form, answers, "argon_n8e15_notfound.txt");
    QCOMPARE(answers.messages.size(), 1);
    QVERIFY2(answers.messages[0].startsWith("Wavelength 801.479000 was not found."),
             qPrintable(answers.messages[0]));
    // Where it stands and what the element has near it.
    QVERIFY2(answers.messages[0].contains(" It stands in line 15 of " +
                                          Meas("argon_n8e15_notfound.txt") +
                                          "; the element's nearest line is at "),
             qPrintable(answers.messages[0]));
    QVERIFY(answers.errors.isEmpty());
    QCOMPARE(Grid(*form)->RowCount(), 15);
    QVERIFY(!Grid(*form)->Cell(3, 1).isEmpty());
  }

  void unreadableMeasurementIsShownAndLeavesTheTableEmpty() {
    Answers answers;
    auto form = ArgonForm(answers);
    Read(*form, answers, "missing.txt");
    QCOMPARE(answers.errors.size(), 1);
    QCOMPARE(Grid(*form)->RowCount(), 1);
    QCOMPARE(form->windowTitle(), QString("Lumora"));
  }

  void editedIntensityIsTakenOverAndRecalculated() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    TLineGrid* grid = Grid(*form);
    // An upper level with at least three lines.
    std::map<QString, std::vector<int>> rowsOfLevel;
    for (int r = 1; r < grid->RowCount(); ++r) rowsOfLevel[grid->Cell(5, r)].push_back(r);
    std::vector<int> rows;
    for (const auto& [level, r] : rowsOfLevel)
      if (r.size() >= 3) rows = r;
    QVERIFY(rows.size() >= 3);

    const double before = form->CurrentSession().Table().lines[rows[0] - 1].Int;
    QVERIFY(grid->SelectCell(1, rows[0]));
    grid->TypeText(1, rows[0], "0");
    QCOMPARE(form->CurrentSession().Table().lines[rows[0] - 1].Int,
             before);                       // not before the take-over
    QVERIFY(grid->SelectCell(1, rows[1]));  // the edit is taken over
    QCOMPARE(form->CurrentSession().Table().lines[rows[0] - 1].Int, 0.0);
    QCOMPARE(grid->Cell(3, rows[0]), QString("0.0000"));
    double others = 0;
    for (size_t k = 1; k < rows.size(); ++k) others += grid->Cell(3, rows[k]).toDouble();
    QVERIFY(qAbs(others - 1) < 1e-3);
    // Leaving the table takes an edit over as well.
    grid->TypeText(1, rows[1], "2.5E3");
    form->OnGridLeft();
    QCOMPARE(form->CurrentSession().Table().lines[rows[1] - 1].Int, 2500.0);
    QVERIFY(answers.errors.isEmpty());
  }

  // Clicking a cell that is already selected and typing at once edits that
  // cell: the table's type-ahead search must not move the typing to another
  // line whose text starts with the first key.
  void typingRightAfterAClickEditsThatCell() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    form->show();
    ActivateWindow(*form);
    TLineGrid* grid = Grid(*form);
    int row = 0;
    for (int r = 1; r < grid->RowCount() && !row; ++r)
      if (grid->Cell(0, r) == "727.2936") row = r;
    QVERIFY(row > 0);
    std::vector<QString> before;
    for (int r = 1; r < grid->RowCount(); ++r) before.push_back(grid->Cell(1, r));
    const QPoint at = CellCentre(grid, TLineGrid::kIntensityColumn, row);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    // The cell is selected now: a second click, and the digits at once.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    // Each key goes where the keyboard's focus is, as a user's keys do.
    for (const QChar digit : QString("1234")) {
      QVERIFY(QApplication::focusWidget());
      QTest::keyClick(QApplication::focusWidget(), digit.toLatin1(), Qt::NoModifier, 20);
    }
    if (auto* editor = grid->viewport()->findChild<QLineEdit*>(); editor && editor->isVisible())
      QTest::keyClick(editor, Qt::Key_Return);
    else
      QTest::keyClick(grid, Qt::Key_Return);
    QTest::qWait(50);
    for (int r = 1; r < grid->RowCount(); ++r)
      if (r != row) QCOMPARE(grid->Cell(1, r), before[r - 1]);
    QCOMPARE(grid->Cell(1, row), QString("1234"));
  }

  void badEditIsRefused_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("letters") << "abc";
    QTest::newRow("empty") << "";
    QTest::newRow("decimal comma") << "1,5";
    QTest::newRow("negative") << "-5";
  }
  void badEditIsRefused() {
    QFETCH(QString, text);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    TLineGrid* grid = Grid(*form);
    const double before = form->CurrentSession().Table().lines[1].Int;
    QVERIFY(grid->SelectCell(1, 2));
    grid->TypeText(1, 2, text);
    QVERIFY(!grid->SelectCell(1, 5));
    QCOMPARE(grid->currentRow(), 1);  // still the edited cell (row 2)
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, before);
    QVERIFY(answers.errors.isEmpty());
    // Once corrected the move goes through.
    grid->TypeText(1, 2, "100");
    QVERIFY(grid->SelectCell(1, 5));
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, 100.0);
  }

  void everyCellCanBeSelectedOnlyTheIntensityEdited() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    for (int col : {0, 2, 3, 5, 8}) {
      QVERIFY(Grid(*form)->SelectCell(col, 3));
      QVERIFY(!(Grid(*form)->model()->flags(Grid(*form)->currentIndex()) & Qt::ItemIsEditable));
    }
    QVERIFY(Grid(*form)->SelectCell(1, 3));
    QVERIFY(Grid(*form)->model()->flags(Grid(*form)->currentIndex()) & Qt::ItemIsEditable);
  }

  void oneLineMeasurementShowsNoFractions() {
    WriteFile(Meas("one.txt"), "696.5431\t100\r\n");
    Answers answers;
    auto form = ArgonForm(answers);
    Read(*form, answers, "one.txt");
    QVERIFY(answers.errors.isEmpty() && answers.messages.isEmpty());
    QCOMPARE(Grid(*form)->RowCount(), 2);
    QCOMPARE(Grid(*form)->Cell(0, 1), QString("696.5431"));
    for (int col : {2, 3, 4}) QVERIFY(Grid(*form)->Cell(col, 1).isEmpty());
    // An edit cannot be taken over with a single line.
    QVERIFY(Grid(*form)->SelectCell(1, 1));
    Grid(*form)->TypeText(1, 1, "50");
    QVERIFY(!form->CanSelectCell(1, 1));
    QVERIFY(answers.errors.isEmpty());
  }

  void badLinesSettingIsShown() {
    WriteIni(ArgonIni().replace("Lines=Ar, I", "Lines=Ar"));
    Answers answers;
    TMainForm form(IniPath().toStdString(), answers.Dialogs());
    QCOMPARE(answers.errors, QStringList{"Wrong source in ini file. "});
  }

  // Leaving a field with a value that is not a positive number keeps the
  // focus in it.
  void fieldValidation_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("real") << "PathEdit"
                          << "0.5" << true;
    QTest::newRow("real with exponent") << "FitDensityEdit"
                                        << "2e16" << true;
    QTest::newRow("real zero") << "TnEdit"
                               << "0" << false;
    QTest::newRow("real negative") << "ToDensityEdit"
                                   << "-1E18" << false;
    QTest::newRow("real with comma") << "PathEdit"
                                     << "0,5" << false;
    QTest::newRow("integer") << "MaxIterEdit"
                             << "20" << true;
    QTest::newRow("integer zero") << "PointsTempEdit"
                                  << "0" << false;
    QTest::newRow("integer as real") << "BoltzCountEdit"
                                     << "2.5" << false;
    QTest::newRow("empty") << "PointsDensityEdit"
                           << "" << false;
  }
  void fieldValidation() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    Answers answers;
    auto form = ArgonForm(answers);
    form->show();
    QApplication::setActiveWindow(form.get());
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    auto* edit = form->findChild<QLineEdit*>(field);
    QVERIFY(edit);
    edit->setFocus(Qt::TabFocusReason);
    edit->setText(text);
    NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->setFocus(Qt::TabFocusReason);
    QCOMPARE(edit->hasFocus(), !accepted);
  }

  void fitAppendsAResultsLine() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    FitNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QStringList report =
        NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n');
    QCOMPARE(report.size(), 2);  // the header and one results line
    // n_1 is the third number: the density the sample was made with.
    const QStringList numbers = report[1].split(' ', Qt::SkipEmptyParts);
    QCOMPARE(numbers.value(2), QString("2.00E+015"));
    QVERIFY(report[1].contains(kSample));
    // Fitted fractions in the table and the densities of the four levels.
    QVERIFY(Grid(*form)->Cell(4, 1) != "0.0000");
    QCOMPARE(Series(form->Charts()->DensityChart(), "DensitySeries")->interface1D()->dataCount(),
             4);
    // Each level with the uncertainty of its log10 density: with n_1 alone
    // fitted, that of n_1.
    auto* densityErrors = qobject_cast<QCPErrorBars*>(
        Series(form->Charts()->DensityChart(), "DensityErrorBars"));
    QVERIFY(densityErrors && densityErrors->visible());
    QCOMPARE(densityErrors->dataCount(), 4);
    const QStringList results = report[1].split(' ', Qt::SkipEmptyParts);
    const double n1 = results.value(2).toDouble(), u = results.value(3).toDouble();
    QVERIFY(n1 > 0 && u > 0);
    QVERIFY(qAbs(densityErrors->data()->at(0).errorPlus / (u / n1 / std::log(10.0)) - 1) < 1e-2);
    // The fit's own log is gone; none is left where all users could see it.
    QVERIFY(!QFile::exists(fDir->filePath("lumora.txt")));
    QVERIFY(QDir(fDir->filePath(QString("lumora-%1").arg(::getuid()))).isEmpty());
    FitNow(*form);
    report = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n');
    QCOMPARE(report.size(), 3);  // the header only once
    Click(NamedWidget<QToolButton>(*form, "SpeedButton1"));
    QVERIFY(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().isEmpty());
  }

  // Refits after the fit: their report follows the results line, the
  // "Uncertainty" page shows every successful refit, and the seed repeats a run.
  // After a fit each line shows how far the fit misses its measured
  // fraction, in the table and in the strip below the chart; before a fit
  // and after an edit there is nothing to show.
  void fitShowsEachLinesResidual() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    TLineGrid* grid = Grid(*form);
    QCOMPARE(grid->Cell(TLineGrid::kResidualColumn, 0), QString("Residual"));
    QCustomPlot* ebf = form->Charts()->EBFChart();
    auto* strip = qobject_cast<QCPGraph*>(Series(ebf, "ResidualSeries"));
    QVERIFY(strip);
    QCOMPARE(strip->dataCount(), 0);
    QVERIFY(grid->Cell(TLineGrid::kResidualColumn, 1).isEmpty());
    FitNow(*form);
    const auto& lines = form->CurrentSession().Table().lines;
    QCOMPARE(strip->dataCount(), static_cast<int>(lines.size()));
    for (size_t k = 0; k < lines.size(); ++k) {
      const double residual = lines[k].G_m - lines[k].G_f;
      QCOMPARE(grid->Cell(TLineGrid::kResidualColumn, static_cast<int>(k) + 1),
               QString::asprintf("%+.4f", residual));
      QCOMPARE(strip->data()->at(static_cast<int>(k))->key, lines[k].AR.WaveLength);
      QVERIFY(qAbs(strip->data()->at(static_cast<int>(k))->value - residual) < 1e-12);
    }
    // The strip keeps the chart's wavelengths.
    ebf->xAxis->setRange(700, 720);
    QCOMPARE(strip->keyAxis()->range().lower, 700.0);
    // The saved table keeps its nine columns.
    answers.saveFile = fDir->filePath("saved.txt");
    Click(NamedWidget<QPushButton>(*form, "Button1"));
    QCOMPARE(ReadAll(answers.saveFile).split('\n')[0].count('\t'), 9);  // tab-led
    // An edit: fitted values, and with them the residuals, are gone.
    TypeIntoCell(grid, 2, "100");
    QVERIFY(grid->Cell(TLineGrid::kResidualColumn, 1).isEmpty());
    QCOMPARE(strip->dataCount(), 0);
  }

  // Clicks a row's check box where the user sees it.
  static void ClickCheckBox(TLineGrid* grid, int row) {
    const QRect cell = grid->visualRect(grid->model()->index(row - 1, 0));
    const int indicator = grid->style()->pixelMetric(QStyle::PM_IndicatorWidth);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      QPoint(cell.left() + 4 + indicator / 2, cell.center().y()));
  }
  // The results line's numbers without its file name.
  static QStringList ResultNumbers(TMainForm& form) {
    const QStringList report =
        NamedWidget<QPlainTextEdit>(form, "ReportsMemo")->toPlainText().split('\n');
    QStringList numbers = report.last().split(' ', Qt::SkipEmptyParts);
    numbers.removeIf([](const QString& n) { return n.endsWith(".txt"); });
    return numbers;
  }

  // A row's check box leaves its line out of the fit exactly as if it had
  // not been measured: the row is greyed and without fractions, Ctrl+Z
  // takes it in again, the saved table says which lines took part, and
  // closing asks before the choice is dropped.
  void uncheckedLineIsLeftOutAsIfNotMeasured() {
    Answers answers;
    auto form = SampleForm(answers, kStrongSample);
    TLineGrid* grid = Grid(*form);
    FitNow(*form);
    const QStringList whole = ResultNumbers(*form);
    ClickCheckBox(grid, 1);
    QVERIFY(!grid->RowIncluded(1));
    QVERIFY(form->CurrentSession().Table().lines[0].Excluded);
    QVERIFY(grid->Cell(3, 1).isEmpty());
    QVERIFY(!grid->Cell(3, 2).isEmpty());
    QVERIFY(form->HasUnsavedEdits());
    FitNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const QStringList leftOut = ResultNumbers(*form);
    QVERIFY(leftOut != whole);
    QVERIFY(grid->Cell(TLineGrid::kResidualColumn, 1).isEmpty());

    // The same measurement without its first line, in a second window.
    QByteArray text = ReadAll(Meas(kStrongSample));
    text = text.mid(text.indexOf('\n') + 1);
    WriteFile(Meas("reduced.txt"), text);
    Answers other;
    auto second = ArgonForm(other);
    Read(*second, other, "reduced.txt");
    FitNow(*second);
    QCOMPARE(ResultNumbers(*second), leftOut);
    second.reset();
    QApplication::setActiveWindow(form.get());

    answers.saveFile = fDir->filePath("table.txt");
    Click(NamedWidget<QPushButton>(*form, "Button1"));
    const QList<QByteArray> saved = ReadAll(answers.saveFile).split('\n');
    QVERIFY(saved[0].endsWith("\tLower state\tIncluded\r"));
    QVERIFY(saved[1].endsWith("\tno\r"));
    QVERIFY(saved[2].endsWith("\tyes\r"));
    QVERIFY(!form->HasUnsavedEdits());

    ClickCheckBox(grid, 1);
    QVERIFY(grid->RowIncluded(1));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(!grid->RowIncluded(1));
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);  // back to the first line left out
    QVERIFY(grid->RowIncluded(1));
    FitNow(*form);
    QCOMPARE(ResultNumbers(*form), whole);
    ClickCheckBox(grid, 2);
    answers.discard = false;
    form->close();
    QVERIFY(form->isVisible());  // the user kept the change
    QCOMPARE(answers.questions.size(), 1);
  }

  // Leaving out all but one line is refused: the box shows the line as it
  // is, and the status bar says why.
  void leavingTooFewLinesIsRefused() {
    Answers answers;
    auto form = SampleForm(answers, kStrongSample);
    TLineGrid* grid = Grid(*form);
    const int rows = grid->RowCount() - 1;
    for (int r = 1; r < rows - 1; ++r) ClickCheckBox(grid, r);
    QCOMPARE(form->CurrentSession().IncludedLineCount(), size_t(2));
    ClickCheckBox(grid, rows - 1);
    QVERIFY(grid->RowIncluded(rows - 1));
    QCOMPARE(form->CurrentSession().IncludedLineCount(), size_t(2));
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains(
        "at least two included lines"));
  }

  // The chosen uncertainty shows in the table and as error bars, weights
  // the fit (its chi-square follows the results line) and gives each
  // line's residual in units of its fraction's uncertainty.
  void chosenUncertaintyWeightsTheFitAndIsShown() {
    Answers answers;
    auto form = SampleForm(answers, "argon_n4e16_noise.txt");
    TLineGrid* grid = Grid(*form);
    auto* source = NamedWidget<QComboBox>(*form, "UncertaintyBox");
    auto* relative = NamedWidget<QLineEdit>(*form, "UncertaintyEdit");
    auto* errorBars = qobject_cast<QCPErrorBars*>(
        Series(form->Charts()->EBFChart(), "MeasuredErrorBars"));
    QVERIFY(errorBars);
    QVERIFY(grid->isColumnHidden(TLineGrid::kUncertaintyColumn));
    QVERIFY(!errorBars->visible());
    QVERIFY(!relative->isEnabled());
    source->setCurrentText("relative");
    QVERIFY(relative->isEnabled());
    relative->setText("0.05");
    emit relative->editingFinished();
    const auto& lines = form->CurrentSession().Table().lines;
    QVERIFY(!grid->isColumnHidden(TLineGrid::kUncertaintyColumn));
    QCOMPARE(grid->Cell(TLineGrid::kUncertaintyColumn, 1),
             QString::number(0.05 * lines[0].Int, 'g', 4));
    QVERIFY(errorBars->visible());
    QCOMPARE(errorBars->dataCount(), static_cast<int>(lines.size()));

    FitNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QVERIFY(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().contains("chi2 = "));
    QVERIFY(!grid->isColumnHidden(TLineGrid::kNormalisedResidualColumn));
    std::vector<double> sigmas;
    for (const lumora::TLineRecord& line : lines) sigmas.push_back(0.05 * line.Int);
    const std::vector<double> u = lumora::MeasuredFractionUncertainties(lines, sigmas);
    for (size_t k = 0; k < lines.size(); ++k)
      QCOMPARE(grid->Cell(TLineGrid::kNormalisedResidualColumn, static_cast<int>(k) + 1),
               u[k] > 0 ? QString::asprintf("%+.2f", (lines[k].G_m - lines[k].G_f) / u[k])
                        : QString());

    // The map takes the same weights: its grid holds chi-square values (an
    // unweighted sum of the fractions' squares is far below 1 here).
    NamedWidget<QLineEdit>(*form, "FromDensityEdit")->setText("1E+016");
    NamedWidget<QLineEdit>(*form, "ToDensityEdit")->setText("1E+017");
    NamedWidget<QLineEdit>(*form, "FromTempEdit")->setText("300");
    NamedWidget<QLineEdit>(*form, "ToTempEdit")->setText("3000");
    NamedWidget<QLineEdit>(*form, "PointsDensityEdit")->setText("21");
    NamedWidget<QLineEdit>(*form, "PointsTempEdit")->setText("11");
    Click(NamedWidget<QPushButton>(*form, "MapBtn"));
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QVERIFY(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")
                ->toPlainText()
                .contains("at the map's minimum"));
    double lowest = std::numeric_limits<double>::infinity();
    for (const auto& row : form->MapGrid())
      for (double value : row) lowest = std::min(lowest, value);
    QVERIFY2(lowest > 1, qPrintable(QString::number(lowest)));

    // The sample has no third column: a fit by it names the line.
    source->setCurrentText("column");
    FitNow(*form);
    QVERIFY2(answers.errors.value(0).contains("has the intensity uncertainty 0"),
             qPrintable(answers.errors.join('\n')));
    source->setCurrentText("none");
    QVERIFY(grid->isColumnHidden(TLineGrid::kUncertaintyColumn));
    QVERIFY(!errorBars->visible());
  }

  void monteCarloFitFillsTheUncertaintyPage() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(4));
    QTest::keyClicks(NamedWidget<QLineEdit>(*form, "MonteCarloRunsEdit"), "40");
    QTest::keyClicks(NamedWidget<QLineEdit>(*form, "MonteCarloNoiseEdit"), "0.02");
    QTest::keyClicks(NamedWidget<QLineEdit>(*form, "MonteCarloSeedEdit"), "7");
    Click(NamedWidget<QCheckBox>(*form, "AkiAccuracyCheckBox"));
    FitNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const QStringList report =
        NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n');
    QVERIFY(report.size() >= 7);
    QVERIFY(report[1].contains(kSample));  // the results line comes first
    // The noise weights the fit: its chi-square follows the results line.
    QVERIFY2(report[2].startsWith("chi2 = "), qPrintable(report[2]));
    QVERIFY2(report[3].startsWith("Monte Carlo: 40 runs") && report[3].contains("seed 7") &&
                 report[3].contains("noise 0.02") && report[3].contains("Aki accuracy"),
             qPrintable(report[3]));
    // After the warnings, if any: the statistics.
    QVERIFY2(!report.filter(QRegularExpression("^log10\\(n_1\\) ")).isEmpty(),
             qPrintable(report.join('\n')));

    QVERIFY(NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(4));
    QCOMPARE(NamedWidget<QTabWidget>(*form, "ChartPages")->currentIndex(), 4);
    QCOMPARE(NamedWidget<QTabWidget>(*form, "ChartPages")->tabText(4), QString("Uncertainty"));
    QCustomPlot* chart = form->Charts()->UncertaintyChart();
    auto* bars = chart->findChild<QCPBars*>("Log10N1Histogram");
    QVERIFY(bars && bars->dataCount() >= 5);
    const int failed = report[2].section(", ", 1, 1).section(' ', 0, 0).toInt();
    double refits = 0;
    for (int i = 0; i < bars->dataCount(); ++i) refits += bars->data()->at(i)->value;
    QCOMPARE(refits, 40.0 - failed);
    // Three percentile lines, within the chart's range, the median between the others.
    std::vector<double> marks;
    for (int i = 0; i < chart->itemCount(); ++i)
      if (auto* line = qobject_cast<QCPItemStraightLine*>(chart->item(i)))
        marks.push_back(line->point1->coords().x());
    QCOMPARE(marks.size(), size_t(3));
    QVERIFY(marks[0] <= marks[1] && marks[1] <= marks[2]);
    QVERIFY(chart->xAxis->range().contains(marks[0]) && chart->xAxis->range().contains(marks[2]));
    QVERIFY(std::abs(marks[1] - std::log10(2e15)) < 0.1);

    // The same seed, the same refits.
    FitNow(*form);
    const QStringList again =
        NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n');
    QCOMPARE(again.mid(again.size() - (report.size() - 2)), report.mid(2));
    // A fit without runs and a new read leave no histogram behind.
    NamedWidget<QLineEdit>(*form, "MonteCarloRunsEdit")->clear();
    FitNow(*form);
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(4));
    QCOMPARE(bars->dataCount(), 0);
  }

  // With T_exc fitted too the page shows its refits beside those of n_1 and
  // the two against each other; the count that failed is on the chart, and
  // a fit stopped by the iteration limit says which limit to raise.
  void monteCarloShowsBothParametersAndItsFailures() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    auto* fitSecond = NamedWidget<QCheckBox>(*form, "FitTempCheckBox");
    fitSecond->setChecked(true);
    QTest::keyClicks(NamedWidget<QLineEdit>(*form, "MonteCarloRunsEdit"), "30");
    QTest::keyClicks(NamedWidget<QLineEdit>(*form, "MonteCarloNoiseEdit"), "0.05");
    QTest::keyClicks(NamedWidget<QLineEdit>(*form, "MonteCarloSeedEdit"), "3");
    FitNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCustomPlot* chart = form->Charts()->UncertaintyChart();
    const auto total = [](QCPBars* bars) {
      double sum = 0;
      for (int i = 0; bars && i < bars->dataCount(); ++i) sum += bars->data()->at(i)->value;
      return sum;
    };
    const double shown = total(chart->findChild<QCPBars*>("Log10N1Histogram"));
    QVERIFY(shown > 0);
    QCOMPARE(total(chart->findChild<QCPBars*>("SecondHistogram")), shown);
    auto* scatter = chart->findChild<QCPGraph*>("RefitScatter");
    QVERIFY(scatter);
    QCOMPARE(scatter->dataCount(), static_cast<int>(shown));
    QCOMPARE(chart->axisRectCount(), 3);
    auto* note = chart->findChild<QCPTextElement*>("RefitFailures");
    QVERIFY(note);
    QVERIFY2(note->text().startsWith(QString("%1 of 30 refits shown").arg(shown)),
             qPrintable(note->text()));
    // Above the charts: it covers no percentile's label, and all its lines show.
    chart->replot();
    for (QCPAxisRect* rect : chart->axisRects())
      QVERIFY(!note->outerRect().intersects(rect->outerRect()));
    QVERIFY(note->outerRect().height() >=
            (note->text().count('\n') + 1) * QFontMetrics(note->font()).height());

    // T_exc fixed again: n_1's histogram alone.
    fitSecond->setChecked(false);
    FitNow(*form);
    QCOMPARE(chart->axisRectCount(), 1);
    QVERIFY(!chart->findChild<QCPBars*>("SecondHistogram"));

    // A base fit cut short by the iteration limit gives no refits and says
    // which limit to raise.
    fitSecond->setChecked(true);
    NamedWidget<QLineEdit>(*form, "MaxIterEdit")->setText("2");
    FitNow(*form);
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].contains("iteration limit of 2: raise the limit (to 100, say)"),
             qPrintable(answers.errors[0]));
  }

  void monteCarloFieldsAreChecked_data() {
    QTest::addColumn<QString>("runs");
    QTest::addColumn<QString>("noise");
    QTest::addColumn<QString>("seed");
    QTest::addColumn<QString>("error");
    QTest::newRow("too few runs") << "9"
                                  << ""
                                  << ""
                                  << "10";
    QTest::newRow("too many runs") << "100001"
                                   << ""
                                   << ""
                                   << "100000";
    QTest::newRow("runs no number") << "many"
                                    << ""
                                    << ""
                                    << "Monte Carlo runs: 'many'";
    QTest::newRow("negative noise") << "20"
                                    << "-0.1"
                                    << ""
                                    << "noise";
    QTest::newRow("noise no number") << "20"
                                     << "2%"
                                     << ""
                                     << "Monte Carlo noise: '2%'";
    QTest::newRow("negative seed") << "20"
                                   << ""
                                   << "-3"
                                   << "seed";
    QTest::newRow("seed no number") << "20"
                                    << ""
                                    << "x1"
                                    << "x1";
  }
  void monteCarloFieldsAreChecked() {
    QFETCH(QString, runs);
    QFETCH(QString, noise);
    QFETCH(QString, seed);
    QFETCH(QString, error);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QLineEdit>(*form, "MonteCarloRunsEdit")->setText(runs);
    NamedWidget<QLineEdit>(*form, "MonteCarloNoiseEdit")->setText(noise);
    NamedWidget<QLineEdit>(*form, "MonteCarloSeedEdit")->setText(seed);
    FitNow(*form);
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].contains(error), qPrintable(answers.errors[0]));
    // Refused before the fit: no results line, no histogram.
    QCOMPARE(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText(), QString());
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(4));
    QVERIFY(NamedWidget<QPushButton>(*form, "FitBtn")->isEnabled());
  }

  // Refits cancelled while they run: no results line, no refits, as before.
  // Refits with nothing to perturb would report a spread of 0: refused.
  void monteCarloWithNothingToPerturbIsRefused() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QLineEdit>(*form, "MonteCarloRunsEdit")->setText("40");
    FitNow(*form);
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].contains("need something to perturb"),
             qPrintable(answers.errors[0]));
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(4));
  }

  void cancelledMonteCarloChangesNothing() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    const double before = form->CurrentSession().Table().lines[0].G_f;
    NamedWidget<QLineEdit>(*form, "MonteCarloRunsEdit")->setText("2000");
    NamedWidget<QLineEdit>(*form, "MonteCarloNoiseEdit")->setText("0.02");
    Click(NamedWidget<QPushButton>(*form, "FitBtn"));
    QVERIFY(form->CommandRunning());
    QTest::mouseClick(NamedWidget<QPushButton>(*form, "CancelBtn"), Qt::LeftButton);
    QVERIFY(Finished(*form, 120000));
    QVERIFY(answers.errors.isEmpty());
    QCOMPARE(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText(), QString());
    QCOMPARE(form->CurrentSession().Table().lines[0].G_f, before);
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(4));
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains("cancelled"));
  }

  // "Read spectrum…": the table from the unflagged lines, the "Spectrum"
  // page with the spectrum, its baseline, a window per line and a label per
  // flagged line, options that come back next time, and "Save lines…"
  // writing a measurement file that reads back to the same table.
  // A recording whose lines show no shift says so in the status line.
  void aSpectrumWithoutAShiftSaysSo() {
    const QString spectrum = Meas("pulse0.recording.csv");
    QVERIFY(QFile::copy(kSourceDir + "/data/measurements/pulse/argon_pulse_t=0000us.recording.csv",
                        spectrum));
    Answers answers;
    auto form = ArgonForm(answers);
    answers.openSpectrum = spectrum;
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const QString status = NamedWidget<QLabel>(*form, "StatusMessage")->text();
    QVERIFY2(status.contains("shift 0.0000 nm (no shift found)."), qPrintable(status));
  }

  void readingASpectrumFillsTheTableAndTheSpectrumPage() {
    const QString spectrum = Meas("argon.recording.csv");
    QVERIFY(QFile::copy(kSourceDir + "/data/measurements/argon_n2e15.recording.csv", spectrum));
    Answers answers;
    auto form = ArgonForm(answers);
    QVERIFY(!NamedWidget<QAction>(*form, "SaveLinesAction")->isEnabled());
    answers.openSpectrum = spectrum;
    answers.spectrumOptions = [](lumora::SpectrumFields f) {
      f.Window = "2.5";
      return f;
    };
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(answers.spectrumFieldsShown.size(), size_t(1));
    QCOMPARE(answers.spectrumFieldsShown[0].Window, std::string("2"));  // the default
    QCOMPARE(Setting("_Spectrum", "Window"), QString("2.5"));

    const auto& integration = form->CurrentSession().Integration();
    QVERIFY(integration.has_value());
    int unflagged = 0, flagged = 0;
    for (const lumora::LineIntegral& line : integration->lines)
      (line.flags ? flagged : unflagged)++;
    QVERIFY(unflagged >= 2 && flagged >= 2);  // 772.3761/772.4207 nm blend
    // Every line in the table: the flagged ones unticked, with their flags
    // and signal-to-noise ratio, and without fractions.
    QCOMPARE(Grid(*form)->RowCount(), unflagged + flagged + 1);
    QVERIFY(!Grid(*form)->isColumnHidden(TLineGrid::kFlagsColumn));
    for (int r = 1; r < Grid(*form)->RowCount(); ++r) {
      const lumora::LineIntegral& line = integration->lines[r - 1];
      QCOMPARE(Grid(*form)->RowIncluded(r), line.flags == 0);
      QCOMPARE(Grid(*form)->Cell(TLineGrid::kFlagsColumn, r),
               QString::fromStdString(lumora::LineFlagText(line.flags)));
      QVERIFY(!Grid(*form)->Cell(TLineGrid::kSignalToNoiseColumn, r).isEmpty());
      QCOMPARE(Grid(*form)->Cell(2, r).isEmpty(), line.flags != 0);
    }
    QCOMPARE(form->windowTitle(), "Lumora - " + spectrum);

    QCOMPARE(NamedWidget<QTabWidget>(*form, "ChartPages")->tabText(5), QString("Spectrum"));
    QVERIFY(NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(5));
    QCOMPARE(NamedWidget<QTabWidget>(*form, "ChartPages")->currentIndex(), 5);
    QCustomPlot* chart = form->Charts()->SpectrumChart();
    QCOMPARE(Series(chart, "SpectrumSeries")->interface1D()->dataCount(),
             int(integration->spectrum.size()));
    QCOMPARE(Series(chart, "BaselineSeries")->interface1D()->dataCount(),
             int(integration->spectrum.size()));
    int windows = 0;
    QStringList labels;
    for (int i = 0; i < chart->itemCount(); ++i) {
      if (qobject_cast<QCPItemRect*>(chart->item(i))) ++windows;
      if (auto* text = qobject_cast<QCPItemText*>(chart->item(i))) labels << text->text();
    }
    QCOMPARE(windows, int(integration->lines.size()));
    QCOMPARE(labels.size(), flagged);
    QVERIFY2(labels.filter("772.3761").value(0).contains("blend"), qPrintable(labels.join(", ")));
    // Zoomable like every chart: the wheel narrows the view, a double-click restores it.
    const QCPRange shown = chart->xAxis->range();
    QWheelEvent wheel(QPointF(chart->width() / 2, chart->height() / 2),
                      chart->mapToGlobal(QPointF(chart->width() / 2, chart->height() / 2)),
                      QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(chart, &wheel);
    QVERIFY(chart->xAxis->range().size() < shown.size());
    QTest::mouseDClick(chart, Qt::LeftButton, {}, chart->rect().center());
    QCOMPARE(chart->xAxis->range(), shown);

    answers.saveFile = Meas("from-spectrum.txt");
    NamedWidget<QAction>(*form, "SaveLinesAction")->trigger();
    const QByteArray saved = ReadAll(answers.saveFile);
    QCOMPARE(saved.count("\r\n"), unflagged);
    std::vector<std::string> rows;
    for (int r = 1; r < Grid(*form)->RowCount(); ++r)
      if (Grid(*form)->RowIncluded(r))
        rows.push_back((Grid(*form)->Cell(0, r) + Grid(*form)->Cell(1, r)).toStdString());
    Read(*form, answers, "from-spectrum.txt");
    QVERIFY(Grid(*form)->isColumnHidden(TLineGrid::kFlagsColumn));
    QVERIFY(answers.errors.isEmpty());
    for (int r = 1; r < Grid(*form)->RowCount(); ++r)
      QCOMPARE((Grid(*form)->Cell(0, r) + Grid(*form)->Cell(1, r)).toStdString(), rows[r - 1]);
    // A measurement read empties the spectrum's views.
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(5));
    QVERIFY(!NamedWidget<QAction>(*form, "SaveLinesAction")->isEnabled());

    // The dialog offers the options last used.
    NamedWidget<QAction>(*form, "ReadSpectrumAction")->trigger();
    QVERIFY(Finished(*form));
    QCOMPARE(answers.spectrumFieldsShown.back().Window, std::string("2.5"));
  }

  // Refused spectra and options: the error is shown, the lines read before stay.
  void refusedSpectrumLeavesTheTableAsItWas_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("error");
    const QByteArray good = ReadAll(kSourceDir + "/data/measurements/argon_n2e15.recording.csv");
    QTest::newRow("window no number") << good << "wide"
                                      << "Half window (FWHM): 'wide'";
    QTest::newRow("window zero") << good << "0"
                                 << "indow";
    QByteArray blue;  // 400-402 nm: no argon line of the base
    for (int i = 0; i < 40; ++i)
      blue +=
          QByteArray::number(400 + i * 0.05, 'f', 2) + "," + QByteArray::number(10 + i % 3) + "\n";
    QTest::newRow("no line of the base") << blue << "2"
                                         << "line";
    QTest::newRow("not a spectrum") << QByteArray("just words\n") << "2"
                                    << "argon.recording.csv";
  }
  void refusedSpectrumLeavesTheTableAsItWas() {
    QFETCH(QByteArray, file);
    QFETCH(QString, window);
    QFETCH(QString, error);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    const int rows = Grid(*form)->RowCount();
    const QString firstIntensity = Grid(*form)->Cell(1, 1);
    WriteFile(Meas("argon.recording.csv"), file);
    answers.openSpectrum = Meas("argon.recording.csv");
    answers.spectrumOptions = [window](lumora::SpectrumFields f) {
      f.Window = window.toStdString();
      return f;
    };
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(Finished(*form));
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].contains(error), qPrintable(answers.errors[0]));
    QCOMPARE(Grid(*form)->RowCount(), rows);
    QCOMPARE(Grid(*form)->Cell(1, 1), firstIntensity);
    QCOMPARE(form->CurrentSession().Table().lines.size(), size_t(rows - 1));
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(5));
    QVERIFY(!NamedWidget<QAction>(*form, "SaveLinesAction")->isEnabled());
    QVERIFY(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn")->isEnabled());
  }

  // A cancelled file or options dialog reads nothing and keeps the options.
  void cancelledSpectrumDialogsReadNothing() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    const int rows = Grid(*form)->RowCount();
    answers.openSpectrum.clear();
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(answers.spectrumFieldsShown.empty());
    answers.openSpectrum = kSourceDir + "/data/measurements/argon_n2e15.recording.csv";
    answers.spectrumOptions = [](lumora::SpectrumFields) { return std::nullopt; };
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QCOMPARE(answers.spectrumFieldsShown.size(), size_t(1));
    QVERIFY(!form->CommandRunning());
    QCOMPARE(Grid(*form)->RowCount(), rows);
    QVERIFY(answers.errors.isEmpty());
    QVERIFY(Setting("_Spectrum", "Window").isEmpty());
  }

  // A spectrum read cancelled while it runs: the table, the "Spectrum" page
  // and the lines "Save lines…" writes stay those of the spectrum before.
  void cancelledSpectrumReadChangesNothing() {
    Answers answers;
    auto form = ArgonForm(answers);
    answers.openSpectrum = kSourceDir + "/data/measurements/argon_n2e15.recording.csv";
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(Finished(*form));
    answers.saveFile = Meas("before.txt");
    NamedWidget<QAction>(*form, "SaveLinesAction")->trigger();
    const QByteArray before = ReadAll(answers.saveFile);
    QVERIFY(!before.isEmpty());
    const QString firstIntensity = Grid(*form)->Cell(1, 1);
    const int points =
        Series(form->Charts()->SpectrumChart(), "SpectrumSeries")->interface1D()->dataCount();

    answers.openSpectrum = kSourceDir + "/data/measurements/argon_n1.5e17_shifted.recording.csv";
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(form->CommandRunning());
    QTest::mouseClick(NamedWidget<QPushButton>(*form, "CancelBtn"), Qt::LeftButton);
    QVERIFY(Finished(*form));
    QVERIFY(answers.errors.isEmpty());
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains("cancelled"));
    QCOMPARE(Grid(*form)->Cell(1, 1), firstIntensity);
    QCOMPARE(Series(form->Charts()->SpectrumChart(), "SpectrumSeries")->interface1D()->dataCount(),
             points);
    answers.saveFile = Meas("after.txt");
    NamedWidget<QAction>(*form, "SaveLinesAction")->trigger();
    QCOMPARE(ReadAll(answers.saveFile), before);
  }

  // The options dialog shows the fields it was given and returns what was typed.
  void spectrumDialogReturnsTheTypedOptions() {
    lumora::SpectrumFields fields;
    fields.Fwhm = "0.3";
    lumora::TSpectrumDialog dialog(fields, nullptr);
    QCOMPARE(dialog.fwhmEdit->text(), QString("0.3"));
    QCOMPARE(dialog.windowEdit->text(), QString("2"));
    dialog.minSnrEdit->clear();
    QTest::keyClicks(dialog.minSnrEdit, "5");
    QTest::keyClicks(dialog.darkFileEdit, "/tmp/dark.csv");
    const lumora::SpectrumFields typed = dialog.Fields();
    QCOMPARE(typed.MinSnr, std::string("5"));
    QCOMPARE(typed.DarkFile, std::string("/tmp/dark.csv"));
    QCOMPARE(typed.Fwhm, std::string("0.3"));
    for (QWidget* w : dialog.findChildren<QWidget*>())
      if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w))
        if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
          QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
  }

  void fitWithBadFieldsShowsTheErrorAndGoesOn() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QLineEdit>(*form, "FitDensityEdit")->setText("0");
    FitNow(*form);
    QCOMPARE(answers.errors.size(), 1);
    NamedWidget<QLineEdit>(*form, "FitDensityEdit")->setText("1E16");
    NamedWidget<QLineEdit>(*form, "TnEdit")->setText("abc");
    FitNow(*form);
    QCOMPARE(answers.errors.size(), 2);
    QVERIFY(answers.errors[1].contains("abc"));
    // The field is named by its caption.
    QVERIFY2(answers.errors[1].contains("Gas Tn (K): "), qPrintable(answers.errors[1]));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    NamedWidget<QLineEdit>(*form, "TnEdit")->setText("300");
    FitNow(*form);
    QCOMPARE(answers.errors.size(), 2);
  }

  // Inputs that make no sense are refused by the field's caption: a map
  // axis from a value to itself, a line analysis over a range factor of 0.
  void senselessMapAndAnalysisInputsAreRefused() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QLineEdit>(*form, "FromDensityEdit")->setText("1E+016");
    NamedWidget<QLineEdit>(*form, "ToDensityEdit")->setText("1E+016");
    Click(NamedWidget<QPushButton>(*form, "MapBtn"));
    QVERIFY(Finished(*form));
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].startsWith("Map density To must differ from its axis's first value"),
             qPrintable(answers.errors[0]));
    answers.input = "700, 850, 1e5, 14, 0";
    Click(NamedWidget<QPushButton>(*form, "AnalyzeBtn"));
    QVERIFY(Finished(*form));
    QCOMPARE(answers.errors.size(), 2);
    QCOMPARE(answers.errors[1], QString("N range factor must be greater than 0, not \"0\"."));
  }

  // The fit does not read the map's fields: empty or wrong ones leave it be.
  void fitRunsWithTheMapFieldsEmpty() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    for (QLineEdit* edit : {NamedWidget<QLineEdit>(*form, "PointsTempEdit"),
                            NamedWidget<QLineEdit>(*form, "PointsDensityEdit")})
      edit->setText("");
    FitNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n').size(),
             2);
    QVERIFY(form->MapGrid().empty());
    NamedWidget<QLineEdit>(*form, "PointsDensityEdit")->setText("x");
    FitNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    // The map names the field that is wrong.
    Click(NamedWidget<QPushButton>(*form, "MapBtn"));
    QVERIFY(Finished(*form));
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].contains("Map density Points: "), qPrintable(answers.errors[0]));
  }

  void mapFillsTheGridAndWritesTheMapFile() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    MapWithFile(*form, "6", "5");
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(form->MapGrid().size(), size_t(5));
    QCOMPARE(form->MapGrid()[0].size(), size_t(6));
    QCOMPARE(form->LastMapRange().x0, 15.0);
    QCOMPARE(form->LastMapRange().dx, 0.5);

    auto* colourMap = form->Charts()->MapPlot()->findChild<QCPColorMap*>();
    QVERIFY(colourMap);
    QCOMPARE(colourMap->data()->keySize(), 6);
    QCOMPARE(colourMap->data()->valueSize(), 5);
    for (int i = 0; i < 5; ++i)
      for (int j = 0; j < 6; ++j) QCOMPARE(colourMap->data()->cell(j, i), form->MapGrid()[i][j]);
    QCOMPARE(form->MapValueAt(15.5, 1000 + 2 * 9800), form->MapGrid()[2][1]);
    QCOMPARE(form->Charts()->MapPlot()->xAxis->label(), QString("Log10 n_1 [m-3]"));

    const QList<QByteArray> lines = ReadAll(Meas("Maps/" + kSample + "_map.txt")).split('\n');
    QCOMPARE(lines.size(), 7);  // six lines, each ended
    QCOMPARE(lines[0], QByteArray("#1E+015 1E+018 6 1000 50000 5 0 1.000 300 4\r"));
    for (int i = 1; i <= 5; ++i) {
      QVERIFY(lines[i].endsWith(" \r"));
      QCOMPARE(lines[i].trimmed().split(' ').size(), 6);
    }
    QStringList report =
        NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n');
    QCOMPARE(report.size(), 2);
    QVERIFY(report[1].contains(kSample));
  }

  void countChangeIsUsedAtOnceByTheMapFile() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QLineEdit>(*form, "BoltzCountEdit")->setText("3");
    MapWithFile(*form, "3", "2");
    QVERIFY(answers.errors.isEmpty());
    const QByteArray header = ReadAll(Meas("Maps/" + kSample + "_map.txt")).split('\r')[0];
    QVERIFY2(header.endsWith(" 3"), header.constData());
    QCOMPARE(Series(form->Charts()->DensityChart(), "DensitySeries")->interface1D()->dataCount(),
             3);
  }

  void firstLevelsDistributionLocksTheCheckBox() {
    Answers answers;
    auto form = ArgonForm(answers);
    NamedWidget<QLineEdit>(*form, "BoltzCountEdit")->setText("2");
    NamedWidget<QComboBox>(*form, "DistributionComboBox")->setCurrentIndex(1);
    QCOMPARE(NamedWidget<QLineEdit>(*form, "BoltzCountEdit")->text(), QString("4"));
    QVERIFY(NamedWidget<QCheckBox>(*form, "FitTempCheckBox")->isChecked());
    QVERIFY(!NamedWidget<QCheckBox>(*form, "FitTempCheckBox")->isEnabled());
    QCOMPARE(NamedWidget<QCheckBox>(*form, "FitTempCheckBox")->text(),
             QString("Fit 1s2/4 log10 N"));
    QCOMPARE(form->CurrentFields().Distribution, 1);
    NamedWidget<QComboBox>(*form, "DistributionComboBox")->setCurrentIndex(0);
    QVERIFY(!NamedWidget<QCheckBox>(*form, "FitTempCheckBox")->isChecked());
    QVERIFY(NamedWidget<QCheckBox>(*form, "FitTempCheckBox")->isEnabled());
    QCOMPARE(NamedWidget<QCheckBox>(*form, "FitTempCheckBox")->text(), QString("Fit T_exc (K)"));
    QCOMPARE(NamedWidget<QLineEdit>(*form, "BoltzCountEdit")->text(), QString("4"));
  }

  // Under "1s levels" the second parameter is the 1s2/4 density ratio: its
  // field starts from a ratio, the map page and the results name it, and
  // T_exc comes back with "Boltzmann".
  void firstLevelsSpeakOfTheRatioNotOfATemperature() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    auto* second = NamedWidget<QLineEdit>(*form, "FitTempEdit");
    const QString temperature = second->text();
    QVERIFY(!temperature.isEmpty());
    auto* distribution = NamedWidget<QComboBox>(*form, "DistributionComboBox");
    distribution->setCurrentIndex(1);
    QCOMPARE(second->text(), QString(lumora::FitPanel::kFirstLevelsStart));
    for (const char* name : {"FitTempCheckBox", "FitTempEdit", "FitBtn"}) {
      const QString tip = NamedWidget<QWidget>(*form, name)->toolTip();
      QVERIFY2(tip.contains("1s2") && !tip.contains("T_exc"), qPrintable(tip));
    }
    const QString mapCaption = NamedWidget<QLabel>(*form, "MapSecondLabel")->text();
    QVERIFY2(mapCaption.contains("1s2/4") && !mapCaption.contains("emperature"),
             qPrintable(mapCaption));
    QVERIFY(!form->Charts()->MapPlot()->yAxis->label().contains("emperature"));
    FitNow(*form);
    const QString report = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText();
    QVERIFY2(report.contains("1s2/4 u(1s)") && !report.contains("T/K"), qPrintable(report));
    QVERIFY(answers.errors.isEmpty());

    // A fit under Boltzmann first: the ratio's line comes under a header
    // of its own, and after Clear the next line has its header again.
    auto* memo = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo");
    distribution->setCurrentIndex(0);
    FitNow(*form);
    distribution->setCurrentIndex(1);
    FitNow(*form);
    QStringList lines = memo->toPlainText().split('\n');
    QVERIFY2(lines.filter("n_tot/m-3").last().contains("1s2/4 u(1s)"), qPrintable(lines.join('\n')));
    QVERIFY(lines.lastIndexOf(lines.filter("n_tot/m-3").last()) >
            lines.lastIndexOf(lines.filter("T/K").last()));
    Click(NamedWidget<QToolButton>(*form, "SpeedButton1"));
    FitNow(*form);
    lines = memo->toPlainText().split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.value(0).startsWith("n_tot/m-3") && lines.value(0).contains("1s2/4 u(1s)"),
             qPrintable(lines.join('\n')));
    QVERIFY(answers.errors.isEmpty());

    distribution->setCurrentIndex(0);
    QCOMPARE(second->text(), temperature);
    QVERIFY(NamedWidget<QLabel>(*form, "MapSecondLabel")->text().contains("T_exc"));
    // The temperature, not the ratio, is the start kept for the next session.
    distribution->setCurrentIndex(1);
    form->close();
    QCOMPARE(Setting("_Fit", "FromTemperature").toDouble(), temperature.toDouble());
  }

  void closingWritesTheSettingsBack() {
    Answers answers;
    auto form = ArgonForm(answers);
    NamedWidget<QLineEdit>(*form, "TnEdit")->setText("350");
    NamedWidget<QLineEdit>(*form, "PathEdit")->setText("0.5");
    NamedWidget<QLineEdit>(*form, "PointsDensityEdit")->setText("20");
    NamedWidget<QLineEdit>(*form, "FromDensityEdit")->setText("2E+015");
    NamedWidget<QLineEdit>(*form, "MaxIterEdit")->setText("30");
    NamedWidget<QLineEdit>(*form, "BoltzCountEdit")->setText("3");
    form->close();
    QVERIFY(answers.errors.isEmpty());
    QCOMPARE(Setting("_Parameters", "Tn"), QString("350"));
    QCOMPARE(Setting("_Parameters", "Path"), QString("0.5"));
    QCOMPARE(Setting("_Parameters", "DefaultAtom"), QString("0"));
    QCOMPARE(Setting("_Iteration", "DensityPoints"), QString("20"));
    QCOMPARE(Setting("_Iteration", "FromDensity"), QString("2E15"));
    QCOMPARE(Setting("_Iteration", "ToTemperature"), QString("50000"));
    QCOMPARE(Setting("_Fit", "FromDensity"), QString("1E16"));
    QCOMPARE(Setting("_Fit", "Count"), QString("30"));
    QCOMPARE(Setting("Argon", "Boltzmax"), QString("3"));
  }

  void closingStopsAtAFieldThatIsNoNumber() {
    Answers answers;
    auto form = ArgonForm(answers);
    NamedWidget<QLineEdit>(*form, "TnEdit")->setText("350");
    NamedWidget<QLineEdit>(*form, "PathEdit")->setText("abc");
    NamedWidget<QLineEdit>(*form, "BoltzCountEdit")->setText("3");
    form->close();
    QCOMPARE(answers.errors.size(), 1);
    QCOMPARE(Setting("_Parameters", "Tn"), QString("350"));
    QCOMPARE(Setting("_Parameters", "Path"), QString("1"));
    QCOMPARE(Setting("Argon", "Boltzmax"), QString("4"));
  }

  void closingWithoutAnElementWritesNoElementSection() {
    WriteIni("[_Parameters]\r\nDefaultAtom=5\r\n");
    Answers answers;
    TMainForm form(IniPath().toStdString(), answers.Dialogs());
    form.close();
    QCOMPARE(Setting("_Parameters", "DefaultAtom"), QString("-1"));
    const QByteArray text = ReadAll(IniPath());
    QVERIFY2(!text.contains("[]") && !text.contains("Boltzmax"), text.constData());
  }

  void lineAnalysisFillsTheAnalysisChart() {
    Answers answers;
    auto form = ArgonForm(answers);
    answers.input = "600 1000 1e3 100 50";  // blanks separate like commas
    AnalyzeNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(answers.inputTexts, QStringList{"200, 950, 1e3, 100, 50"});
    QCOMPARE(form->AnalysisParameters(), std::string("600 1000 1e3 100 50"));
    QVERIFY(Grid(*form)->RowCount() > 2);
    QVERIFY(NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(3));
    QCustomPlot* ebf = form->Charts()->EBFChart();
    QCOMPARE(Series(ebf, "Series_m")->name(), QString("starting density"));
    QCOMPARE(Series(ebf, "Series_f")->name(), QString("final density"));
    QCPAbstractPlottable* pairs = Series(form->Charts()->AnalyzeChart(), "AnalysisSeries");
    QVERIFY(pairs->interface1D()->dataCount() > 0);
    QCOMPARE(pairs->name(), QString::fromUtf8("λ x R dependence"));
    // The fixed pair is not among the argon lines: the inspector stays hidden.
    QVERIFY(!form->PairInspector()->isVisible());
    QCOMPARE(form->PairInspector()->windowTitle(), QString("Pair Inspector"));

    const bool marks = form->Charts()->AnalysisMarksVisible();
    QCustomPlot* chart = form->Charts()->AnalyzeChart();
    chart->replot();
    const QPoint legend = chart->legend->item(0)->outerRect().center();
    QTest::mouseClick(chart, Qt::LeftButton, {}, legend);
    QCOMPARE(form->Charts()->AnalysisMarksVisible(), !marks);
    QTest::mouseClick(chart, Qt::LeftButton, {}, legend);
    QCOMPARE(form->Charts()->AnalysisMarksVisible(), marks);

    // A later recalculation empties and disables the page again.
    FitNow(*form);
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(3));
    QCOMPARE(pairs->interface1D()->dataCount(), 0);
  }

  // The analysis steps through the levels on a determinate bar.
  // The line analysis asks for its five numbers in captioned fields and
  // gives back the comma text the command reads, as typed.
  void lineAnalysisDialogHasAFieldPerNumber() {
    lumora::TAnalysisDialog dialog("Input simulation parameters", "200, 950 1e3,100, 50", nullptr);
    const QStringList names{"AnalysisFromEdit", "AnalysisToEdit", "AnalysisMinAEdit",
                            "AnalysisMaxEEdit", "AnalysisRangeEdit"};
    const QStringList values{"200", "950", "1e3", "100", "50"};
    auto* form = qobject_cast<QFormLayout*>(dialog.layout());
    QVERIFY(form);
    QStringList captions;
    for (int k = 0; k < names.size(); ++k) {
      auto* field = dialog.findChild<QLineEdit*>(names[k]);
      QVERIFY(field);
      QCOMPARE(field->text(), values[k]);
      captions << qobject_cast<QLabel*>(form->labelForField(field))->text();
    }
    QCOMPARE(captions, (QStringList{"From (nm)", "To (nm)", "Minimum A (s^-1)", "Maximum E (eV)",
                                    "Range factor"}));
    QCOMPARE(dialog.Text(), QString("200, 950, 1e3, 100, 50"));
    QTest::keyClicks(dialog.findChild<QLineEdit*>("AnalysisRangeEdit"), "0");
    QCOMPARE(dialog.Text(), QString("200, 950, 1e3, 100, 500"));
    // Four items: the fifth field stays empty, and the command will say so.
    lumora::TAnalysisDialog four("x", "200, 950, 1e3, 100", nullptr);
    QCOMPARE(four.findChild<QLineEdit*>("AnalysisRangeEdit")->text(), QString());
  }

  void lineAnalysisShowsItsProgress() {
    Answers answers;
    auto form = ArgonForm(answers);
    answers.input = "600, 1000, 1e3, 100, 50";
    AnalyzeNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const int steps = static_cast<int>(form->CurrentSession().Table().levels.size()) + 1;
    QCOMPARE(NamedWidget<QProgressBar>(*form, "CommandProgress")->maximum(), steps);
    QCOMPARE(NamedWidget<QProgressBar>(*form, "CommandProgress")->value(), steps);
    QVERIFY(!NamedWidget<QProgressBar>(*form, "CommandProgress")->isVisible());
  }

  void lineAnalysisInputThatIsNotFiveNumbers() {
    Answers answers;
    auto form = ArgonForm(answers);
    answers.input = "600, 1000, 1e3, 100";
    AnalyzeNow(*form);
    QCOMPARE(answers.errors.size(), 1);
    QCOMPARE(form->AnalysisParameters(), std::string("200, 950, 1e3, 100, 50"));
    answers.cancelInput = true;  // a cancelled box runs nothing
    AnalyzeNow(*form);
    QCOMPARE(answers.inputTexts.last(), QString("200, 950, 1e3, 100, 50"));
    QCOMPARE(answers.errors.size(), 1);
    QCOMPARE(Grid(*form)->RowCount(), 1);
  }

  // The fixed pair 255.1349/474.5586 nm: two argon lines of one upper level
  // given those wavelengths in a copy of the database.
  void lineAnalysisShowsTheFixedPairsCurve() {
    const QString db = fDir->filePath("db");
    QVERIFY(QDir().mkpath(db));
    QVERIFY(QFile::copy(kSourceDir + "/data/database/Ar_I_levels.txt", db + "/Ar_I_levels.txt"));
    QByteArray lines = ReadAll(kSourceDir + "/data/database/Ar_I.txt");
    QVERIFY(lines.contains(" 667.7282 ") && lines.contains(" 750.3869 "));
    lines.replace(" 667.7282 ", " 255.1349 ").replace(" 750.3869 ", " 474.5586 ");
    WriteFile(db + "/Ar_I.txt", lines);
    QByteArray ini = ArgonIni();
    ini.replace((kSourceDir + "/data/database").toLocal8Bit(), db.toLocal8Bit());
    WriteIni(ini);
    Answers answers;
    TMainForm form(IniPath().toStdString(), answers.Dialogs());
    form.show();
    answers.input = "200, 1000, 1e3, 100, 50";
    AnalyzeNow(form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));

    lumora::TPairInspectorForm* inspector = form.PairInspector();
    QVERIFY(inspector->isVisible());
    QCOMPARE(inspector->windowTitle(), QString("R(N/N0) for line ratio 255.1349/474.5586"));
    auto* curve = inspector->Chart1()->findChild<QCPGraph*>("PRDSeries");
    QVERIFY(curve && curve->dataCount() > 1);
    // Densities relative to the start: from 1 up to the range factor.
    QVERIFY(qAbs(curve->data()->constBegin()->key - 1) < 1e-9);
    QVERIFY(qAbs((curve->data()->constEnd() - 1)->key - 50) < 1e-6);
    // Above them the absolute n_1 (the fit's start, 1E+016), both on log scales.
    QCustomPlot* chart = inspector->Chart1();
    QVERIFY(chart->xAxis2->visible());
    QCOMPARE(chart->xAxis2->label(), QString("Density n_1 (m^-3)"));
    QCOMPARE(chart->xAxis->scaleType(), QCPAxis::stLogarithmic);
    QCOMPARE(chart->xAxis2->scaleType(), QCPAxis::stLogarithmic);
    QVERIFY(qAbs(chart->xAxis2->range().lower / chart->xAxis->range().lower / 1e16 - 1) < 1e-9);
    QVERIFY(qAbs(chart->xAxis2->range().upper / chart->xAxis->range().upper / 1e16 - 1) < 1e-9);
    // Its context menu copies its data.
    QCOMPARE(chart->contextMenuPolicy(), Qt::CustomContextMenu);
    emit chart->customContextMenuRequested(QPoint(20, 20));
    auto* menu = chart->findChild<QMenu*>("ChartMenu");
    QVERIFY(menu);
    menu->actions().last()->trigger();
    QCOMPARE(QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts),
             lumora::ChartDataCsv(chart));
    menu->close();
    // Zoomed into part of a decade, every tick keeps a label of its own.
    chart->xAxis->setRange(11, 19);
    chart->replot();
    for (QCPAxis* axis : {chart->xAxis, chart->xAxis2}) {
      const QVector<QString> labels = axis->tickVectorLabels();
      QVERIFY(labels.size() >= 2);
      const QSet<QString> distinct(labels.begin(), labels.end());
      QVERIFY2(distinct.size() == labels.size(), qPrintable(QStringList(labels).join(" | ")));
    }
  }

  void saveTableWritesTabLedRows() {
    Answers answers;
    auto form = SampleForm(answers, kStrongSample);
    answers.saveFile = fDir->filePath("table.txt");
    Click(NamedWidget<QPushButton>(*form, "Button1"));
    const QList<QByteArray> lines = ReadAll(answers.saveFile).split('\n');
    QCOMPARE(lines.size(), 20);  // header, 18 lines, and the empty end
    QCOMPARE(lines[0], QByteArray("#\tWavelength\tIntensity\tBF free\tBF meas\tBF fit\tUpper energy"
                                  "\tUpper state\tLower energy\tLower state\r"));
    for (int i = 1; i <= 18; ++i) {
      QVERIFY(lines[i].startsWith('\t'));
      QCOMPARE(lines[i].count('\t'), 9);
    }
    QVERIFY(lines[1].startsWith("\t696.5431\t907.31349\t"));
  }

  void saveReportWritesItsLines() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    FitNow(*form);
    answers.saveFile = fDir->filePath("report.txt");
    Click(NamedWidget<QPushButton>(*form, "SaveButton"));
    const QByteArray text = ReadAll(answers.saveFile);
    QCOMPARE(text.count("\r\n"), 2);
    QVERIFY(text.endsWith("\r\n"));
    answers.saveFile = fDir->filePath("no/such/folder/report.txt");
    Click(NamedWidget<QPushButton>(*form, "SaveButton"));
    QCOMPARE(answers.errors.size(), 1);
  }

  // Each chart reads the pointer out in its own axes and units.
  void pointerReadOuts() {
    Answers answers;
    auto form = ArgonForm(answers);
    form->OnPointerOverFractions(696.5431, 0.25);
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusPanel1")->text(),
             QString("wavelength 696.54310  -  EBF  0.250"));
    form->OnPointerOverMap(16.25, 1234.4);
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusPanel1")->text(),
             QString("n_1 1.778e+16 m^-3 (log 16.250)  -  T_exc 1234 K"));

    QCustomPlot* densities = form->Charts()->DensityChart();
    densities->xAxis->setRange(11, 13);
    densities->yAxis->setRange(14, 18);
    densities->resize(400, 300);
    densities->replot();
    MovePointer(densities, {qRound(densities->xAxis->coordToPixel(12)),
                            qRound(densities->yAxis->coordToPixel(16))});
    const QString text = NamedWidget<QLabel>(*form, "StatusPanel1")->text();
    QVERIFY2(text.startsWith("energy 12.0") && text.contains(" eV") &&
                 text.contains("n 1.0") && text.contains("e+16 m^-3 (log 16.0"),
             qPrintable(text));
  }

  // Over the analysis chart the read-out gives R and the lower wavelength,
  // and names the pair of the point under the pointer.
  void analysisPointerNamesThePairUnderIt() {
    QWidget pages;
    lumora::TResultCharts charts(&pages);
    auto* plot = pages.findChild<QCustomPlot*>("AnalyzeChart");
    plot->setParent(nullptr);
    plot->resize(600, 400);
    plot->show();
    charts.ShowAnalysis({{5, 700, "700.0000/800.0000"}, {1, 800, "800.0000/900.0000"}}, false);
    plot->replot();
    QSignalSpy over(&charts, &lumora::TResultCharts::PointerOverAnalysis);
    const QPoint onSecond(qRound(plot->xAxis->coordToPixel(1)),
                          qRound(plot->yAxis->coordToPixel(800)));
    MovePointer(plot, onSecond + QPoint(3, -2));
    QCOMPARE(over.size(), 1);
    QCOMPARE(over.last().at(2).toString(), QString("800.0000/900.0000"));
    MovePointer(plot, onSecond + QPoint(60, 60));
    QCOMPARE(over.last().at(2).toString(), QString());
    QCOMPARE(lumora::AnalysisChartReadout(1, 800, "800.0000/900.0000"),
             QString("R 1.0000  -  lower wavelength 800.000 nm  -  pair 800.0000/900.0000 nm"));
    plot->setParent(&pages);
  }

  // ---- results that belong to the lines shown ----------------------------

  // Each direction of each map range: every colour-map cell holds the grid
  // value of the point it is drawn at, and the read-out shows that value.
  void mapIsDrawnWhereItsValuesBelong_data() {
    QTest::addColumn<QString>("fromDensity");
    QTest::addColumn<QString>("toDensity");
    QTest::addColumn<QString>("fromTemperature");
    QTest::addColumn<QString>("toTemperature");
    QTest::newRow("both upwards") << "1E+015"
                                  << "1E+018"
                                  << "1000"
                                  << "50000";
    QTest::newRow("density downwards") << "1E+018"
                                       << "1E+015"
                                       << "1000"
                                       << "50000";
    QTest::newRow("temperature downwards") << "1E+015"
                                           << "1E+018"
                                           << "50000"
                                           << "1000";
    QTest::newRow("both downwards") << "1E+018"
                                    << "1E+015"
                                    << "50000"
                                    << "1000";
  }
  void mapIsDrawnWhereItsValuesBelong() {
    QFETCH(QString, fromDensity);
    QFETCH(QString, toDensity);
    QFETCH(QString, fromTemperature);
    QFETCH(QString, toTemperature);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QLineEdit>(*form, "FromDensityEdit")->setText(fromDensity);
    NamedWidget<QLineEdit>(*form, "ToDensityEdit")->setText(toDensity);
    NamedWidget<QLineEdit>(*form, "FromTempEdit")->setText(fromTemperature);
    NamedWidget<QLineEdit>(*form, "ToTempEdit")->setText(toTemperature);
    MapWithFile(*form, "7", "5");
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const lumora::MapRange r = form->LastMapRange();
    const lumora::ResidualGrid& grid = form->MapGrid();
    QCOMPARE(grid.size(), size_t(5));
    auto* colourMap = form->Charts()->MapPlot()->findChild<QCPColorMap*>();
    for (int i = 0; i < 5; ++i)
      for (int j = 0; j < 7; ++j) {
        const double x = r.x0 + j * r.dx, y = r.y0 + i * r.dy;
        int key = -1, value = -1;
        colourMap->data()->coordToCell(x, y, &key, &value);
        QCOMPARE(colourMap->data()->cell(key, value), grid[i][j]);
        form->OnPointerOverMap(x, y);
        QVERIFY2(NamedWidget<QLabel>(*form, "StatusPanel1")
                     ->text()
                     .endsWith(QString::fromStdString(lumora::Format("RSS %.4e", grid[i][j]))),
                 qPrintable(NamedWidget<QLabel>(*form, "StatusPanel1")->text()));
      }
    // The valley lies where the report puts n_1: near the sample's 2E+015.
    double lowest = 1e300;
    int lowestKey = 0, lowestValue = 0;
    for (int k = 0; k < 7; ++k)
      for (int v = 0; v < 5; ++v)
        if (colourMap->data()->cell(k, v) < lowest) {
          lowest = colourMap->data()->cell(k, v);
          lowestKey = k;
          lowestValue = v;
        }
    double x = 0, y = 0;
    colourMap->data()->cellToCoord(lowestKey, lowestValue, &x, &y);
    const QStringList numbers = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")
                                    ->toPlainText()
                                    .split('\n')
                                    .last()
                                    .split(' ', Qt::SkipEmptyParts);
    QVERIFY(qAbs(x - std::log10(numbers.value(2).toDouble())) < 0.005);  // "%.2E" of n_1
    QCOMPARE(NamedWidget<QTabWidget>(*form, "ChartPages")->currentIndex(),
             1);  // the "Sum" page shows it
  }

  // The iso-lines of the 68 % and 95 % regions lie on the map, around its
  // valley, whichever way the ranges run; a fit takes them away.
  void mapDrawsTheConfidenceContours_data() {
    QTest::addColumn<QString>("fromDensity");
    QTest::addColumn<QString>("toDensity");
    QTest::addColumn<QString>("fromTemperature");
    QTest::addColumn<QString>("toTemperature");
    QTest::newRow("both upwards") << "1E+016"
                                  << "1E+017"
                                  << "1000"
                                  << "30000";
    QTest::newRow("density downwards") << "1E+017"
                                       << "1E+016"
                                       << "1000"
                                       << "30000";
    QTest::newRow("temperature downwards") << "1E+016"
                                           << "1E+017"
                                           << "30000"
                                           << "1000";
    QTest::newRow("both downwards") << "1E+017"
                                    << "1E+016"
                                    << "30000"
                                    << "1000";
  }
  void mapDrawsTheConfidenceContours() {
    QFETCH(QString, fromDensity);
    QFETCH(QString, toDensity);
    QFETCH(QString, fromTemperature);
    QFETCH(QString, toTemperature);
    Answers answers;
    auto form = SampleForm(answers, "argon_n4e16_noise.txt");
    NamedWidget<QLineEdit>(*form, "FromDensityEdit")->setText(fromDensity);
    NamedWidget<QLineEdit>(*form, "ToDensityEdit")->setText(toDensity);
    NamedWidget<QLineEdit>(*form, "FromTempEdit")->setText(fromTemperature);
    NamedWidget<QLineEdit>(*form, "ToTempEdit")->setText(toTemperature);
    NamedWidget<QLineEdit>(*form, "PointsDensityEdit")->setText("31");
    NamedWidget<QLineEdit>(*form, "PointsTempEdit")->setText("21");
    Click(NamedWidget<QPushButton>(*form, "MapBtn"));
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const lumora::MapRange r = form->LastMapRange();
    const double xLow = std::min(r.x0, r.x1), xHigh = std::max(r.x0, r.x1);
    const double yLow = std::min(r.y0, r.y1), yHigh = std::max(r.y0, r.y1);
    QCustomPlot* plot = form->Charts()->MapPlot();
    QRectF boxes[2];
    int k = 0;
    for (const char* name : {"Contour68", "Contour95"}) {
      auto* curve = plot->findChild<QCPCurve*>(name);
      QVERIFY2(curve, name);
      int points = 0;
      double left = 1e300, right = -1e300, bottom = 1e300, top = -1e300;
      for (auto p = curve->data()->constBegin(); p != curve->data()->constEnd(); ++p) {
        if (std::isnan(p->key)) continue;
        ++points;
        QVERIFY2(p->key >= xLow - 1e-9 && p->key <= xHigh + 1e-9, name);
        QVERIFY2(p->value >= yLow - 1e-6 && p->value <= yHigh + 1e-6, name);
        left = std::min(left, p->key);
        right = std::max(right, p->key);
        bottom = std::min(bottom, p->value);
        top = std::max(top, p->value);
      }
      QVERIFY2(points >= 2, name);
      boxes[k++] = QRectF(QPointF(left, bottom), QPointF(right, top));
    }
    // The 95 % region holds the 68 % one, and both hold the optimum a fit
    // of both parameters finds (the region's own anchor).
    const QRectF inner = boxes[0].adjusted(-1e-9, -1e-6, 1e-9, 1e-6);
    const QRectF outer = boxes[1].adjusted(-1e-9, -1e-6, 1e-9, 1e-6);
    QVERIFY(outer.contains(inner));
    lumora::FitRequest fit;
    fit.target.start.log10N1 = 16.6L;
    fit.target.start.second = 1100;
    fit.target.start.gasTemperature = 300;
    fit.target.start.path = 1;
    fit.target.start.mass = 39.948L * lumora::kAtomicMassUnit;
    fit.target.start.levelCount = 4;
    fit.target.fitSecond = true;
    fit.solver.iterationLimit = 300;
    fit.report.enabled = false;
    const lumora::FitResult optimum = form->CurrentSession().Fit(fit);
    QVERIFY(inner.contains(QPointF(static_cast<double>(optimum.fitted.log10N1),
                                   std::max(static_cast<double>(optimum.fitted.second), yLow))));

    FitNow(*form);
    QVERIFY(!plot->findChild<QCPCurve*>("Contour68"));
  }

  // A read that fails half-way and a one-line file: the table shows no
  // fractions, and fit and map refuse with the reason.
  void commandsRefuseWithoutTwoLines_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("readFails");
    QTest::newRow("bad number in the second line")
        << QByteArray("696.5431\t100\r\n706.7218\tabc\r\n") << 1 << true;
    QTest::newRow("one line") << QByteArray("696.5431\t100\r\n") << 2 << false;
  }
  void commandsRefuseWithoutTwoLines() {
    QFETCH(QByteArray, file);
    QFETCH(int, rows);
    QFETCH(bool, readFails);
    WriteFile(Meas("short.txt"), file);
    Answers answers;
    auto form = ArgonForm(answers);
    Read(*form, answers, "short.txt");
    QCOMPARE(answers.errors.size(), readFails ? 1 : 0);
    QCOMPARE(Grid(*form)->RowCount(), rows);
    QCOMPARE(form->CurrentSession().Table().lines.size(), size_t(rows - 1));
    for (QAbstractButton* command :
         {static_cast<QAbstractButton*>(NamedWidget<QPushButton>(*form, "FitBtn")),
          static_cast<QAbstractButton*>(NamedWidget<QPushButton>(*form, "MapBtn"))}) {
      answers.errors.clear();
      Click(command);
      QVERIFY(Finished(*form));
      QCOMPARE(answers.errors.size(), 1);
      QVERIFY2(answers.errors[0].contains("at least two lines"), qPrintable(answers.errors[0]));
    }
    QVERIFY(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().isEmpty());
  }

  // Typing into the cell editor as a user does: a refused text shows the
  // value in use and why; Enter takes a number over.
  void refusedEditShowsWhyAndTheValueInUse() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    TLineGrid* grid = Grid(*form);
    const QString before = grid->Cell(1, 2);
    const double value = form->CurrentSession().Table().lines[1].Int;
    TypeIntoCell(grid, 2, "abc");
    QCOMPARE(grid->Cell(1, 2), before);
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, value);
    QVERIFY2(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains("refused"),
             qPrintable(NamedWidget<QLabel>(*form, "StatusMessage")->text()));
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains(before));
    // The refusal names the line, and the number's message the column.
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")
                ->text()
                .startsWith("Intensity \"abc\" of the line " + grid->Cell(0, 2) + " nm refused"));
    QVERIFY(answers.errors.isEmpty());

    const QString measuredBefore = grid->Cell(3, 2);
    TypeIntoCell(grid, 2, "12345");
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, 12345.0);
    QCOMPARE(grid->Cell(1, 2), QString("12345"));
    QVERIFY(grid->Cell(3, 2) != measuredBefore);  // recalculated at once
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")->text().isEmpty());

    // Ctrl+Z in the table puts the value back.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, value);
    QCOMPARE(grid->Cell(1, 2), before);
    QCOMPARE(grid->Cell(3, 2), measuredBefore);
  }

  // A read that fails (a bad file, a recent file deleted since) keeps the
  // table, the results and the title of the file shown; a read that works
  // leaves no view of the old data.
  void failedReadKeepsTheTableNewReadEmptiesTheOldViews() {
    WriteFile(Meas("bad.txt"), "696.5431\t100\r\n706.7218\tabc\r\n");
    CopySample(kSample);
    Answers answers;
    auto form = SampleForm(answers, kStrongSample);
    Read(*form, answers, kSample);  // the strong sample is a recent file now
    FitNow(*form);
    MapWithFile(*form, "4", "3");
    QCustomPlot* ebf = form->Charts()->EBFChart();
    auto* colourMap = form->Charts()->MapPlot()->findChild<QCPColorMap*>();
    const auto dataCount = [](QCustomPlot* plot, const char* name) {
      return Series(plot, name)->interface1D()->dataCount();
    };
    const auto expectKept = [&](const QString& why) {
      QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kSample));
      QCOMPARE(Grid(*form)->RowCount(), 28);
      QCOMPARE(form->CurrentSession().Table().lines.size(), size_t(27));
      QCOMPARE(dataCount(ebf, "Series_m"), 27);
      QCOMPARE(dataCount(ebf, "Series_f"), 27);
      QVERIFY(!Grid(*form)->Cell(4, 1).isEmpty());
      QVERIFY(dataCount(form->Charts()->DensityChart(), "DensitySeries") > 0);
      QCOMPARE(colourMap->data()->keySize(), 4);
      QVERIFY2(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains(why),
               qPrintable(NamedWidget<QLabel>(*form, "StatusMessage")->text()));
    };
    QCOMPARE(dataCount(ebf, "Series_f"), 27);

    Read(*form, answers, "bad.txt");
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].contains("\"abc\" in line 2 of"), qPrintable(answers.errors[0]));
    expectKept("Nothing was read from bad.txt");
    // "Next file" goes on past the file that failed.
    QCOMPARE(NamedWidget<QListWidget>(*form, "FileListBox")->currentItem()->text(),
             QString("bad.txt"));

    QVERIFY(QFile::remove(Meas(kStrongSample)));
    QAction* recent = NamedWidget<QMenu>(*form, "RecentMenu")->actions().value(1);
    QVERIFY(recent && recent->text().endsWith(Meas(kStrongSample)));
    recent->trigger();
    QCOMPARE(answers.errors.size(), 2);
    expectKept("Nothing was read from " + kStrongSample);

    // The sample again: fractions, but nothing fitted until a fit runs.
    Read(*form, answers, kSample);
    QCOMPARE(dataCount(ebf, "Series_m"), 27);
    QCOMPARE(dataCount(ebf, "Series_f"), 0);
    QCOMPARE(dataCount(form->Charts()->DensityChart(), "DensitySeries"), 0);
    QCOMPARE(colourMap->data()->keySize(), 0);
    QVERIFY(NamedWidget<QLabel>(*form, "StatusPanel1")->text().isEmpty());
    QVERIFY(Grid(*form)->Cell(4, 1).isEmpty());
  }

  // Cancel in the input box keeps the measurement; OK replaces it with
  // simulated lines, and the window says so.
  void lineAnalysisRunsOnlyOnOk() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    answers.cancelInput = true;
    AnalyzeNow(*form);
    QCOMPARE(Grid(*form)->RowCount(), 28);
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kSample));
    QCOMPARE(Series(form->Charts()->EBFChart(), "Series_m")->interface1D()->dataCount(), 27);
    QVERIFY(!NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(3));

    answers.cancelInput = false;
    answers.input = "600, 1000, 1e3, 100, 50";
    AnalyzeNow(*form);
    QVERIFY(answers.errors.isEmpty());
    QVERIFY2(form->windowTitle().contains("simulated lines"), qPrintable(form->windowTitle()));
    QCOMPARE(NamedWidget<QTabWidget>(*form, "LinePages")->tabText(0), QString("Simulated lines"));
    QCOMPARE(NamedWidget<QTabWidget>(*form, "ChartPages")->currentIndex(),
             3);  // the "Analysis" page shows it
  }

  // The default pair is not among the bundled lines: the report says so and
  // the inspector offers the analysed lines to choose a pair from.
  void pairInspectorLetsTheUserChooseAPair() {
    Answers answers;
    auto form = ArgonForm(answers);
    answers.input = "600, 1000, 1e3, 100, 50";
    AnalyzeNow(*form);
    QVERIFY(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")
                ->toPlainText()
                .contains("255.1349/474.5586 nm is not among the analysed lines"));
    QVERIFY(!form->PairInspector()->isVisible());
    NamedWidget<QAction>(*form, "PairInspectorAction")->trigger();
    lumora::TPairInspectorForm* inspector = form->PairInspector();
    QVERIFY(inspector->isVisible());
    QVERIFY(inspector->firstLineBox->count() >= 2);
    // A pair of one upper level, as the analysis records pair them.
    const auto& lines = form->CurrentSession().Table().lines;
    int a = -1, b = -1;
    for (size_t i = 0; i < lines.size() && a < 0; ++i)
      for (size_t j = i + 1; j < lines.size(); ++j)
        if (lines[i].UpperState == lines[j].UpperState) {
          a = inspector->firstLineBox->findData(lines[i].AR.WaveLength);
          b = inspector->secondLineBox->findData(lines[j].AR.WaveLength);
          break;
        }
    QVERIFY(a >= 0 && b >= 0);
    inspector->firstLineBox->setCurrentIndex(a);
    inspector->secondLineBox->setCurrentIndex(b);
    Click(inspector->showButton);
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    auto* curve = inspector->Chart1()->findChild<QCPGraph*>("PRDSeries");
    QVERIFY(curve->dataCount() > 1);
    QVERIFY(inspector->windowTitle().startsWith("R(N/N0) for line ratio " +
                                                inspector->firstLineBox->currentText()));
    QVERIFY(!inspector->Chart1()->xAxis->label().isEmpty());
    QVERIFY(!inspector->Chart1()->yAxis->label().isEmpty());
  }

  // ---- commands off the window's thread -------------------------------------

  // A long map cancelled with Esc: the earlier fit's results stand.
  void cancelledMapChangesNothing_data() {
    QTest::addColumn<bool>("withEscape");
    QTest::newRow("Esc") << true;
    QTest::newRow("Cancel button") << false;
  }
  void cancelledMapChangesNothing() {
    QFETCH(bool, withEscape);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    FitNow(*form);
    const QString report = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText();
    const QString fitted = Grid(*form)->Cell(4, 1);
    const double fittedValue = form->CurrentSession().Table().lines[0].G_f;
    const lumora::ResidualGrid grid = form->MapGrid();
    NamedWidget<QLineEdit>(*form, "PointsDensityEdit")->setText("1500");
    NamedWidget<QLineEdit>(*form, "PointsTempEdit")->setText("1500");
    Click(NamedWidget<QPushButton>(*form, "MapBtn"));
    QVERIFY(form->CommandRunning());
    QVERIFY(!NamedWidget<QPushButton>(*form, "FitBtn")->isEnabled() &&
            !NamedWidget<QPushButton>(*form, "ReadBtn")->isEnabled() && !Grid(*form)->isEnabled());
    QVERIFY(NamedWidget<QProgressBar>(*form, "CommandProgress")->isVisible() &&
            NamedWidget<QPushButton>(*form, "CancelBtn")->isVisible());
    QVERIFY(QTest::qWaitFor(
        [&] { return NamedWidget<QProgressBar>(*form, "CommandProgress")->value() >= 1; }, 30000));
    if (withEscape)
      QTest::keyClick(form.get(), Qt::Key_Escape);
    else
      QTest::mouseClick(NamedWidget<QPushButton>(*form, "CancelBtn"), Qt::LeftButton);
    QVERIFY(Finished(*form, 10000));
    QVERIFY(answers.errors.isEmpty());
    QCOMPARE(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText(), report);
    QCOMPARE(Grid(*form)->Cell(4, 1), fitted);
    QCOMPARE(form->CurrentSession().Table().lines[0].G_f, fittedValue);
    QVERIFY(form->MapGrid() == grid);
    QCOMPARE(form->Charts()->MapPlot()->findChild<QCPColorMap*>()->data()->keySize(), 0);
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains("cancelled"));
    QVERIFY(!NamedWidget<QProgressBar>(*form, "CommandProgress")->isVisible());
    QVERIFY(NamedWidget<QPushButton>(*form, "FitBtn")->isEnabled() && Grid(*form)->isEnabled());
    // The next fit writes the next results line, as if no map had run.
    FitNow(*form);
    QCOMPARE(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n').size(),
             3);
  }

  // A map that finishes while the event loop keeps running and repainting.
  void mapFinishesWhileTheWindowStaysAlive() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QLineEdit>(*form, "PointsDensityEdit")->setText("300");
    NamedWidget<QLineEdit>(*form, "PointsTempEdit")->setText("300");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    Click(NamedWidget<QPushButton>(*form, "MapBtn"));
    QVERIFY(form->CommandRunning());
    QVERIFY(!form->grab().isNull());  // repaints meanwhile
    form->resize(1100, 750);
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QVERIFY2(ticks >= 2, qPrintable(QString::number(ticks)));
    QCOMPARE(form->MapGrid().size(), size_t(300));
    QCOMPARE(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n').size(),
             2);
    QCOMPARE(NamedWidget<QProgressBar>(*form, "CommandProgress")->maximum(), 300);
  }

  void closingCancelsTheRunningCommand() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QLineEdit>(*form, "PointsDensityEdit")->setText("1500");
    NamedWidget<QLineEdit>(*form, "PointsTempEdit")->setText("1500");
    Click(NamedWidget<QPushButton>(*form, "MapBtn"));
    QVERIFY(form->CommandRunning());
    QElapsedTimer clock;
    clock.start();
    form->close();
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!form->CommandRunning());
    QVERIFY(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().isEmpty());
    QCOMPARE(Setting("_Parameters", "Tn"), QString("300"));  // the fields were written back
  }

  // ---- desktop conventions ------------------------------------------------------

  void shortcutsRunTheCommands_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("expected");
    QTest::newRow("F5 fits") << int(Qt::Key_F5) << 0 << "fit";
    QTest::newRow("F6 maps") << int(Qt::Key_F6) << 0 << "map";
    QTest::newRow("F7 analyses") << int(Qt::Key_F7) << 0 << "analysis";
    QTest::newRow("Ctrl+O reads") << int(Qt::Key_O) << int(Qt::ControlModifier) << "read";
    QTest::newRow("Ctrl+S saves the table") << int(Qt::Key_S) << int(Qt::ControlModifier) << "save";
    QTest::newRow("Ctrl+Q quits") << int(Qt::Key_Q) << int(Qt::ControlModifier) << "quit";
  }
  void shortcutsRunTheCommands() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, expected);
    CopySample(kStrongSample);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    NamedWidget<QLineEdit>(*form, "PointsDensityEdit")->setText("5");
    NamedWidget<QLineEdit>(*form, "PointsTempEdit")->setText("5");
    answers.openFile = Meas(kStrongSample);
    answers.saveFile = fDir->filePath("table.txt");
    answers.input = "600, 1000, 1e3, 100, 50";
    NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->setFocus();
    QTest::keyClick(form.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    if (expected == "fit" || expected == "map")
      QCOMPARE(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText().split('\n').size(),
               2);
    if (expected == "map") QCOMPARE(form->MapGrid().size(), size_t(5));
    if (expected == "analysis")
      QVERIFY(NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(3));
    if (expected == "read") QCOMPARE(Grid(*form)->RowCount(), 19);
    if (expected == "save") QVERIFY(QFile::exists(answers.saveFile));
    if (expected == "quit") QVERIFY(!form->isVisible());
  }

  // A recording handed over from outside (named at start, as the desktop
  // entry does, or dropped) is integrated without the dialogs, with the
  // options the last "Read spectrum…" used.
  void recordingFromOutsideIsIntegratedWithTheLastOptions() {
    const QString spectrum = Meas("argon.recording.csv");
    QVERIFY(QFile::copy(kSourceDir + "/data/measurements/argon_n2e15.recording.csv", spectrum));
    Answers answers;
    auto form = ArgonForm(answers);
    lumora::OpenStartFile(*form, {"lumora", spectrum});
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QVERIFY(answers.spectrumFieldsShown.empty());
    QCOMPARE(form->windowTitle(), "Lumora - " + spectrum);
    QVERIFY(NamedWidget<QTabWidget>(*form, "ChartPages")->isTabEnabled(5));
    QVERIFY(Grid(*form)->RowCount() > 3);
    const auto firstWindow = [&form] {
      const lumora::LineIntegral& line = form->CurrentSession().Integration()->lines[0];
      return std::make_pair(line.windowFrom, line.windowTo);
    };
    const auto withDefaults = firstWindow();

    answers.openSpectrum = spectrum;
    answers.spectrumOptions = [](lumora::SpectrumFields f) {
      f.Window = "4";
      return f;
    };
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(Finished(*form));
    const auto withDialog = firstWindow();
    QVERIFY(withDialog != withDefaults);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(spectrum)});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(answers.spectrumFieldsShown.size(), size_t(1));
    QVERIFY(firstWindow() == withDialog);
  }

  void startFileAndDroppedFileAreRead() {
    CopySample(kStrongSample);
    CopySample(kSample);
    Answers answers;
    auto form = ArgonForm(answers);
    lumora::OpenStartFile(*form, {"lumora", Meas(kSample)});
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kSample));
    QCOMPARE(Grid(*form)->RowCount(), 28);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Meas(kStrongSample))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kStrongSample));
    QCOMPARE(Grid(*form)->RowCount(), 19);
    QVERIFY(answers.errors.isEmpty());
    // Both are offered again under File > Recent measurements.
    QStringList recent;
    for (QAction* a : NamedWidget<QMenu>(*form, "RecentMenu")->actions()) recent << a->text();
    QCOMPARE(recent.size(), 2);
    QVERIFY(recent[0].endsWith(Meas(kStrongSample)) && recent[1].endsWith(Meas(kSample)));
  }

  // Each chart's context menu writes valid PNG, SVG and PDF files.
  void chartsExportAsPngSvgAndPdf() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    const std::map<QString, QByteArray> signatures = {
        {"png", QByteArray("\x89PNG", 4)}, {"svg", "<?xml"}, {"pdf", "%PDF"}};
    int page = 0;
    for (QCustomPlot* plot : form->Charts()->Plots()) {
      std::unique_ptr<QMenu> menu(form->Charts()->ContextMenu(plot, nullptr));
      QStringList texts;
      for (QAction* a : menu->actions()) texts << a->text();
      QCOMPARE(texts, (QStringList{"Export as PNG…", "Export as SVG…", "Export as PDF…",
                                   "Copy image", "", "Copy data", "Save data as CSV…"}));
      for (int k = 0; k < 3; ++k) {
        const QString format = QStringList{"png", "svg", "pdf"}[k];
        answers.exportFile = fDir->filePath(QString("chart%1.%2").arg(page).arg(format));
        menu->actions()[k]->trigger();
        const QByteArray bytes = ReadAll(answers.exportFile);
        QVERIFY2(bytes.startsWith(signatures.at(format)), qPrintable(answers.exportFile));
        if (format == "svg") QVERIFY(bytes.contains("<svg"));
      }
      menu->actions()[3]->trigger();
      QVERIFY(!QApplication::clipboard()->image().isNull());
      ++page;
    }
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    // The File menu exports the chart of the page shown.
    answers.exportFile = fDir->filePath("shown.png");
    NamedWidget<QAction>(*form, "ExportChartAction")->trigger();
    QVERIFY(ReadAll(answers.exportFile).startsWith("\x89PNG"));
    answers.exportFile = fDir->filePath("no/such/folder/x.png");
    NamedWidget<QAction>(*form, "ExportChartAction")->trigger();
    QCOMPARE(answers.errors.size(), 1);
  }

  // Wheel zooms, a double-click brings the data's view back.
  // Every chart's data can be copied and saved as CSV: one row per point of
  // each series in its own axes, a row per cell of the map.
  void chartDataIsCopiedAndSavedAsCsv() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    MapWithFile(*form, "4", "3");
    const auto menuAction = [&](QCustomPlot* plot, const QString& text) {
      std::unique_ptr<QMenu> menu(form->Charts()->ContextMenu(plot, nullptr));
      for (QAction* a : menu->actions())
        if (a->text() == text) {
          a->trigger();
          return true;
        }
      return false;
    };
    QCustomPlot* ebf = form->Charts()->EBFChart();
    QVERIFY(menuAction(ebf, "Copy data"));
    const QStringList rows = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows[0], QString("series,x axis,x,y axis,y,value"));
    const auto& lines = form->CurrentSession().Table().lines;
    // Measured, fitted and absorption-free for every line (the map's
    // refresh fits nothing, but the residual strip follows the fitted).
    const QStringList measured = rows.filter(QRegularExpression("^\"measured\","));
    QCOMPARE(measured.size(), static_cast<int>(lines.size()));
    QCOMPARE(measured[0], QString("\"measured\",\"Wavelength (nm)\",%1,\"Branching fraction\",%2,")
                              .arg(QString::number(lines[0].AR.WaveLength, 'g', 10),
                                   QString::number(lines[0].G_m, 'g', 10)));

    answers.exportFile = fDir->filePath("map.csv");
    QVERIFY(menuAction(form->Charts()->MapPlot(), "Save data as CSV…"));
    const QList<QByteArray> saved = ReadAll(answers.exportFile).split('\n');
    QCOMPARE(saved[0], QByteArray("series,x axis,x,y axis,y,value\r"));
    int cells = 0;
    for (const QByteArray& row : saved)
      if (row.startsWith("\"ResidualColorMap\"")) ++cells;
    QCOMPARE(cells, 4 * 3);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
  }

  // A chart for a paper: the size and resolution asked for, black on white,
  // while the chart on screen keeps its dark look.
  void chartExportTakesSizeResolutionAndLightStyle() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    FitNow(*form);
    QCustomPlot* ebf = form->Charts()->EBFChart();
    const QBrush dark = ebf->axisRect()->backgroundBrush();
    answers.exportFile = fDir->filePath("paper.png");
    answers.exportOptions = lumora::ChartExportOptions{900, 600, 300, true};
    form->ExportChartAs(0, "png");
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(answers.exportOptionsShown.size(), size_t(1));
    QCOMPARE(answers.exportOptionsShown[0].width, ebf->width());  // offered as shown
    // The size is the layout at 96 dpi: 300 dpi draws it with 300/96 the
    // pixels each way.
    QImage image(answers.exportFile);
    QCOMPARE(image.size(), QSize(2813, 1875));
    QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), 300);
    QCOMPARE(QColor(image.pixel(2, 2)), QColor(Qt::white));
    QCOMPARE(ebf->axisRect()->backgroundBrush(), dark);
    QCOMPARE(ebf->xAxis->tickLabelColor(), QColor(0xC0, 0xC0, 0xC0));
    // The next export offers the resolution and style chosen.
    answers.exportOptions.reset();
    answers.exportFile = fDir->filePath("again.png");
    form->ExportChartAs(0, "png");
    QCOMPARE(answers.exportOptionsShown[1].dpi, 300);
    QVERIFY(answers.exportOptionsShown[1].light);
    // More pixels than memory sensibly holds are refused before drawing.
    answers.exportOptions = lumora::ChartExportOptions{20000, 20000, 2400, false};
    answers.exportFile = fDir->filePath("huge.png");
    form->ExportChartAs(0, "png");
    QVERIFY2(answers.errors.value(0).contains("Choose a smaller size or resolution."),
             qPrintable(answers.errors.join('\n')));
    QVERIFY(!QFile::exists(answers.exportFile));
  }

  // Uncertainties are seen: error bars apart from the dark background and
  // outlined in ink in a light export, where a white bar is outlined too;
  // the chart's data carry each bar's u.
  void uncertaintiesAndWhiteBarsShowInEveryStyle() {
    Answers answers;
    auto form = SampleForm(answers, "argon_n4e16_noise.txt");
    NamedWidget<QComboBox>(*form, "UncertaintyBox")->setCurrentText("relative");
    auto* relative = NamedWidget<QLineEdit>(*form, "UncertaintyEdit");
    relative->setText("0.05");
    emit relative->editingFinished();
    FitNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    NamedWidget<QTabWidget>(*form, "ChartPages")->setCurrentIndex(0);
    QCustomPlot* ebf = form->Charts()->EBFChart();
    auto* errorBars = qobject_cast<QCPErrorBars*>(Series(ebf, "MeasuredErrorBars"));
    QVERIFY(errorBars && errorBars->visible());
    QVERIFY(qAbs(errorBars->pen().color().lightness() -
                 lumora::DarkPlotBackground().lightness()) > 100);

    const auto& lines = form->CurrentSession().Table().lines;
    std::vector<double> sigmas;
    for (const lumora::TLineRecord& line : lines) sigmas.push_back(0.05 * line.Int);
    const std::vector<double> u = lumora::MeasuredFractionUncertainties(lines, sigmas);
    const QStringList rows = lumora::ChartDataCsv(ebf).filter(QRegularExpression("^\"measured ± u\","));
    QCOMPARE(rows.size(), static_cast<int>(lines.size()));
    for (size_t k = 0; k < lines.size(); ++k)
      QCOMPARE(rows[static_cast<int>(k)].section(',', 5), QString::number(u[k], 'g', 10));

    // A light export at the chart's own size: pixels are the screen's.
    ebf->replot();
    const std::vector<QColor> colours = lumora::BarColours(*form->Charts());
    const auto white = std::find(colours.begin(), colours.end(), QColor(Qt::white));
    QVERIFY(white != colours.end());
    const QRectF bar = lumora::BarRects(*form->Charts())[white - colours.begin()];
    answers.exportFile = fDir->filePath("light.png");
    answers.exportOptions = lumora::ChartExportOptions{ebf->width(), ebf->height(), 96, true};
    form->ExportChartAs(0, "png");
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const QImage image(answers.exportFile);
    QCOMPARE(image.size(), ebf->size());
    int darkest = 255;
    const int y = qRound(bar.center().y());
    for (int x = qFloor(bar.left()) - 1; x <= qCeil(bar.left()) + 1; ++x)
      darkest = std::min(darkest, QColor(image.pixel(x, y)).lightness());
    // Darker than the bar's own shade (white.darker(150), lightness 170)
    // could draw it, even half-covered by the edge's smoothing.
    QVERIFY2(darkest < 160, qPrintable(QString::number(darkest)));
    QCOMPARE(errorBars->pen().color(), lumora::kChartMagenta);  // the screen's look is back
  }

  // Levels close in energy, as xenon's are, keep their labels apart.
  void densityLabelsStayApart() {
    QWidget page;
    lumora::TResultCharts charts(&page);
    QCustomPlot* chart = charts.DensityChart();
    page.resize(600, 300);
    chart->resize(600, 300);
    page.show();
    QApplication::processEvents();
    charts.ShowDensities({{8.315, 17.0, "8.315 - 1.0E+017"},
                          {8.437, 16.93, "8.437 - 8.5E+016"},
                          {9.447, 14.9, "9.447 - 7.9E+014"},
                          {9.570, 14.76, "9.570 - 5.7E+014"}},
                         true);
    chart->replot();
    std::vector<QRectF> shown;
    for (int i = 0; i < chart->itemCount(); ++i) {
      auto* text = qobject_cast<QCPItemText*>(chart->item(i));
      if (!text || !text->visible()) continue;
      // The text itself: a lifted label's padding reaches down to its point.
      const QPointF topLeft = text->topLeft->pixelPosition();
      shown.emplace_back(topLeft, QSizeF(text->bottomRight->pixelPosition().x() - topLeft.x(),
                                         QFontMetrics(text->font()).height()));
    }
    QVERIFY(shown.size() >= 2);
    for (size_t a = 0; a < shown.size(); ++a)
      for (size_t b = a + 1; b < shown.size(); ++b)
        QVERIFY2(!shown[a].intersects(shown[b]), qPrintable(QString("%1 %2").arg(a).arg(b)));
  }

  void chartsZoomAndReset() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    NamedWidget<QTabWidget>(*form, "ChartPages")->setCurrentIndex(0);
    QCustomPlot* ebf = form->Charts()->EBFChart();
    const QCPRange before = ebf->xAxis->range();
    const QPoint centre = ebf->axisRect()->rect().center();
    QWheelEvent wheel(centre, ebf->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(ebf, &wheel);
    QVERIFY(ebf->xAxis->range().size() < before.size());
    QTest::mouseDClick(ebf, Qt::LeftButton, {}, centre);
    QCOMPARE(ebf->xAxis->range(), before);
  }

  // Bar labels drawn over one another would be unreadable.
  void barLabelsDoNotOverlap() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    form->resize(1024, 700);
    NamedWidget<QTabWidget>(*form, "ChartPages")->setCurrentIndex(0);
    QCustomPlot* ebf = form->Charts()->EBFChart();
    ebf->replot();
    std::vector<QRectF> shown;
    for (int i = 0; i < ebf->itemCount(); ++i) {
      auto* label = qobject_cast<QCPItemText*>(ebf->item(i));
      if (!label || !label->visible()) continue;
      const QPointF at = label->position->pixelPosition();
      const QFontMetrics metrics(label->font());
      const double width = metrics.horizontalAdvance(label->text());
      const QRectF box(at.x() - width / 2,
                       at.y() - label->padding().bottom() - metrics.height() + 1, width,
                       metrics.height() - 1);
      for (const QRectF& other : shown) QVERIFY(!box.intersects(other));
      shown.push_back(box);
    }
    QVERIFY2(shown.size() >= 10, qPrintable(QString::number(shown.size())));
  }

  // Cells chosen with the mouse, copied with Ctrl+C as a spreadsheet takes them.
  // The box a chart label's text takes, as drawn.
  static QRectF TextBox(const QCPItemText* label) {
    const QPointF at = label->position->pixelPosition();
    const QFontMetrics metrics(label->font());
    const double width = metrics.horizontalAdvance(label->text());
    return QRectF(at.x() - width / 2, at.y() - label->padding().bottom() - metrics.height() + 1,
                  width, metrics.height() - 1);
  }
  static std::vector<QCPItemText*> ShownLabels(QCustomPlot* plot) {
    std::vector<QCPItemText*> labels;
    for (int i = 0; i < plot->itemCount(); ++i)
      if (auto* label = qobject_cast<QCPItemText*>(plot->item(i)); label && label->visible())
        labels.push_back(label);
    return labels;
  }

  // Bar labels sit on no other bar and no mark, and stay inside the axes
  // after a zoom; the labels of bars out of view are not drawn at all.
  void barLabelsStayClearOfBarsAndMarks() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    FitNow(*form);
    form->resize(1280, 800);
    NamedWidget<QTabWidget>(*form, "ChartPages")->setCurrentIndex(0);
    QApplication::processEvents();
    QCustomPlot* ebf = form->Charts()->EBFChart();
    auto* bars = qobject_cast<QCPBars*>(Series(ebf, "Series_m"));
    const auto check = [&](const char* view) {
      ebf->replot();
      const QRectF inside = ebf->axisRect()->rect();
      const std::vector<QCPItemText*> labels = ShownLabels(ebf);
      QVERIFY2(!labels.empty(), view);
      for (QCPItemText* label : labels) {
        const QRectF box = TextBox(label);
        QVERIFY2(inside.contains(box), qPrintable(label->text() + " " + view));
        const std::vector<QRectF> rects = lumora::BarRects(*form->Charts());
        for (int k = 0; k < bars->dataCount(); ++k) {
          const double key = bars->data()->at(k)->key;
          if (QString::number(key, 'g', 15) == label->text()) continue;
          QVERIFY2(!box.adjusted(0, 0, 0, -1).intersects(rects[k]),
                   qPrintable(label->text() + " on the bar of " + QString::number(key)));
        }
        for (const char* series : {"Series_f", "Series_t"}) {
          auto* points = qobject_cast<QCPGraph*>(Series(ebf, series));
          for (auto it = points->data()->constBegin(); it != points->data()->constEnd(); ++it) {
            const QPointF at(ebf->xAxis->coordToPixel(it->key),
                             ebf->yAxis->coordToPixel(it->value));
            QVERIFY2(!box.contains(at), qPrintable(label->text() + " on a mark of " + series));
          }
        }
      }
    };
    check("all");
    ebf->xAxis->setRange(745, 760);  // zoomed in: most bars out of view
    check("zoomed");
    for (QCPItemText* label : ShownLabels(ebf))
      QVERIFY(ebf->xAxis->range().contains(label->position->coords().x()));
  }

  // A contour's label near the edge of the grid turns to the side where it
  // fits, instead of being cut off.
  void contourLabelsStayInsideTheGrid() {
    QWidget pages;
    lumora::TResultCharts charts(&pages);
    QCustomPlot* plot = charts.MapPlot();
    plot->setParent(nullptr);
    plot->resize(500, 400);
    plot->show();
    charts.SetMapRange(15, 100, 17, 3000, "Temperature [K]");
    lumora::ConfidenceRegion inner, outer;
    inner.level = 0.68;
    outer.level = 0.95;
    // The inner region's left end and the outer's right end on the edges.
    inner.contour = {{15.0, 1500, 16.0, 2900}};
    outer.contour = {{16.0, 150, 17.0, 1500}};
    charts.ShowContours({inner, outer});
    plot->replot();
    const QRectF inside = plot->axisRect()->rect();
    const std::vector<QCPItemText*> labels = ShownLabels(plot);
    QCOMPARE(labels.size(), size_t(2));
    for (QCPItemText* label : labels) {
      const QPointF topLeft = label->topLeft->pixelPosition();
      const QPointF bottomRight = label->bottomRight->pixelPosition();
      QVERIFY2(inside.contains(QRectF(topLeft, bottomRight)), qPrintable(label->text()));
    }
    plot->setParent(&pages);
  }

  // The flag labels of a recording are inside the chart, apart from each
  // other and above the spectrum.
  void recordingFlagLabelsAreClearAndInside() {
    QVERIFY(QFile::copy(kSourceDir + "/data/measurements/argon_n1.5e17_shifted.recording.csv",
                        Meas("shifted.recording.csv")));
    Answers answers;
    auto form = ArgonForm(answers);
    answers.openSpectrum = Meas("shifted.recording.csv");
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(Finished(*form));
    form->resize(1024, 700);
    QApplication::processEvents();
    QCustomPlot* plot = form->Charts()->SpectrumChart();
    plot->replot();
    const QRectF inside = plot->axisRect()->rect();
    const std::vector<QCPItemText*> labels = ShownLabels(plot);
    QVERIFY(!labels.empty());
    auto* spectrum = qobject_cast<QCPGraph*>(Series(plot, "SpectrumSeries"));
    std::vector<QRectF> shown;
    for (QCPItemText* label : labels) {
      const QRectF box = TextBox(label);
      QVERIFY2(inside.contains(box), qPrintable(label->text()));
      for (const QRectF& other : shown) QVERIFY2(!box.intersects(other), qPrintable(label->text()));
      shown.push_back(box);
      for (auto it = spectrum->data()->constBegin(); it != spectrum->data()->constEnd(); ++it)
        QVERIFY2(!box.adjusted(0, 0, 0, -1).contains(plot->xAxis->coordToPixel(it->key),
                                                     plot->yAxis->coordToPixel(it->value)),
                 qPrintable(label->text() + " on the spectrum"));
    }
  }

  void copiedCellsAreTabSeparatedWithHeaders() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    TLineGrid* grid = Grid(*form);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(grid, 0, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, CellCentre(grid, 2, 3));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    QString expected = "Wavelength\tIntensity\tBF free\n";
    for (int r = 1; r <= 3; ++r)
      expected += grid->Cell(0, r) + "\t" + grid->Cell(1, r) + "\t" + grid->Cell(2, r) + "\n";
    QCOMPARE(QApplication::clipboard()->text(), expected);
  }

  // Unsaved edits are not dropped without asking.
  void nextFileAsksBeforeDiscardingEdits() {
    CopySample(kStrongSample);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    TypeIntoCell(Grid(*form), 2, "777");
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, 777.0);
    answers.discard = false;
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));
    QCOMPARE(answers.questions.size(), 1);
    QCOMPARE(Grid(*form)->RowCount(), 28);
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, 777.0);
    answers.discard = true;
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));
    QCOMPARE(answers.questions.size(), 2);
    QCOMPARE(Grid(*form)->RowCount(), 19);
    // Once saved, nothing to ask.
    TypeIntoCell(Grid(*form), 2, "5");
    answers.saveFile = fDir->filePath("table.txt");
    Click(NamedWidget<QPushButton>(*form, "Button1"));
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));
    QCOMPARE(answers.questions.size(), 2);
  }

  // The table row (header row 0) of a wavelength, 0 when it is not shown.
  static int RowOf(TLineGrid* grid, const QString& wavelength) {
    for (int r = 1; r < grid->RowCount(); ++r)
      if (grid->Cell(0, r) == wavelength) return r;
    return 0;
  }
  // A click on a file of the folder's list, as the user reads it.
  static void ClickFile(TMainForm& form, const QString& name) {
    auto* list = NamedWidget<QListWidget>(form, "FileListBox");
    const QList<QListWidgetItem*> items = list->findItems(name, Qt::MatchExactly);
    QVERIFY(!items.isEmpty());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(items.first()).center());
  }
  // Chooses a pair of one upper level in the open inspector.
  static void ChooseInspectorPair(TMainForm& form) {
    lumora::TPairInspectorForm* inspector = form.PairInspector();
    const auto& lines = form.CurrentSession().Table().lines;
    for (size_t i = 0; i < lines.size(); ++i)
      for (size_t j = i + 1; j < lines.size(); ++j)
        if (lines[i].UpperState == lines[j].UpperState) {
          const int a = inspector->firstLineBox->findData(lines[i].AR.WaveLength);
          const int b = inspector->secondLineBox->findData(lines[j].AR.WaveLength);
          if (a < 0 || b < 0) continue;
          inspector->firstLineBox->setCurrentIndex(a);
          inspector->secondLineBox->setCurrentIndex(b);
          return;
        }
    QFAIL("no pair of one upper level among the analysed lines");
  }

  // Show ratio runs a new analysis over the lines: with an edit not saved
  // it asks first, and Ctrl+Z brings the edited measurement back.
  void showRatioAsksAndCtrlZBringsTheMeasurementBack() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    answers.input = "600, 1000, 1e3, 100, 50";
    AnalyzeNow(*form);
    ClickFile(*form, kSample);
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kSample));
    TLineGrid* grid = Grid(*form);
    const int row = RowOf(grid, "727.2936");
    QVERIFY(row > 0);
    TypeIntoCell(grid, row, "1234");
    QCOMPARE(form->CurrentSession().Table().lines[row - 1].Int, 1234.0);
    NamedWidget<QAction>(*form, "PairInspectorAction")->trigger();
    ChooseInspectorPair(*form);
    answers.discard = false;
    Click(form->PairInspector()->showButton);
    QVERIFY(Finished(*form));
    QCOMPARE(answers.questions.size(), 1);
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kSample));
    QCOMPARE(form->CurrentSession().Table().lines[row - 1].Int, 1234.0);

    answers.discard = true;
    Click(form->PairInspector()->showButton);
    QVERIFY(Finished(*form));
    QCOMPARE(answers.questions.size(), 2);
    QVERIFY2(form->windowTitle().startsWith("Lumora - simulated lines"),
             qPrintable(form->windowTitle()));
    form->PairInspector()->close();
    ActivateWindow(*form);
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kSample));
    QCOMPARE(grid->Cell(1, row), QString("1234"));
    QCOMPARE(form->CurrentSession().Table().lines[row - 1].Int, 1234.0);
    QVERIFY(!grid->Cell(3, row).isEmpty());  // its fractions recalculated
    QVERIFY(form->HasUnsavedEdits());
    // The edit itself is the next step back.
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(grid->Cell(1, row), QString("776.28492"));
    QVERIFY(!form->HasUnsavedEdits());
  }

  // Every action that replaces the measurement asks before an edit not
  // saved is dropped; Cancel keeps the lines and the edit as they are.
  void replacingTheMeasurementAsksFirst_data() {
    QTest::addColumn<QString>("action");
    for (const char* action :
         {"Read intensities", "file list", "Next file", "Line analysis", "element list"})
      QTest::newRow(action) << QString(action);
  }
  void replacingTheMeasurementAsksFirst() {
    QFETCH(QString, action);
    CopySample(kStrongSample);
    WriteIni(ArgonIni("[Neon]\r\nLevels=Ne_I_levels.txt\r\nLines=Ne, I\r\nm=20.18\r\n"));
    QFile::copy(kSourceDir + "/data/measurements/" + kSample, Meas(kSample));
    Answers answers;
    TMainForm form(IniPath().toStdString(), answers.Dialogs());
    form.show();
    ActivateWindow(form);
    Read(form, answers, kSample);
    TypeIntoCell(Grid(form), 2, "777");
    answers.discard = false;
    answers.input = "600, 1000, 1e3, 100, 50";
    answers.openFile = Meas(kStrongSample);
    if (action == "Read intensities") Click(NamedWidget<QPushButton>(form, "ReadBtn"));
    if (action == "file list") ClickFile(form, kStrongSample);
    if (action == "Next file") Click(NamedWidget<QPushButton>(form, "NextBtn"));
    if (action == "Line analysis") Click(NamedWidget<QPushButton>(form, "AnalyzeBtn"));
    if (action == "element list") {
      auto* elements = NamedWidget<QComboBox>(form, "ElementListBox");
      elements->setFocus();
      QTest::keyClick(elements, Qt::Key_Down);
      QCOMPARE(elements->currentText(), QString("Argon"));  // it shows what is loaded
    }
    QVERIFY(Finished(form));
    QCOMPARE(answers.questions.size(), 1);
    QVERIFY(answers.questions[0].endsWith("Discard them?"));
    QCOMPARE(form.windowTitle(), "Lumora - " + Meas(kSample));
    QCOMPARE(Grid(form)->RowCount(), 28);
    QCOMPARE(form.CurrentSession().Table().lines[1].Int, 777.0);
    QCOMPARE(NamedWidget<QListWidget>(form, "FileListBox")->currentItem()->text(), kSample);
    QVERIFY(answers.errors.isEmpty());
  }

  // Save in the question writes the table first and goes on; the saved
  // table reads back as the lines it was saved from: the same intensities,
  // the same lines left out, the same uncertainties.
  void savedTableReadsBackAsTheLines() {
    QByteArray text;
    for (const QByteArray& line : ReadAll(kSourceDir + "/data/measurements/" + kSample).split('\n'))
      if (!line.trimmed().isEmpty()) text += line.trimmed() + "\t" + QByteArray::number(line.size()) + "\n";
    WriteFile(Meas("with_u.txt"), text);
    CopySample(kStrongSample);
    Answers answers;
    auto form = ArgonForm(answers);
    ActivateWindow(*form);
    Read(*form, answers, "with_u.txt");
    TLineGrid* grid = Grid(*form);
    TypeIntoCell(grid, 3, "1234.5");
    ClickCheckBox(grid, 2);
    const std::vector<lumora::TLineRecord> edited = form->CurrentSession().Table().lines;
    QVERIFY(edited[1].Excluded);
    QVERIFY(edited[4].IntSigma > 0);

    answers.saveEdits = true;
    answers.saveFile = Meas("saved.txt");
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));  // asks, saves, reads the next file
    QCOMPARE(answers.questions.size(), 1);
    QVERIFY(ReadAll(answers.saveFile).startsWith("#\tWavelength\tIntensity\t"));
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kStrongSample));

    Read(*form, answers, "saved.txt");
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const std::vector<lumora::TLineRecord>& read = form->CurrentSession().Table().lines;
    QCOMPARE(read.size(), edited.size());
    for (size_t k = 0; k < read.size(); ++k) {
      QCOMPARE(read[k].AR.WaveLength, edited[k].AR.WaveLength);
      QCOMPARE(read[k].Int, edited[k].Int);
      QCOMPARE(read[k].Excluded, edited[k].Excluded);
      QCOMPARE(read[k].IntSigma, edited[k].IntSigma);
    }
    QVERIFY(!grid->RowIncluded(2));
    QCOMPARE(grid->Cell(1, 3), QString("1234.5"));
    // Save without a file chosen goes nowhere: the question keeps the lines.
    TypeIntoCell(grid, 3, "99");
    answers.saveFile.clear();
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));
    QCOMPARE(answers.questions.size(), 2);
    QCOMPARE(form->CurrentSession().Table().lines[2].Int, 99.0);
  }

  // The table is a view of the session: an edit through its model goes
  // into the session's lines, and Ctrl+Z takes it back there.
  void tableModelEditsTheSession() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    TLineGrid* grid = Grid(*form);
    QAbstractItemModel* model = grid->model();
    QVERIFY(model->setData(model->index(1, TLineGrid::kIntensityColumn), "3000", Qt::EditRole));
    QVERIFY(form->CanSelectCell(0, 1));  // the cursor moves on: the edit is taken over
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, 3000.0);
    QVERIFY(model->setData(model->index(4, 0), Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(form->CurrentSession().Table().lines[4].Excluded);
    QCOMPARE(model->data(model->index(4, 0), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    // A refused value leaves the session and the cell as they were.
    QVERIFY(model->setData(model->index(2, TLineGrid::kIntensityColumn), "-1", Qt::EditRole));
    QVERIFY(!form->CanSelectCell(0, 1));
    QCOMPARE(form->CurrentSession().Table().lines[2].Int, 2700.4396);
    QCOMPARE(model->data(model->index(2, 1), Qt::DisplayRole).toString(), QString("2700.4396"));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(!form->CurrentSession().Table().lines[4].Excluded);
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, 2485.0748);
    QCOMPARE(grid->Cell(1, 2), QString("2485.0748"));
  }

  // The report is written by the commands: typing into it changes nothing.
  void reportCannotBeTypedInto() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    FitNow(*form);
    auto* report = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo");
    const QString written = report->toPlainText();
    QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keyClicks(report, "typed");
    QTest::keyClick(report, Qt::Key_Backspace);
    QTest::keyClick(report, Qt::Key_Return);
    QCOMPARE(report->toPlainText(), written);
  }

  // A fit of at most 0 iterations is refused with the field named.
  void maxIterationZeroIsRefused() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    auto* field = NamedWidget<QLineEdit>(*form, "MaxIterEdit");
    Click(NamedWidget<QPushButton>(*form, "FitBtn"));  // shows the page of the field
    QVERIFY(Finished(*form));
    const QString report = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText();
    field->selectAll();
    QTest::keyClicks(field, "0");
    QTest::keyClick(form.get(), Qt::Key_F5);
    QVERIFY(Finished(*form));
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].contains("Max iteration number must be at least 1"),
             qPrintable(answers.errors[0]));
    QCOMPARE(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->toPlainText(), report);
  }

  // Past the last file "Next file" starts the list again and says so.
  void nextFileSaysWhenItStartsAgain() {
    CopySample(kStrongSample);
    Answers answers;
    auto form = SampleForm(answers, kSample);  // the second of two
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));
    QCOMPARE(form->windowTitle(), "Lumora - " + Meas(kStrongSample));
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusMessage")->text(),
             kSample + " was the last file of the folder; the first one was read.");
    Click(NamedWidget<QPushButton>(*form, "NextBtn"));
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusMessage")->text(), QString());
  }

  // A click on a point of the "Analysis" chart names that point's pair,
  // although the chart keeps its points sorted by R.
  void analysisPointClickNamesThePointShown() {
    QWidget pages;
    lumora::TResultCharts charts(&pages);
    auto* plot = pages.findChild<QCustomPlot*>("AnalyzeChart");
    QVERIFY(plot);
    plot->setParent(nullptr);
    plot->resize(600, 400);
    plot->show();
    const std::vector<lumora::TResultCharts::LabelledPoint> points = {
        {5, 700, "a"}, {1, 800, "b"}, {3, 750, "c"}, {1, 720, "d"}};
    charts.ShowAnalysis(points, false);
    plot->replot();
    QSignalSpy clicked(&charts, &lumora::TResultCharts::AnalysisPointClicked);
    for (int i = 0; i < static_cast<int>(points.size()); ++i) {
      const QPoint at(qRound(plot->xAxis->coordToPixel(points[i].x)),
                      qRound(plot->yAxis->coordToPixel(points[i].y)));
      QTest::mouseClick(plot, Qt::LeftButton, {}, at);
      QCOMPARE(clicked.size(), i + 1);
      QCOMPARE(clicked.last().at(0).toInt(), i);
    }
    plot->setParent(&pages);
  }

  // Ctrl+Q and closing the window ask too; "no" keeps the window and the edit.
  void closingAsksBeforeDiscardingEdits() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    form->show();
    ActivateWindow(*form);
    TypeIntoCell(Grid(*form), 2, "777");
    answers.discard = false;
    QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(answers.questions.size(), 1);
    QVERIFY(form->isVisible());
    QCOMPARE(form->CurrentSession().Table().lines[1].Int, 777.0);
    answers.discard = true;
    QVERIFY(form->close());
    QCOMPARE(answers.questions.size(), 2);
    QVERIFY(!form->isVisible());
  }

  void everyFieldAndButtonHasATooltip() {
    Answers answers;
    auto form = ArgonForm(answers);
    for (QWidget* w : form->findChildren<QWidget*>()) {
      if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractButton*>(w) &&
          !qobject_cast<QComboBox*>(w))
        continue;
      // The page controls' own scroll buttons are Qt's.
      if (w->objectName().isEmpty() || w->objectName().startsWith("qt_") ||
          qobject_cast<QTabBar*>(w->parentWidget()))
        continue;
      QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
    }
  }

  // The window fits its minimum size and every field keeps its text readable.
  // At 1024x700 the report shows eight lines and the table takes the dark
  // theme; the clear button says what it does and the F1 list keeps each
  // key apart from its command; a read leaves no emptied page in front and
  // a saved map says where it went.
  void layoutReadsAndSaysWhere() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    form->resize(1024, 700);
    QApplication::processEvents();
    auto* report = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo");
    QVERIFY2(report->viewport()->height() >= 8 * report->fontMetrics().lineSpacing(),
             qPrintable(QString::number(report->viewport()->height())));
    QCOMPARE(NamedWidget<QToolButton>(*form, "SpeedButton1")->text(), QString("Clear"));
    NamedWidget<QAction>(*form, "ShortcutsAction")->trigger();
    QVERIFY2(answers.messages.last().contains("\nCtrl+Shift+O  Read spectrum\n"),
             qPrintable(answers.messages.last()));

    TLineGrid* grid = Grid(*form);
    QPalette dark = grid->palette();
    dark.setColor(QPalette::Base, QColor(0x2A, 0x2A, 0x2A));
    dark.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
    grid->setPalette(dark);
    const QImage cells = grid->viewport()->grab().toImage();
    for (int row : {1, 2}) {
      const QRect cell = grid->visualRect(grid->model()->index(row - 1, 5));
      QVERIFY2(QColor(cells.pixel(cell.left() + 2, cell.bottom() - 2)).lightness() < 100,
               qPrintable(QString::number(row)));
    }

    auto* pages = NamedWidget<QTabWidget>(*form, "ChartPages");
    answers.input = "600, 1000, 1e3, 100, 50";
    AnalyzeNow(*form);
    QCOMPARE(pages->currentIndex(), 3);
    Read(*form, answers, kSample);
    QVERIFY(pages->isTabEnabled(pages->currentIndex()));

    MapWithFile(*form, "4", "3");
    QVERIFY(QFile::exists(Meas("Maps/" + kSample + "_map.txt")));
    QCOMPARE(NamedWidget<QLabel>(*form, "StatusMessage")->text(),
             "Map saved to " + QDir::toNativeSeparators(Meas("Maps/" + kSample + "_map.txt")) +
                 ".");
    QVERIFY(answers.errors.isEmpty());
  }

  void fieldsAreReadableAtSmallSizes_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("reportLines");
    QTest::newRow("1024x700") << QSize(1024, 700) << 8;
    QTest::newRow("minimum") << QSize(0, 0) << 4;
  }
  void fieldsAreReadableAtSmallSizes() {
    QFETCH(QSize, size);
    QFETCH(int, reportLines);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    form->show();
    form->resize(size.isEmpty() ? form->minimumSize() : size);
    QApplication::processEvents();
    QVERIFY(form->width() <= 1024 && form->height() <= 700);
    // After a fit the report shows its lines, and nothing lies over it.
    FitNow(*form);
    QApplication::processEvents();
    auto* report = NamedWidget<QPlainTextEdit>(*form, "ReportsMemo");
    QVERIFY2(report->viewport()->height() >= reportLines * report->fontMetrics().lineSpacing(),
             qPrintable(QString::number(report->viewport()->height())));
    const auto placed = [&form](QWidget* w) {
      return QRect(w->mapTo(form.get(), QPoint(0, 0)), w->size());
    };
    // Nothing is squeezed below the least size it needs.
    auto* halves = NamedWidget<QSplitter>(*form, "HalvesSplitter");
    QVERIFY2(halves->minimumSizeHint().height() <= halves->height() &&
                 halves->minimumSizeHint().width() <= halves->width(),
             qPrintable(QString("%1x%2 in %3x%4")
                            .arg(halves->minimumSizeHint().width())
                            .arg(halves->minimumSizeHint().height())
                            .arg(halves->width())
                            .arg(halves->height())));
    for (const char* name : {"MethodPages", "FilesGroup", "ReportGroup", "UpperSplitter"})
      QVERIFY2(!placed(NamedWidget<QWidget>(*form, name)).intersects(placed(report)), name);
    for (QLineEdit* field : form->findChildren<QLineEdit*>()) {
      if (!field->isVisible() || field->objectName().isEmpty()) continue;
      QVERIFY2(field->width() >= field->fontMetrics().horizontalAdvance("1.000E+018"),
               qPrintable(field->objectName()));
    }
    QVERIFY(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->width() >= form->width() - 20);
    QVERIFY(NamedWidget<QPlainTextEdit>(*form, "ReportsMemo")->height() >= 50);
    for (QAbstractButton* b :
         {static_cast<QAbstractButton*>(NamedWidget<QPushButton>(*form, "ReadBtn")),
          static_cast<QAbstractButton*>(NamedWidget<QPushButton>(*form, "AnalyzeBtn"))})
      QVERIFY(b->width() >= b->sizeHint().width());
  }

  void missingProgramFilesEndTheProgramWithStatusZero() {
    QProcess app;
    QProcessEnvironment env;
    env.insert("HOME", fDir->filePath("home"));
    env.insert("XDG_DATA_HOME", fDir->filePath("user"));
    env.insert("XDG_DATA_DIRS", fDir->filePath("common"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    app.setProcessEnvironment(env);
    app.start(LUMORA_APP, {});
    QVERIFY(app.waitForFinished(30000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(app.readAllStandardError()),
             QString("Necessary program files are missing. \nProgram will be terminated.\n"));
  }

  // ---- "Fit all files" and the "Series" pages

  // The first `count` recordings of the bundled pulse, and one that is no
  // recording, in meas/pulse/.
  QStringList CopyPulse(int count) {
    QDir(Meas()).mkdir("pulse");
    const QDir bundled(kSourceDir + "/data/measurements/pulse");
    QStringList files;
    for (const QString& name : bundled.entryList({"*.recording.csv"}, QDir::Files, QDir::Name)
                                   .mid(0, count)) {
      files << Meas("pulse/" + name);
      if (!QFile::copy(bundled.filePath(name), files.last())) return {};
    }
    QFile broken(Meas("pulse/argon_pulse_t=9999us.recording.csv"));
    if (!broken.open(QIODevice::WriteOnly)) return {};
    broken.write("# time: 2026-03-01T10:00:00.009999Z\nwavelength_nm,counts\n700,1\n");
    files << broken.fileName();
    return files;
  }
  // A window that has read the first of the files as a spectrum and fitted all.
  std::unique_ptr<TMainForm> FittedPulse(Answers& answers, const QStringList& files) {
    auto form = ArgonForm(answers);
    answers.openSpectrum = files.first();
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    if (!Finished(*form)) return nullptr;
    NamedWidget<QAction>(*form, "FitAllAction")->trigger();
    if (!Finished(*form)) return nullptr;
    return form;
  }
  // The pixel of the k-th point the chart draws for fits that ended well
  // (in the order of x).
  static QPoint PointOf(const lumora::SeriesPanel& panel, int k) {
    const QCPPlottableInterface1D* points = Series(panel.Chart(), "SeriesPoints")->interface1D();
    return QPoint(qRound(panel.Chart()->xAxis->coordToPixel(points->dataMainKey(k))),
                  qRound(panel.Chart()->yAxis->coordToPixel(points->dataMainValue(k))));
  }

  // The folder's recordings fill the chart and the table; the failed one
  // is a hollow point whose tooltip gives the reason, and the saved table
  // is the one lumora-cli fit --series writes for the same files.
  // A camera file: "Read spectrum…" asks which frame and integrates it;
  // "Fit all files" fits its frames as the series against their times, and
  // a click on a point reads that frame.
  void aCameraFileIsReadByFrameAndFittedAsItsSeries() {
    const QString pulse = Meas("pulse.spe");
    const lumora::testing::SpeContent content = lumora::testing::SpePulse(true, 8);
    lumora::testing::WriteFile(Std(pulse), lumora::testing::SpeBytes(content));
    Answers answers;
    auto form = ArgonForm(answers);
    answers.openSpectrum = pulse;
    answers.frame = std::nullopt;  // cancelled: nothing is read
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(Finished(*form));
    QVERIFY(answers.spectrumFieldsShown.empty());
    QVERIFY(!form->CurrentSession().Integration());

    answers.frame = 3;
    Click(NamedWidget<QPushButton>(*form, "ReadSpectrumBtn"));
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(answers.framesAsked, QStringList({pulse + " 8", pulse + " 8"}));
    const auto& integration = form->CurrentSession().Integration();
    QVERIFY(integration.has_value());
    QCOMPARE(integration->spectrum.intensity, content.frames[2]);

    NamedWidget<QAction>(*form, "FitAllAction")->trigger();
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const lumora::SeriesTable& table = form->Series()->Table();
    QCOMPARE(table.rows.size(), size_t(8));
    QCOMPARE(table.axis, lumora::SeriesAxis::TimeStamp);
    for (size_t k = 0; k < 8; ++k) {
      QCOMPARE(table.rows[k].file, Std(pulse) + ", frame " + std::to_string(k + 1));
      QVERIFY(std::fabs(table.rows[k].x - 10e-6 * static_cast<double>(k)) < 1e-12);
    }
    QVERIFY(table.rows[3].n1 > 3 * table.rows[0].n1);  // the pulse has begun

    // A click on the second point of the fits that ended well reads its frame.
    std::vector<size_t> ok;
    for (size_t k = 0; k < 8; ++k)
      if (table.rows[k].ok) ok.push_back(k);
    QVERIFY(ok.size() >= 2);
    form->Series()->Chart()->replot();
    QTest::mouseClick(form->Series()->Chart(), Qt::LeftButton, {},
                      PointOf(*form->Series(), 1));
    QVERIFY(Finished(*form));
    QCOMPARE(form->CurrentSession().Integration()->spectrum.intensity, content.frames[ok[1]]);
  }

  void fitAllFillsTheSeriesChartAndTable() {
    const QStringList files = CopyPulse(5);
    QCOMPARE(files.size(), 6);
    Answers answers;
    auto form = FittedPulse(answers, files);
    QVERIFY(form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    lumora::SeriesPanel& panel = *form->Series();
    QCOMPARE(NamedWidget<QTabWidget>(*form, "ChartPages")->tabText(6), QString("Series"));
    QCOMPARE(NamedWidget<QTabWidget>(*form, "ChartPages")->currentIndex(), 6);
    const std::vector<lumora::SeriesRow>& rows = panel.Table().rows;
    QCOMPARE(rows.size(), size_t(6));
    QCOMPARE(panel.Table().axis, lumora::SeriesAxis::TimeStamp);  // the headers' stamps
    for (int k = 0; k < 5; ++k) {
      QCOMPARE(rows[k].file, Std(files[k]));
      QCOMPARE(rows[k].x, k * 40e-6);
      QVERIFY(rows[k].ok);
    }
    QVERIFY(rows[1].n1 > 10 * rows[0].n1);  // the pulse has begun
    QVERIFY(!rows[5].fitted);
    QCOMPARE(Series(panel.Chart(), "SeriesPoints")->interface1D()->dataCount(), 5);
    QCOMPARE(Series(panel.Chart(), "SeriesErrorBars")->interface1D()->dataCount(), 5);
    QCOMPARE(Series(panel.Chart(), "SeriesHollowPoints")->interface1D()->dataCount(), 1);
    auto* table = NamedWidget<QTableWidget>(*form, "SeriesTable");
    QCOMPARE(table->rowCount(), 6);
    QCOMPARE(table->item(5, 6)->text(), QString::fromStdString(rows[5].stop));

    // The hollow point's tooltip says why the file failed.
    panel.Chart()->replot();
    const QCPPlottableInterface1D* hollow =
        Series(panel.Chart(), "SeriesHollowPoints")->interface1D();
    const QPoint hollowPixel(qRound(panel.Chart()->xAxis->coordToPixel(hollow->dataMainKey(0))),
                             qRound(panel.Chart()->yAxis->coordToPixel(hollow->dataMainValue(0))));
    QCOMPARE(panel.RowAt(hollowPixel), 5);
    QTest::mouseMove(panel.Chart(), PointOf(panel, 1));
    QVERIFY(panel.Chart()->toolTip().contains("fit: OK"));
    QTest::mouseMove(panel.Chart(), hollowPixel);
    QVERIFY2(panel.Chart()->toolTip().contains(Qt8("failed: " + rows[5].stop)),
             qPrintable(panel.Chart()->toolTip()));

    answers.exportFile = fDir->filePath("window.csv");
    Click(NamedWidget<QPushButton>(*form, "SeriesSaveBtn"));
    QVERIFY(answers.errors.isEmpty());
    QProcess cli;
    cli.setWorkingDirectory(fDir->path());
    cli.start(LUMORA_CLI, QStringList{"--ini", IniPath(), "fit", "--spectrum", "--series",
                                      fDir->filePath("cli.csv")} + files);
    QVERIFY(cli.waitForFinished(120000));
    QCOMPARE(cli.exitCode(), 1);  // the broken file
    QCOMPARE(ReadAll(fDir->filePath("window.csv")), ReadAll(fDir->filePath("cli.csv")));

    // Copy gives the same fields, tab-separated, x in the table's unit.
    const QString header = table->horizontalHeaderItem(1)->text();
    QVERIFY2(header.endsWith("s]") && !header.endsWith("[s]"), qPrintable(header));
    const QString unit = header.section('[', 1).chopped(1);
    Click(NamedWidget<QPushButton>(*form, "SeriesCopyBtn"));
    const QStringList copied = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(copied.size(), 7);
    QCOMPARE(copied[0], "file\tx (" + unit + ")\tn1\tu_n1\tsecond\tsum\tstop");
    QCOMPARE(copied[2].split('\t')[1], table->item(1, 1)->text());
    QCOMPARE(copied[1].split('\t')[2],
             QString::fromStdString(lumora::SeriesNumberText(rows[0].n1)));

    // The chart's own menu copies its data.
    std::unique_ptr<QMenu> menu(panel.ContextMenu(nullptr));
    QStringList actions;
    for (QAction* a : menu->actions()) actions << a->text();
    QCOMPARE(actions, QStringList({"Copy image", "Copy data"}));
    menu->actions().last()->trigger();
    QCOMPARE(QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts),
             lumora::ChartDataCsv(panel.Chart()));
  }

  void cancelledFitAllKeepsTheEarlierSeries() {
    const QStringList files = CopyPulse(3);
    Answers answers;
    auto form = FittedPulse(answers, files);
    QVERIFY(form);
    const std::string before = lumora::SeriesCsv(form->Series()->Table().rows);
    // Many more files, then Cancel at once.
    for (int k = 0; k < 40; ++k)
      QVERIFY(QFile::copy(files[0], Meas(QString("pulse/more_%1.recording.csv").arg(k, 2, 10,
                                                                                   QChar('0')))));
    NamedWidget<QAction>(*form, "FitAllAction")->trigger();
    QVERIFY(form->CommandRunning());
    QVERIFY(!NamedWidget<QAction>(*form, "FitAllAction")->isEnabled());
    QTest::mouseClick(NamedWidget<QPushButton>(*form, "CancelBtn"), Qt::LeftButton);
    QVERIFY(Finished(*form));
    QVERIFY(answers.errors.isEmpty());
    QCOMPARE(lumora::SeriesCsv(form->Series()->Table().rows), before);
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains("cancelled"));
    QVERIFY(NamedWidget<QAction>(*form, "FitAllAction")->isEnabled());
  }

  // A click on a point integrates that recording again (the series was of
  // recordings); of measurements, it reads the measurement.
  void clickOnASeriesPointReadsThatFile() {
    const QStringList files = CopyPulse(4);
    Answers answers;
    auto form = FittedPulse(answers, files);
    QVERIFY(form);
    lumora::SeriesPanel& panel = *form->Series();
    panel.Chart()->replot();
    QTest::mouseClick(panel.Chart(), Qt::LeftButton, {}, PointOf(panel, 2));
    QVERIFY(Finished(*form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(form->windowTitle(), "Lumora - " + files[2]);
    QVERIFY(form->CurrentSession().Integration().has_value());

    for (const QString& name : {kSample, kStrongSample}) CopySample(name);
    Read(*form, answers, kSample);
    NamedWidget<QAction>(*form, "FitAllAction")->trigger();
    QVERIFY(Finished(*form));
    QCOMPARE(panel.Table().rows.size(), size_t(2));
    QCOMPARE(panel.Table().axis, lumora::SeriesAxis::FileOrder);
    NamedWidget<QTabWidget>(*form, "ChartPages")->setCurrentIndex(6);
    panel.Chart()->replot();
    QTest::mouseClick(panel.Chart(), Qt::LeftButton, {}, PointOf(panel, 0));
    QVERIFY(Finished(*form));
    QCOMPARE(form->windowTitle(), "Lumora - " + Qt8(panel.Table().rows[0].file));
    QCOMPARE(Grid(*form)->RowCount() > 2, true);
    QVERIFY(!form->CurrentSession().Integration().has_value());

    // A click on a row of the series' table reads its file too.
    auto* table = NamedWidget<QTableWidget>(*form, "SeriesTable");
    qobject_cast<QTabWidget*>(panel.TablePage()->parentWidget()->parentWidget())
        ->setCurrentWidget(panel.TablePage());
    const QRect cell = table->visualItemRect(table->item(1, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(Finished(*form));
    QCOMPARE(form->windowTitle(), "Lumora - " + Qt8(panel.Table().rows[1].file));
  }

  // x from a pattern over the names, with the axis title typed; a pattern
  // without a group is refused and the points keep the file order.
  void seriesXFollowsThePatternTyped() {
    const QStringList files = CopyPulse(3);
    Answers answers;
    auto form = FittedPulse(answers, files);
    QVERIFY(form);
    lumora::SeriesPanel& panel = *form->Series();
    NamedWidget<QLineEdit>(*form, "SeriesPatternEdit")->setText("t=(\\d+)us");
    NamedWidget<QLineEdit>(*form, "SeriesAxisTitleEdit")->setText("Time");
    NamedWidget<QLineEdit>(*form, "SeriesAxisUnitEdit")->setText("us");
    NamedWidget<QComboBox>(*form, "SeriesAxisCombo")->setCurrentIndex(2);  // pattern
    QCOMPARE(panel.Table().axis, lumora::SeriesAxis::Pattern);
    QCOMPARE(panel.Table().rows[1].x, 40.0);
    QCOMPARE(panel.Table().rows[3].x, 9999.0);
    QCOMPARE(panel.Chart()->xAxis->label(), QString("Time [us]"));
    QCOMPARE(NamedWidget<QTableWidget>(*form, "SeriesTable")->horizontalHeaderItem(1)->text(),
             QString("Time [us]"));
    NamedWidget<QLineEdit>(*form, "SeriesPatternEdit")->setText("t=\\d+us");
    emit NamedWidget<QLineEdit>(*form, "SeriesPatternEdit")->editingFinished();
    QCOMPARE(panel.Table().rows[1].x, 2.0);
    QVERIFY(NamedWidget<QLabel>(*form, "StatusMessage")->text().contains("has no group"));
    // Fit all refuses it before any work.
    NamedWidget<QAction>(*form, "FitAllAction")->trigger();
    QVERIFY(!form->CommandRunning());
    QCOMPARE(answers.errors.size(), 1);
  }

  // ---- nothing of the gas or the measurement before is left behind ---------

  // The settings with krypton and xenon beside argon, in that order.
  QByteArray GasesIni() const {
    return ArgonIni(
        "[Krypton]\r\nLevels=Kr_I_levels.txt\r\nLines=Kr, I\r\nBoltzmax=4\r\nm=83.798\r\n"
        "[Xenon]\r\nLevels=Xe_I_levels.txt\r\nLines=Xe, I\r\nBoltzmax=4\r\nm=131.293\r\n");
  }
  void CopyGasSample(const QString& gas, const QString& name) {
    QVERIFY(QFile::copy(kSourceDir + "/data/measurements/" + gas + "/" + name, Meas(name)));
  }
  // Steps the element list to the gas with the arrow keys, each step
  // choosing the gas it lands on.
  static void ChooseGas(TMainForm& form, const QString& gas) {
    auto* elements = NamedWidget<QComboBox>(form, "ElementListBox");
    const int wanted = elements->findText(gas);
    QVERIFY(wanted >= 0);
    elements->setFocus();
    while (elements->currentIndex() != wanted) {
      const int before = elements->currentIndex();
      QTest::keyClick(elements, wanted > before ? Qt::Key_Down : Qt::Key_Up);
      QVERIFY(elements->currentIndex() != before);
    }
  }
  // Shows a chart page by a click on its tab.
  static void ShowChartPage(TMainForm& form, int page) {
    QTabBar* tabs = NamedWidget<QTabWidget>(form, "ChartPages")->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
    QCOMPARE(NamedWidget<QTabWidget>(form, "ChartPages")->currentIndex(), page);
  }

  // After a switch of the gas the window shows nothing of the gas before:
  // no file in the title, no series, no files of its folder, no inspector
  // with its lines.
  void switchingTheGasLeavesNothingOfTheGasBefore() {
    CopySample(kStrongSample);
    Answers answers;
    WriteIni(GasesIni());
    TMainForm form(IniPath().toStdString(), answers.Dialogs());
    form.show();
    ActivateWindow(form);
    CopySample(kSample);
    Read(form, answers, kSample);
    NamedWidget<QAction>(form, "FitAllAction")->trigger();
    QVERIFY(Finished(form));
    QCOMPARE(form.Series()->Table().rows.size(), size_t(2));
    answers.input = "600, 1000, 1e3, 100, 50";
    AnalyzeNow(form);
    NamedWidget<QAction>(form, "PairInspectorAction")->trigger();
    ClickFile(form, kSample);
    QVERIFY(Finished(form));
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(form.windowTitle(), "Lumora - " + Meas(kSample));
    QVERIFY(form.PairInspector()->isVisible());

    ChooseGas(form, "Xenon");
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    QCOMPARE(form.CurrentSession().Table().lines.size(), size_t(0));
    QCOMPARE(form.windowTitle(), QString("Lumora"));
    const lumora::SeriesPanel& series = *form.Series();
    QVERIFY(series.Table().rows.empty());
    for (const char* points : {"SeriesPoints", "SeriesHollowPoints", "SeriesErrorBars"})
      QCOMPARE(Series(series.Chart(), points)->interface1D()->dataCount(), 0);
    QCOMPARE(NamedWidget<QTableWidget>(form, "SeriesTable")->rowCount(), 0);
    QCOMPARE(NamedWidget<QListWidget>(form, "FileListBox")->count(), 0);
    QVERIFY(NamedWidget<QLabel>(form, "StatusPanel0")->text().isEmpty());
    lumora::TPairInspectorForm* inspector = form.PairInspector();
    QVERIFY(!inspector->isVisible());
    QCOMPARE(inspector->firstLineBox->count(), 0);
    QCOMPARE(inspector->Chart1()->findChild<QCPGraph*>("PRDSeries")->dataCount(), 0);
    // Opened again it has nothing of argon to offer.
    NamedWidget<QAction>(form, "PairInspectorAction")->trigger();
    QCOMPARE(inspector->hintLabel->text(),
             QString("Run a line analysis first; its lines are offered here."));
    QVERIFY(!inspector->showButton->isEnabled());
  }

  // A file that gives no line is refused with the reason: the table, the
  // session's lines and the title stay those of the file shown.
  void fileWithoutLinesLeavesTheTableAsItWas_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");  // empty: the bundled krypton sample
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("message");
    QTest::newRow("krypton file under xenon")
        << "krypton_n2e15.txt" << QByteArray()
        << "No line of krypton_n2e15.txt is a line of Xenon: nothing was read."
        << "Wavelength 556.222530 was not found.";
    QTest::newRow("empty file") << "empty.txt" << QByteArray("")
                                << "empty.txt is empty: it holds no lines to read." << QString();
    QTest::newRow("blank lines") << "blank.txt" << QByteArray("\r\n  \r\n\r\n")
                                 << "blank.txt is empty: it holds no lines to read." << QString();
  }
  void fileWithoutLinesLeavesTheTableAsItWas() {
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QFETCH(QString, message);
    CopyGasSample("xenon", "xenon_n2e15.txt");
    if (file.startsWith("krypton"))
      CopyGasSample("krypton", file);
    else
      WriteFile(Meas(file), content);
    Answers answers;
    WriteIni(GasesIni());
    TMainForm form(IniPath().toStdString(), answers.Dialogs());
    form.show();
    ChooseGas(form, "Xenon");
    Read(form, answers, "xenon_n2e15.txt");
    FitNow(form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const std::vector<double> intensities = [&form] {
      std::vector<double> values;
      for (const auto& line : form.CurrentSession().Table().lines) values.push_back(line.Int);
      return values;
    }();
    QVERIFY(intensities.size() > 2);
    const QString firstCell = Grid(form)->Cell(TLineGrid::kIntensityColumn, 1);

    ClickFile(form, file);
    QCOMPARE(answers.errors.size(), 1);
    QVERIFY2(answers.errors[0].contains(error), qPrintable(answers.errors[0]));
    if (!message.isEmpty())
      QVERIFY(!answers.messages.isEmpty() && answers.messages.last().startsWith(message));
    QCOMPARE(form.windowTitle(), "Lumora - " + Meas("xenon_n2e15.txt"));
    QCOMPARE(Grid(form)->RowCount(), static_cast<int>(intensities.size()) + 1);
    QCOMPARE(Grid(form)->Cell(TLineGrid::kIntensityColumn, 1), firstCell);
    QCOMPARE(form.CurrentSession().Table().lines.size(), intensities.size());
    for (size_t k = 0; k < intensities.size(); ++k)
      QCOMPARE(form.CurrentSession().Table().lines[k].Int, intensities[k]);
    QCOMPARE(Series(form.Charts()->EBFChart(), "Series_m")->interface1D()->dataCount(),
             static_cast<int>(intensities.size()));
    QVERIFY(NamedWidget<QLabel>(form, "StatusMessage")
                ->text()
                .startsWith("Nothing was read from " + file));
  }

  // A pointer read-out goes when its chart is emptied: the densities by an
  // edit of the lines they were fitted to, the analysis by a fit.
  void readOutsGoWithTheirChart() {
    Answers answers;
    auto form = SampleForm(answers, kSample);
    ActivateWindow(*form);
    auto* readout = NamedWidget<QLabel>(*form, "StatusPanel1");
    const auto pointAtMiddle = [&](QCustomPlot* chart) {
      MovePointer(chart, chart->axisRect()->rect().center());
      QVERIFY2(!readout->text().isEmpty(), chart->objectName().toLatin1());
    };
    FitNow(*form);
    ShowChartPage(*form, 2);
    QCustomPlot* densities = form->Charts()->DensityChart();
    pointAtMiddle(densities);
    TypeIntoCell(Grid(*form), 2, "777");
    QCOMPARE(Series(densities, "DensitySeries")->interface1D()->dataCount(), 0);
    QCOMPARE(readout->text(), QString());

    answers.input = "600, 1000, 1e3, 100, 50";
    answers.discard = true;
    AnalyzeNow(*form);
    QCustomPlot* analysis = form->Charts()->AnalyzeChart();
    pointAtMiddle(analysis);
    FitNow(*form);
    QCOMPARE(Series(analysis, "AnalysisSeries")->interface1D()->dataCount(), 0);
    QCOMPARE(readout->text(), QString());
  }

  // The line-analysis box offers the parameters of the last analysis that
  // ran, not those it refused.
  void refusedAnalysisParametersAreNotOfferedAgain_data() {
    QTest::addColumn<QString>("refused");
    QTest::newRow("range factor 0") << "600, 1000, 1e3, 100, 0";
    QTest::newRow("negative range factor") << "600, 1000, 1e3, 100, -5";
    QTest::newRow("four numbers") << "600, 1000, 1e3, 100";
  }
  void refusedAnalysisParametersAreNotOfferedAgain() {
    QFETCH(QString, refused);
    Answers answers;
    auto form = SampleForm(answers, kSample);
    answers.input = "600, 1000, 1e3, 100, 50";
    AnalyzeNow(*form);
    QVERIFY2(answers.errors.isEmpty(), qPrintable(answers.errors.join('\n')));
    const QString title = form->windowTitle();
    answers.input = refused;
    AnalyzeNow(*form);
    QCOMPARE(answers.errors.size(), 1);
    QCOMPARE(form->windowTitle(), title);
    answers.cancelInput = true;
    AnalyzeNow(*form);
    QCOMPARE(answers.inputTexts.last(), QString("600, 1000, 1e3, 100, 50"));
  }
};

std::unique_ptr<QObject> NewMainFormTest() { return std::make_unique<MainFormTest>(); }

#include "mainform_test.moc"
