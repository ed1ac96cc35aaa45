#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "app/mainform.h"
#include "base/errors.h"

using lumora::TMainForm;

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  QString WriteIni(const QTemporaryDir& dir, const QByteArray& text) {
    const QString path = dir.filePath("lumora.ini");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
  }

 private slots:
  void elementListFollowsTheSettings_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("elements");
    QTest::addColumn<int>("selected");
    const QByteArray sections = "[_Files]\r\n[Ne I]\r\n[_Fit]\r\n[Ar I]\r\n[Kr II]\r\n";
    const QStringList three{"Ne I", "Ar I", "Kr II"};
    QTest::newRow("default index 0") << sections << three << 0;
    QTest::newRow("index 2") << sections + "[_Parameters]\r\nDefaultAtom=2\r\n" << three << 2;
    QTest::newRow("index past the end") << sections + "[_Parameters]\r\nDefaultAtom=3\r\n" << three << -1;
    QTest::newRow("negative index") << sections + "[_Parameters]\r\nDefaultAtom=-1\r\n" << three << -1;
    QTest::newRow("unparseable index") << sections + "[_Parameters]\r\nDefaultAtom=x\r\n" << three << 0;
    QTest::newRow("no element sections") << QByteArray("[_Files]\nDatabase=/db\n") << QStringList{} << -1;
    QTest::newRow("empty file") << QByteArray() << QStringList{} << -1;
  }

  void elementListFollowsTheSettings() {
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, elements);
    QFETCH(int, selected);
    QTemporaryDir dir;
    TMainForm form(WriteIni(dir, ini).toStdString());
    QCOMPARE(form.objectName(), QString("TMainForm"));
    QCOMPARE(form.windowTitle(), QString("Lumora"));
    auto* box = form.findChild<QComboBox*>("ElementListBox");
    QVERIFY(box);
    QVERIFY(!box->isEditable());
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
    QCOMPARE(shown, elements);
    QCOMPARE(box->currentIndex(), selected);
  }

  void unreadableSettingsFileIsAnError() {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("lumora.ini");
    QVERIFY_THROWS_EXCEPTION(lumora::InOutError, TMainForm(dir.filePath("lumora.ini").toStdString()));
  }

  void missingProgramFilesEndTheProgramWithStatusZero() {
    QTemporaryDir dir;
    QProcess app;
    QProcessEnvironment env;
    env.insert("HOME", dir.filePath("home"));
    env.insert("XDG_DATA_HOME", dir.filePath("user"));
    env.insert("XDG_DATA_DIRS", dir.filePath("common"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    app.setProcessEnvironment(env);
    app.start(LUMORA_APP, {});
    QVERIFY(app.waitForFinished(30000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(app.readAllStandardError()),
             QString("Necessary program files are missing. \nProgram will be terminated.\n"));
  }
};

QTEST_MAIN(MainFormTest)
#include "mainform_test.moc"
