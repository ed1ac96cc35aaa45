// Runs the window's test classes in one application object.
#include <QApplication>
#include <QtTest>
#include <memory>

std::unique_ptr<QObject> NewMainFormTest();
std::unique_ptr<QObject> NewMapLookupTest();

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int status = 0;
  for (auto make : {NewMainFormTest, NewMapLookupTest}) {
    std::unique_ptr<QObject> test = make();
    status |= QTest::qExec(test.get(), argc, argv);
  }
  return status;
}
