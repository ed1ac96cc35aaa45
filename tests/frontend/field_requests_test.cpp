#include "frontend/field_requests.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/errors.h"
#include "model/map_file.h"
#include "model/self_absorption.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

using testing::ReadFile;
using testing::SplitCrLf;
using TempDir = testing::TempFolder;

// The fields of an empty settings file, as the window shows them.
WindowFields DefaultFields() {
  WindowFields f;
  f.FromDensity = "1E+015";
  f.ToDensity = "1E+018";
  f.DensityPoints = "50";
  f.FromTemperature = "1000";
  f.ToTemperature = "50000";
  f.TemperaturePoints = "50";
  f.FitDensity = "1E+016";
  f.FitTemperature = "1000";
  f.MaxIter = "50";
  f.Tn = "300";
  f.Path = "1.000";
  f.Count = "1";
  return f;
}

TEST(FieldRequests, FitAndMapModelInputs) {
  WindowFields f = DefaultFields();
  f.Count = "3";
  f.Distribution = 1;
  const FitRequest fitRequest = FitRequestFromFields(f, 39.948);
  const ModelParameters fit = fitRequest.target.start;
  const ModelParameters map = MapRequestFromFields(f, 39.948).model;
  EXPECT_EQ(fit.log10N1, 16);
  EXPECT_EQ(fit.second, 1000);
  EXPECT_EQ(fitRequest.solver.iterationLimit, 50);
  EXPECT_EQ(map.log10N1, 0);
  EXPECT_EQ(map.second, 0);
  for (const ModelParameters& p : {fit, map}) {
    EXPECT_EQ(p.gasTemperature, 300);
    EXPECT_EQ(p.path, 1);
    EXPECT_EQ(p.mass, 39.948 * kAtomicMassUnit);
    EXPECT_EQ(p.levelCount, 3);
    EXPECT_EQ(p.distribution, Distribution::FirstLevels);
  }
  EXPECT_FALSE(fitRequest.target.fitSecond);
  f.FitTemperatureChecked = true;
  EXPECT_TRUE(FitRequestFromFields(f, 39.948).target.fitSecond);
}

TEST(FieldRequests, AnUnknownDistributionIsNamed) {
  WindowFields f = DefaultFields();
  f.Distribution = 7;
  for (auto request : {+[](const WindowFields& w) { FitRequestFromFields(w, 39.948); },
                       +[](const WindowFields& w) { MapRequestFromFields(w, 39.948); }}) {
    try {
      request(f);
      ADD_FAILURE() << "distribution 7 accepted";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "Unknown distribution 7: 0 is Boltzmann, 1 \"1s levels\".");
    }
  }
}

// An iteration limit below 1 would let a fit run without end; the settings'
// value comes into the window's field as it stands, so the field is checked.
TEST(FieldRequests, AnIterationLimitBelowOneIsRefused) {
  for (const char* limit : {"0", "-3"}) {
    WindowFields f = DefaultFields();
    f.MaxIter = limit;
    try {
      FitRequestFromFields(f, 39.948, WindowCaptions(f));
      ADD_FAILURE() << limit << " accepted";
    } catch (const FieldError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Max iteration number must be at least 1, not \"") +
                                           limit + "\".");
    }
  }
  WindowFields one = DefaultFields();
  one.MaxIter = "1";
  EXPECT_EQ(FitRequestFromFields(one, 39.948).solver.iterationLimit, 1);
}

TEST(FieldRequests, AnalysisStartFromTheFitFields) {
  const ModelParameters start = AnalysisStartFromFields("1E+016", "1000", "300", "1.000", 39.948);
  EXPECT_EQ(start.log10N1, 16);
  EXPECT_EQ(start.second, 1000);
  EXPECT_EQ(start.gasTemperature, 300);
  EXPECT_EQ(start.path, 1);
  EXPECT_EQ(start.mass, static_cast<long double>(39.948) * 1.6605402e-27L);
  EXPECT_EQ(start.levelCount, 100000000);
  EXPECT_EQ(start.distribution, Distribution::Boltzmann);
  EXPECT_THROW(AnalysisStartFromFields("x", "1000", "300", "1", 40), ConvertError);
}

// With captions, a text that is no number is named by its field's caption;
// without, the number's own message stands alone, as the command line has it.
TEST(FieldRequests, ATextThatIsNoNumberIsNamedByItsCaption) {
  struct Case {
    WindowField field;
    const char* caption;
    bool fit;  // read by the fit (else by the map)
  };
  const Case cases[] = {
      {&WindowFields::FitTemperature, "Fit T_exc (K)", true},
      {&WindowFields::MaxIter, "Max iteration number", true},
      {&WindowFields::Tn, "Gas Tn (K)", true},
      {&WindowFields::Path, "Abs. path (m)", true},
      {&WindowFields::Count, "Count", true},
      {&WindowFields::DensityPoints, "Map density Points", false},
      {&WindowFields::FromTemperature, "Map temperature From", false},
      {&WindowFields::TemperaturePoints, "Map temperature Points", false},
  };
  for (const Case& c : cases) {
    WindowFields f = DefaultFields();
    f.*c.field = "abc";
    const FieldCaptions captions = [&f](WindowField field) { return WindowFieldCaption(f, field); };
    auto build = [&](const FieldCaptions& names) {
      if (c.fit)
        FitRequestFromFields(f, 39.948, names);
      else
        MapRequestFromFields(f, 39.948, names);
    };
    try {
      build(captions);
      ADD_FAILURE() << c.caption << ": no error";
    } catch (const ConvertError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(std::string(c.caption) + ": ", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find("abc"), std::string::npos) << e.what();
    }
    try {
      build({});
      ADD_FAILURE() << c.caption << ": no error";
    } catch (const ConvertError& e) {
      EXPECT_EQ(std::string(e.what()).find(c.caption), std::string::npos) << e.what();
    }
  }
  WindowFields firstLevels = DefaultFields();
  firstLevels.Distribution = 1;
  EXPECT_EQ(WindowFieldCaption(firstLevels, &WindowFields::FitTemperature), "Fit 1s2/4 log10 N");
  // The map's second axis is no temperature under "1s levels".
  EXPECT_EQ(WindowFieldCaption(firstLevels, &WindowFields::FromTemperature), "Map 1s2/4 From");
  EXPECT_EQ(WindowFieldCaption(firstLevels, &WindowFields::FromDensity), "Map density From");
}

TEST(FieldRequests, MapGridFromTheMapFields) {
  const MapRequest grid = MapGridFromFields(DefaultFields());
  EXPECT_EQ(grid.densityPoints, 50);
  EXPECT_EQ(grid.temperaturePoints, 50);
  EXPECT_EQ(grid.log10FromDensity, 15);
  EXPECT_EQ(grid.log10ToDensity, 18);
  EXPECT_EQ(grid.fromTemperature, 1000);
  EXPECT_EQ(grid.toTemperature, 50000);
}

enum class CommandKind { Fit, Map };

struct BadField {
  const char* name;
  std::string WindowFields::*field;
  const char* text;
  CommandKind kind;
  const char* messagePart;
};

class FieldRequestsReject : public ::testing::TestWithParam<BadField> {};

TEST_P(FieldRequestsReject, NamingTheValue) {
  const BadField& c = GetParam();
  WindowFields f = DefaultFields();
  f.*c.field = c.text;
  try {
    if (c.kind == CommandKind::Fit)
      FitRequestFromFields(f, 39.948);
    else
      MapRequestFromFields(f, 39.948);
    ADD_FAILURE() << "accepted " << c.text;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldRequestsReject,
    ::testing::Values(
        BadField{"ZeroDensity", &WindowFields::FitDensity, "0", CommandKind::Fit, "\"0\""},
        BadField{"NegativeDensity", &WindowFields::FitDensity, "-1E16", CommandKind::Fit,
                 "greater than 0, not \"-1E16\""},
        BadField{"TextDensity", &WindowFields::FitDensity, "dense", CommandKind::Fit, "'dense'"},
        BadField{"TextTn", &WindowFields::Tn, "warm", CommandKind::Map, "'warm'"},
        BadField{"TextCount", &WindowFields::Count, "4.5", CommandKind::Fit, "'4.5'"},
        BadField{"ZeroMapDensity", &WindowFields::FromDensity, "0", CommandKind::Map,
                 "Map density From"},
        BadField{"TextPoints", &WindowFields::DensityPoints, "many", CommandKind::Map, "'many'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MapFile, FiftyByFiftyBesideTheMeasurement) {
  TempDir dir;
  const std::string measurement = dir.File("run 1.txt");
  std::vector<std::vector<double>> grid(50, std::vector<double>(50));
  for (int i = 0; i < 50; ++i)
    for (int j = 0; j < 50; ++j) grid[i][j] = (i + 1) * 1e-3 + j * 1e-6;

  const std::string path = WriteMapFile(measurement, MapFileHeader(DefaultFields()), grid);
  EXPECT_EQ(path, dir.File("Maps/run 1.txt_map.txt"));
  const std::vector<std::string> lines = SplitCrLf(ReadFile(path));
  ASSERT_EQ(lines.size(), 51u);
  EXPECT_EQ(lines[0], "#1E+015 1E+018 50 1000 50000 50 0 1.000 300 1");
  EXPECT_EQ(lines[1].substr(0, 38), "1.00000000000E-003 1.00100000000E-003 ");
  for (size_t i = 1; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 50u * 19) << i;
    for (size_t c = 18; c < lines[i].size(); c += 19) ASSERT_EQ(lines[i][c], ' ') << i;
  }

  // A second map replaces the file.
  grid.resize(2);
  WriteMapFile(measurement, MapFileHeader(DefaultFields()), grid);
  EXPECT_EQ(SplitCrLf(ReadFile(path)).size(), 3u);
}

TEST(MapFile, UnwritableFolderNamesIt) {
  TempDir dir;
  { std::ofstream blocker(dir.File("Maps")); }  // a file where the folder should be
  try {
    WriteMapFile(dir.File("m.txt"), MapFileHeader(DefaultFields()), {{1.0}});
    ADD_FAILURE() << "no error";
  } catch (const InOutError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.File("Maps")), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace lumora
