// lumora-screenshots: renders the main views of the window into PNG files,
// on the bundled argon database and sample: the table and branching
// fractions after a fit, the level densities, the Monte Carlo histogram, the
// colour map with its confidence regions, the Map page under "1s levels",
// the line analysis, a spectrum read and the series of the bundled pulse
// recordings, each at 1280x800, 1024x700 and 960x640
// (the smallest window the layout is made for).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <iostream>
#include <memory>

#include "app/appstart.h"
#include "app/linegrid.h"
#include "app/mainform.h"
#include "app/named_widget.h"
#include "app/paircurvewindow.h"

namespace {

bool WaitForCommand(lumora::TMainForm& form) {
  return QTest::qWaitFor([&form] { return !form.CommandRunning(); }, 120000);
}

bool Save(lumora::TMainForm& form, const QSize& size, const QString& path) {
  form.resize(size);
  QTest::qWait(50);
  if (!form.grab().save(path)) {
    std::cerr << "cannot write " << path.toStdString() << "\n";
    return false;
  }
  std::cout << path.toStdString() << "\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: lumora-screenshots SOURCE_DIR OUTPUT_DIR\n";
    return 2;
  }
  QApplication app(argc, argv);
  lumora::ApplyDarkStyle(app);
  const QString source = QString::fromLocal8Bit(argv[1]);
  const QString output = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(output);
  QTemporaryDir work;
  qputenv("TMPDIR", work.path().toLocal8Bit());  // the fit log goes here
  const QString ini = work.filePath("lumora.ini");
  QFile settings(ini);
  if (!settings.open(QIODevice::WriteOnly)) return 1;
  settings.write(("[_Files]\r\nDatabase=" + source + "/data/database\r\nMeasurements=" + source +
                  "/data/measurements\r\n[_Parameters]\r\nDefaultAtom=0\r\nTn=300\r\nPath=1\r\n"
                  "[_Iteration]\r\nDensityPoints=120\r\nTemperaturePoints=120\r\n"
                  "[Argon]\r\nLevels=Ar_I_levels.txt\r\nLines=Ar, I\r\nBoltzmax=4\r\nm=39.948\r\n")
                     .toLocal8Bit());
  settings.close();

  lumora::TFormDialogs dialogs;
  dialogs.Input = [](const QString&, const QString&, const QString&) -> std::optional<QString> {
    return QString("600, 1000, 1e3, 100, 50");
  };
  auto spectrum = std::make_shared<QString>(source +
                                            "/data/measurements/argon_n1.5e17_shifted.recording.csv");
  dialogs.OpenSpectrum = [spectrum](const QString&) { return *spectrum; };
  dialogs.SpectrumOptions = [](const lumora::SpectrumFields& fields) {
    return std::optional<lumora::SpectrumFields>(fields);
  };
  dialogs.ShowError = [](const QString& text) { std::cerr << text.toStdString() << "\n"; };
  dialogs.ShowMessage = dialogs.ShowError;
  lumora::TMainForm form(ini.toStdString(), dialogs);
  form.show();
  form.OpenMeasurement(source + "/data/measurements/argon_n2e15.txt");
  form.Fit();
  if (!WaitForCommand(form)) return 1;
  bool ok = true;
  const std::pair<QSize, QString> sizes[] = {{QSize(1280, 800), "1280x800"},
                                             {QSize(1024, 700), "1024x700"},
                                             {QSize(960, 640), "960x640"}};
  auto* chartPages = lumora::NamedWidget<QTabWidget>(form, "ChartPages");
  auto* linePages = lumora::NamedWidget<QTabWidget>(form, "LinePages");
  for (const auto& [size, name] : sizes) {
    chartPages->setCurrentIndex(0);
    ok &= Save(form, size, output + "/fit-" + name + ".png");
  }
  // The fitted level densities beside the element's database lines.
  for (const auto& [size, name] : sizes) {
    chartPages->setCurrentIndex(2);
    linePages->setCurrentIndex(1);
    ok &= Save(form, size, output + "/densities-" + name + ".png");
  }
  linePages->setCurrentIndex(0);
  chartPages->setCurrentIndex(0);
  // Monte Carlo refits with 2 % intensity noise, a fixed seed.
  lumora::NamedWidget<QLineEdit>(form, "MonteCarloRunsEdit")->setText("2000");
  lumora::NamedWidget<QLineEdit>(form, "MonteCarloNoiseEdit")->setText("0.02");
  lumora::NamedWidget<QLineEdit>(form, "MonteCarloSeedEdit")->setText("1");
  form.Fit();
  if (!WaitForCommand(form)) return 1;
  for (const auto& [size, name] : sizes)
    ok &= Save(form, size, output + "/uncertainty-" + name + ".png");
  lumora::NamedWidget<QLineEdit>(form, "MonteCarloRunsEdit")->clear();
  // The map of the noisy sample around its valley, with its confidence regions.
  form.OpenMeasurement(source + "/data/measurements/argon_n4e16_noise.txt");
  lumora::NamedWidget<QLineEdit>(form, "FromDensityEdit")->setText("1E+016");
  lumora::NamedWidget<QLineEdit>(form, "ToDensityEdit")->setText("1E+017");
  lumora::NamedWidget<QLineEdit>(form, "FromTempEdit")->setText("100");
  lumora::NamedWidget<QLineEdit>(form, "ToTempEdit")->setText("3000");
  form.CreateMap();
  if (!WaitForCommand(form)) return 1;
  for (const auto& [size, name] : sizes) ok &= Save(form, size, output + "/map-" + name + ".png");
  // A fit weighted by 2 % relative uncertainties: error bars, and the table
  // shown at its uncertainty and normalised residual columns.
  auto* grid = lumora::NamedWidget<lumora::TLineGrid>(form, "StringGrid1");
  lumora::NamedWidget<QComboBox>(form, "UncertaintyBox")->setCurrentText("relative");
  form.Fit();
  if (!WaitForCommand(form)) return 1;
  chartPages->setCurrentIndex(0);
  for (const auto& [size, name] : sizes) {
    form.resize(size);
    QApplication::processEvents();
    grid->scrollTo(grid->model()->index(0, lumora::TLineGrid::kNormalisedResidualColumn));
    ok &= Save(form, size, output + "/weighted-" + name + ".png");
  }
  grid->scrollTo(grid->model()->index(0, 0));
  lumora::NamedWidget<QComboBox>(form, "UncertaintyBox")->setCurrentText("none");
  // The Map page under "1s levels", whose second axis is a density ratio.
  auto* distribution = lumora::NamedWidget<QComboBox>(form, "DistributionComboBox");
  distribution->setCurrentIndex(1);
  lumora::NamedWidget<QTabWidget>(form, "MethodPages")->setCurrentIndex(1);
  for (const auto& [size, name] : sizes)
    ok &= Save(form, size, output + "/map-page-1s-" + name + ".png");
  distribution->setCurrentIndex(0);
  lumora::NamedWidget<QTabWidget>(form, "MethodPages")->setCurrentIndex(0);
  form.AnalyzeLines();
  if (!WaitForCommand(form)) return 1;
  for (const auto& [size, name] : sizes)
    ok &= Save(form, size, output + "/analysis-" + name + ".png");
  // The pair inspector on a pair of the analysis, its densities absolute above.
  form.ShowPairCurve(763.5106, 738.398);
  if (!WaitForCommand(form)) return 1;
  QTest::qWait(50);
  const QString inspector = output + "/line-pair-curves.png";
  if (form.PairInspector()->grab().save(inspector))
    std::cout << inspector.toStdString() << "\n";
  else
    ok = false;
  form.PairInspector()->hide();
  form.ReadSpectrum();
  if (!WaitForCommand(form)) return 1;
  for (const auto& [size, name] : sizes)
    ok &= Save(form, size, output + "/recording-" + name + ".png");
  // The recording's flagged lines in the table, excluded, with their flags.
  for (int row = 1; row < grid->RowCount(); ++row) {
    if (grid->RowIncluded(row)) continue;
    for (const auto& [size, name] : sizes) {
      form.resize(size);
      QApplication::processEvents();
      grid->scrollTo(grid->model()->index(row - 1, 0), QAbstractItemView::PositionAtCenter);
      grid->scrollTo(grid->model()->index(row - 1, lumora::TLineGrid::kSignalToNoiseColumn));
      ok &= Save(form, size, output + "/recording-flagged-" + name + ".png");
    }
    grid->scrollTo(grid->model()->index(0, 0));
    break;
  }
  // "Fit all files" over the pulse with T_exc fitted too (some fits end at
  // the iteration limit: hollow points), its chart beside its table.
  *spectrum = source + "/data/measurements/pulse/argon_pulse_t=0000us.recording.csv";
  form.ReadSpectrum();
  if (!WaitForCommand(form)) return 1;
  lumora::NamedWidget<QCheckBox>(form, "FitTempCheckBox")->setChecked(true);
  lumora::NamedWidget<QLineEdit>(form, "MaxIterEdit")->setText("200");
  form.FitAllFiles();
  if (!WaitForCommand(form)) return 1;
  lumora::NamedWidget<QTabWidget>(form, "LinePages")->setCurrentIndex(4);
  for (const auto& [size, name] : sizes)
    ok &= Save(form, size, output + "/series-" + name + ".png");
  return ok ? 0 : 1;
}
