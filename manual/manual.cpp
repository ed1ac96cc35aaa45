// The text of both manuals. Usage lines and summaries are what --help prints;
// the option lists add what each option does.
#include "manual/manual.h"

#include <algorithm>

namespace lumora::manual {
namespace {

// The window's fields, which fit and map take from the settings file unless
// an option gives them.
std::vector<Item> FieldOptions() {
  return {
      {"--density N1", "start density n_1 of the fit, in m-3 (field \"Density n_1 (m-3)\")"},
      {"--temperature T",
       "start value of the second parameter: the excitation temperature in K under "
       "\"Boltzmann\", the relative density under \"1s levels\""},
      {"--fit-temperature", "fit the second parameter too (always on under \"1s levels\")"},
      {"--distribution boltzmann|1s",
       "population of the lower levels: \"Boltzmann\" or \"1s levels\"; 1s also fits the "
       "second parameter and takes the four 1s levels"},
      {"--count K", "number of populated levels (field \"Count\")"},
      {"--tn TN", "gas temperature in K (field \"Gas Tn (K)\")"},
      {"--path L", "absorption path length in m (field \"Abs. path (m)\")"},
      {"--max-iter N", "largest number of iterations of the fit"},
      {"--from-density D", "first density of the map grid, in m-3"},
      {"--to-density D",
       "end of the map grid's density range, in m-3: the grid steps (D - first) / N in log10 "
       "from the first density, so its last point lies one step below D"},
      {"--density-points N", "number of density points of the map grid"},
      {"--from-temperature T", "first temperature of the map grid, in K"},
      {"--to-temperature T",
       "end of the map grid's temperature range, in K: the grid steps (T - first) / N, so its "
       "last point lies one step below T"},
      {"--temperature-points N", "number of temperature points of the map grid"},
      {"--report results|log",
       "print one results line a file (results, the default) or the whole fit log (log)"},
      {"--save-map", "map: write the residual map to Maps/<file>_map.txt beside each measurement"},
      {"--table", "print each measurement's line table after its results"},
      {"--json", "print one JSON object a file (JSON Lines), errors included; not with --table"},
      {"--jobs N",
       "number of worker threads of the whole process (default: one a core; at most four a "
       "core, and no more than the system can start); --jobs 1 runs the files one after the "
       "other on one thread"},
      {"--spectrum",
       "take each FILE as a recorded spectrum and integrate its lines first; an SPE camera "
       "file counts as each of its frames, fitted one by one"},
  };
}

// How a recorded spectrum is integrated (integrate, and fit or map with
// --spectrum).
std::vector<Item> SpectrumOptions() {
  return {
      {"--fwhm NM",
       "full width at half maximum of the lines in nm (default: estimated from the "
       "strongest isolated lines)"},
      {"--window K", "integrate each line over plus and minus K FWHM (default 2)"},
      {"--shift-max NM", "largest wavelength offset searched, in nm (default 0.2)"},
      {"--dark FILE", "dark spectrum on the same grid, subtracted first"},
      {"--response FILE",
       "relative sensitivity by wavelength; the lines' figures are divided by it"},
      {"--min-snr X", "lines with a signal-to-noise ratio below X are flagged weak (default 3)"},
      {"--saturation COUNTS",
       "counts at which a line counts as saturated (default: the "
       "spectrum's maximum)"},
      {"--frame K", "of an SPE file only frame K, counted from 1 (default: every frame)"},
      {"--roi K",
       "of an SPE file the region of interest K, counted from 1 (default 1); a region of "
       "several rows is binned by summing them"},
  };
}

// The intensities' uncertainties, which weight a fit (and drive its
// refits) or a map.
enum class Weighted { Fit, Map };

std::vector<Item> WeightOptions(Weighted command) {
  const bool fit = command == Weighted::Fit;
  std::vector<Item> items = {
      {"--noise REL",
       fit ? "each intensity has the standard uncertainty REL times itself: the fit minimises "
             "the branching fractions' chi-square and prints it with its p-value, and Monte "
             "Carlo refits draw each intensity with it (log-normal)"
           : "each intensity has the standard uncertainty REL times itself: each grid point "
             "holds the branching fractions' chi-square (printed with its p-value at the "
             "minimum), and --confidence takes the least chi-square plus its quantile with 2 "
             "degrees of freedom as the region's edge"},
      {"--poisson",
       "the intensities are photon counts with the uncertainty sqrt(I); weights as --noise"},
      {"--sigma-column",
       "the third number of each measurement line is the intensity's standard uncertainty "
       "(then required); weights as --noise. Without it a third column is ignored"},
  };
  if (fit)
    items.insert(items.begin() + 2,
                 {"--profile LEVEL",
                  "also scan n_1 around the optimum (refitting the second parameter when it is "
                  "fitted) and print the interval where the sum stays under the level's "
                  "threshold (chi-square when weighted, the F test's otherwise), or \"n_1 < X\" "
                  "where the lines bound n_1 from above only"});
  return items;
}

std::vector<Item> MonteCarloOptions() {
  return {
      {"--monte-carlo N",
       "refit N perturbed copies of each measurement and print the mean, "
       "standard deviation, median and 2.5 % and 97.5 % percentiles; needs --noise, "
       "--poisson, --sigma-column or --aki-accuracy. When more than 5 % of the refits end "
       "at the model's lower edge of n_1 (1 m-3), it prints \"n_1 < X\" instead, X the 95th "
       "percentile of the refits' n_1"},
      {"--aki-accuracy", "scale each Aki within the accuracy grade of the line database"},
      {"--seed S", "seed of the perturbations; without it one is drawn and printed"},
  };
}

std::string SpectrumUsage() {
  return "[--fwhm NM] [--window K] [--shift-max NM] [--dark FILE] [--response FILE] "
         "[--min-snr X] [--saturation COUNTS] [--frame K] [--roi K]";
}

std::vector<Item> Join(std::initializer_list<std::vector<Item>> parts) {
  std::vector<Item> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Where both programs find their data, and what they find there.
std::vector<Item> DataEnvironment() {
  return {
      {"XDG_DATA_HOME",
       "the per-user data folder is $XDG_DATA_HOME/Lumora 1.3 (default ~/.local/share)"},
      {"XDG_DATA_DIRS",
       "the machine-wide data folder is the first folder of this list that holds \"Lumora "
       "1.3\" (default /usr/local/share:/usr/share)"},
      {"HOME", "the home folder, for the default of XDG_DATA_HOME"},
      {"TMPDIR", "folder of the fit logs (default /tmp)"},
  };
}

std::vector<Item> DataFiles() {
  return {
      {"~/.local/share/Lumora 1.3/lumora.ini",
       "the user's settings: the database folder, the last measurement folder, the window's "
       "fields and one section per element"},
      {"/usr/share/Lumora 1.3/lumora.ini",
       "the machine-wide settings, copied on a user's first start"},
      {"/usr/share/Lumora 1.3/Database/", "the bundled argon line and level files"},
      {"/usr/share/Lumora 1.3/Measurements/", "synthetic sample measurements and recordings"},
  };
}

Page MakeCliPage() {
  // Built on first use, never during static initialisation: the pages are
  // read by the commands' registrations.
  static const std::string fieldUsage =
      "[--density N1] [--temperature T] [--fit-temperature] [--distribution boltzmann|1s] "
      "[--count K] [--tn TN] [--path L] [--max-iter N] [--from-density D] [--to-density D] "
      "[--density-points N] [--from-temperature T] [--to-temperature T] "
      "[--temperature-points N] [--report results|log] [--save-map] [--table] [--json] "
      "[--jobs N] [--spectrum " +
      SpectrumUsage() + "] FILE...";
  static const std::string fitUsage =
      "[--log FILE] [--series CSV [--x-pattern REGEX]] "
      "[--noise REL | --poisson | --sigma-column] [--profile LEVEL] "
      "[--monte-carlo N [--aki-accuracy] [--seed S]] " +
      fieldUsage;
  static const std::string mapUsage =
      "[--confidence LEVEL] [--noise REL | --poisson | --sigma-column] " + fieldUsage;
  static const std::string integrateUsage = SpectrumUsage() + " [--report FILE] SPECTRUM";
  Page p;
  p.program = "lumora-cli";
  p.purpose = "self-absorption analysis of emission lines without the window";
  p.synopsis = "[--ini FILE] [--element NAME] COMMAND [ARGS...]";
  p.description = {
      "lumora-cli runs Lumora's computations without the window: it fits the density n_1 of "
      "the lowest absorbing level (and optionally the excitation temperature) to the "
      "branching fractions of measured emission lines, scans the density-temperature grid, "
      "analyses line pairs, integrates recorded spectra and lists and converts the line "
      "database. Its numbers and texts are those of the window.",
      "The settings come from the per-user settings file, copied from the machine-wide one "
      "on a user's first start, or from the file given with --ini. Values that a command "
      "does not take as options come from the settings, as the window's fields do. Numbers "
      "use \".\" as the decimal separator whatever the locale.",
      "Messages that end a reading early (a wavelength not found, a STOP line) go to "
      "standard error and the command goes on. fit and map take several files, go on with "
      "the next one when a file fails, and print exactly what one worker would print, in "
      "the order of the files. An output that is also one of the command's inputs is "
      "refused before any work."};
  p.options = {
      {"--ini FILE", "use this settings file as it stands"},
      {"--element NAME", "use this element section instead of the default one"},
      {"--help", "show this help"},
      {"--version", "print the program's version"},
  };
  p.commands = {
      {"analyze",
       "[--params \"FROM, TO, MINA, MAXE, F\"] [--pair WLX WLY]",
       "simulate the lines between the limits and show how line-pair ratios change from N0 "
       "to N0 x F",
       {{"--params \"FROM, TO, MINA, MAXE, F\"",
         "wavelength range in nm, smallest Aki in s-1, largest upper energy in eV and the "
         "density factor F (default \"200, 950, 1e3, 100, 50\")"},
        {"--pair WLX WLY", "the line pair whose ratio curve is printed, wavelengths in nm"}}},
      {"check-element",
       "NAME",
       "check an element section: its files, level order, every line's levels, weights "
       "g = 2J + 1, the 1s levels and the analysis pair",
       {}},
      {"convert",
       "SOURCE TARGET",
       "copy a line file's records into TARGET with Aki scaled by 1E-16",
       {}},
      {"export-lines",
       "MIN MAX WL HALFCOUNT MININTENSITY",
       "the line nearest to WL, then lines stronger than MININTENSITY: up to HALFCOUNT below "
       "it and the rest of 2*HALFCOUNT above it; wavelength, intensity and label",
       {}},
      {"extract",
       "SOURCE TARGETDIR EL ION",
       "build the line file TARGETDIR/EL_ION.txt from a pipe-separated line table",
       {}},
      {"fit", fitUsage,
       "fit n_1 (and with --fit-temperature the second parameter) to each measurement and "
       "print its results line; --log copies the fit's log (of the last file) to FILE; "
       "--monte-carlo refits N perturbed copies and prints the spread; --series writes one "
       "row per file (file, x, n1, u_n1, second, sum, stop) as CSV, a failed file with its "
       "error in stop",
       Join({{{"--log FILE", "copy the fit log of the last file to FILE"},
              {"--series CSV",
               "also write the series table to CSV: x is the file's place (1, 2, ...), or "
               "with --spectrum the seconds since the earliest time stamp of the recordings' "
               "headers (\"# time: 2026-03-01T10:15:30Z\") when they have one; for the "
               "frames of SPE files the exposure's start after the first frame's, in the "
               "unit of the file's clock named in the header (\"x (us)\"), or without "
               "time stamps the frame's number"},
              {"--x-pattern REGEX",
               "take x from the file names instead: the number in the first group of REGEX, "
               "for example 't=(\\d+)us' or '(\\d+)W'"}},
             WeightOptions(Weighted::Fit),
             MonteCarloOptions(),
             FieldOptions(),
             SpectrumOptions()})},
      {"integrate", integrateUsage,
       "integrate the element's lines in a recorded spectrum (wavelength in nm, intensity) and "
       "print the measurement: each unflagged line's wavelength as the line base holds it, a "
       "tab and its net area; --report FILE writes every line's window, area, peak, baseline, "
       "S/N, shift and flags. SPECTRUM may be an SPE camera file (2.x or 3.0, with a "
       "wavelength calibration): each frame's measurement follows a line \"# SPECTRUM, frame "
       "K\"",
       Join({SpectrumOptions(),
             {{"--report FILE",
               "write every line's window, area, peak, baseline, S/N, shift "
               "and flags to FILE"}}})},
      {"levels", "", "print the element's levels as the window lists them", {}},
      {"lines",
       "[--all]",
       "print the element's database lines (with --all also those without a positive Aki)",
       {{"--all", "list also the lines without a positive Aki"}}},
      {"map", mapUsage,
       "evaluate the residual sum (with the intensities' uncertainties the chi-square) over "
       "the density-temperature grid for each measurement and print its results line; "
       "--save-map writes Maps/<file>_map.txt beside it; --confidence prints what the joint "
       "confidence region covers",
       Join({{{"--confidence LEVEL",
               "print the ranges of n_1 and the second parameter that the joint confidence "
               "region at LEVEL (between 0 and 1) covers"}},
             WeightOptions(Weighted::Map),
             FieldOptions(),
             SpectrumOptions()})},
      {"matrix",
       "WHAT FILE",
       "write the level-to-level matrix of the element's lines to FILE; WHAT: 0 wavelength, "
       "1 intensity, 2 Aki, 3 log gf, 4 Ei, 5 Ek",
       {}},
      {"settings", "", "print every settings key with its effective value", {}},
      {"spectrum",
       "ATOMINT MOLINT MINSP MAXSP MINWL MAXWL",
       "stick spectrum of the database lines from MINWL to MAXWL nm, scaled into MINSP to "
       "MAXSP: wavelength, intensity and label",
       {}},
      {"structure", "", "print the element's level-line structure", {}},
      {"table",
       "FILE",
       "read a measurement and print its line table as \"Save table\" writes it",
       {}},
      {"window",
       "MIN MAX WL",
       "list the database lines from MIN to MAX nm; \"> \" marks the line nearest to WL",
       {}},
  };
  p.exitStatus = {
      {"0",
       "success; also when the program's files are missing (\"Necessary program files "
       "are missing.\" on standard error)"},
      {"1",
       "a wrong command line, or an error (on standard error); for fit and map, at "
       "least one file failed"},
      {"130, 143", "fit or map stopped by SIGINT or SIGTERM after the files in flight"},
  };
  p.environment = DataEnvironment();
  p.files = DataFiles();
  p.examples = {
      {"lumora-cli fit /usr/share/Lumora\\ 1.3/Measurements/*.txt",
       "fit n_1 to every sample and print one results line each"},
      {"lumora-cli fit --fit-temperature --temperature 1500 --json FILE",
       "fit n_1 and the excitation temperature and print the result as JSON"},
      {"lumora-cli fit --monte-carlo 1000 --noise 0.02 --aki-accuracy --seed 7 FILE",
       "the fit's spread under 2 % intensity noise and the Aki accuracies"},
      {"lumora-cli fit --series power.csv --x-pattern '(\\d+)W' scan/*.txt",
       "fit every file of a power scan and write n_1 against the power to power.csv"},
      {"lumora-cli map --confidence 0.95 --save-map FILE",
       "scan the grid, write the map file and print the 95 % confidence ranges"},
      {"lumora-cli integrate spectrum.csv > lines.txt && lumora-cli fit lines.txt",
       "integrate a recorded spectrum into a measurement and fit it"},
      {"lumora-cli fit --spectrum --series pulse.csv pulse.spe",
       "fit every frame of a camera file and write n_1 against the frames' times"},
      {"lumora-cli --element Argon lines", "list the argon lines of the database"},
  };
  p.seeAlso = {"lumora(1)"};
  return p;
}

Page MakeWindowPage() {
  Page p;
  p.program = "lumora";
  p.purpose = "self-absorption analysis of emission lines";
  p.synopsis = "[FILE]";
  p.description = {
      "Lumora finds the density n_1 of the lowest absorbing level of a low-temperature "
      "plasma, and optionally the excitation temperature, from the intensities of emission "
      "lines that share an upper level. It compares their measured branching fractions with "
      "those of a self-absorption model by a Levenberg-Marquardt fit or over a "
      "density-temperature grid, and shows how line-pair ratios change with the density.",
      "The window opens FILE when one is given: a measurement (a wavelength and an intensity "
      "a line) is read as \"Read intensities\" reads it; a recording (*.recording.csv) or an "
      "SPE camera file (*.spe; the window asks which frame of several) is integrated as "
      "\"Read spectrum\" does, with the options used last. Dropping a file on the window "
      "does the same. \"Fit all files\" on a camera file of several frames fits its frames "
      "as the series, against the frames' times.",
      "On a user's first start Lumora copies the settings file from the machine-wide data "
      "folder; when neither folder holds it, the program ends with \"Necessary program files "
      "are missing.\" The window also takes the options of every Qt program, such as "
      "-platform NAME and -style NAME.",
      "Keys: Ctrl+O read intensities, Ctrl+N next file, Ctrl+S save table, Ctrl+E export the "
      "chart shown, F5 fit, Ctrl+F5 fit all files of the folder (the \"Series\" chart and "
      "table), F6 create map, F7 line analysis, Esc cancel the running command, F1 keyboard "
      "shortcuts, Ctrl+Q quit."};
  p.options = {
      {"--help", "show this help"},
      {"--version", "print the program's version"},
  };
  p.exitStatus = {
      {"0", "the window was closed; also when the program's files are missing"},
      {"1", "the settings file could not be read"},
  };
  p.environment = DataEnvironment();
  p.environment.push_back(
      {"QT_QPA_PLATFORM", "the window system Qt uses; offscreen runs without a display"});
  p.files = DataFiles();
  p.examples = {
      {"lumora /usr/share/Lumora\\ 1.3/Measurements/argon_n2e15.txt",
       "open the window with a sample measurement read"},
      {"lumora spectrum.recording.csv", "open the window with a recorded spectrum integrated"},
  };
  p.seeAlso = {"lumora-cli(1)"};
  return p;
}

}  // namespace

const Page& CliPage() {
  static const Page page = MakeCliPage();
  return page;
}

const Page& WindowPage() {
  static const Page page = MakeWindowPage();
  return page;
}

const Command* FindCommand(std::string_view name) {
  const auto& commands = CliPage().commands;
  auto it = std::find_if(commands.begin(), commands.end(),
                         [&](const Command& c) { return c.name == name; });
  return it == commands.end() ? nullptr : &*it;
}

}  // namespace lumora::manual
