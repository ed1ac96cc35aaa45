#include "linedb/line_base.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <utility>

#include "linefile_fixtures.h"

namespace lumora {
namespace {

using testing::AtomHeader;
using testing::LineAt;
using testing::Lines;
using testing::TempDir;

using WlOrder = std::pair<double, int>;

std::vector<TRecord> AllAtoms(const TTextBase& base) {
  std::vector<TRecord> recs;
  for (int32_t i = 0; i < base.AtomLength(); ++i) recs.push_back(base.GetAtomRecord(i));
  return recs;
}

std::vector<WlOrder> WavelengthsAndOrders(const TTextBase& base) {
  std::vector<WlOrder> v;
  for (const TRecord& r : AllAtoms(base)) v.emplace_back(r.WaveLength, r.Order);
  return v;
}

std::vector<std::string> Tags(const TTextBase& base) {
  std::vector<std::string> v;
  for (const TRecord& r : AllAtoms(base)) v.push_back(r.LineRefs.str());
  return v;
}

void WriteAtomFile(const TempDir& dir, const std::string& name,
                   const std::vector<std::string>& lines) {
  dir.Write(name, AtomHeader() + Lines(lines));
}

int CountOrder(const TTextBase& base, int order) {
  int n = 0;
  for (const TRecord& r : AllAtoms(base)) n += r.Order == order;
  return n;
}

// A base as the element data set makes it: one element, one ion, no orders.
struct LoadedBase {
  TTextBase base{1000, 500};
  int atomEvents = 0;
  int molEvents = 0;
  LoadedBase() {
    base.SetOnAtomChanged([this](TTextBase&) { ++atomEvents; });
    base.SetOnMolChanged([this](TTextBase&) { ++molEvents; });
  }
  bool Fill(const TempDir& dir, std::vector<std::string> els, std::vector<std::string> ions,
            bool second = false, bool third = false, std::vector<std::string> mols = {},
            std::vector<std::string> molIons = {}) {
    return base.FillWith(dir.path(), els, mols, ions, molIons, second, third);
  }
};

TEST(LineBaseFill, LoadsTheValidLinesOfOneFile) {
  TempDir dir;
  WriteAtomFile(dir, "Ar_I.txt",
                {LineAt("400", "a"), LineAt("500", "b"), LineAt("600", "c"), "", LineAt("700")});
  LoadedBase b;
  EXPECT_TRUE(b.Fill(dir, {"Ar"}, {"I"}));
  EXPECT_EQ(b.base.AtomLength(), 3);
  EXPECT_EQ(b.base.LastAtom(), 2);
  EXPECT_EQ(Tags(b.base), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(b.base.MolLength(), 0);
  EXPECT_EQ(b.atomEvents, 1);
  EXPECT_EQ(b.molEvents, 0);
}

// The records of a file as the file reader gives them, in the file's order.
std::vector<std::string> RecordTextsOfFile(const std::string& path) {
  TAtomFile f(path);
  f.OpenRead();
  std::vector<std::string> texts;
  TRecord r;
  while (f.GetRecord(r)) texts.push_back(testing::RecordText(r));
  return texts;
}

std::vector<std::string> RecordTexts(const TTextBase& base) {
  std::vector<std::string> texts;
  for (const TRecord& r : AllAtoms(base)) texts.push_back(testing::RecordText(r));
  return texts;
}

// The base holds its lines' texts apart from their numbers; every field of
// every line comes back as the file gave it, also after loading other files.
TEST(LineBaseFill, HoldsEveryFieldAsTheFileGivesIt) {
  auto line = [](const std::string& wl, auto change) {
    testing::AtomLine l;
    l.numbers = wl + " 100 1.5 0.2 3.5 -0.25";
    change(l);
    return l.Text();
  };
  TempDir dir;
  dir.Write("Ar_I.txt", AtomHeader("\n") + Lines({line("400", [](testing::AtomLine&) {}),
                                                  line("401",
                                                       [](testing::AtomLine& l) {
                                                         l.confk = l.confi;
                                                         l.refs = "L7760";
                                                       }),
                                                  line("402",
                                                       [](testing::AtomLine& l) {
                                                         l.confi = std::string(40, 'c');
                                                         l.termk = "";
                                                       }),
                                                  line("403",
                                                       [](testing::AtomLine& l) {
                                                         l.name = "H";
                                                         l.ion = "II";
                                                         l.acc = "";
                                                         l.type = "";
                                                       }),
                                                  line("404",
                                                       [](testing::AtomLine& l) {
                                                         l.confi = "a\tb \xe9";
                                                         l.refs = std::string(30, 'r');
                                                       })},
                                                 "\n"));
  dir.Write("Ar_II.txt", AtomHeader() + Lines({line("300", [](testing::AtomLine& l) {
                           l.confi = "2p5";
                           l.confk = "3d";
                           l.termi = "1S";
                           l.refs = "other";
                         })}));
  LoadedBase b;
  for (const char* ion : {"I", "II", "I"}) {
    SCOPED_TRACE(ion);
    b.Fill(dir, {"Ar"}, {ion});
    EXPECT_EQ(RecordTexts(b.base), RecordTextsOfFile(dir.path() + "/Ar_" + ion + ".txt"));
  }
}

TEST(LineBaseFill, MissingFileLeavesAnEmptyBaseAndCountsAsChange) {
  TempDir dir;
  LoadedBase b;
  EXPECT_TRUE(b.Fill(dir, {"Ar"}, {"I"}));
  EXPECT_EQ(b.base.AtomLength(), 0);
  EXPECT_EQ(b.base.LastAtom(), -1);
  EXPECT_EQ(b.atomEvents, 1);
}

TEST(LineBaseFill, MergeKeepsFileOrderOnEqualWavelengths) {
  TempDir dir;
  WriteAtomFile(dir, "Ar_I.txt", {LineAt("400", "ArI-400"), LineAt("500", "ArI-500")});
  WriteAtomFile(dir, "Ar_II.txt",
                {LineAt("300", "ArII-300"), LineAt("400", "ArII-400"), LineAt("600", "ArII-600")});
  WriteAtomFile(dir, "Ne_I.txt", {LineAt("400", "NeI-400")});
  LoadedBase b;
  EXPECT_TRUE(b.Fill(dir, {"Ar", "Ne"}, {"I", "II"}));
  EXPECT_EQ(Tags(b.base), (std::vector<std::string>{"ArII-300", "ArI-400", "ArII-400", "NeI-400",
                                                    "ArI-500", "ArII-600"}));
}

TEST(LineBaseFill, FileOutOfOrderIsSortedStably) {
  TempDir dir;
  WriteAtomFile(dir, "Ar_I.txt",
                {LineAt("500", "x"), LineAt("300", "y"), LineAt("500", "z"), LineAt("400", "w")});
  LoadedBase b;
  b.Fill(dir, {"Ar"}, {"I"});
  EXPECT_EQ(Tags(b.base), (std::vector<std::string>{"y", "w", "x", "z"}));
}

TEST(LineBaseFill, SameNamesInOtherCaseKeepTheRecords) {
  TempDir dir;
  WriteAtomFile(dir, "Ar_I.txt", {LineAt("400", "a")});
  LoadedBase b;
  ASSERT_TRUE(b.Fill(dir, {"Ar"}, {"I"}));
  WriteAtomFile(dir, "Ar_I.txt", {LineAt("400", "changed"), LineAt("500")});
  EXPECT_FALSE(b.Fill(dir, {"AR"}, {"i"}));
  EXPECT_EQ(Tags(b.base), (std::vector<std::string>{"a"}));
  EXPECT_EQ(b.atomEvents, 1);
  // Other names reload.
  EXPECT_TRUE(b.Fill(dir, {"Ar"}, {"II"}));
  EXPECT_EQ(b.base.AtomLength(), 0);
}

class LineBaseOrders : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteAtomFile(
        dir, "Ar_I.txt",
        {LineAt("179.99"), LineAt("180"), LineAt("400"), LineAt("700"), LineAt("700.01")});
  }
  TempDir dir;
  LoadedBase b;
};

TEST_F(LineBaseOrders, SecondAndThirdBetween180And700Inclusive) {
  EXPECT_TRUE(b.Fill(dir, {"Ar"}, {"I"}, true, true));
  EXPECT_EQ(WavelengthsAndOrders(b.base), (std::vector<WlOrder>{{179.99, 1},
                                                                {180, 1},
                                                                {360, 2},
                                                                {400, 1},
                                                                {540, 3},
                                                                {700, 1},
                                                                {700.01, 1},
                                                                {800, 2},
                                                                {1200, 3},
                                                                {1400, 2},
                                                                {2100, 3}}));
  EXPECT_TRUE(b.base.SecondSOrder());
  EXPECT_TRUE(b.base.ThirdSOrder());
  EXPECT_EQ(b.base.AtomLength(), b.base.LastAtom() + 1);
}

TEST_F(LineBaseOrders, RemovingAnOrderReloads) {
  ASSERT_TRUE(b.Fill(dir, {"Ar"}, {"I"}, true, false));
  EXPECT_TRUE(b.Fill(dir, {"Ar"}, {"I"}, false, false));
  EXPECT_EQ(b.base.AtomLength(), 5);
  EXPECT_EQ(CountOrder(b.base, 2), 0);
  EXPECT_FALSE(b.base.SecondSOrder());
}

TEST_F(LineBaseOrders, AddingAnOrderNeverDuplicatesCopies) {
  ASSERT_TRUE(b.Fill(dir, {"Ar"}, {"I"}, true, false));
  ASSERT_EQ(CountOrder(b.base, 2), 3);
  // Reused atoms asked for a further order.
  EXPECT_TRUE(b.Fill(dir, {"Ar"}, {"I"}, true, true));
  EXPECT_EQ(CountOrder(b.base, 2), 3);
  EXPECT_EQ(CountOrder(b.base, 3), 3);
  // Molecules reloaded while the atoms keep their copies.
  dir.Write("m_CN_I.txt", Lines({"F", "h", "h", "h", "300 1 1 0 0 1 1"}));
  EXPECT_TRUE(b.Fill(dir, {"Ar"}, {"I"}, true, true, {"CN"}, {"I"}));
  EXPECT_EQ(CountOrder(b.base, 2), 3);
  EXPECT_EQ(CountOrder(b.base, 3), 3);
  ASSERT_EQ(b.base.MolLength(), 3);
  EXPECT_EQ(b.base.GetMolRecord(1).WaveLength, 600);
  EXPECT_EQ(b.base.GetMolRecord(2).WaveLength, 900);
  // Nothing asked anew: nothing changes.
  EXPECT_FALSE(b.Fill(dir, {"Ar"}, {"I"}, true, true, {"CN"}, {"I"}));
  EXPECT_EQ(b.base.AtomLength(), 11);
}

// Three lines at 400, 500 and 600 nm.
TTextBase ThreeLines() {
  TTextBase base(0, 0);
  for (double wl : {400.0, 500.0, 600.0}) {
    TRecord r;
    r.WaveLength = wl;
    r.Order = 1;
    base.Add(r);
  }
  return base;
}

TEST(LineBaseFind, NearestLineAndItsRelation) {
  struct Case {
    double wl;
    int32_t from;
    int32_t position;
    TFoundFlag flag;
  };
  const Case cases[] = {
      {500, 0, 1, TFoundFlag::ffSame},  {450, 0, 1, TFoundFlag::ffNext},  // midway: the upper line
      {440, 0, 0, TFoundFlag::ffPrior}, {460, 0, 1, TFoundFlag::ffNext},
      {100, 0, 0, TFoundFlag::ffNext},  {900, 0, 2, TFoundFlag::ffPrior},
      {400, 0, 0, TFoundFlag::ffSame},  {600, 2, 2, TFoundFlag::ffSame},
      {500, 2, 1, TFoundFlag::ffSame},  // the nearest line may lie below From
  };
  TTextBase base = ThreeLines();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.wl << " from " << c.from);
    int32_t pos = -7;
    TFoundFlag flag = TFoundFlag::ffPrior;
    TRecord r = base.AtomFind(c.wl, c.from, pos, flag);
    EXPECT_EQ(pos, c.position);
    EXPECT_EQ(flag, c.flag);
    EXPECT_EQ(r.WaveLength, base.GetAtomRecord(c.position).WaveLength);
  }
}

// The nearest line as a scan upwards from `from` finds it.
int32_t ScannedNearest(const std::vector<TRecord>& lines, double wl, int32_t from,
                       TFoundFlag& flag) {
  const int32_t last = static_cast<int32_t>(lines.size()) - 1;
  int32_t p = from;
  while (p < last && lines[p].WaveLength < wl) ++p;
  if (p > 0 && std::fabs(wl - lines[p - 1].WaveLength) < std::fabs(wl - lines[p].WaveLength)) --p;
  const double found = lines[p].WaveLength;
  flag = found == wl ? TFoundFlag::ffSame : (found > wl ? TFoundFlag::ffNext : TFoundFlag::ffPrior);
  return p;
}

// Sorted or not, with repeated wavelengths, every look-up finds what the
// scan finds: at a line, between lines, outside them, from any start.
TEST(LineBaseFind, FindsWhatTheScanFinds) {
  std::mt19937 random(20240613);
  for (const bool sorted : {true, false}) {
    TTextBase base(0, 0);
    std::uniform_int_distribution<int> tenths(2000, 9000);
    for (int i = 0; i < 3000; ++i) {
      TRecord r;
      r.WaveLength = tenths(random) / 10.0;  // about one wavelength in five repeats
      r.Order = 1;
      base.Add(r);
    }
    if (sorted) base.AtomSort();
    const std::vector<TRecord> lines = AllAtoms(base);
    std::uniform_int_distribution<int32_t> start(0, base.LastAtom());
    std::uniform_real_distribution<double> anywhere(100, 1000);
    for (int i = 0; i < 20000; ++i) {
      const double wl = i % 3 == 0 ? lines[start(random)].WaveLength
                                   : (i % 3 == 1 ? tenths(random) / 10.0 + 0.05 : anywhere(random));
      const int32_t from = i % 4 == 0 ? 0 : start(random);
      TFoundFlag expectedFlag;
      const int32_t expected = ScannedNearest(lines, wl, from, expectedFlag);
      int32_t position = -1;
      TFoundFlag flag;
      const TRecord r = base.AtomFind(wl, from, position, flag);
      ASSERT_EQ(position, expected) << wl << " from " << from << (sorted ? "" : " unsorted");
      ASSERT_EQ(flag, expectedFlag) << wl << " from " << from;
      ASSERT_EQ(r.WaveLength, lines[expected].WaveLength);
    }
  }
}

TEST(LineBaseFind, StartOutsideTheLinesRaises) {
  struct Case {
    int32_t from;
    const char* message;
  };
  const Case cases[] = {{-1, "Low limits"},
                        {3, "No data in database for the requested wavelength"},
                        {1000, "No data in database for the requested wavelength"}};
  TTextBase base = ThreeLines();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    int32_t pos;
    TFoundFlag flag;
    try {
      base.AtomFind(500, c.from, pos, flag);
      ADD_FAILURE() << "no error";
    } catch (const TextBaseError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    try {
      base.MolFind(500, c.from < 0 ? c.from : 0, pos, flag);  // no molecular lines
      ADD_FAILURE() << "no error";
    } catch (const TextBaseError& e) {
      EXPECT_STREQ(e.what(),
                   c.from < 0 ? c.message : "No data in database for the requested wavelength");
    }
  }
  TTextBase empty(1000, 500);
  int32_t pos;
  TFoundFlag flag;
  EXPECT_THROW(empty.AtomFind(500, 0, pos, flag), TextBaseError);
}

TEST(LineBaseRecords, IndexOutsideTheArrayRaises) {
  TTextBase base = ThreeLines();
  struct Case {
    int32_t index;
    const char* message;
  };
  for (const Case& c :
       {Case{-1, "Low limits"}, Case{3, "No data in database for the requested wavelength"}}) {
    try {
      base.GetAtomRecord(c.index);
      ADD_FAILURE() << "no error at " << c.index;
    } catch (const TxtError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_THROW(base.GetMolRecord(c.index < 0 ? -1 : 0), TxtError);
  }
  // Before a load the preallocated records read as zeroed ones.
  TTextBase fresh(1000, 500);
  EXPECT_EQ(fresh.GetAtomRecord(999).WaveLength, 0);
  EXPECT_EQ(fresh.LastAtom(), -1);
}

// Records of every kind the base is given, each field set.
std::vector<TRecord> VariedRecords() {
  struct Case {
    const char* confi;
    const char* confk;
    const char* termi;
    const char* termk;
    const char* refs;
    bool joined;  // Confs and Terms joined from the states, as files give them
  };
  const std::string c40(40, 'c'), k40(40, 'k'), t16(16, 't'), u16(16, 'u'), r20(20, 'r');
  const Case cases[] = {
      {"3s2.3p5.(2P*<3/2>).4s", "3s2.3p5.(2P*<3/2>).4p", "2[3/2]*", "2[3/2]", "L7760", true},
      {"3s2.3p5.(2P*<3/2>).4s", "3s2.3p5.(2P*<3/2>).4s", "2[3/2]*", "2[3/2]*", "L7760", true},
      {c40.c_str(), k40.c_str(), t16.c_str(), u16.c_str(), r20.c_str(), true},
      {"", "", "", "", "", true},
      {"3p5 4s", "3p5 4p", "2[3/2]*", "2[1/2]", "", false},
      {"a\tb", "\xe9", " x ", "", "T", false},
  };
  std::vector<TRecord> records;
  double wl = 400;
  for (const Case& c : cases) {
    TRecord r = testing::SampleRecord();
    r.Ion = "III";
    r.WaveLength = wl++;
    r.Confi = c.confi;
    r.Confk = c.confk;
    r.Termi = c.termi;
    r.Termk = c.termk;
    r.JoinStates();
    if (!c.joined) {
      r.Confs = std::string(c.confi) + " / " + c.confk;
      r.Terms = c.termk;
    }
    r.LineRefs = c.refs;
    r.Order = 1;
    records.push_back(r);
  }
  records.push_back(TRecord{});  // Confs and Terms empty, not " - "
  records.back().WaveLength = wl;
  return records;
}

TEST(LineBaseRecords, RecordsComeBackWithEveryField) {
  const std::vector<TRecord> records = VariedRecords();
  std::vector<std::string> expected;
  for (const TRecord& r : records) expected.push_back(testing::RecordText(r));
  TTextBase base(0, 0);
  for (const TRecord& r : records) base.Add(r);
  EXPECT_EQ(RecordTexts(base), expected);
  int32_t position = 0;
  TFoundFlag flag;
  EXPECT_EQ(testing::RecordText(base.AtomFind(records[2].WaveLength, 0, position, flag)),
            expected[2]);

  // Order copies keep the texts of the line they copy.
  base.AddAtomSpectralOrders(0, 1000, true, false);
  ASSERT_EQ(base.AtomLength(), 2 * static_cast<int32_t>(records.size()) - 1);
  for (size_t i = 0; i + 1 < records.size(); ++i) {
    TRecord copy = records[i];
    copy.Order = 2;
    copy.WaveLength = 2 * records[i].WaveLength;
    EXPECT_EQ(testing::RecordText(base.GetAtomRecord(static_cast<int32_t>(records.size() + i))),
              testing::RecordText(copy));
  }
}

// A copy or a moved base keeps its texts when the base it came from is gone,
// and new texts in one do not reach the other.
TEST(LineBaseRecords, CopiesAndMovesKeepTheTexts) {
  const std::vector<TRecord> records = VariedRecords();
  std::vector<std::string> expected;
  for (const TRecord& r : records) expected.push_back(testing::RecordText(r));
  auto filled = [&] {
    TTextBase base(0, 0);
    for (const TRecord& r : records) base.Add(r);
    return std::make_unique<TTextBase>(base);
  };
  std::unique_ptr<TTextBase> copy = filled();
  EXPECT_EQ(RecordTexts(*copy), expected);
  TTextBase moved = std::move(*copy);
  copy.reset();
  EXPECT_EQ(RecordTexts(moved), expected);

  TTextBase other = moved;
  TRecord extra = records[0];
  extra.Confi = "only in the other base";
  extra.LineRefs = "new";
  other.Add(extra);
  moved = other;
  // New texts in the room the other base's texts had.
  other.AtomClear();
  for (TRecord r : records) {
    r.Confi = "overwritten";
    r.Confk = "overwritten too";
    r.LineRefs = "overwritten";
    other.Add(r);
  }
  EXPECT_EQ(testing::RecordText(moved.GetAtomRecord(static_cast<int32_t>(records.size()))),
            testing::RecordText(extra));
  moved.SetAtomLength(static_cast<int32_t>(records.size()));
  EXPECT_EQ(RecordTexts(moved), expected);
}

TEST(LineBaseRecords, AddGrowsOnlyBeyondThePreallocatedRecords) {
  TTextBase base(2, 0);
  TRecord r;
  r.WaveLength = 1;
  base.Add(r);
  base.Add(r);
  EXPECT_EQ(base.AtomLength(), 2);
  base.Add(r);
  EXPECT_EQ(base.AtomLength(), 3);
  EXPECT_EQ(base.LastAtom(), 2);
  base.AtomClear();
  EXPECT_EQ(base.AtomLength(), 2);
  EXPECT_EQ(base.LastAtom(), -1);
  EXPECT_EQ(base.GetAtomRecord(0).WaveLength, 0);
}

TEST(LineBaseRecords, ShorteningTheArrayDropsTheRecordsCutOff) {
  TTextBase base = ThreeLines();
  base.SetAtomLength(1);
  EXPECT_EQ(base.LastAtom(), 0);
  TRecord r;
  r.WaveLength = 450;
  base.Add(r);
  EXPECT_EQ(base.AtomLength(), 2);
  int32_t pos;
  TFoundFlag flag;
  base.AtomFind(1000, 0, pos, flag);
  EXPECT_EQ(pos, 1);
  EXPECT_THROW(base.SetAtomLength(-1), RangeError);
}

TEST(LineBaseRecords, OrderCopiesOnlyOfFirstOrderLinesPresentAtEntry) {
  TTextBase base = ThreeLines();
  base.AddAtomSpectralOrders(450, 700, true, false);
  base.AddAtomSpectralOrders(450, 1200, true,
                             false);  // copies at 1000 and 1200 are not first order
  base.AtomSort();
  EXPECT_EQ(WavelengthsAndOrders(base),
            (std::vector<WlOrder>{
                {400, 1}, {500, 1}, {600, 1}, {1000, 2}, {1000, 2}, {1200, 2}, {1200, 2}}));
}

}  // namespace
}  // namespace lumora
