// Runs the window's test classes in one application object. With a test
// function's name as the first argument, only the class that has it runs
// (CTest runs each function as its own test).
#include <QApplication>
#include <QMetaMethod>
#include <QtTest>
#include <memory>

std::unique_ptr<QObject> NewMainFormTest();
std::unique_ptr<QObject> NewMapLookupTest();

namespace {

bool HasTestFunction(const QObject& test, const char* name) {
  const QMetaObject* meta = test.metaObject();
  for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
    if (meta->method(i).name() == name) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const char* only = argc >= 2 && argv[1][0] != '-' ? argv[1] : nullptr;
  int status = 0;
  bool found = only == nullptr;
  for (auto make : {NewMainFormTest, NewMapLookupTest}) {
    std::unique_ptr<QObject> test = make();
    if (only && !HasTestFunction(*test, only)) continue;
    found = true;
    status |= QTest::qExec(test.get(), argc, argv);
  }
  if (!found) {
    fprintf(stderr, "No test function named %s\n", only);
    return 1;
  }
  return status;
}
