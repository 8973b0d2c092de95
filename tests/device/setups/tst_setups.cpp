// Setups: the import across firmware versions, setup archives and raw images, file names,
// and what a bad setup file must not do.
#include "CCmdMap.h"
#include "CZun.h"
#include "CZunImageDefaults.h"
#include "CZunStatusBuffer.h"
#include "ZunDeviceResources.h"
#include "ZunSetup.h"
#include "ZunSetupImport.h"
#include "DeviceTestRig.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <memory>

using namespace DeviceTestRig;

namespace
{
quint16 word(const QByteArray& b, int n) { return qFromLittleEndian<quint16>(b.constData() + 2 * n); }
void setWord(QByteArray& b, int n, quint16 v) { qToLittleEndian<quint16>(v, b.data() + 2 * n); }

// A command map's names with some constants replaced: step sizes of another firmware.
class TestNames : public ZunSetupImport::Names
{
public:
    explicit TestNames(quint16 version) { m_map.setVersion(version); }
    quint16 nr(const QString& name) const override { return m_map.getCmdNr(name); }
    double flt(const QString& name) const override { return m_flt.value(name, m_map.getFltConst(name)); }
    QSet<QString> names() const override { return m_map.getNameSet(); }
    QHash<QString, double> m_flt;
    CCmdMap m_map;
};

QByteArray defaults(quint16 v) { return ZunSetupImport::defaultImage(v); }

struct Entry { QString name; QByteArray data; };
void writeZip(const QString& path, const QList<Entry>& entries)
{
    QuaZip zip(path);
    QVERIFY(zip.open(QuaZip::mdCreate));
    for (const Entry& e : entries) {
        QuaZipFile f(&zip);
        QVERIFY(f.open(QIODevice::WriteOnly, QuaZipNewInfo(e.name), nullptr, 0, Z_DEFLATED, Z_DEFAULT_COMPRESSION));
        for (int done = 0; done < e.data.size(); done += 1 << 20)
            f.write(e.data.mid(done, 1 << 20));
        f.close();
    }
    zip.close();
}
QStringList entryNames(const QString& path)
{
    QuaZip zip(path);
    zip.setFileNameCodec("IBM866");
    return zip.open(QuaZip::mdUnzip) ? zip.getFileNameList() : QStringList();
}
QShPtrFLE makeSet(const QString& name, int multipath)
{
    auto set = QShPtrFLE::create(QString(), 48000.0);
    set->multipathLabel(multipath, 1);
    set->SetName(name);
    set->computeKey();
    return set;
}
} // namespace

class TestSetups : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    QTemporaryDir m_dir;

    // A device object (never connected) of a firmware: the target of imports and the
    // receiver of FIR sets read from archives.
    std::unique_ptr<CZun> device(quint16 fw)
    {
        return std::make_unique<CZun>(record(fw, 7), map(fw), QSharedPointer<CRoutingLibrary>());
    }
    QByteArray stored(quint16 fw, const QString& name)
    {
        QByteArray img = defaults(fw);
        CZunStatusBuffer b(img);
        b.SetSetupName(name);
        return b.toByteArray();
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        initDeviceResources();
        QVERIFY(m_dir.isValid());
    }

    // --- import ---------------------------------------------------------------------------

    void sameVersionIsCopied()
    {
        QByteArray img = stored(1080, "Hall");
        setWord(img, 300, 0xBEEF);
        ZunSetup s(nullptr, img);
        QCOMPARE(s.toByteArray(), img);
        QCOMPARE(s.GetSetupName().trimmed(), QString("Hall"));
    }

    void importBetweenEverySupportedPair()
    {
        for (quint16 from = 1075; from <= 1080; ++from)
            for (quint16 to = from + 1; to <= 1080; ++to) {
                CCmdMap om, nm;
                om.setVersion(from);
                nm.setVersion(to);
                QByteArray src = stored(from, "Pair");
                setWord(src, om.getCmdNr("Cmd_LED"), 4);
                setWord(src, om.getCmdNr("Cmd_0_ChGain0") + 1, 0xFF38); // -20 dB
                const QByteArray out = ZunSetupImport::convert(src, from, to, defaults(to), ZunSetupImport::MapNames(om),
                                                               ZunSetupImport::MapNames(nm), nullptr);
                const QString what = QStringLiteral("%1 -> %2").arg(from).arg(to);
                QVERIFY2(word(out, nm.getCmdNr("Cmd_Version")) == to, qPrintable(what));
                QVERIFY2(word(out, nm.getCmdNr("Cmd_LED")) == (from < 1079 && to >= 1079 ? 12 : 4), qPrintable(what));
                QVERIFY2(word(out, nm.getCmdNr("Cmd_0_ChGain0") + 1) == 0xFF38, qPrintable(what));
                QVERIFY2(out.mid(CZunStatusBuffer::SetupNameOffset, 24) == src.mid(CZunStatusBuffer::SetupNameOffset, 24),
                         qPrintable(what));
            }
    }

    void import1077For1080ThroughTheSetup()
    {
        CCmdMap m77;
        m77.setVersion(1077);
        QByteArray src = stored(1077, "Old");
        setWord(src, m77.getCmdNr("Cmd_LED"), 20);
        const int eq = m77.getCmdNr("Inf_DSP1_ParBaseEQ");
        setWord(src, eq + 2, 1234);
        ZunSetup s(nullptr, src); // no device: converted for 1080
        CCmdMap m80;
        m80.setVersion(1080);
        QCOMPARE(s.getValue(2), quint16(1080));
        QCOMPARE(s.getValue(m80.getCmdNr("Cmd_LED")), quint16(0));
        QCOMPARE(s.getValue(m80.getCmdNr("Inf_DSP1_ParBaseEQ") + 2), quint16(1234));
        QCOMPARE(s.GetSetupName().trimmed(), QString("Old"));
        QVERIFY(s.isModified());
    }

    void downgradeIsRefusedAndChangesNothing()
    {
        auto zun = device(1079);
        CZunStatusBuffer target(defaults(1079));
        const QByteArray before = target.toByteArray();
        const CZunStatusBuffer src(stored(1080, "New"));
        try {
            target.importSetup(src, 1080, zun.get());
            QFAIL("a downgrade was accepted");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QString(ZunSetupImport::DowngradeText));
        }
        QCOMPARE(target.toByteArray(), before);
        // A version without tables is refused before anything is written.
        QVERIFY_EXCEPTION_THROWN(target.importSetup(src, 1070, zun.get()), std::logic_error);
        QCOMPARE(target.toByteArray(), before);
    }

    void qualityRescaling()
    {
        TestNames o(1078), n(1080);
        QByteArray src = defaults(1078);
        const int e0 = o.nr("Inf_DSP0_ParBaseEQ");
        setWord(src, e0 + 2, 1600);
        setWord(src, e0 + 5 + 2, 3);
        QByteArray same = ZunSetupImport::convert(src, 1078, 1080, defaults(1080), o, n, nullptr);
        QCOMPARE(word(same, n.nr("Inf_DSP0_ParBaseEQ") + 2), quint16(1600));
        QCOMPARE(word(same, n.nr("Inf_DSP0_ParBaseEQ") + 7), quint16(3));
        o.m_flt["Step_EQ_Q"] = 2 * n.flt("Step_EQ_Q");
        QByteArray twice = ZunSetupImport::convert(src, 1078, 1080, defaults(1080), o, n, nullptr);
        QCOMPARE(word(twice, n.nr("Inf_DSP0_ParBaseEQ") + 2), quint16(3200));
        QCOMPARE(word(twice, n.nr("Inf_DSP1_ParBaseEQ") + 2), quint16(2 * word(src, o.nr("Inf_DSP1_ParBaseEQ") + 2)));
        // A quality that no longer fits a word is refused, not wrapped.
        setWord(src, e0 + 2, 40000);
        QVERIFY_EXCEPTION_THROWN(ZunSetupImport::convert(src, 1078, 1080, defaults(1080), o, n, nullptr),
                                 std::logic_error);
    }

    // Setups of firmware older than the tables: maps made for the test stand in for them.
    void olderFirmwareSteps_data()
    {
        QTest::addColumn<quint16>("clock");
        QTest::addColumn<bool>("delaysConverted");
        QTest::newRow("48 kHz") << quint16(1) << true;
        QTest::newRow("96 kHz") << quint16(2) << false;
        QTest::newRow("unknown clock") << quint16(7) << false;
    }
    void olderFirmwareSteps()
    {
        QFETCH(quint16, clock);
        QFETCH(bool, delaysConverted);
        TestNames o(1075), n(1080);
        o.m_flt["Step_Gain"] = 0.5;          // old gains in 0.5 dB steps
        o.m_flt["Step_Delay"] = 1.0 / 48.0;  // old delays in 48 kHz samples
        QByteArray src = defaults(1075);
        setWord(src, o.nr("Cmd_ClockSel"), clock);
        setWord(src, o.nr("Cmd_SPI_Routing"), 4);
        setWord(src, o.nr("Cmd_0_ChGain0") + 2, quint16(qint16(-6)));
        setWord(src, o.nr("Cmd_1_MasterGain"), 10);
        setWord(src, o.nr("Cmd_0_ChDelay0") + 3, 100);
        setWord(src, o.nr("Cmd_1_MasterDelay"), 50);
        setWord(src, o.nr("Cmd_LED"), 16);
        const int e = o.nr("Inf_DSP0_ParBaseEQ");
        const double fStep = n.flt("Step_EQ_F"), gStep = n.flt("Step_EQ_G");
        auto shelf = [&](int rec, quint16 type, double hz, double db) {
            setWord(src, e + 5 * rec, type);
            setWord(src, e + 5 * rec + 1, quint16(hz / fStep));
            setWord(src, e + 5 * rec + 3, quint16(qint16(db / gStep)));
        };
        shelf(0, 8, 8000, 6);
        shelf(1, 8, 8000, 0);
        shelf(2, 8, 8000, -6);
        shelf(3, 9, 8000, 6); // not a plain active 12 dB high shelf
        QList<quint16> kinds;
        auto routing = [&kinds](quint16 k) { kinds << k; return quint16(0x4242); };
        const QByteArray out = ZunSetupImport::convert(src, 1070, 1080, defaults(1080), o, n, routing);

        QCOMPARE(kinds, QList<quint16>{4});
        QCOMPARE(word(out, n.nr("Cmd_SPI_Routing")), quint16(0x4242));
        QCOMPARE(word(out, n.nr("Cmd_DSP_Routing")), quint16(0x4242));
        QCOMPARE(qint16(word(out, n.nr("Cmd_0_ChGain0") + 2)), qint16(-29)); // -30 + 0.5, toward zero
        QCOMPARE(word(out, n.nr("Cmd_1_MasterGain")), quint16(50));
        QCOMPARE(word(out, n.nr("Cmd_0_ChDelay0") + 3), quint16(delaysConverted ? 200 : 100));
        QCOMPARE(word(out, n.nr("Cmd_1_MasterDelay")), quint16(delaysConverted ? 25 : 50));
        QCOMPARE(word(out, n.nr("Cmd_LED")), quint16(0));
        const int ne = n.nr("Inf_DSP0_ParBaseEQ");
        const quint16 orig = quint16(8000 / fStep);
        if (clock == 7) {
            QCOMPARE(word(out, ne + 1), orig); // no clock, no conversion
        } else {
            QVERIFY(word(out, ne + 1) < orig);
        }
        QCOMPARE(word(out, ne + 5 + 1), orig);
        QCOMPARE(word(out, ne + 10 + 1), orig);
        QCOMPARE(word(out, ne + 15 + 1), orig);
    }

    // --- raw images and file names ---------------------------------------------------------

    void rawImageSizes()
    {
        const QByteArray full = stored(1080, "Raw");
        ZunSetup a(nullptr, full.mid(4)); // 3,396: four zero bytes in front
        QCOMPARE(a.getValue(0), quint16(0));
        QCOMPARE(a.getValue(1), quint16(0));
        QCOMPARE(a.toByteArray().mid(4), full.mid(4));
        // 3,394: the version word is lost too; such an image goes through every conversion.
        ZunSetup b(nullptr, full.mid(6));
        QCOMPARE(b.getValue(2), quint16(1080));
        QCOMPARE(b.GetSetupName().trimmed(), QString("Raw"));
        CCmdMap m;
        m.setVersion(1080);
        const quint16 routing = quint16(m.getCmdNr("Inf_RP_21") + 128 * m.getCmdNr("Inf_IR_21"));
        QCOMPARE(b.getValue(m.getCmdNr("Cmd_SPI_Routing")), routing);
        QCOMPARE(b.getValue(m.getCmdNr("Cmd_DSP_Routing")), routing);
        for (int size : {0, 3395, 3401}) {
            try {
                ZunSetup bad(nullptr, QByteArray(size, '\1'));
                QFAIL("an image of a wrong size was accepted");
            } catch (const std::logic_error& e) {
                QCOMPARE(QString(e.what()), QString("ZunSetup::fromByteArray(): invalid setup. Aborting"));
            }
        }
        // A file that is no archive but 3,400 bytes long is a raw image.
        const QString path = m_dir.filePath("raw.zun");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(full);
        f.close();
        QCOMPARE(ZunSetup(nullptr, path).toByteArray(), full);
    }

    // The range check of an uploaded setup refuses a word beyond either end of its range,
    // and no word at an end.
    void rangeCheckRefusesBothEnds_data()
    {
        QTest::addColumn<bool>("maximum"); // which end
        QTest::addColumn<int>("beyond");   // how far beyond it
        QTest::newRow("at the minimum") << false << 0;
        QTest::newRow("below the minimum") << false << 1;
        QTest::newRow("at the maximum") << true << 0;
        QTest::newRow("above the maximum") << true << 1;
    }
    void rangeCheckRefusesBothEnds()
    {
        QFETCH(bool, maximum);
        QFETCH(int, beyond);
        CCmdMap map;
        map.setVersion(1080);
        const quint16 gain = map.getCmdNr("Cmd_0_ChGain0");
        int min = 0, max = 0;
        QVERIFY(CZunImageDefaults::rawRange(1080, gain, &min, &max));
        ZunSetup setup(nullptr, stored(1080, "Edge"));
        setup.setValue(gain, quint16(maximum ? max + beyond : min - beyond));
        const QString refusal = setup.outOfRange(1080);
        QCOMPARE(refusal.isEmpty(), beyond == 0);
        QVERIFY2(beyond == 0 || refusal.contains(QStringLiteral("Cmd_0_ChGain0")), qPrintable(refusal));
    }

    void fileNames()
    {
        ZunSetup s(nullptr, stored(1080, "  Stage  "));
        QCOMPARE(s.makeFileName(-1), QString("Stage.zun"));
        QCOMPARE(s.makeFileName(12), QString("Set12_Stage.zun"));
        QCOMPARE(s.makeFileName(123), QString("Set123_Stage.zun"));
        QCOMPARE(s.makeFileName(3), QString("Set03_Stage.zun"));
        s.SetSetupName("Main/Hall");
        QCOMPARE(s.makeFileName(3), QString("Set03_Main Hall.zun"));
        s.SetSetupName("../..\\x:y");
        QVERIFY(!s.makeFileName(1).contains('/') && !s.makeFileName(1).contains('\\'));
        // Never a hidden file.
        QCOMPARE(s.makeFileName(-1), QString("x y.zun"));
        s.SetSetupName(".");
        QCOMPARE(s.makeFileName(-1), QString("Setup.zun"));
        QCOMPARE(ZunSetup::numberFromFileName("Set 07_Stage"), 7);
        QCOMPARE(ZunSetup::numberFromFileName("Set12_Set3"), 12);
        QCOMPARE(ZunSetup::numberFromFileName("Stage"), -1);
        QCOMPARE(ZunSetup::numberFromFileName("set12_lower"), -1);
        QCOMPARE(ZunSetup::numberFromFileName("Set99999999999_Big"), -1);
    }

    void setupNameIsTwentyFourFixedBytes()
    {
        CZunStatusBuffer b(defaults(1080));
        b.SetSetupName(QString::fromUtf8("Bühne €"));
        QCOMPARE(b.toByteArray().mid(CZunStatusBuffer::SetupNameOffset, 24), QByteArray("B\xfchne ?") + QByteArray(17, ' '));
        QCOMPARE(b.GetSetupName().trimmed(), QString::fromUtf8("Bühne ?"));
        b.SetSetupName(QString(30, QChar(0x00E9)));
        QCOMPARE(b.toByteArray().size(), 3400);
        QCOMPARE(b.GetSetupName(), QString(24, QChar(0x00E9)));
    }

    // --- archives ----------------------------------------------------------------------------

    void archiveRoundTrips_data()
    {
        QTest::addColumn<int>("sets");     // distinct sets named by the image
        QTest::addColumn<int>("entries");
        QTest::newRow("no FIR set") << 0 << 1;
        QTest::newRow("one shared set") << 1 << 2;
        QTest::newRow("two sets") << 2 << 3;
    }
    void archiveRoundTrips()
    {
        QFETCH(int, sets);
        QFETCH(int, entries);
        auto zun = device(1080);
        QList<QShPtrFLE> uploaded;
        connect(zun.get(), qOverload<QShPtrFLE, uint>(&CZun::signal_UploadFIRFilter), this,
                [&uploaded](QShPtrFLE set, uint) { uploaded << set; }, Qt::DirectConnection);
        ZunSetup s(zun.get(), stored(1080, "Round"));
        QShPtrFLE a = sets > 0 ? makeSet("Alpha", 1) : QShPtrFLE(), b = sets > 1 ? makeSet("Beta", 2) : a;
        if (a) {
            s.SetFIRIndex(a->getKey(), 1);
            s.SetFIRIndex(b->getKey(), 2);
        }
        QTemporaryDir dir;
        s.toFile(dir.path(), 5, a, b);
        const QString path = dir.filePath("Set05_Round.zun");
        const QStringList names = entryNames(path);
        QCOMPARE(names.size(), entries);
        QCOMPARE(names.first(), QString("setup/Round.zun"));
        if (sets > 0)
            QVERIFY(names.contains("FIR/Alpha.fir"));

        ZunSetup back(zun.get(), path);
        QCOMPARE(back.GetSetupName().trimmed(), QString("Round"));
        QVERIFY(uploaded.isEmpty()); // read, not yet accepted: nothing goes to the processor
        back.uploadCarriedSets();
        QCOMPARE(uploaded.size(), sets);
        if (sets > 0) {
            QCOMPARE(back.GetActiveFilterIndex(1), a->getKey());
            QCOMPARE(back.GetActiveFilterIndex(2), b->getKey());
            QCOMPARE(uploaded.first()->toByteArray(), a->toByteArray());
        } else {
            QCOMPARE(back.toByteArray(), s.toByteArray());
        }
        QVERIFY_EXCEPTION_THROWN(s.toFile(dir.filePath("missing"), 1), std::logic_error);
    }

    void firEntryBeforeSetupIsStillTiedToIt()
    {
        auto zun = device(1080);
        int uploads = 0;
        connect(zun.get(), qOverload<QShPtrFLE, uint>(&CZun::signal_UploadFIRFilter), this,
                [&uploads](QShPtrFLE, uint) { ++uploads; }, Qt::DirectConnection);
        QShPtrFLE a = makeSet("Alpha", 1);
        ZunSetup s(nullptr, stored(1080, "Order"));
        s.SetFIRIndex(0x1234, 0); // matches no set: the set goes to both DSPs
        const QString path = m_dir.filePath("order.zun");
        writeZip(path, {{"FIR/Alpha.fir", a->toByteArray()}, {"setup/Order.zun", s.toByteArray()}});
        ZunSetup back(zun.get(), path);
        QCOMPARE(back.GetActiveFilterIndex(1), a->getKey());
        QCOMPARE(back.GetActiveFilterIndex(2), a->getKey());
        back.uploadCarriedSets();
        QCOMPARE(uploads, 1);
    }

    // --- bad input ------------------------------------------------------------------------------

    void badArchivesAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* k : {"truncated", "no setup", "FIR only", "two setups", "four entries", "short setup",
                              "declared size wrong", "parent folder", "absolute path", "huge FIR", "huge setup",
                              "unknown entry", "empty archive"})
            QTest::newRow(k) << QString(k);
    }
    void badArchivesAreRefused()
    {
        QFETCH(QString, kind);
        auto zun = device(1080);
        int uploads = 0;
        connect(zun.get(), qOverload<QShPtrFLE, uint>(&CZun::signal_UploadFIRFilter), this,
                [&uploads](QShPtrFLE, uint) { ++uploads; }, Qt::DirectConnection);
        const QByteArray image = stored(1080, "Bad");
        const QByteArray fir = makeSet("Alpha", 1)->toByteArray();
        QTemporaryDir dir;
        const QString path = dir.filePath("Set01_Bad.zun");
        if (kind == "truncated") {
            writeZip(path, {{"setup/Bad.zun", image}, {"FIR/Alpha.fir", fir}});
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.resize(f.size() / 2);
        } else if (kind == "no setup") {
            writeZip(path, {{"FIR/Alpha.fir", fir}, {"FIR/Beta.fir", fir}});
        } else if (kind == "FIR only") {
            writeZip(path, {{"FIR/Alpha.fir", fir}});
        } else if (kind == "two setups") {
            writeZip(path, {{"setup/Bad.zun", image}, {"setup/Other.zun", image}});
        } else if (kind == "four entries") {
            writeZip(path, {{"setup/Bad.zun", image}, {"FIR/a.fir", fir}, {"FIR/b.fir", fir}, {"FIR/c.fir", fir}});
        } else if (kind == "short setup") {
            writeZip(path, {{"setup/Bad.zun", image.left(3000)}, {"FIR/Alpha.fir", fir}});
        } else if (kind == "declared size wrong") {
            writeZip(path, {{"setup/Bad.zun", image}, {"FIR/Alpha.fir", fir}});
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray b = f.readAll();
            // Both headers of the setup entry say 3,396 bytes; its data are 3,400.
            const int local = b.indexOf(QByteArray("PK\x03\x04", 4)), central = b.indexOf(QByteArray("PK\x01\x02", 4));
            QVERIFY(local >= 0 && central >= 0);
            qToLittleEndian<quint32>(3396, b.data() + local + 22);
            qToLittleEndian<quint32>(3396, b.data() + central + 24);
            f.seek(0);
            f.write(b);
        } else if (kind == "parent folder") {
            writeZip(path, {{"../setup/Bad.zun", image}, {"FIR/Alpha.fir", fir}});
        } else if (kind == "absolute path") {
            writeZip(path, {{"/tmp/setup/Bad.zun", image}});
        } else if (kind == "huge FIR") {
            writeZip(path, {{"setup/Bad.zun", image}, {"FIR/Huge.fir", QByteArray(100 << 20, '\0')}});
        } else if (kind == "huge setup") {
            writeZip(path, {{"setup/Bad.zun", QByteArray(100 << 20, '\0')}, {"FIR/Alpha.fir", fir}});
        } else if (kind == "unknown entry") {
            writeZip(path, {{"setup/Bad.zun", image}, {"readme.txt", "hello"}});
        } else if (kind == "empty archive") {
            writeZip(path, {});
        }
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        try {
            ZunSetup s(zun.get(), path);
            QFAIL("a bad archive was accepted");
        } catch (const std::logic_error& e) {
            QVERIFY(!QString(e.what()).isEmpty());
        }
        QCOMPARE(uploads, 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QVERIFY(!QFile::exists(QDir(dir.path()).filePath("../setup")));
    }

    void missingFileIsNamed()
    {
        try {
            ZunSetup s(nullptr, m_dir.filePath("nothing.zun"));
            QFAIL("a missing file was read");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("Load Setup: File: %1 not found. Aborting.").arg(m_dir.filePath("nothing.zun")));
        }
    }

    // The operator is told which entry of which archive is not one of ours.
    void strayEntryIsNamed()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Set01_Stray.zun");
        writeZip(path, {{"setup/Stray.zun", stored(1080, "Stray")}, {"readme.txt", "hello"}});
        try {
            ZunSetup s(nullptr, path);
            QFAIL("an archive with a stray entry was read");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("ZunSetup::fromFile() : Invalid file 'readme.txt' in '%1'").arg(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestSetups)
#include "tst_setups.moc"
