// The session's undo stack over its lines, its unsaved-edit mark, and the
// saved table that reads back as the lines it was saved from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "model/session.h"
#include "model/table_text.h"
#include "tests/support/testfiles.h"

namespace lumora::test {
namespace {

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";
const std::string kSample = kData + "measurements/argon_n2e15.txt";
const std::string kStrong = kData + "measurements/argon_n1.5e17_strong.txt";

std::vector<double> Intensities(const Session& session) {
  std::vector<double> values;
  for (const TLineRecord& line : session.Table().lines) values.push_back(line.Int);
  return values;
}

class LineHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    session_.ReadMeasurement(kSample);
  }
  Session session_{SessionOptions{{}, [](const std::string&) {}}};
};

TEST_F(LineHistoryTest, EditsAreUndoneLatestFirst) {
  const std::vector<double> read = Intensities(session_);
  EXPECT_FALSE(session_.HasUnsavedEdits());
  session_.EditIntensity(2, 1234);
  session_.EditLineIncluded(0, false);
  EXPECT_TRUE(session_.HasUnsavedEdits());
  EXPECT_EQ(session_.Table().lines[2].Int, 1234);

  EXPECT_EQ(session_.Undo(), LineHistory::Step::Edit);
  EXPECT_FALSE(session_.Table().lines[0].Excluded);
  EXPECT_EQ(session_.Table().lines[2].Int, 1234);
  EXPECT_EQ(session_.Undo(), LineHistory::Step::Edit);
  EXPECT_EQ(Intensities(session_), read);
  EXPECT_FALSE(session_.HasUnsavedEdits());
  // The first read replaced no lines: nothing is left to undo.
  EXPECT_FALSE(session_.NextUndo().has_value());
  EXPECT_THROW(session_.Undo(), Error);
}

TEST_F(LineHistoryTest, RefusedEditIsNotRemembered) {
  EXPECT_THROW(session_.EditIntensity(1, -5), Error);
  EXPECT_FALSE(session_.NextUndo().has_value());
  EXPECT_FALSE(session_.HasUnsavedEdits());
}

// Saving marks the lines clean; undoing an edit made before the save makes
// them differ from the saved file again.
TEST_F(LineHistoryTest, SavedMarkFollowsTheEdits) {
  session_.EditIntensity(2, 1234);
  session_.MarkLinesSaved();
  EXPECT_FALSE(session_.HasUnsavedEdits());
  session_.Undo();
  EXPECT_TRUE(session_.HasUnsavedEdits());
}

// A replacement puts the lines aside with their edits and source; Undo
// brings them back with the unsaved mark they had.
TEST_F(LineHistoryTest, ReplacementIsUndoneWithItsEdits) {
  session_.EditIntensity(4, 1234);
  const LineTable edited = session_.Table();
  session_.ReadMeasurement(kStrong);
  EXPECT_EQ(session_.LinesSource(), kStrong);
  EXPECT_FALSE(session_.HasUnsavedEdits());
  ASSERT_EQ(session_.NextUndo(), LineHistory::Step::Replacement);

  EXPECT_EQ(session_.Undo(), LineHistory::Step::Replacement);
  EXPECT_EQ(session_.LinesSource(), kSample);
  ASSERT_EQ(session_.Table().lines.size(), edited.lines.size());
  EXPECT_EQ(session_.Table().lines[4].Int, 1234);
  EXPECT_TRUE(session_.HasUnsavedEdits());
  EXPECT_EQ(session_.NextUndo(), LineHistory::Step::Edit);
}

TEST_F(LineHistoryTest, SetMeasuredLinesIsAReplacementWithoutSource) {
  session_.SetMeasuredLines({667.7282, 696.5431}, {1, 2});
  EXPECT_TRUE(session_.LinesSource().empty());
  EXPECT_EQ(session_.Undo(), LineHistory::Step::Replacement);
  EXPECT_EQ(session_.LinesSource(), kSample);
}

// A command that fails is undone by restoring the state before it: the
// undo stack goes back too, so that no step of the failed command remains.
TEST_F(LineHistoryTest, RestoredStateBringsBackTheUndoStack) {
  Session::State before = session_.SaveState();
  session_.ReadMeasurement(kStrong);
  session_.RestoreState(std::move(before));
  EXPECT_EQ(session_.LinesSource(), kSample);
  EXPECT_FALSE(session_.NextUndo().has_value());
}

TEST_F(LineHistoryTest, ElementChangeEmptiesTheStack) {
  session_.EditIntensity(2, 1234);
  session_.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  EXPECT_FALSE(session_.NextUndo().has_value());
  EXPECT_FALSE(session_.HasUnsavedEdits());
  EXPECT_TRUE(session_.LinesSource().empty());
}

// "Save table" writes what reading the measurement takes back: the same
// lines, intensities, inclusions and uncertainties, whatever the other
// columns hold.
TEST_F(LineHistoryTest, SavedTableReadsBackAsTheLines) {
  testing::TempFolder folder;
  session_.EditIntensity(3, 0.1 + 0.2);
  session_.EditLineIncluded(1, false);
  session_.SetIntensityUncertainty(0, 1.0 / 3);
  session_.SetIntensityUncertainty(4, 12.5);
  session_.Recalculate();
  const std::vector<TLineRecord> saved = session_.Table().lines;
  const std::vector<LineTableRow> rows = session_.TableRows(true);
  std::vector<bool> excluded;
  std::vector<double> uncertainties;
  for (const TLineRecord& line : saved) {
    excluded.push_back(line.Excluded);
    uncertainties.push_back(line.IntSigma);
  }
  const std::string path = folder / "table.txt";
  Session::SaveTable(path, rows, excluded, uncertainties);
  const std::vector<std::string> text = testing::SplitCrLf(testing::ReadFile(path));
  EXPECT_EQ(text[0].rfind("#\tWavelength\tIntensity\t", 0), 0u) << text[0];
  EXPECT_EQ(text[1].rfind("\t667.7282\t20.768497\t", 0), 0u) << text[1];

  session_.ReadMeasurement(path, UncertaintyColumn::WherePresent);
  const std::vector<TLineRecord>& read = session_.Table().lines;
  ASSERT_EQ(read.size(), saved.size());
  for (size_t k = 0; k < saved.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(read[k].AR.WaveLength, saved[k].AR.WaveLength);
    EXPECT_EQ(read[k].Excluded, saved[k].Excluded);
    EXPECT_EQ(read[k].IntSigma, saved[k].IntSigma);
    EXPECT_EQ(LineTableCells(read[k], false)[1], LineTableCells(saved[k], false)[1]);
  }
  // Read without uncertainties, the column is ignored as a third one is.
  session_.ReadMeasurement(path, UncertaintyColumn::Ignored);
  EXPECT_EQ(session_.Table().lines[4].IntSigma, 0);
}

// The command line's table keeps its layout: no comment, no uncertainty.
TEST(LineTableText, CommandLineTableIsUnchangedBySavedTableColumns) {
  const std::vector<LineTableRow> rows = {LineTableHeader(), LineTableRow{"1", "2"}};
  EXPECT_EQ(LineTableText(rows, {true}).substr(0, 11), "\tWavelength");
  EXPECT_EQ(LineTableFileText(rows, {false}, {0}),
            "#\tWavelength\tIntensity\tBF free\tBF meas\tBF fit\tUpper energy\tUpper state"
            "\tLower energy\tLower state\r\n\t1\t2\t\t\t\t\t\t\t\r\n");
}

TEST(SavedTableRead, CommentWithoutTheColumnsIsRefused) {
  testing::TempFolder folder;
  Session session{SessionOptions{{}, [](const std::string&) {}}};
  session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  const std::string path = folder.Write("odd.txt", "# my notes\n667.7282 20\n");
  EXPECT_THROW(session.ReadMeasurement(path), Error);
}

}  // namespace
}  // namespace lumora::test
