// The record a garbage collection keeps of its backup: read back as written, and any
// record with a value outside its range refused whole, as a malformed one is.
#include "ZunBackupRecord.h"

#include <QTemporaryDir>
#include <QtTest>

class TestBackupRecord : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    void put(const QByteArray& text)
    {
        QFile f(QDir(m_dir.path()).filePath(QString::fromLatin1(ZunBackupRecord::FileName)));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(text), qint64(text.size()));
    }

private slots:
    void writtenIsReadBack()
    {
        const QList<ZunBackupRecord::Entry> entries{{"01_Thru.fir", -1, 0xFFFFFFFFu}, {"Set07_Main.zun", 7, 1}};
        QString error;
        QVERIFY(ZunBackupRecord(42, entries).write(m_dir.path(), &error));
        const ZunBackupRecord read = ZunBackupRecord::read(m_dir.path());
        QCOMPARE(read.refusal(42), QString());
        QVERIFY(read.entries() == entries);
        QVERIFY(!ZunBackupRecord(42, entries).write(m_dir.filePath("no such folder"), &error));
        QVERIFY(!error.isEmpty());
    }

    void malformedRecordsAreRefused_data()
    {
        QTest::addColumn<QString>("files");   // the "files" value, or a whole record starting with '!'
        QTest::addColumn<QString>("why");      // in the refusal
        const QString fir = QStringLiteral(R"("file": "01_Thru.fir", "position": -1)");
        QTest::newRow("an id of -1") << "[{" + fir + R"(, "id": -1}])" << "an id that";
        QTest::newRow("an id of 1e20") << "[{" + fir + R"(, "id": 1e20}])" << "an id that";
        QTest::newRow("an id of 0") << "[{" + fir + R"(, "id": 0}])" << "an id that";
        QTest::newRow("an id of 1.5") << "[{" + fir + R"(, "id": 1.5}])" << "an id that";
        QTest::newRow("an id as text") << "[{" + fir + R"(, "id": "12"}])" << "an id that";
        QTest::newRow("no id") << "[{" + fir + "}]" << "an id that";
        QTest::newRow("a position of -2") << R"([{"file": "Set01_A.zun", "position": -2, "id": 5}])" << "a position";
        QTest::newRow("a position of 1e9") << R"([{"file": "Set01_A.zun", "position": 1e9, "id": 5}])" << "a position";
        QTest::newRow("a file in another folder") << R"([{"file": "../x.fir", "position": -1, "id": 5}])" << "names no file";
        QTest::newRow("the record itself") << R"([{"file": "backup-record.json", "position": -1, "id": 5}])"
                                           << "names no file";
        QTest::newRow("no file name") << R"([{"position": -1, "id": 5}])" << "names no file";
        QTest::newRow("a file twice") << "[{" + fir + R"(, "id": 5}, {)" + fir + R"(, "id": 6}])" << "listed twice";
        QTest::newRow("an entry that is no object") << "[7]" << "no object";
        QTest::newRow("no file listed") << "[]" << "lists no file";
        QTest::newRow("no list") << "{}" << "no list of files";
        QTest::newRow("a processor of -1") << R"(!{"processor": -1, "files": [{"file": "a.fir", "position": -1, "id": 5}]})"
                                           << "its processor";
        QTest::newRow("a processor of 1e20") << R"(!{"processor": 1e20, "files": []})" << "its processor";
        QTest::newRow("no object") << "![42]" << "not an object";
        QTest::newRow("cut short") << R"(!{"processor": 42, "files": [{"file")" << "can not be read";
        QTest::newRow("empty") << "!" << "can not be read";
        QTest::newRow("larger than a record") << "!" + QString(ZunBackupRecord::MaxBytes, QLatin1Char(' ')) + "{}" << "larger";
    }
    void malformedRecordsAreRefused()
    {
        QFETCH(QString, files);
        QFETCH(QString, why);
        put((files.startsWith('!') ? files.mid(1) : R"({"processor": 42, "files": )" + files + "}").toUtf8());
        const ZunBackupRecord read = ZunBackupRecord::read(m_dir.path());
        QVERIFY2(read.refusal(42).contains(why), qPrintable(read.refusal(42)));
        QVERIFY(read.entries().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBackupRecord)
#include "tst_backuprecord.moc"
