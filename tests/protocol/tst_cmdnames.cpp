// Checks that the command tables define every name the code looks up, for every firmware
// version that must define it, and that the tables hang together (no shared words, DSP
// twins, pools inside the blocks, texts for every selection entry, the fixed numbers).

#include "CCmdMap.h"
#include "CCmdTables.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QList<quint16> kVersions = {1075, 1076, 1077, 1078, 1079, 1080};

// Names that only some versions define. Every other name the code uses must exist in
// all versions 1075-1080. until = 0: no table defines it (a branch for older firmware).
struct VersionedName
{
    const char* name;
    quint16 from;
    quint16 until;
};
const VersionedName kVersioned[] = {
    {"Stat_Mute", 1077, 1080},            // status record grew a mute word in 1077
    {"Cmd_BroadcastID", 1077, 1080},      // sent on connect from 1077
    {"ID_MDL_Entries_Max", 1077, 1080},   // entry layout of the flash directory
    {"ID_SizeOfFlagListMDL", 1077, 1080},
    {"ID_SizeOfMDL", 1077, 1080},
    {"Cmd_Debug", 1078, 1080},            // command 19 got its name in 1078
    {"Cmd_String2App", 1080, 1080},       // new in 1080
    {"Cmd_0_CopyMH2SL", 0, 0},            // copy-mode names below 1075
    {"Cmd_1_CopyMH2SL", 0, 0},
};

const VersionedName* versioned(const QString& name)
{
    for (const VersionedName& v : kVersioned)
        if (name == QLatin1String(v.name))
            return &v;
    return nullptr;
}

bool mustDefine(const QString& name, quint16 version)
{
    const VersionedName* v = versioned(name);
    return !v || (version >= v->from && version <= v->until);
}

QStringList allNames(const CCmdMap::Table& t)
{
    QStringList names = t.ints.keys();
    names += t.floats.keys();
    names += t.strings.keys();
    return names;
}

bool defines(const CCmdMap::Table& t, const QString& name)
{
    return t.ints.contains(name) || t.floats.contains(name) || t.strings.contains(name);
}

// The name of DSP 1's twin of a DSP 0 name: paths A-D become E-H, routing slots M-P
// become Q-T, every other name keeps its tail.
QString twinOf(const QString& dsp0Name)
{
    QString tail = dsp0Name.mid(6);
    static const QRegularExpression lettered(QStringLiteral("^(InGain|InMute|InDelay)[A-D]$|^KPSourceInfo[M-P]$"));
    if (lettered.match(tail).hasMatch())
        tail[tail.size() - 1] = QChar(tail.back().unicode() + 4);
    return QStringLiteral("Cmd_1_") + tail;
}

QStringList runtimeNames()
{
    QStringList names;
    const QString dspParams[] = {"MasterGain", "MasterDelay", "MasterMute", "MasterGainOfs", "DSP_ID", "FIR_ID0",
                                 "FIR_ID1", "FIRCopy", "DSP_LoadKoef", "DSP_WaitLoop", "NumDL", "DSP_Mem",
                                 "DSP_Type", "DigOutA", "DigOutB"};
    for (int d = 0; d < 2; ++d) {
        const QString p = QStringLiteral("Cmd_%1_").arg(d);
        for (const QString& n : dspParams)
            names << p + n;
        for (int k = 0; k < 4; ++k) {
            for (const char* n : {"ChGain", "ChDelay", "ChMute", "ChPhInv"})
                names << p + n + QString::number(k);
            const QChar path('A' + 4 * d + k);
            for (const char* n : {"InGain", "InMute", "InDelay"})
                names << p + n + path;
            names << p + "KPSourceInfo" + QChar('M' + 4 * d + k);
            for (const char* n : {"LevelIn", "LevelOut", "GainRed", "Temp"})
                names << QStringLiteral("Stat_%1_%2%3").arg(d).arg(n).arg(k);
        }
        for (const char* n : {"LimStat", "MpMode", "Imp0", "Imp1", "AmpOut0", "AmpOut1", "SR", "CycFull", "CycMain", "CycFIR"})
            names << QStringLiteral("Stat_%1_%2").arg(d).arg(n);
    }
    for (int s = 1; s <= 25; ++s)
        names << QStringLiteral("InfS_Input_%1").arg(s, 2, 10, QLatin1Char('0'));
    // The routing pictures exist for these presets.
    for (const char* rp : {"21", "41", "42", "43", "44", "45", "61", "71", "81"})
        names << QStringLiteral("Inf_RP_%1").arg(rp) << QStringLiteral("InfS_RP_%1").arg(rp)
              << QStringLiteral("InfS_RP_T_%1").arg(rp);
    QStringList inputPresets;
    for (int g : {1, 2, 4, 8})
        for (int i = 1; i <= (g == 1 || g == 2 ? 5 : g == 4 ? 9 : 4); ++i)
            inputPresets << QStringLiteral("%1%2").arg(g).arg(i);
    for (const QString& ir : inputPresets) {
        names << "Inf_IR_" + ir << "InfS_IR_" + ir << "InfS_IR_T_" + ir;
        for (char slot = 'M'; slot <= 'T'; ++slot)
            names << QStringLiteral("Inf_KPSourceInfo%1_IR_%2").arg(QChar(slot)).arg(ir);
    }
    // The parameter image's ignore list and the other names the device model looks up
    // literally; the source scan finds them too once that code exists.
    for (const char* n : {"Cmd_FlashSize", "Cmd_Block_ID", "Cmd_Version", "Cmd_ResetIP", "Cmd_VerboseLevel", "Cmd_KeyLock",
                          "Cmd_SizeLastRxBlock", "Cmd_IP_Hi", "Cmd_IP_Lo", "Cmd_SecurityLevel", "Cmd_TCPCloseTime",
                          "Cmd_MemCopy", "Cmd_BulkEraseE", "Cmd_CheckBlockF", "Cmd_CheckFirmware", "Cmd_MemID0",
                          "Cmd_MemID1", "Cmd_MemID2", "Cmd_SetupEQSelect", "Cmd_SectorEraseF", "Cmd_BulkEraseF",
                          "Cmd_SetupSelect", "Cmd_SetupStore", "Cmd_DSP_Boot_Blink", "Cmd_LevelLimStatusRequest",
                          "Cmd_DSP_SetParDef", "Cmd_DSP_InitAllPar", "Cmd_AmpLevelRequest", "Cmd_DSP_InitAll",
                          "Cmd_DSP_Boot", "Cmd_DSP_InitAllParSR", "Cmd_0_DSP_Cycles", "Cmd_1_DSP_Cycles",
                          "Cmd_UDP_TxStatus", "Cmd_ClockSel", "Cmd_ExtClockSel", "Cmd_SetupFlags", "Cmd_Pin",
                          "Cmd_LED", "Cmd_SPI_Routing", "Cmd_DSP_Routing", "Cmd_DSP_FullRouting0",
                          "Cmd_DSP_FullRouting1", "Cmd_SPI_ARX_InpSel", "Cmd_SPI_ATX_OutSel", "Cmd_SPI_InitAllPar",
                          "CmdS_CopyDSPVar2RxTxBuf", "CmdS_CopyF2RxTxBuf", "CmdS_CopyMemDir2RxTxBuf",
                          "CmdS_CopyRxTxBuf2DSPVar", "CmdS_CopyRxTxBuf2F", "CmdS_CopyRxTxBuf2F_Raw", "CmdS_DeleteInF",
                          "CmdS_SaveDeviceName", "CmdS_SaveSetupName", "ID_TX_Hardware", "ID_TX_Status",
                          "ID_Block_DSP_Stat", "ID_Block_SetupName", "Inf_EraseOnly128K", "Inf_DSPx_Qty_ParEQ",
                          "Inf_DSPx_Qty_ParFi", "Min_MasterGain", "Max_MasterGain", "Min_ChGain", "Max_ChGain",
                          "Min_MasterDelay", "Max_MasterDelay", "Min_ChDelay", "Max_ChDelay", "Min_LimRelease",
                          "Max_LimRelease", "Min_EQ_Quality", "Max_EQ_Quality", "Inf_Sel_Char_HOF_Allpass",
                          "Inf_Sel_Char_HOF_LinkRiley", "Inf_Sel_Typ_EQ_Peak", "Inf_Sel_Typ_EQ_HP12",
                          "Inf_Sel_Typ_EQ_AP_6", "Inf_KPSourceInfoM_IR_11"})
        names << n;
    for (const char* n : {"BlkReadX", "BlkReadY", "BlkReadP", "DSP_KILL", "DSP_SetErr", "DSP_TestReg", "DSP_TrChkSum",
                          "InitDynPEQ", "DSP_ResetPeri"})
        names << QStringLiteral("Cmd_0_%1").arg(n) << QStringLiteral("Cmd_1_%1").arg(n);
    names << "Inf_Sel_Clk_Ext" << "Inf_Sel_Clk_48" << "Inf_Sel_Clk_96" << "Inf_Sel_Clk_192" << "Inf_Sel_ExtClk_AES"
          << "Inf_Sel_ExtClk_I2S" << "Inf_Sel_ARX_XLR_0" << "Inf_Sel_ATX_Opto_1";
    return names;
}

} // namespace

class TestCmdNames : public QObject
{
    Q_OBJECT
private slots:
    void namesInTheSourceAreDefined()
    {
        const QString root = qEnvironmentVariable("ZUN_SOURCE_DIR");
        QVERIFY2(!root.isEmpty(), "ZUN_SOURCE_DIR is not set");
        static const QRegularExpression literal(
            QStringLiteral("\"((?:Cmd|CmdS|Msg|MsgS|ID|Def|Min|Max|Step|Stat|Inf|InfS)_[A-Za-z0-9_%]*)\""));
        QMap<QString, QString> used; // name -> first file using it
        for (const char* folder : {"protocol", "filters", "device", "app", "window", "tools"}) {
            QDirIterator it(root + "/" + folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                const QString text = QString::fromUtf8(f.readAll());
                for (auto m = literal.globalMatch(text); m.hasNext();)
                    used.insert(m.next().captured(1), f.fileName());
            }
        }
        // The image defaults look up the pool layout by name: the scan must see them.
        QVERIFY(used.contains("Inf_DSP_EQ_AnzSet"));

        QStringList missing;
        for (quint16 v : kVersions) {
            const CCmdMap::Table t = CCmdTables::instance().table(v);
            const QStringList names = allNames(t);
            for (auto it = used.constBegin(); it != used.constEnd(); ++it) {
                const QString& name = it.key();
                bool found;
                if (name.contains('%')) {
                    // Built at run time: some expansion must exist.
                    QStringList parts = name.split(QRegularExpression("%\\d"));
                    for (QString& part : parts)
                        part = QRegularExpression::escape(part);
                    const QRegularExpression pattern("^" + parts.join("[A-Za-z0-9]+") + "$");
                    found = std::any_of(names.begin(), names.end(), [&](const QString& n) { return pattern.match(n).hasMatch(); });
                } else if (name.endsWith('_')) {
                    found = std::any_of(names.begin(), names.end(), [&](const QString& n) { return n.startsWith(name); });
                } else {
                    if (!mustDefine(name, v))
                        continue;
                    found = defines(t, name);
                }
                if (!found)
                    missing << QStringLiteral("%1 (firmware %2, used in %3)").arg(name, QString::number(v), it.value());
            }
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join("\n")));
    }

    void versionedNamesExistExactlyInTheirVersions()
    {
        for (const VersionedName& n : kVersioned)
            for (quint16 v : kVersions) {
                const bool expected = v >= n.from && v <= n.until;
                QVERIFY2(defines(CCmdTables::instance().table(v), n.name) == expected,
                         qPrintable(QStringLiteral("%1 in %2").arg(n.name).arg(v)));
            }
    }

    void namesBuiltAtRunTimeAreDefined()
    {
        QStringList missing;
        for (quint16 v : kVersions) {
            const CCmdMap::Table t = CCmdTables::instance().table(v);
            for (const QString& n : runtimeNames())
                if (!defines(t, n))
                    missing << QStringLiteral("%1 (firmware %2)").arg(n).arg(v);
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join("\n")));
    }

    void imageWordsAreNotShared()
    {
        for (quint16 v : kVersions) {
            const CCmdMap::Table t = CCmdTables::instance().table(v);
            QMap<int, QString> owner;
            for (auto it = t.ints.constBegin(); it != t.ints.constEnd(); ++it) {
                if (!it.key().startsWith("Cmd_"))
                    continue;
                QVERIFY2(it.value() >= 0 && it.value() < 1688,
                         qPrintable(QStringLiteral("%1 = %2 outside the parameter words").arg(it.key()).arg(it.value())));
                // The one alias: the firmware names word 72 (842) twice.
                QString key = it.key();
                key.replace("DSP_Cycles", "DSP_WaitLoop");
                if (owner.contains(it.value()) && owner[it.value()] != key)
                    QFAIL(qPrintable(QStringLiteral("%1 and %2 share word %3 in %4")
                                         .arg(owner[it.value()], it.key()).arg(it.value()).arg(v)));
                owner.insert(it.value(), key);
            }
            // Word 19 is the unnamed command the connection sends until 1078 names it.
            QCOMPARE(owner.value(19, "Cmd_Debug"), QString("Cmd_Debug"));
            // No parameter inside the EQ and filter pools.
            for (int d = 0; d < 2; ++d) {
                const int eq = t.ints.value(QStringLiteral("Inf_DSP%1_ParBaseEQ").arg(d));
                const int fi = t.ints.value(QStringLiteral("Inf_DSP%1_ParBaseFi").arg(d));
                for (int w = eq; w < eq + t.ints.value("Inf_DSPx_Qty_ParEQ"); ++w)
                    QVERIFY2(!owner.contains(w), qPrintable(owner.value(w)));
                for (int w = fi; w < fi + t.ints.value("Inf_DSPx_Qty_ParFi"); ++w)
                    QVERIFY2(!owner.contains(w), qPrintable(owner.value(w)));
            }
        }
    }

    void dspTwinsAre770Apart()
    {
        for (quint16 v : kVersions) {
            const CCmdMap::Table t = CCmdTables::instance().table(v);
            const int b0 = t.ints.value("Inf_DSP0_ParBase"), b1 = t.ints.value("Inf_DSP1_ParBase");
            QCOMPARE(b1 - b0, 770);
            int twins = 0;
            for (auto it = t.ints.constBegin(); it != t.ints.constEnd(); ++it) {
                const QString& n = it.key();
                if (n.startsWith("Cmd_0_")) {
                    const QString twin = twinOf(n);
                    QVERIFY2(t.ints.contains(twin), qPrintable(n + " has no " + twin));
                    QCOMPARE(t.ints.value(twin), it.value() + 770);
                    // Control words lie in the 20 words before the block, parameters in it.
                    QVERIFY2(it.value() >= b0 - 20 && it.value() < b0 + 750, qPrintable(n));
                    ++twins;
                } else if (n.startsWith("Cmd_1_")) {
                    QString dsp0 = "Cmd_0_" + n.mid(6);
                    static const QRegularExpression lettered("(InGain|InMute|InDelay)[E-H]$|KPSourceInfo[Q-T]$");
                    if (lettered.match(n).hasMatch())
                        dsp0[dsp0.size() - 1] = QChar(dsp0.back().unicode() - 4);
                    QVERIFY2(t.ints.contains(dsp0), qPrintable(n + " has no DSP 0 twin"));
                } else if (n.startsWith("Stat_0_")) {
                    const QString twin = "Stat_1_" + n.mid(7);
                    QVERIFY2(t.ints.contains(twin), qPrintable(n));
                    QCOMPARE(t.ints.value(twin), it.value() + 25);
                }
            }
            QVERIFY(twins > 40);
        }
    }

    void poolsFitTheirBlocks()
    {
        for (quint16 v : kVersions) {
            const CCmdMap::Table t = CCmdTables::instance().table(v);
            const int n = t.ints.value("Inf_DSP_EQ_AnzSet"), f = t.ints.value("Inf_DSP_Fi_AnzSet");
            QCOMPARE(f, 12);
            QCOMPARE(t.ints.value("Inf_DSPx_Qty_ParEQ"), 5 * n);
            QCOMPARE(t.ints.value("Inf_DSPx_Qty_ParFi"), 5 * f);
            for (int d = 0; d < 2; ++d) {
                const int base = t.ints.value(QStringLiteral("Inf_DSP%1_ParBase").arg(d));
                const int eq = t.ints.value(QStringLiteral("Inf_DSP%1_ParBaseEQ").arg(d));
                const int fi = t.ints.value(QStringLiteral("Inf_DSP%1_ParBaseFi").arg(d));
                // Record words are told apart by number mod 5.
                QCOMPARE(eq % 5, 0);
                QCOMPARE(fi % 5, 0);
                QVERIFY(eq >= base && eq + 5 * n <= base + 750);
                QVERIFY(fi >= base && fi + 5 * f <= base + 750);
                QVERIFY(eq + 5 * n <= fi || fi + 5 * f <= eq);
                // Linking copies the block up to the end of the filter records: all of it
                // must lie in the block.
                QVERIFY(fi + 5 * f - base <= 750);
            }
        }
    }

    void everySelectionEntryHasItsText()
    {
        CCmdMap map;
        for (quint16 v : kVersions) {
            map.setVersion(v);
            const char* families[] = {"Inf_Sel_Clk_", "Inf_Sel_ExtClk_", "Inf_Sel_ARX_", "Inf_Sel_ATX_",
                                      "Inf_Sel_Typ_EQ_", "Inf_Sel_Typ_EQShort_", "Inf_Sel_Typ_HOF_",
                                      "Inf_Sel_Typ_HOFShort_", "Inf_Sel_Char_HOF_", "Inf_Sel_Char_HOFShort_",
                                      "Inf_RP_", "Inf_IR_", "Inf_FR_", "Msg_"};
            for (const char* prefix : families) {
                QMap<int, QString> texts;
                try {
                    texts = map.GetStringMapForKeysBeginningWith(prefix);
                } catch (const CCmdMap::invalid_cmd& e) {
                    QFAIL(qPrintable(QStringLiteral("%1 in %2: %3").arg(prefix).arg(v).arg(e.text().c_str())));
                }
                // Two entries with one number would hide one of them in the selectors. Full
                // routings are told apart by their names: several select one routing word.
                if (QLatin1String(prefix) != QLatin1String("Inf_FR_"))
                    QVERIFY2(texts.size() == map.getKeysBeginningWith(prefix).size(), prefix);
            }
            // Long and short names list the same numbers.
            QCOMPARE(map.GetStringMapForKeysBeginningWith("Inf_Sel_Typ_EQ_").keys(),
                     map.GetStringMapForKeysBeginningWith("Inf_Sel_Typ_EQShort_").keys());
            QCOMPARE(map.GetStringMapForKeysBeginningWith("Inf_Sel_Char_HOF_").keys(),
                     map.GetStringMapForKeysBeginningWith("Inf_Sel_Char_HOFShort_").keys());
            QCOMPARE(map.getCmdNr("Inf_Sel_Char_HOF_LinkRiley"), quint16(8));
            QCOMPARE(map.getCmdNr("Inf_Sel_Typ_EQ_Peak"), quint16(4));
            QCOMPARE(map.getCmdNr("Inf_Sel_Typ_EQ_HP12"), quint16(3));
            QCOMPARE(map.getCmdNr("Inf_Sel_Typ_EQ_AP_6"), quint16(9));
        }
    }

    void routingPresetsAreConsistent()
    {
        CCmdMap map;
        map.setVersion(1080);
        const auto two = [](const QString& s) { return QRegularExpression("^\\d\\d( \\d\\d)*$").match(s).hasMatch(); };
        QSet<int> rpNumbers, irNumbers;
        for (const QString& key : map.getKeysBeginningWith("Inf_RP_")) {
            const int n = map.getCmdNr(key);
            QVERIFY2(n > 0 && n < 128, qPrintable(key));
            rpNumbers << n;
            const QString slotText = map.getStringConst("InfS_RP_" + key.mid(7));
            QVERIFY2(two(slotText) && slotText.split(' ').size() == 10, qPrintable(key));
            for (const QString& s : slotText.split(' '))
                QVERIFY(s.toInt() <= 7);
        }
        for (const QString& key : map.getKeysBeginningWith("Inf_IR_")) {
            const int n = map.getCmdNr(key);
            // Bit 0 is not compared when a routing word is matched: the rest must differ.
            QVERIFY2(n > 1 && n < 256 && !irNumbers.contains(n >> 1), qPrintable(key));
            irNumbers << (n >> 1);
            const QString id = key.mid(7);
            const QStringList sources = map.getStringConst("InfS_IR_" + id).split(' ');
            QCOMPARE(sources.size(), 8);
            QCOMPARE(map.getStringConst("InfS_IR_T_" + id).count('|'), 7);
            for (int slot = 0; slot < 8; ++slot) {
                QVERIFY(map.containsString(QStringLiteral("InfS_Input_%1").arg(sources[slot])));
                const int path = map.getCmdNr(QStringLiteral("Inf_KPSourceInfo%1_IR_%2").arg(QChar('M' + slot)).arg(id)) >> 8;
                // A slot's path is on its own DSP and carries the slot's source.
                QVERIFY(path / 4 == slot / 4);
                QCOMPARE(sources[path], sources[slot]);
            }
        }
        for (const QString& key : map.getKeysBeginningWith("Inf_FR_")) {
            QVERIFY2(QRegularExpression("^Inf_FR_[01]{32}$").match(key).hasMatch(), qPrintable(key));
            const int word = map.getCmdNr(key);
            QVERIFY2(rpNumbers.contains(word & 0x7F), qPrintable(key));
            QVERIFY2(irNumbers.contains((word >> 8) & 0x7F), qPrintable(key));
        }
        // The default routing word (0x1191) names the stereo preset and its basic inputs.
        QCOMPARE(map.getCmdNr("Inf_RP_21") | map.getCmdNr("Inf_IR_21") << 7, 0x1191);
    }

    void fixedNumbers()
    {
        struct Fixed
        {
            const char* name;
            int value;
        };
        const Fixed all[] = {
            {"Cmd_Version", 2}, {"Cmd_MemCopy", 30}, {"Cmd_MemID0", 34}, {"Cmd_MemID2", 36}, {"Cmd_SetupSelect", 40},
            {"Cmd_SetupStore", 41}, {"ID_List_None", 0}, {"ID_List_Setup", 1}, {"ID_List_Filter", 2},
            {"ID_List_DSP_Prog", 3}, {"ID_List_DSP_Prog_ID", 4}, {"ID_List_SetupEQ", 5}, {"ID_Block_Flash", 7},
            {"CmdS_CopyDSPVar2RxTxBuf", 2560}, {"CmdS_CopyF2RxTxBuf", 2304}, {"CmdS_CopyRxTxBuf2F", 1536},
            {"CmdS_DeleteInF", 4096}, {"CmdS_SaveSetupName", 1792}, {"CmdS_SaveParF", 768},
            {"ID_FAI_Ctrl_r", 254}, {"ID_FAI_Ctrl_w_RxTxBuf", 255}, {"ID_ListAppend", 254}, {"ID_ListNoEntry", 255},
            {"ID_LengthSetupName", 24}, {"ID_DSP_Prog_Over_ID", 0xBB00}, {"ID_RX_Block_Start", 0xFF00},
            {"ID_TX_Block", 0xFF04}, {"ID_TX_Version", 0xFF0A}, {"ID_TX_CmdReq", 0xFF0B}, {"ID_Error", 0xFFFF},
            {"Inf_DSP0_ParBase", 90}, {"Inf_DSP1_ParBase", 860}, {"Cmd_0_FIR_ID0", 146}, {"Cmd_0_FIR_ID1", 147},
            {"Cmd_1_FIR_ID0", 916}, {"Cmd_1_FIR_ID1", 917}, {"Cmd_0_DSP_ID", 103}, {"Cmd_1_DSP_ID", 873},
            {"Cmd_0_DSP_LoadKoef", 79}, {"Cmd_1_DSP_LoadKoef", 849}, {"Cmd_0_DSP_Cycles", 72},
            {"Cmd_0_DSP_WaitLoop", 72}, {"Cmd_0_MasterMute", 116}, {"Cmd_0_DigOutA", 122}, {"Cmd_0_DigOutB", 123},
            {"Cmd_1_DigOutA", 892}, {"Cmd_0_KPSourceInfoM", 150}, {"Cmd_1_KPSourceInfoQ", 920},
            {"Inf_DSP_Fi_AnzSet", 12}, {"Inf_DSPTyp0", 791}, {"Inf_DSP0000_307_0", 0}, {"ID_SizeOfMemDir", 101},
            {"ID_SizeMemLists", 190}, {"ID_StartListSetup", 0}, {"ID_SizeListSetup", 30}, {"ID_StartListFilter", 30},
            {"ID_SizeListFilter", 50}, {"ID_StartListDSPProg", 80}, {"ID_SizeListDSPProg", 10},
            {"ID_StartListSetupEQ", 90}, {"ID_SizeListSetupEQ", 20}, {"ID_StartListDelete", 110},
            {"ID_SizeListDelete", 80}, {"Stat_Zero", 0}, {"Stat_Status", 1}, {"Stat_Status2", 2},
        };
        for (quint16 v : kVersions) {
            const CCmdMap::Table t = CCmdTables::instance().table(v);
            for (const Fixed& f : all)
                QVERIFY2(t.ints.contains(f.name) && t.ints.value(f.name) == f.value,
                         qPrintable(QStringLiteral("%1 in %2").arg(f.name).arg(v)));
            const bool newRecord = v >= 1077;
            QCOMPARE(t.ints.value("Inf_DSP_StatSize"), newRecord ? 108 : 106);
            QCOMPARE(t.ints.value("Stat_0_LevelIn0"), newRecord ? 4 : 3);
            QCOMPARE(t.ints.value("Stat_0_SR"), t.ints.value("Stat_0_CycFull"));
            QCOMPARE(t.ints.value("Stat_1_CycFIR"), newRecord ? 53 : 52);
            QCOMPARE(2 * (t.ints.value("Stat_1_CycFIR") + 1), t.ints.value("Inf_DSP_StatSize"));
            if (newRecord) {
                QCOMPARE(t.ints.value("Stat_Mute"), 3);
                QCOMPARE(t.ints.value("ID_MDL_Entries_Max"), 219);
                QCOMPARE(t.ints.value("ID_SizeOfFlagListMDL"), 100);
                QCOMPARE(t.ints.value("ID_SizeOfMDL"), 2190);
            }
            if (v >= 1078)
                QCOMPARE(t.ints.value("Cmd_Debug"), 19);
            QVERIFY(t.ints.contains("Cmd_Pin")); // from 1073
            // Status words never look like a parameter number.
            QVERIFY(quint16(t.ints.value("Msg_StatusIdle")) >= 1700);
            QVERIFY(quint16(t.ints.value("Msg_CmdChangeN")) >= 1700);
            // Firmware pieces are told apart by the high byte of the operation value.
            const int raw = t.ints.value("CmdS_CopyRxTxBuf2F_Raw");
            QCOMPARE(raw & 0xFF, 0);
            for (auto it = t.ints.constBegin(); it != t.ints.constEnd(); ++it)
                if (it.key().startsWith("CmdS_") && it.key() != "CmdS_CopyRxTxBuf2F_Raw")
                    QVERIFY2((it.value() & 0xFF00) != raw, qPrintable(it.key()));

            QCOMPARE(t.floats.value("Step_EQ_G"), 0.1);
            QCOMPARE(t.floats.value("Step_EQ_F"), 0.5);
            QCOMPARE(t.floats.value("Step_EQ_Q"), 0.0025);
            QCOMPARE(t.floats.value("Step_Gain"), 0.1);
            QCOMPARE(t.floats.value("Step_Delay"), 1.0 / 96);
            QCOMPARE(t.floats.value("Step_MDelay"), 1.0 / 24);
            QCOMPARE(t.floats.value("Step_MDelayFactor"), 4.0);
            // One master-delay step is Step_MDelayFactor channel-delay steps.
            QCOMPARE(t.floats.value("Step_MDelay"), t.floats.value("Step_MDelayFactor") * t.floats.value("Step_Delay"));
            QVERIFY(t.floats.value("Max_ChDelay") <= 65535 && t.floats.value("Max_MasterDelay") <= 65535);
        }
    }
};

QTEST_GUILESS_MAIN(TestCmdNames)
#include "tst_cmdnames.moc"
