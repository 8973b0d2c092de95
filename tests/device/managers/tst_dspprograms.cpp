#include "CBlockFIR.h"
#include "ZunDSPProgramInfo.h"
#include "ZunDeviceResources.h"

#include <QtTest>

#include <functional>
#include <stdexcept>

namespace {

const char* const kGroups[] = {
    "0000", "0010", "0020", "0030", "0040", "0210", "0310", "0320", "0420", "0421",
    "1000", "1010", "1111", "2000", "2020", "2121", "2222", "3030", "3110", "3200",
    "3210", "3220", "4040", "4300", "4310", "4321", "4410", "4420",
};

// Every program id whose image the folder holds, all three variants.
QList<quint16> programsOf(int folder)
{
    QList<const char*> groups(std::begin(kGroups), std::end(kGroups));
    if (folder == 1079)
        groups << "4000";
    QList<quint16> ids;
    for (const char* g : groups)
        for (int variant = 0; variant <= 2; ++variant)
            ids << quint16((g[0] - '0') << 9 | (g[1] - '0') << 6 | (g[2] - '0') << 3 | (g[3] - '0') | variant << 12);
    return ids;
}

QString errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::logic_error& e) {
        return QString::fromStdString(e.what());
    }
    return QString();
}

const QString kWrongType = QStringLiteral("ZunDSPProgramInfo::fromProgID() : wrong DSP type specified");

} // namespace

class TestDSPPrograms : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initDeviceResources(); }

    void idsDecomposeAndFollowTheDSPType()
    {
        ZunDSPProgramInfo p(0x0451, 1075);
        QCOMPARE(QList<quint16>({p.digit(0), p.digit(1), p.digit(2), p.digit(3)}), QList<quint16>({2, 1, 2, 1}));
        QCOMPARE(p.family(), 307u);
        QCOMPARE(p.resourcePath(), QStringLiteral(":/resources/System/1075/2121_307_0.dsp"));
        QCOMPARE(p.displayText(), QStringLiteral("307 4 2 4 2"));
        QCOMPARE(ZunDSPProgramInfo(0x0FFF, 1079).displayText(), QStringLiteral("307 128 128 128 128"));

        p.setDSPType(ZunDSPProgramInfo::DSPType321);
        QCOMPARE(p.progID(), quint16(0x1451));
        QCOMPARE(p.resourcePath(), QStringLiteral(":/resources/System/1075/2121_321_0.dsp"));
        QVERIFY(p != ZunDSPProgramInfo(0x0451, 1075));
        QVERIFY(p == ZunDSPProgramInfo(0x1451, 1079)); // equal ids, whatever the folder

        ZunDSPProgramInfo q(0x2451, 1079);
        QCOMPARE(q.fileName(), QStringLiteral("2121_321_1.dsp"));
        q.setDSPType(ZunDSPProgramInfo::DSPType321); // keeps sub-variant 1
        QCOMPARE(q.progID(), quint16(0x2451));
        q.setDSPType(ZunDSPProgramInfo::DSPType307);
        QCOMPARE(q.progID(), quint16(0x0451));

        // Refusals name the method and leave the record as it was.
        QCOMPARE(errorOf([] { ZunDSPProgramInfo(0x3000, 1075); }), kWrongType);
        QCOMPARE(errorOf([&] { q.setDSPType(0); }), kWrongType);
        QCOMPARE(q.resourcePath(), QStringLiteral(":/resources/System/1079/2121_307_0.dsp"));
    }

    // Each firmware reads every program of its folder, through the folder's
    // redirection where needed; the image folders hold exactly those programs.
    void everyFirmwareReadsItsImages()
    {
        for (quint16 fw = 1075; fw <= 1080; ++fw) {
            const int folder = fw < 1079 ? 1075 : 1079;
            QCOMPARE(QFileInfo(QStringLiteral(":/resources/System/DSPVar%1.zun").arg(fw)).size(), 3400);
            QStringList files;
            for (quint16 id : programsOf(folder)) {
                const ZunDSPProgramInfo p(id, fw);
                QCOMPARE(p.progID(), id);
                QCOMPARE(p.resourcePath(), QStringLiteral(":/resources/System/%1/").arg(fw) + p.fileName());
                files << p.fileName();
                const QByteArray image = p.readProgram();
                const uchar* h = reinterpret_cast<const uchar*>(image.constData());
                QVERIFY(image.size() >= 21296 && image.size() <= 21792);
                QCOMPARE(image.left(4), QByteArray("ZDSP"));
                QCOMPARE(qFromLittleEndian<quint16>(h + 4), id);
                QCOMPARE(qFromLittleEndian<quint16>(h + 6), quint16(id >> 12 ? 321 : 307));
                QCOMPARE(int(qFromLittleEndian<quint16>(h + 8)), folder);
                QCOMPARE(int(qFromLittleEndian<quint32>(h + 10)), image.size() - 16);
            }
            const QStringList here = QDir(QStringLiteral(":/resources/System/%1").arg(fw)).entryList(QDir::Files);
            if (fw == folder) {
                QCOMPARE(files.size(), fw == 1075 ? 84 : 87);
                QCOMPARE(QSet<QString>(here.begin(), here.end()), QSet<QString>(files.begin(), files.end()));
            } else {
                QCOMPARE(here, QStringList{"version.txt"});
            }
        }
    }

    void missingImagesAndFoldersAreNamed()
    {
        // 4000 exists only from 1079 on: 1077 looks for it in 1075.
        QCOMPARE(errorOf([] { ZunDSPProgramInfo(0x0800, 1077).readProgram(); }),
                 QStringLiteral("Could not find DSP program :/resources/System/1075/4000_307_0.dsp inside "
                                "executable. Please update to a newer version of ZunControl."));
        QCOMPARE(errorOf([] { ZunDSPProgramInfo(0x0451, 1081).readProgram(); }),
                 QStringLiteral("The dsp programs for this version are not contained in the executable. "
                                "Please update to a newer version."));
    }

    void linkedProgramsExistForEveryProgram()
    {
        QCOMPARE(ZunDSPProgramInfo::linkedProgID(1, 0x0009), quint16(0x0249));
        QCOMPARE(ZunDSPProgramInfo::linkedProgID(1, 0x2E3F), quint16(0x2FFF));
        QCOMPARE(ZunDSPProgramInfo::linkedProgID(3, 0x1005), quint16(0x1B6D));
        for (int mode : {0, 2, 4, -1})
            QCOMPARE(ZunDSPProgramInfo::linkedProgID(mode, 0x1451), quint16(0x1451));
        // A DSP that shares coefficients must find its program among the images.
        for (int folder : {1075, 1079}) {
            const QList<quint16> ids = programsOf(folder);
            for (quint16 id : ids)
                for (int mode : {1, 3})
                    QVERIFY(ids.contains(ZunDSPProgramInfo::linkedProgID(mode, id)));
        }
    }

    // Whatever program a FIR set asks for is one whose image every firmware has.
    void filterSetsAskForShippedPrograms()
    {
        const QList<quint16> shipped = programsOf(1075);
        int checked = 0;
        for (double rate : {48000.0, 96000.0})
            for (int classes = 0; classes < 5 * 5 * 5 * 5; ++classes) {
                CBlockFIR set;
                set.setSampleRate(rate);
                for (int o = 0, c = classes; o < 4; ++o, c /= 5)
                    set.setOutput(o, QVector<qint32>(256 << (c % 5)), 0, o);
                try {
                    set.checkFilterResources();
                } catch (const CBlockFIR::invalid_filter&) {
                    continue;
                }
                ++checked;
                QVERIFY(shipped.contains(set.dspProgramId()));
            }
        QVERIFY(checked > 0);
    }
};

QTEST_GUILESS_MAIN(TestDSPPrograms)
#include "tst_dspprograms.moc"
