// The Python module `lumora`: Session over the core's session layer, with
// NumPy arrays for tables and grids and the core's errors as exceptions.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "model/line_pair_analysis.h"
#include "model/recording_frames.h"
#include "model/table_text.h"
#include "python/interruption.h"
#include "python/session_handle.h"

namespace py = pybind11;

namespace lumora::python {
namespace {

// ---- keyword arguments -----------------------------------------------------

// A number as the text a user would type into the field: integers as they
// are, floats as their shortest exact text, so that `density=1e16` reads as
// `--density 1e16` does. A text is taken as typed (a bad one raises the
// program's own ConvertError when the command reads it).
std::optional<std::string> ToFieldText(const py::object& value, const char* name) {
  if (value.is_none()) return std::nullopt;
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " takes a number, not a bool");
  if (py::isinstance<py::int_>(value)) return py::str(value).cast<std::string>();
  if (py::isinstance<py::float_>(value) || py::hasattr(value, "__float__")) {
    const double v = value.cast<double>();
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
  }
  throw py::type_error(std::string(name) + " takes a number or a text");
}

double ToReal(const py::object& value, double fallback) {
  if (value.is_none()) return fallback;
  if (py::isinstance<py::str>(value)) return StrToFloat(value.cast<std::string>());
  return value.cast<double>();
}

// ---- results ---------------------------------------------------------------

// A result: named fields read as attributes, and to_dict() for all of them.
struct Result {
  std::string kind;
  py::dict fields;
};

py::array_t<double> ToArray(const std::vector<long double>& values) {
  py::array_t<double> array(static_cast<py::ssize_t>(values.size()));
  auto out = array.mutable_unchecked<1>();
  for (size_t k = 0; k < values.size(); ++k) out(k) = static_cast<double>(values[k]);
  return array;
}

void AddFigures(py::dict& d, const CommandOutcome& outcome) {
  const ResultsFigures& f = outcome.figures;
  d["n1"] = f.densities.empty() ? 0.0 : static_cast<double>(f.densities[0]);
  d["u_n1"] = f.uncertainties.empty() ? 0.0 : static_cast<double>(f.uncertainties[0]);
  d["n_tot"] = static_cast<double>(f.total);
  d["u_n_tot"] = static_cast<double>(f.totalUncertainty);
  d["densities"] = ToArray(f.densities);
  d["u_densities"] = ToArray(f.uncertainties);
  d["procedure"] = f.procedure;
  d["report"] = outcome.report;
  d["header"] = outcome.resultsLine.header;
  d["results_line"] = outcome.resultsLine.line;
}

Result FitResultObject(const FitResult& r, const CommandOutcome& outcome, bool withLog) {
  py::dict d;
  AddFigures(d, outcome);
  d["log10_n1"] = static_cast<double>(r.fitted.log10N1);
  d["second"] = static_cast<double>(r.fitted.second);
  d["u_second"] = static_cast<double>(r.SecondError());
  d["u_log10_n1"] = static_cast<double>(r.Log10N1Error());
  d["fit_temperature"] = r.parameterCount == 2;
  d["rss"] = static_cast<double>(r.sum);
  d["weighted"] = r.weighted;
  const py::object none = py::none();
  d["chi2"] = r.weighted ? py::object(py::float_(static_cast<double>(r.goodness.chiSquare))) : none;
  d["dof"] = r.weighted ? py::object(py::int_(r.goodness.degreesOfFreedom)) : none;
  d["p_value"] = r.weighted ? py::object(py::float_(r.goodness.pValue)) : none;
  d["u_log10_n1_robust"] =
      r.weighted ? none : py::object(py::float_(static_cast<double>(r.RobustLog10N1Error())));
  d["stop_code"] = static_cast<int>(r.stopCode);
  d["iterations"] = r.iterations;
  const int n = r.parameterCount;
  py::array_t<double> covariance({n, n});
  auto c = covariance.mutable_unchecked<2>();
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) c(i, j) = static_cast<double>(r.covariance(i, j));
  d["covariance"] = covariance;
  d["log"] = withLog ? py::object(py::str(outcome.log)) : py::object(py::none());
  return {"FitResult", d};
}

// The grid's axes as the map stepped them: by adding the step, point after
// point, so that each value is the one its cell was evaluated at.
py::array_t<double> SteppedAxis(double from, double step, size_t points) {
  py::array_t<double> axis(static_cast<py::ssize_t>(points));
  auto out = axis.mutable_unchecked<1>();
  double value = from;
  for (size_t k = 0; k < points; ++k, value += step) out(k) = value;
  return axis;
}

Result MapResultObject(const MapResult& r, const CommandOutcome& outcome) {
  py::dict d;
  AddFigures(d, outcome);
  const size_t rows = r.grid.size();
  const size_t columns = rows ? r.grid[0].size() : 0;
  py::array_t<double> grid({rows, columns});
  auto g = grid.mutable_unchecked<2>();
  for (size_t i = 0; i < rows; ++i)
    for (size_t j = 0; j < columns; ++j) g(i, j) = r.grid[i][j];
  d["grid"] = grid;
  d["log10_density"] = SteppedAxis(r.range.x0, r.range.dx, columns);
  d["temperature"] = SteppedAxis(r.range.y0, r.range.dy, rows);
  d["minimum"] = r.minimum;
  d["maximum"] = r.maximum;
  d["minimum_index"] = py::make_tuple(r.minimumRow, r.minimumColumn);
  d["log10_n1"] = static_cast<double>(r.atMinimum.log10N1);
  d["second"] = static_cast<double>(r.atMinimum.second);
  // The grid's sums are chi-squares when the map was weighted.
  d["weighted"] = r.Weighted();
  const auto weightedOnly = [&](auto value) {
    return r.Weighted() ? py::object(py::cast(value)) : py::object(py::none());
  };
  d["chi2"] = weightedOnly(static_cast<double>(r.goodness.chiSquare));
  d["dof"] = weightedOnly(r.goodness.degreesOfFreedom);
  d["p_value"] = weightedOnly(r.goodness.pValue);
  return {"MapResult", d};
}

py::dict StatisticsDict(const SampleStatistics& s) {
  py::dict d;
  d["mean"] = s.mean;
  d["std"] = s.std;
  d["p2_5"] = s.p2_5;
  d["p50"] = s.p50;
  d["p97_5"] = s.p97_5;
  return d;
}

Result MonteCarloObject(const MonteCarloResult& r, const FitResult& fit,
                        const CommandOutcome& outcome) {
  py::dict d;
  d["runs"] = r.runs;
  d["failed"] = r.failed;
  d["seed"] = r.seed;
  d["lines_without_grade"] = r.linesWithoutGrade;
  d["log10_n1"] = StatisticsDict(r.log10N1);
  d["n1"] = StatisticsDict(r.n1);
  d["second"] = r.second ? py::object(StatisticsDict(*r.second)) : py::object(py::none());
  py::array_t<double> samples(static_cast<py::ssize_t>(r.log10N1Samples.size()));
  std::copy(r.log10N1Samples.begin(), r.log10N1Samples.end(), samples.mutable_data());
  d["log10_n1_samples"] = samples;
  // Refits at the model's lower edge of n_1, and those no better than thin
  // lines; past 5 % at the edge the lines bound n_1 from above only, by
  // this 95th percentile (None otherwise).
  d["lower_edge_refits"] = r.lowerEdgeFailures;
  d["thin_lines_refits"] = r.thinLinesFailures;
  d["n1_upper_limit"] =
      r.n1UpperLimit ? py::object(py::float_(*r.n1UpperLimit)) : py::object(py::none());
  d["fit"] = FitResultObject(fit, outcome, false);
  d["report"] = outcome.report;
  return {"MonteCarloResult", d};
}

Result ConfidenceObject(const ConfidenceRegion& r, const MapResult& map,
                        const CommandOutcome& outcome) {
  py::dict d;
  d["level"] = r.level;
  d["threshold"] = r.threshold;
  d["log10_n1_from"] = r.minLog10N1;
  d["log10_n1_to"] = r.maxLog10N1;
  d["second_from"] = r.minSecond;
  d["second_to"] = r.maxSecond;
  d["touches_edge"] = r.touchesEdge;
  py::array_t<double> contour({static_cast<py::ssize_t>(r.contour.size()), py::ssize_t{4}});
  auto c = contour.mutable_unchecked<2>();
  for (size_t k = 0; k < r.contour.size(); ++k) {
    c(k, 0) = r.contour[k].x1;
    c(k, 1) = r.contour[k].y1;
    c(k, 2) = r.contour[k].x2;
    c(k, 3) = r.contour[k].y2;
  }
  d["contour"] = contour;
  d["text"] = outcome.report.back();
  d["map"] = MapResultObject(map, outcome);
  d["report"] = outcome.report;
  return {"ConfidenceRegion", d};
}

py::object Numpy() { return py::module_::import("numpy"); }

// A structured array from rows of tuples.
py::object StructuredArray(const py::list& rows, const py::list& dtype) {
  return Numpy().attr("array")(rows, py::arg("dtype") = dtype);
}

py::object LineTableArray(const std::vector<TLineRecord>& lines) {
  py::list rows;
  size_t width = 1;
  for (const TLineRecord& line : lines) {
    std::string upper, lower;
    StateTexts(line.AR, upper, lower);
    width = std::max({width, upper.size(), lower.size()});
    rows.append(py::make_tuple(line.AR.WaveLength, line.Int, line.G_t, line.G_m, line.G_f,
                               line.AR.Ek_eV, line.AR.Ei_eV, upper, lower, line.UpperState,
                               line.LowerState, !line.Excluded));
  }
  const std::string text = "U" + std::to_string(width);
  py::list dtype;
  for (const char* name :
       {"wavelength", "intensity", "G_t", "G_m", "G_f", "upper_energy", "lower_energy"})
    dtype.append(py::make_tuple(name, "f8"));
  dtype.append(py::make_tuple("upper_state", text));
  dtype.append(py::make_tuple("lower_state", text));
  dtype.append(py::make_tuple("upper_level", "i4"));
  dtype.append(py::make_tuple("lower_level", "i4"));
  dtype.append(py::make_tuple("included", "?"));
  return StructuredArray(rows, dtype);
}

// A line's index as Python gives it, checked against the session's lines.
size_t LineIndex(SessionHandle& s, py::ssize_t index) {
  if (index < 0 || static_cast<size_t>(index) >= s.Core().Table().lines.size())
    throw py::index_error("line index " + std::to_string(index) + " out of range");
  return static_cast<size_t>(index);
}

py::object AnalysisArray(const TAnalysisOutputArray& records) {
  py::list rows;
  for (const TAnalysisRecord& r : records)
    rows.append(py::make_tuple(r.Ii_B, r.Ij_B, r.I_B, r.Gi_A, r.Gj_A, r.Gi_B, r.Gj_B, r.R, r.SR,
                               r.wli, r.wlj, r.wlr, r.DC, r.E_u, r.levindex));
  py::list dtype;
  for (const char* name : {"Ii_B", "Ij_B", "I_B", "Gi_A", "Gj_A", "Gi_B", "Gj_B", "R", "SR", "wli",
                           "wlj", "wlr", "DC", "E_u", "levindex"})
    dtype.append(py::make_tuple(name, "f8"));
  return StructuredArray(rows, dtype);
}

// ---- errors and messages ---------------------------------------------------

struct PythonTypes {
  py::object error, inputOutput, convert, numeric, warning;
};

PythonTypes& Types() {
  // Filled once when the module loads, then only read; never destroyed, as
  // the interpreter may be gone by the time static objects are.
  static PythonTypes* types = new PythonTypes;
  return *types;
}

py::object NewException(py::module_& m, const char* name, py::tuple bases, const char* doc) {
  const std::string qualified = std::string("lumora.") + name;
  py::object type = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr));
  if (!type) throw py::error_already_set();
  m.attr(name) = type;
  return type;
}

void RegisterErrors(py::module_& m) {
  PythonTypes& t = Types();
  t.error = NewException(m, "Error", py::make_tuple(py::handle(PyExc_Exception)),
                         "An error of Lumora, with the program's own message.");
  t.inputOutput =
      NewException(m, "InputOutputError", py::make_tuple(t.error, py::handle(PyExc_OSError)),
                   "A file could not be opened, read or written.");
  t.convert = NewException(m, "ConvertError", py::make_tuple(t.error, py::handle(PyExc_ValueError)),
                           "A text that is not a number where one is required.");
  t.numeric =
      NewException(m, "NumericError", py::make_tuple(t.error, py::handle(PyExc_ArithmeticError)),
                   "A numeric fault: a range check, an overflow, an invalid operation.");
  t.warning = NewException(m, "LumoraWarning", py::make_tuple(py::handle(PyExc_UserWarning)),
                           "A message that ends a reading early (e.g. a wavelength not found).");

  py::register_exception_translator([](std::exception_ptr p) {
    const PythonTypes& t = Types();
    auto raise = [](const py::object& type, const std::exception& e) {
      PyErr_SetString(type.ptr(), e.what());
    };
    try {
      if (p) std::rethrow_exception(p);
    } catch (const InOutError& e) {
      raise(t.inputOutput, e);
    } catch (const FileError& e) {
      raise(t.inputOutput, e);
    } catch (const ConvertError& e) {
      raise(t.convert, e);
    } catch (const FieldError& e) {
      PyErr_SetString(t.error.ptr(), RenamedFieldMessage(e, KeywordOf).c_str());
    } catch (const RangeError& e) {
      raise(t.numeric, e);
    } catch (const IntOverflowError& e) {
      raise(t.numeric, e);
    } catch (const InvalidOpError& e) {
      raise(t.numeric, e);
    } catch (const ZeroDivideError& e) {
      raise(t.numeric, e);
    } catch (const OverflowError& e) {
      raise(t.numeric, e);
    } catch (const Error& e) {
      raise(t.error, e);
    } catch (const std::invalid_argument& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });
}

// Plain messages as LumoraWarning; when an error is under way, a warning
// that the filters turn into an error gives way to it.
void EmitWarnings(const std::vector<std::string>& messages, bool failing) {
  for (const std::string& text : messages) {
    if (PyErr_WarnEx(Types().warning.ptr(), text.c_str(), 1) == 0) continue;
    if (!failing) throw py::error_already_set();
    PyErr_Clear();
  }
}

// Runs `call` on the session without the GIL, one caller at a time, then
// turns the messages it left into warnings (also when it failed: the error
// is then the one raised).
template <typename Call>
auto Run(SessionHandle& s, Call call) -> decltype(call()) {
  using Value = decltype(call());
  std::optional<std::conditional_t<std::is_void_v<Value>, char, Value>> value;
  std::exception_ptr failure;
  std::vector<std::string> messages;
  const python::InterruptionWatch interruption;
  {
    py::gil_scoped_release released;
    std::lock_guard lock(s.Mutex());
    try {
      if constexpr (std::is_void_v<Value>)
        call();
      else
        value.emplace(call());
    } catch (...) {
      failure = std::current_exception();
    }
    messages = s.TakeMessages();
  }
  // Ctrl+C stopped the command: Python raises KeyboardInterrupt for it.
  if (interruption.Interrupted() && PyErr_CheckSignals() != 0) throw py::error_already_set();
  EmitWarnings(messages, failure != nullptr);
  if (failure) std::rethrow_exception(failure);
  if constexpr (!std::is_void_v<Value>) return std::move(*value);
}

// ---- arguments --------------------------------------------------------------

std::string TypeName(const py::handle& value) {
  return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

// A path argument: str or os.PathLike (bytes taken as the file name's own
// bytes); None, other types and names with a NUL are refused.
std::string PathArgument(const py::object& value, const char* name) {
  if (value.is_none())
    throw py::type_error(std::string(name) + " must be a path (str or os.PathLike), not None");
  py::object os = py::module_::import("os");
  py::object text;
  try {
    text = os.attr("fspath")(value);
  } catch (const py::error_already_set&) {
    throw py::type_error(std::string(name) + " must be a path (str or os.PathLike), not " +
                         TypeName(value));
  }
  const std::string bytes = os.attr("fsencode")(text).cast<std::string>();
  if (bytes.find('\0') != std::string::npos)
    throw py::value_error(std::string(name) + " contains a NUL character");
  if (bytes.empty()) throw py::value_error(std::string(name) + " is empty");
  return bytes;
}

// A keyword of the given type, or nothing when absent or None; another type
// is a TypeError naming the keyword and the type expected.
std::optional<bool> BoolKeyword(const py::kwargs& kw, const char* name) {
  if (!kw.contains(name) || kw[name].is_none()) return std::nullopt;
  const py::object value = kw[name];
  if (!py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " must be a bool, not " + TypeName(value));
  return value.cast<bool>();
}

std::optional<double> RealKeyword(const py::kwargs& kw, const char* name) {
  if (!kw.contains(name) || kw[name].is_none()) return std::nullopt;
  const py::object value = kw[name];
  if (py::isinstance<py::bool_>(value) ||
      !(py::isinstance<py::float_>(value) || py::isinstance<py::int_>(value)))
    throw py::type_error(std::string(name) + " must be a number, not " + TypeName(value));
  return value.cast<double>();
}

// The relative intensity noise: 0 or more, as the refits take it.
double NoiseKeyword(const py::kwargs& kw) {
  const double noise = RealKeyword(kw, "noise").value_or(0);
  if (!(noise >= 0) || !std::isfinite(noise))
    throw Error(Format("The intensity noise must be 0 or more, not %s.", MessageNumber(noise)));
  return noise;
}

// A whole number from `low` to `high`, or nothing when absent or None;
// another type is a TypeError, a number outside a ValueError naming both.
template <typename T>
std::optional<T> WholeKeyword(const py::kwargs& kw, const char* name, T low, T high) {
  if (!kw.contains(name) || kw[name].is_none()) return std::nullopt;
  const py::object value = kw[name];
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " must be a whole number, not " + TypeName(value));
  const auto outside = [&value](const py::int_& bound, int op) {
    const int result = PyObject_RichCompareBool(value.ptr(), bound.ptr(), op);
    if (result < 0) throw py::error_already_set();
    return result == 1;
  };
  if (outside(py::int_(low), Py_LT) || outside(py::int_(high), Py_GT))
    throw py::value_error(Format("%s must be a whole number from %s to %s, not %s", name,
                                 std::to_string(low), std::to_string(high),
                                 py::repr(value).cast<std::string>()));
  return value.cast<T>();
}

// A frame or region number: a whole number of 1 or more, kept from 0.
std::optional<size_t> NumberFromOneKeyword(const py::kwargs& kw, const char* name) {
  if (!kw.contains(name) || kw[name].is_none()) return std::nullopt;
  const py::object value = kw[name];
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " must be an int, not " + TypeName(value));
  if (value.cast<long long>() < 1)
    throw py::value_error(std::string(name) + " counts from 1, as the file's frames are named");
  return value.cast<size_t>() - 1;
}

std::optional<std::string> TextKeyword(const py::handle& value, const char* name) {
  if (value.is_none()) return std::nullopt;
  if (!py::isinstance<py::str>(value))
    throw py::type_error(std::string(name) + " must be a str, not " + TypeName(value));
  return value.cast<std::string>();
}

FieldOverrides Overrides(const py::kwargs& kw) {
  // Each keyword stands for the lumora-cli option of the same name.
  FieldOverrides o;
  for (const NamedField& named : CommandFields()) {
    const std::string name = KeywordOf(named.field);
    if (kw.contains(name))
      if (auto text = ToFieldText(kw[name.c_str()], name.c_str()))
        o.texts.emplace_back(named.field, *text);
  }
  if (kw.contains("distribution")) o.distribution = TextKeyword(kw["distribution"], "distribution");
  o.fitTemperature = BoolKeyword(kw, "fit_temperature").value_or(false);
  // The intensities' uncertainties, as lumora-cli's --noise, --poisson and
  // --sigma-column state them: at most one.
  const double noise = NoiseKeyword(kw);
  const bool poisson = BoolKeyword(kw, "poisson").value_or(false);
  const bool column = BoolKeyword(kw, "sigma_column").value_or(false);
  if ((noise > 0) + poisson + column > 1)
    throw py::value_error("noise, poisson and sigma_column each state the intensities' "
                          "uncertainty: give one of them");
  if (noise > 0) o.uncertainty = {UncertaintySource::Relative, noise};
  if (poisson) o.uncertainty.source = UncertaintySource::Poisson;
  if (column) o.uncertainty.source = UncertaintySource::Column;
  return o;
}

// Keyword arguments a command does not know are a mistake worth raising.
// The keywords of the fit's and the map's fields.
const std::vector<const char*> kFitKeywords = {
    "density", "temperature", "fit_temperature", "distribution", "count", "tn", "path", "max_iter"};
const std::vector<const char*> kMapKeywords = {"from_density",
                                               "to_density",
                                               "density_points",
                                               "from_temperature",
                                               "to_temperature",
                                               "temperature_points",
                                               "distribution",
                                               "count",
                                               "tn",
                                               "path"};

std::vector<const char*> With(std::vector<const char*> names,
                              std::initializer_list<const char*> more) {
  names.insert(names.end(), more.begin(), more.end());
  return names;
}

void CheckKeywords(const py::kwargs& kw, const std::vector<const char*>& known,
                   const char* command) {
  for (const auto& item : kw) {
    const std::string key = py::str(item.first);
    bool found = false;
    for (const char* name : known) found = found || key == name;
    if (!found)
      throw py::type_error(std::string(command) + "() got an unexpected keyword argument '" + key +
                           "'");
  }
}

std::vector<double> ToVector(const py::object& values) {
  py::array_t<double, py::array::c_style | py::array::forcecast> array(values);
  if (array.ndim() != 1) throw std::invalid_argument("a one-dimensional sequence is needed");
  return std::vector<double>(array.data(), array.data() + array.size());
}

// The options of lumora-cli integrate, as keywords.
SpectrumRequest SpectrumRequestOf(const std::string& path, const py::kwargs& kw) {
  SpectrumRequest request;
  request.spectrumFile = path;
  auto real = [&](const char* name) { return RealKeyword(kw, name); };
  auto text = [&](const char* name) {
    return kw.contains(name) && !kw[name].is_none() ? PathArgument(kw[name], name) : std::string();
  };
  request.options.fwhm = real("fwhm");
  request.options.saturation = real("saturation");
  if (auto v = real("window")) request.options.windowFactor = *v;
  if (auto v = real("shift_max")) request.options.shiftMax = *v;
  if (auto v = real("min_snr")) request.options.minSnr = *v;
  request.darkFile = text("dark");
  request.responseFile = text("response");
  request.region = NumberFromOneKeyword(kw, "roi").value_or(0);
  return request;
}

// Every integrated line as a row: its wavelength as the base holds it, the
// window, net area, peak, baseline, S/N and its flags ("" when it is used).
py::object IntegrationObject(const IntegrationResult& r) {
  py::list rows;
  for (const LineIntegral& l : r.lines)
    rows.append(py::make_tuple(l.line.WaveLength, l.windowFrom, l.windowTo, l.area, l.peak,
                               l.baseline, l.snr, LineFlagText(l.flags)));
  py::module_ np = py::module_::import("numpy");
  py::list fields;
  for (const char* name :
       {"wavelength", "window_from", "window_to", "area", "peak", "baseline", "snr"})
    fields.append(py::make_tuple(name, "f8"));
  fields.append(py::make_tuple("flags", "U40"));
  py::object dtype = np.attr("dtype")(fields);
  Result result;
  result.kind = "Integration";
  result.fields["lines"] = np.attr("array")(rows, dtype);
  result.fields["fwhm"] = r.fwhm;
  result.fields["fwhm_estimated"] = r.fwhmEstimated;
  result.fields["shift"] = r.shift;
  result.fields["no_shift_found"] = r.noShiftFound;
  return py::cast(result);
}

// The series table: the columns of lumora-cli fit --series, a NaN where its
// CSV has an empty number.
py::object SeriesArray(const SeriesTable& table) {
  py::list rows;
  size_t fileWidth = 1, stopWidth = 1;
  for (const SeriesRow& r : table.rows) {
    const py::str file = py::reinterpret_steal<py::str>(
        PyUnicode_DecodeFSDefaultAndSize(r.file.data(), static_cast<py::ssize_t>(r.file.size())));
    if (!file) throw py::error_already_set();
    const py::str stop = py::str(py::bytes(r.stop).attr("decode")("utf-8", "replace"));
    fileWidth = std::max(fileWidth, py::len(file));
    stopWidth = std::max(stopWidth, py::len(stop));
    rows.append(py::make_tuple(file, r.x, r.n1, r.n1Uncertainty, r.second, r.sum, stop));
  }
  py::list dtype;
  dtype.append(py::make_tuple("file", "U" + std::to_string(fileWidth)));
  for (const char* name : {"x", "n1", "u_n1", "second", "sum"})
    dtype.append(py::make_tuple(name, "f8"));
  dtype.append(py::make_tuple("stop", "U" + std::to_string(stopWidth)));
  py::object array = StructuredArray(rows, dtype);
  try {
    py::object frame = py::module_::import("pandas").attr("DataFrame")(array);
    if (!table.xUnit.empty()) frame.attr("attrs")["x_unit"] = table.xUnit;
    return frame;
  } catch (const py::error_already_set& e) {
    if (!e.matches(PyExc_ImportError)) throw;
    return array;
  }
}

// The files of fit_many: one path or a sequence of paths.
std::vector<std::string> PathList(const py::object& files) {
  if (py::isinstance<py::str>(files) || py::isinstance<py::bytes>(files) ||
      py::hasattr(files, "__fspath__"))
    return {PathArgument(files, "files")};
  std::vector<std::string> paths;
  for (const py::handle& item : py::iter(files))
    paths.push_back(PathArgument(py::reinterpret_borrow<py::object>(item), "files"));
  return paths;
}

constexpr const char* kFitManyDoc =
    "fit_many(files, *, x_pattern=None, jobs=None, spectrum=False, density=None, ...): fits "
    "every file on `jobs` workers (None: every core) without holding the GIL and returns "
    "the table lumora-cli fit --series writes: file, x, n1, u_n1, second (NaN unless "
    "fitted), sum and stop (how the fit ended, or why the file failed), as a NumPy "
    "structured array, or a pandas DataFrame when pandas is installed. x is the file's "
    "place (1, 2, ...), the number in the first group of x_pattern over the file name, or "
    "with spectrum=True the seconds since the earliest time stamp in the recordings' "
    "headers. spectrum=True integrates each file as a recording first (with the options "
    "of integrate()); an SPE camera file counts as each of its frames (rows named "
    "\"FILE, frame K\"), and when every row is a frame x is the exposure's start after "
    "the first frame's in the file's unit (a DataFrame's attrs[\"x_unit\"], e.g. \"us\"), "
    "or the frame number without time stamps. The fit takes the keywords of fit().";

const std::vector<const char*> kIntegrationKeywords = {
    "fwhm", "window", "shift_max", "dark", "response", "min_snr", "saturation", "roi"};

py::object FitMany(SessionHandle& s, const py::object& files, const py::kwargs& kw) {
  std::vector<const char*> known = With(kFitKeywords, {"x_pattern", "jobs", "spectrum"});
  known.insert(known.end(), kIntegrationKeywords.begin(), kIntegrationKeywords.end());
  CheckKeywords(kw, known, "fit_many");
  const std::vector<std::string> paths = PathList(files);
  const FieldOverrides o = Overrides(kw);
  std::optional<SpectrumRequest> spectrum;
  if (BoolKeyword(kw, "spectrum").value_or(false)) {
    spectrum = SpectrumRequestOf("", kw);
  } else {
    for (const char* name : kIntegrationKeywords)
      if (kw.contains(name))
        throw py::type_error(std::string("fit_many(): ") + name +
                             " is an option of recordings: give spectrum=True as well");
  }
  const std::optional<std::string> pattern =
      kw.contains("x_pattern") ? TextKeyword(kw["x_pattern"], "x_pattern") : std::nullopt;
  const int jobs = WholeKeyword<int>(kw, "jobs", 1, std::numeric_limits<int>::max()).value_or(0);
  const SeriesTable table = Run(s, [&] { return s.FitMany(o, paths, spectrum, pattern, jobs); });
  std::vector<std::string> messages;
  for (const SeriesRow& row : table.rows)
    for (const std::string& text : row.messages) messages.push_back(row.file + ": " + text);
  EmitWarnings(messages, false);
  return SeriesArray(table);
}

// The x of each file as fit_many gives it, from the names and (for
// recordings) the headers alone: for work that fits the files elsewhere.
py::array_t<double> SeriesX(const py::object& files, const py::object& pattern, bool spectrum) {
  const std::vector<std::string> paths = PathList(files);
  const std::optional<std::string> text = TextKeyword(pattern, "x_pattern");
  SeriesTable table;
  {
    py::gil_scoped_release released;
    SeriesRequest request;
    request.files = paths;
    if (spectrum) request.spectrum.emplace();
    if (text) request.pattern.emplace(*text);
    // A camera file counts as its frames, as in fit_many.
    const std::vector<RecordingFrame> frames = SeriesOverFrames(request);
    table.rows.resize(request.files.size());
    for (size_t k = 0; k < table.rows.size(); ++k) {
      table.rows[k].file = request.files[k];
      if (spectrum && !request.frames[k]) table.rows[k].timeStamp = RecordingTimeStamp(request.files[k]);
    }
    PlaceSeriesX(table.rows, SeriesAxis::Auto, request.pattern ? &*request.pattern : nullptr);
    PlaceFrameRows(table, frames, request);
  }
  const std::vector<SeriesRow>& rows = table.rows;
  py::array_t<double> x(static_cast<py::ssize_t>(rows.size()));
  for (size_t k = 0; k < rows.size(); ++k) x.mutable_at(k) = rows[k].x;
  return x;
}

// Writes a table of fit_many's columns (an array, a DataFrame, or rows
// gathered elsewhere) as lumora-cli fit --series writes it.
void SaveSeries(const py::object& path, const py::object& table, const py::object& xUnit) {
  const std::string target = PathArgument(path, "path");
  // The unit of frames' times: given, or as fit_many's DataFrame keeps it.
  std::string unit = TextKeyword(xUnit, "x_unit").value_or("");
  if (xUnit.is_none() && py::hasattr(table, "attrs") && py::isinstance<py::dict>(table.attr("attrs")))
    if (const py::dict attrs = table.attr("attrs"); attrs.contains("x_unit"))
      unit = py::str(attrs["x_unit"]).cast<std::string>();
  py::object records = py::hasattr(table, "to_records")
                           ? table.attr("to_records")(py::arg("index") = false)
                           : Numpy().attr("asarray")(table);
  const py::module_ os = py::module_::import("os");
  std::vector<SeriesRow> rows;
  for (const py::handle& item : py::iter(records)) {
    // A cell of a number column: any real number (NaN for an empty one).
    const auto number = [&item, &rows](const char* column) {
      const py::object value = item[column];
      if (!py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value)) {
        try {
          return py::float_(value).cast<double>();
        } catch (const py::error_already_set&) {
        }
      }
      throw py::type_error(Format("table: %s of row %d must be a number, not %s %s", column,
                                  static_cast<int>(rows.size() + 1), TypeName(value),
                                  py::repr(value).cast<std::string>()));
    };
    SeriesRow row;
    row.file = os.attr("fsencode")(py::str(item["file"])).cast<std::string>();
    row.x = number("x");
    row.n1 = number("n1");
    row.n1Uncertainty = number("u_n1");
    row.second = number("second");
    row.sum = number("sum");
    row.stop = py::str(item["stop"]).cast<std::string>();
    rows.push_back(std::move(row));
  }
  py::gil_scoped_release released;
  SaveSeriesCsv(target, rows, unit);
}

}  // namespace
}  // namespace lumora::python

PYBIND11_MODULE(lumora, m) {
  using namespace lumora;
  using namespace lumora::python;
  m.doc() =
      "Lumora: self-absorption of emission lines (effective branching fractions) "
      "from Python, with the numbers of the window and lumora-cli.";
  RegisterErrors(m);

  py::class_<Result>(m, "Result")
      .def("to_dict", [](const Result& r) { return py::dict(r.fields); })
      .def("__getattr__",
           [](const Result& r, const std::string& name) -> py::object {
             if (!r.fields.contains(name))
               throw py::attribute_error("'" + r.kind + "' object has no attribute '" + name + "'");
             return r.fields[name.c_str()];
           })
      .def("__dir__", [](const Result& r) { return py::list(r.fields); })
      .def("__repr__", [](const Result& r) {
        return "<lumora." + r.kind + " " +
               (r.fields.contains("results_line") ? r.fields["results_line"].cast<std::string>()
                                                  : std::string()) +
               ">";
      });

  py::class_<SessionHandle>(m, "Session")
      .def(py::init([](const py::object& ini, const py::object& element) {
             const std::string iniPath = ini.is_none() ? "" : PathArgument(ini, "ini");
             const std::string name = TextKeyword(element, "element").value_or("");
             std::unique_ptr<SessionHandle> session;
             {
               py::gil_scoped_release released;
               session = std::make_unique<SessionHandle>(iniPath, name);
             }
             EmitWarnings(session->TakeMessages(), false);
             return session;
           }),
           py::arg("ini") = py::none(), py::arg("element") = py::none(),
           "A session on the settings file `ini` (default: the per-user file, after the "
           "first-start check lumora-cli makes) and its element `element` (default: the "
           "settings' default element).")
      // Copies taken under the session's lock: another thread may be changing
      // the element meanwhile.
      .def_property_readonly(
          "settings_file",
          [](SessionHandle& s) { return Run(s, [&] { return s.SettingsFile(); }); })
      .def_property_readonly(
          "elements", [](SessionHandle& s) { return Run(s, [&] { return s.ElementNames(); }); })
      .def_property_readonly(
          "element", [](SessionHandle& s) { return Run(s, [&] { return s.ElementName(); }); })
      .def_property_readonly("log_folder",
                             [](SessionHandle& s) { return Run(s, [&] { return s.LogFolder(); }); })
      .def(
          "change_element",
          [](SessionHandle& s, const std::string& name) { Run(s, [&] { s.ChangeElement(name); }); },
          py::arg("name"), "Loads another element of the settings file; the lines are emptied.")
      .def("levels", [](SessionHandle& s) { return Run(s, [&] { return s.Core().ListLevels(); }); })
      .def(
          "database_lines",
          [](SessionHandle& s, bool all) {
            return Run(s, [&] { return s.Core().ListLines(all); });
          },
          py::kw_only(), py::arg("all") = false)
      .def("structure",
           [](SessionHandle& s) { return Run(s, [&] { return s.Core().ListStructure(); }); })
      .def(
          "read_measurement",
          [](SessionHandle& s, const py::object& path, bool sigmaColumn) {
            const std::string file = PathArgument(path, "path");
            Run(s, [&] { s.ReadMeasurement(file, sigmaColumn); });
          },
          py::arg("path"), py::kw_only(), py::arg("sigma_column") = false,
          "Reads a measurement file (wavelength, intensity per line; with sigma_column the "
          "third number is the intensity's standard uncertainty). A wavelength not in the "
          "line base stops the reading with a LumoraWarning; the lines before it are kept.")
      .def(
          "set_intensities",
          [](SessionHandle& s, const py::object& wavelengths, const py::object& intensities,
             const py::object& name) {
            const std::vector<double> wl = ToVector(wavelengths);
            const std::vector<double> in = ToVector(intensities);
            if (wl.size() != in.size())
              throw py::value_error("wavelengths and intensities differ in length (" +
                                    std::to_string(wl.size()) + " and " +
                                    std::to_string(in.size()) + ")");
            const std::string file = TextKeyword(name, "name").value_or("");
            Run(s, [&] { s.SetMeasuredLines(wl, in, file); });
          },
          py::arg("wavelengths"), py::arg("intensities"), py::kw_only(),
          py::arg("name") = py::none(),
          "Replaces the lines by these; every wavelength must be in the line base exactly. "
          "`name` is the file name the results line shows.")
      .def(
          "set_intensity",
          [](SessionHandle& s, py::ssize_t index, double value) {
            Run(s, [&] {
              s.SetIntensity(LineIndex(s, index), value);
            });
          },
          py::arg("index"), py::arg("value"))
      .def(
          "set_included",
          [](SessionHandle& s, py::ssize_t index, bool included) {
            Run(s, [&] {
              s.SetLineIncluded(LineIndex(s, index), included);
            });
          },
          py::arg("index"), py::arg("included"),
          "Takes the line into fit, map and Monte Carlo, or leaves it out of them; an excluded "
          "line stays in line_table() with included False and no fractions. A recording's "
          "flagged lines come in excluded.")
      .def("line_table",
           [](SessionHandle& s) {
             const std::vector<TLineRecord> lines = Run(s, [&] { return s.Core().Table().lines; });
             return LineTableArray(lines);
           })
      .def(
          "fit",
          [](SessionHandle& s, const py::kwargs& kw) {
            CheckKeywords(kw, With(kFitKeywords, {"log", "noise", "poisson", "sigma_column"}),
                          "fit");
            const FieldOverrides o = Overrides(kw);
            const bool withLog = BoolKeyword(kw, "log").value_or(false);
            FitResult result;
            const CommandOutcome outcome = Run(s, [&] { return s.Fit(o, withLog, result); });
            return FitResultObject(result, outcome, withLog);
          },
          "fit(*, density=None, temperature=None, fit_temperature=False, distribution=None, "
          "count=None, tn=None, path=None, max_iter=None, log=False, noise=None, poisson=False, "
          "sigma_column=False): fits n_1 (and with fit_temperature the second parameter). "
          "None takes the settings' value, as lumora-cli fit does. noise, poisson or "
          "sigma_column give the intensities' uncertainties: the fit is then weighted and "
          "reports chi2, dof and p_value; unweighted it reports u_log10_n1_robust.")
      .def(
          "map",
          [](SessionHandle& s, const py::kwargs& kw) {
            CheckKeywords(kw, With(kMapKeywords, {"noise", "poisson", "sigma_column"}), "map");
            const FieldOverrides o = Overrides(kw);
            MapResult result;
            const CommandOutcome outcome = Run(s, [&] { return s.Map(o, result); });
            return MapResultObject(result, outcome);
          },
          "map(*, from_density=None, to_density=None, density_points=None, "
          "from_temperature=None, to_temperature=None, temperature_points=None, "
          "distribution=None, count=None, tn=None, path=None, noise=None, poisson=False, "
          "sigma_column=False): the residual sum over the density-temperature grid; with "
          "noise, poisson or sigma_column (as fit takes them) each grid point holds the "
          "branching fractions' chi-square, and the result its chi2, dof and p_value.")
      .def(
          "monte_carlo",
          [](SessionHandle& s, int runs, const py::kwargs& kw) {
            CheckKeywords(
                kw, With(kFitKeywords, {"noise", "poisson", "sigma_column", "aki_accuracy", "seed"}),
                "monte_carlo");
            MonteCarloSettings settings;
            settings.runs = runs;
            settings.noise = NoiseKeyword(kw);
            settings.akiAccuracy = BoolKeyword(kw, "aki_accuracy").value_or(false);
            settings.seed =
                WholeKeyword<uint64_t>(kw, "seed", 0, std::numeric_limits<uint64_t>::max())
                    .value_or(DrawSeed());
            const FieldOverrides o = Overrides(kw);
            FitResult fit;
            MonteCarloResult result;
            const CommandOutcome outcome =
                Run(s, [&] { return s.MonteCarlo(o, settings, fit, result); });
            return MonteCarloObject(result, fit, outcome);
          },
          py::arg("runs"),
          "monte_carlo(runs, *, noise=0, aki_accuracy=False, seed=None, density=None, ...): "
          "the fit, then `runs` refits of perturbed copies of the measurement, as lumora-cli "
          "fit --monte-carlo runs them; seed None draws one (the result names it). When more "
          "than 5 % of the refits end at the model's lower edge of n_1, n1_upper_limit is the "
          "95th percentile of n_1 they bound it by (else None).")
      .def(
          "confidence",
          [](SessionHandle& s, double level, const py::kwargs& kw) {
            CheckKeywords(kw, With(kMapKeywords, {"noise", "poisson", "sigma_column"}),
                          "confidence");
            const FieldOverrides o = Overrides(kw);
            MapResult map;
            ConfidenceRegion region;
            const CommandOutcome outcome =
                Run(s, [&] { return s.Confidence(o, level, map, region); });
            return ConfidenceObject(region, map, outcome);
          },
          py::arg("level"),
          "confidence(level, *, from_density=None, ..., noise=None, poisson=False, "
          "sigma_column=False): the map, then the joint confidence region of n_1 and the "
          "second parameter at `level`, as lumora-cli map --confidence gives it; a weighted "
          "map's region rises by the chi-square quantile.")
      .def(
          "analyze",
          [](SessionHandle& s, const py::object& fromWl, const py::object& toWl,
             const py::object& minA, const py::object& maxE, const py::object& factor,
             const py::object& pair, const py::kwargs& kw) {
            CheckKeywords(kw, {"density", "temperature", "tn", "path"}, "analyze");
            const SimulationParameters d = ParseSimulationParameters(kDefaultAnalysisParameters);
            SimulationParameters limits{ToReal(fromWl, d.FromWL), ToReal(toWl, d.ToWL),
                                        ToReal(minA, d.MinA), ToReal(maxE, d.MaxE),
                                        ToReal(factor, d.RangeFactor)};
            double pairX = kPairWavelengthX, pairY = kPairWavelengthY;
            if (!pair.is_none()) std::tie(pairX, pairY) = pair.cast<std::pair<double, double>>();
            const FieldOverrides o = Overrides(kw);
            const LineAnalysisResult result =
                Run(s, [&] { return s.Analyze(limits, o, pairX, pairY); });
            return AnalysisArray(result.Output);
          },
          py::arg("from_wl") = py::none(), py::arg("to_wl") = py::none(),
          py::arg("min_a") = py::none(), py::arg("max_e") = py::none(),
          py::arg("factor") = py::none(), py::kw_only(), py::arg("pair") = py::none(),
          "Simulates the base's lines inside the limits (default 200, 950, 1e3, 100, 50) and "
          "returns the line-pair rows; line_table() then holds the simulated lines.")
      .def(
          "integrate",
          [](SessionHandle& s, const py::object& path, const py::kwargs& kw) {
            CheckKeywords(kw, With(kIntegrationKeywords, {"frame"}), "integrate");
            SpectrumRequest request = SpectrumRequestOf(PathArgument(path, "path"), kw);
            request.frame = NumberFromOneKeyword(kw, "frame");
            const IntegrationResult result = Run(s, [&] {
              // A camera file of several frames needs its frame named.
              const std::vector<RecordingFrame> frames =
                  RecordingFrames({request.spectrumFile}, request.frame, request.region);
              if (frames.size() > 1)
                throw Error(request.spectrumFile + " holds " + std::to_string(frames.size()) +
                            " frames: choose one with frame=K (from 1), or fit them all with "
                            "fit_many(..., spectrum=True)");
              return s.ReadSpectrum(request);
            });
            return IntegrationObject(result);
          },
          py::arg("spectrum"),
          "integrate(spectrum, *, fwhm=None, window=2, shift_max=0.2, dark=None, "
          "response=None, min_snr=3, saturation=None, frame=None, roi=None): integrates the "
          "element's lines in a recorded spectrum (as lumora-cli integrate) and takes the "
          "unflagged ones as the measurement, the flagged ones into line_table() excluded; "
          "returns every integrated line with its flags. The spectrum may be an SPE camera "
          "file: frame=K and roi=K (from 1) choose its frame (needed when it holds several) "
          "and region of interest (default 1, its rows summed).")
      .def("fit_many", &FitMany, py::arg("files"), kFitManyDoc);

  m.def(
      "fit_many",
      [](const py::object& files, const py::object& ini, const py::object& element,
         const py::kwargs& kw) {
        py::object session = py::module_::import("lumora").attr("Session")(ini, element);
        return session.attr("fit_many")(files, **kw);
      },
      py::arg("files"), py::kw_only(), py::arg("ini") = py::none(),
      py::arg("element") = py::none(),
      "fit_many(files, *, ini=None, element=None, **options): Session(ini, element)"
      ".fit_many(files, **options).");
  m.def("series_x", &SeriesX, py::arg("files"), py::kw_only(), py::arg("x_pattern") = py::none(),
        py::arg("spectrum") = false,
        "series_x(files, *, x_pattern=None, spectrum=False): the x fit_many gives each file "
        "(its place, the pattern's number, or the seconds since the earliest time stamp of "
        "the recordings' headers; an SPE file one x per frame, as fit_many), read from the "
        "names and headers alone.");
  m.def("save_series", &SaveSeries, py::arg("path"), py::arg("table"), py::kw_only(),
        py::arg("x_unit") = py::none(),
        "save_series(path, table, *, x_unit=None): writes a table with fit_many's columns as "
        "CSV, as lumora-cli fit --series writes it (atomically, CR LF line ends); x_unit (by "
        "default a DataFrame's attrs[\"x_unit\"]) names the unit of frames' times in the "
        "header, \"x (us)\".");
  m.def(
      "integrate",
      [](const py::object& path, const py::object& ini, const py::object& element,
         const py::kwargs& kw) {
        py::object session = py::module_::import("lumora").attr("Session")(ini, element);
        return session.attr("integrate")(path, **kw);
      },
      py::arg("spectrum"), py::kw_only(), py::arg("ini") = py::none(),
      py::arg("element") = py::none(),
      "integrate(spectrum, *, ini=None, element=None, **options): Session(ini, element)"
      ".integrate(spectrum, **options).");
}
