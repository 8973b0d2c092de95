#include "CCmdMap.h"
#include "CCmdTables.h"
#include "CZunImageDefaults.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {
const QList<quint16> kVersions = {1075, 1076, 1077, 1078, 1079, 1080};
}

class TestImageDefaults : public QObject
{
    Q_OBJECT
private slots:
    void freshProcessorImage()
    {
        CCmdMap map;
        for (quint16 v : kVersions) {
            map.setVersion(v);
            const QVector<quint16> image = CZunImageDefaults::defaultImage(v);
            QCOMPARE(image.size(), 1700);
            QCOMPARE(image[2] & 0x0FFF, int(v));
            const auto word = [&](const char* name) { return image[map.getCmdNr(name)]; };
            QCOMPARE(word("Cmd_SetupFlags") & 2, 0); // DSPs not linked
            QCOMPARE(word("Cmd_SetupSelect"), quint16(0xCDEF));
            QCOMPARE(image[103], quint16(map.getCmdNr("Inf_DSP0000_307_0")));
            QCOMPARE(image[873], image[103]);
            for (int w : {146, 147, 916, 917})
                QCOMPARE(image[w], quint16(0));
            // The routing words name existing presets and the full routing selecting them.
            const quint16 routing = word("Cmd_SPI_Routing");
            QCOMPARE(word("Cmd_DSP_Routing"), routing);
            const QString pattern = QString::number(quint32(word("Cmd_DSP_FullRouting1")) << 16 | word("Cmd_DSP_FullRouting0"), 2)
                                        .rightJustified(32, '0');
            QCOMPARE(map.getCmdNr("Inf_FR_" + pattern), routing);
            for (int slot = 0; slot < 8; ++slot) {
                const QChar letter('M' + slot);
                const QString param = QStringLiteral("Cmd_%1_KPSourceInfo%2").arg(slot / 4).arg(letter);
                QCOMPARE(image[map.getCmdNr(param)], map.getCmdNr(QStringLiteral("Inf_KPSourceInfo%1_IR_21").arg(letter)));
            }
            QCOMPARE(word("Cmd_LED"), quint16(v >= 1079 ? 16 : 0));
            QCOMPARE(QByteArray(CZunImageDefaults::defaultImageBytes(v).constData() + 3376, 24),
                     QByteArray("Default Setup           "));
        }
        QVERIFY(CZunImageDefaults::defaultImage(1074).isEmpty());
    }

    void poolRecordsAreFree()
    {
        CCmdMap map;
        map.setVersion(1077);
        const QVector<quint16> image = CZunImageDefaults::defaultImage(1077);
        const int n = map.getCmdNr("Inf_DSP_EQ_AnzSet");
        for (const char* base : {"Inf_DSP0_ParBaseEQ", "Inf_DSP1_ParBaseEQ"})
            for (int r = 0; r < n; ++r) {
                const int w = map.getCmdNr(base) + 5 * r;
                // The neutral EQ: peak, bypassed, flag set, 1000 Hz, 0 dB, quality 4.
                QCOMPARE(image[w] & 0x3FFF, int(map.getCmdNr("Inf_Sel_Typ_EQ_Peak")));
                QCOMPARE(image[w] & 0xC000, 0xC000);
                QCOMPARE(image[w + 1] * map.getFltConst("Step_EQ_F"), 1000.0);
                QVERIFY(qAbs(image[w + 2] * map.getFltConst("Step_EQ_Q") - 4.0) < 1e-9);
                QCOMPARE(image[w + 3], quint16(0));
            }
        for (const char* base : {"Inf_DSP0_ParBaseFi", "Inf_DSP1_ParBaseFi"})
            for (int r = 0; r < 12; ++r)
                QCOMPARE(image[map.getCmdNr(base) + 5 * r + 2] & 0xFF, 255); // no section 0: free
    }

    void dspBlocksEqualApartFromIgnoredWords()
    {
        const QByteArray bytes = CZunImageDefaults::defaultImageBytes(1080);
        QByteArray a = bytes.mid(180, 1500), b = bytes.mid(1720, 1500);
        for (QByteArray* block : {&a, &b}) {
            block->replace(64, 4, QByteArray(4, '\0'));
            block->replace(120, 16, QByteArray(16, '\0'));
        }
        QCOMPARE(a, b);
        QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 4), quint16(1080));
    }

    void rangesHoldEveryDefault()
    {
        for (quint16 v : kVersions) {
            const QVector<quint16> image = CZunImageDefaults::defaultImage(v);
            int ranged = 0;
            for (int cmd = 0; cmd < 1700; ++cmd) {
                int mn = 0, mx = 0;
                if (!CZunImageDefaults::rawRange(v, quint16(cmd), &mn, &mx))
                    continue;
                ++ranged;
                QVERIFY(CZunImageDefaults::isKnownCommand(v, quint16(cmd)));
                const int value = mn < 0 ? int(qint16(image[cmd])) : int(image[cmd]);
                QVERIFY2(value >= mn && value <= mx, qPrintable(QString::number(cmd)));
            }
            QVERIFY(ranged > 1000); // the pools and the DSP parameters
        }
    }

    void rangesFollowTheConstants()
    {
        CCmdMap map;
        map.setVersion(1078);
        int mn = 0, mx = 0;
        QVERIFY(CZunImageDefaults::rawRange(1078, map.getCmdNr("Cmd_1_ChGain2"), &mn, &mx));
        QCOMPARE(mn, qRound(map.getFltConst("Min_ChGain")));
        QCOMPARE(mx, qRound(map.getFltConst("Max_ChGain")));
        QVERIFY(mn < 0); // gains compare signed
        QVERIFY(CZunImageDefaults::rawRange(1078, map.getCmdNr("Cmd_0_InGainC"), &mn, &mx));
        QCOMPARE(mn, qRound(map.getFltConst("Min_ChGain")));
        QVERIFY(CZunImageDefaults::rawRange(1078, map.getCmdNr("Cmd_0_MasterMute"), &mn, &mx));
        QCOMPARE(mx, 1);
        QVERIFY(CZunImageDefaults::rawRange(1078, map.getCmdNr("Cmd_ClockSel"), &mn, &mx));
        QCOMPARE(mx, int(map.getCmdNr("Inf_Sel_Clk_192")));
        // No range: status words, control commands, reserved words, other versions.
        QVERIFY(!CZunImageDefaults::rawRange(1078, map.getCmdNr("Cmd_MemCopy"), &mn, &mx));
        QVERIFY(!CZunImageDefaults::rawRange(1078, 0, &mn, &mx));
        QVERIFY(!CZunImageDefaults::rawRange(1078, 1700, &mn, &mx));
        QVERIFY(!CZunImageDefaults::rawRange(1074, map.getCmdNr("Cmd_1_ChGain2"), &mn, &mx));
    }

    void knownCommands()
    {
        // Command 19 is sent on every connection, named or not.
        for (quint16 v : kVersions)
            QVERIFY(CZunImageDefaults::isKnownCommand(v, 19));
        QVERIFY(CZunImageDefaults::isKnownCommand(1075, 30));
        QVERIFY(CZunImageDefaults::isKnownCommand(1075, 210)); // first EQ record word
        QVERIFY(!CZunImageDefaults::isKnownCommand(1075, 0));
        QVERIFY(!CZunImageDefaults::isKnownCommand(1075, 15)); // Cmd_String2App from 1080
        QVERIFY(CZunImageDefaults::isKnownCommand(1080, 15));
        QVERIFY(!CZunImageDefaults::isKnownCommand(1075, 0xFF00));
        QVERIFY(!CZunImageDefaults::isKnownCommand(1081, 30));
    }

    void generatorWritesTheDefaultSetupImages()
    {
        // The generator sits beside the emulator in the build tree.
        const QString zunsim = qEnvironmentVariable("ZUNSIM");
        const QString tool = QFileInfo(zunsim).dir().filePath("../zunmkdefaults/zunmkdefaults");
        if (zunsim.isEmpty() || !QFileInfo::exists(tool))
            QSKIP("zunmkdefaults not built beside zunsim");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(QProcess::execute(tool, {dir.filePath("System")}), 0);
        for (quint16 v : kVersions) {
            QFile f(dir.filePath(QStringLiteral("System/DSPVar%1.zun").arg(v)));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), CZunImageDefaults::defaultImageBytes(v));
        }
        QVERIFY(QProcess::execute(tool, {}) != 0);
        // Mended: "--help" made a folder of that name instead of answering.
        QProcess help;
        help.setWorkingDirectory(dir.path());
        help.start(tool, {"--help"});
        QVERIFY(help.waitForFinished(10000));
        QCOMPARE(help.exitCode(), 0);
        QVERIFY(help.readAllStandardOutput().startsWith("Usage: zunmkdefaults"));
        QVERIFY(!QFileInfo::exists(dir.filePath("--help")));
    }
};

QTEST_GUILESS_MAIN(TestImageDefaults)
#include "tst_imagedefaults.moc"
