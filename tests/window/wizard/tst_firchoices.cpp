// What the FIR copy modes allow: the limiter table keeps every copied output read-only
// (outputs 0-1 in mode 1, outputs 0-2 in mode 3), and the configuration wizard offers the
// copy of the high path onto the others only for a set without multipath mode.
#include "CRoutingLibrary.h"
#include "CZunConfigWizard.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "FilterLimiterEWS.h"
#include "QWizardComboBox.h"
#include "XOverPage.h"
#include "ZunLimModel.h"

#include <QtTest>

using namespace DeviceTestRig;

class TestFirChoices : public QObject
{
    Q_OBJECT

    Config m_config;
    QTemporaryDir m_files;

    static QSharedPointer<CZun> device(quint32 hardware)
    {
        auto m = map(1080);
        return QSharedPointer<CZun>::create(record(1080, 42, 0, hardware), m, QSharedPointer<CRoutingLibrary>::create(m));
    }

private slots:
    void copiedOutputsAreReadOnly_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("copied"); // outputs 0 .. copied-1 of the DSP take copies
        QTest::newRow("no copies") << 0 << 0;
        QTest::newRow("mid+high to sub+low") << 1 << 2;
        QTest::newRow("high to sub+low+mid") << 3 << 3;
    }
    void copiedOutputsAreReadOnly()
    {
        QFETCH(int, mode);
        QFETCH(int, copied);
        const QSharedPointer<CZun> zun = device(0xFF94);
        zun->GetStatusBuffer()->setValue(zun->GetCmdMap()->getCmdNr("Cmd_1_FIRCopy"), quint16(mode));
        auto set = QShPtrFLE::create(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            set->setPathFlagByte(o, 1); // every path with limits of its own
        ZunLimModel model(zun);
        model.on_FIRFilterChanged(1, set, 0);
        model.on_FIRFilterChanged(2, set, 0);
        // The gain row of each output of DSP 1 (columns 4-7); DSP 0 copies nothing.
        for (int output = 0; output < 4; ++output) {
            QVERIFY(model.flags(model.index(0, output)).testFlag(Qt::ItemIsEditable));
            QCOMPARE(model.flags(model.index(0, 4 + output)).testFlag(Qt::ItemIsEditable), output >= copied);
        }
    }

    // Basic routing: a set made for a multipath mode is never offered the copy of its
    // high path onto the others; a set without one is.
    void highPathCopyOnlyWithoutMultipathMode_data()
    {
        QTest::addColumn<int>("multipath");
        QTest::addColumn<bool>("offered");
        QTest::newRow("no multipath mode") << 0 << true;
        QTest::newRow("Lo+Mid+Hi") << 1 << false;
        QTest::newRow("Mid+Hi") << 2 << false;
    }
    void highPathCopyOnlyWithoutMultipathMode()
    {
        QFETCH(int, multipath);
        QFETCH(bool, offered);
        FilterLimiterEWS set(QString(), 48000.0);
        set.setSampleRate(48000.0);
        set.setMultipathMode(multipath);
        set.SetName(QStringLiteral("M%1").arg(multipath));
        set.computeKey();
        const QString path = m_files.filePath(QStringLiteral("M%1.fir").arg(multipath));
        set.toFile(path);

        CZunConfigWizard w(device(0x0F00));
        w.restart();
        w.next();
        auto* xover = static_cast<XOverPage*>(w.page(CZunConfigWizard::XOver));
        const QList<QWizardComboBox*> choices = xover->findChildren<QWizardComboBox*>();
        choices.at(0)->setCurrentIndex(1);
        xover->onXOverChanged(1);
        choices.at(1)->setEditText(path);
        QVERIFY(xover->isComplete());
        for (int guard = 0; guard < 10 && w.currentId() != CZunConfigWizard::MultipathClock; ++guard)
            w.next();
        QCOMPARE(w.currentId(), int(CZunConfigWizard::MultipathClock));
        QStringList texts;
        for (QComboBox* box : w.currentPage()->findChildren<QComboBox*>())
            if (box->count() && box->itemText(0) == QLatin1String("No copies"))
                for (int i = 0; i < box->count(); ++i)
                    texts << box->itemText(i);
        QVERIFY(texts.contains(QStringLiteral("No copies")));
        QCOMPARE(texts.contains(QStringLiteral("Copy high to sub+low+mid")), offered);
    }
};

QTEST_MAIN(TestFirChoices)
#include "tst_firchoices.moc"
