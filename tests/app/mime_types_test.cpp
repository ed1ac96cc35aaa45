// The file types the desktop entry names, as a Qt desktop tells them apart
// once the package's lumora.xml is in the shared MIME database: measurements
// are .txt files like any text, so their content must decide.
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class MimeTypesTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;

 private slots:
  // A database of the freedesktop.org types and Lumora's, built as the
  // package's installation has it built.
  void initTestCase() {
    const QString mime = dir_.path() + "/mime";
    QVERIFY(QDir().mkpath(mime + "/packages"));
    const QString common = "/usr/share/mime/packages/freedesktop.org.xml";
    if (!QFile::exists(common)) QSKIP("shared-mime-info is not installed");
    QVERIFY(QFile::copy(common, mime + "/packages/freedesktop.org.xml"));
    QVERIFY(QFile::copy(LUMORA_MIME_XML, mime + "/packages/lumora.xml"));
    QCOMPARE(QProcess::execute("update-mime-database", {mime}), 0);
    qputenv("XDG_DATA_DIRS", dir_.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (dir_.path() + "/none").toLocal8Bit());
  }

  void typeOfFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("type");
    const QByteArray measurement = "667.7282\t20.768497\r\n696.5431\t2485.0748\r\n";
    QTest::newRow("measurement") << "argon.txt" << measurement
                                 << "application/x-lumora-measurement";
    QTest::newRow("measurement, LF")
        << "a.txt" << QByteArray("706.7218\t2700.4396\n") << "application/x-lumora-measurement";
    QTest::newRow("text") << "readme.txt" << QByteArray("Sample measurements\n") << "text/plain";
    QTest::newRow("text with a tab") << "notes.txt" << QByteArray("abc.de\tfoo\n") << "text/plain";
    QTest::newRow("recording") << "argon.recording.csv"
                               << QByteArray("wavelength_nm,counts\n660.0000,401\n")
                               << "application/x-lumora-recording";
    QTest::newRow("other csv") << "table.csv" << QByteArray("a,b\n1,2\n") << "text/csv";
  }

  void typeOfFile() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, type);
    const QString path = dir_.path() + "/" + name;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QCOMPARE(QMimeDatabase().mimeTypeForFile(path).name(), type);
  }
};

QTEST_GUILESS_MAIN(MimeTypesTest)
#include "mime_types_test.moc"
