#include <QtTest>
#include <memory>

#include "app/maplookup.h"

using lumora::MapRange;
using lumora::MapValueAt;

class MapLookupTest : public QObject {
  Q_OBJECT

 private slots:
  // A 3 x 6 grid whose cell [i][j] holds 10 i + j, so the value names the cell.
  void valueOfTheNearestGridPoint_data() {
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("value");
    // x0 = 15, y0 = 1000; steps exact in binary so halves are exact.
    QTest::newRow("on a grid point") << 0.5 << 100.0 << 16.0 << 1100.0 << 12.0;
    QTest::newRow("halfway 2-3 goes to 2") << 0.5 << 100.0 << 16.25 << 1000.0 << 2.0;
    QTest::newRow("halfway 3-4 goes to 4") << 0.5 << 100.0 << 16.75 << 1000.0 << 4.0;
    QTest::newRow("row halfway 0-1 goes to 0") << 0.5 << 100.0 << 15.0 << 1050.0 << 0.0;
    QTest::newRow("row halfway 1-2 goes to 2") << 0.5 << 100.0 << 15.0 << 1150.0 << 20.0;
    QTest::newRow("last cell") << 0.5 << 100.0 << 17.5 << 1200.0 << 25.0;
    QTest::newRow("half a step left of x0 is column 0") << 0.5 << 100.0 << 14.75 << 1000.0 << 0.0;
    QTest::newRow("more than half a step left") << 0.5 << 100.0 << 14.7 << 1000.0 << -1.0;
    QTest::newRow("past the last column") << 0.5 << 100.0 << 18.0 << 1000.0 << -1.0;
    QTest::newRow("past the last row") << 0.5 << 100.0 << 15.0 << 1300.0 << -1.0;
    QTest::newRow("below the first row") << 0.5 << 100.0 << 15.0 << 900.0 << -1.0;
    QTest::newRow("zero density step") << 0.0 << 100.0 << 15.0 << 1000.0 << -1.0;
    QTest::newRow("zero temperature step") << 0.5 << 0.0 << 15.0 << 1000.0 << -1.0;
    QTest::newRow("both steps negative") << -0.5 << -100.0 << 15.0 << 1000.0 << -1.0;
    QTest::newRow("one negative step is a grid") << -0.5 << 100.0 << 14.0 << 1000.0 << 2.0;
    QTest::newRow("far away") << 0.5 << 100.0 << 1e300 << 1000.0 << -1.0;
  }
  void valueOfTheNearestGridPoint() {
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, value);
    std::vector<std::vector<double>> grid(3, std::vector<double>(6));
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 6; ++j) grid[i][j] = 10 * i + j;
    const MapRange range{15, 15 + 6 * dx, 1000, 1000 + 3 * dy, dx, dy};
    QCOMPARE(MapValueAt(range, grid, x, y), value);
  }

  void noMapYetAnswersMinusOne() {
    QCOMPARE(MapValueAt(MapRange{}, {}, 0, 0), -1.0);
    QCOMPARE(MapValueAt(MapRange{0, 1, 0, 1, 0.5, 0.5}, {}, 0, 0), -1.0);
  }
};

std::unique_ptr<QObject> NewMapLookupTest() { return std::make_unique<MapLookupTest>(); }

#include "maplookup_test.moc"
