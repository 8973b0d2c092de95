#include "CZunHardwareInfo.h"
#include "ZunLogFile.h"

#include <QtTest>

class TestHardwareInfo : public QObject
{
    Q_OBJECT
private slots:
    void doubleBoardWithFrontPanel()
    {
        const CZunHardwareInfo h(0xFF94);
        QVERIFY(h.isValid());
        QVERIFY(h.isDoubleBoard());
        QVERIFY(h.hasFrontPanel());
        QCOMPARE(h.adConverterCount(), 3);
        QCOMPARE(h.daConverterCount(), 4);
        QCOMPARE(h.analogInputCount(), 6);
        QCOMPARE(h.analogOutputCount(), 8);
        QVERIFY(h.hasAESReceiver());
        QVERIFY(!h.hasAESTransmitter());
        QVERIFY(h.hasSampleRateConverter());
        QVERIFY(!h.isDanteEnabled());
        QCOMPARE(h.toHtml(),
                 QStringLiteral("<qt><b>Zun hardware information</b><br><b>Device:</b> Zun double-board with front panel<br>"
                                "<b>Nr. of AD converters:</b> 3<br><b>Nr. of DA converters:</b> 4<br>"
                                "<b>Nr. of single range analog inputs:</b> 6<br><b>Nr. of analog outputs:</b> 8<br>"
                                "<b>AES receiver:</b> yes<br><b>AES transmitter:</b> no<br>"
                                "<b>Samplerate converter:</b> yes<br><b>Dante enabled:</b> no<br>"));
    }

    void outputsAreBoundByTheBoards()
    {
        QCOMPARE(CZunHardwareInfo(0x0300).analogOutputCount(), 4);
        QCOMPARE(CZunHardwareInfo(0x0F00).analogOutputCount(), 4);
        QCOMPARE(CZunHardwareInfo(0x0F80).analogOutputCount(), 8);
        QCOMPARE(CZunHardwareInfo(0x0100).analogOutputCount(), 2);
    }

    void danteBitNeedsAValidTopHalf()
    {
        QVERIFY(!CZunHardwareInfo(0xFFFF0000u).isDanteEnabled());
        QVERIFY(CZunHardwareInfo(0x01000000u).isDanteEnabled());
        QVERIFY(!CZunHardwareInfo(0x02000000u).isDanteEnabled());
    }

    void zeroWordIsNotValid()
    {
        const CZunHardwareInfo h(0, 7);
        QVERIFY(!h.isValid());
        QCOMPARE(h.analogOutputCount(), 0);
        QCOMPARE(h.adConverterCount(), 0);
        QCOMPARE(h.extraWord(), 7u);
    }

    void logFileIsTriedAgainAfterAFailedOpen()
    {
        ZunLogFile& log = ZunLogFile::instance();
        log.reset();
        QVERIFY(!log.write(QString(), QStringLiteral("never connected")));
        QTemporaryDir dir;
        QVERIFY(!log.write(dir.path() + QStringLiteral("/missing/folder"), QStringLiteral("lost")));
        QVERIFY(log.fileName().isEmpty());
        // The next line opens the file that can be opened.
        QVERIFY(log.write(dir.path(), QStringLiteral("first")));
        QTemporaryDir other;
        QVERIFY(log.write(other.path(), QStringLiteral("second")));
        QCOMPARE(log.fileName(), dir.path() + QStringLiteral("/logFile.txt"));
        QFile f(log.fileName());
        QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
        QVERIFY(lines.size() >= 4);
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: Init LogFile$")).match(lines[0]).hasMatch());
        QCOMPARE(lines[1], QString());
        QVERIFY(lines[2].endsWith(QStringLiteral(": first")));
        QVERIFY(lines[3].endsWith(QStringLiteral(": second")));
        QVERIFY(!QFile::exists(other.path() + QStringLiteral("/logFile.txt")));
        log.reset();
    }
};

QTEST_GUILESS_MAIN(TestHardwareInfo)
#include "tst_hardwareinfo.moc"
