// The operator's settings stored from the GUI thread: seen at once by every reader, in the
// file once written, and never a flush to the disk that the GUI thread waits for.
#include "WindowTestRig.h"
#include "ZunActionPrompts.h"
#include "ZunControlDlg.h"
#include "ZunDiskFlushProbe.h"
#include "ZunFileDialogAnswer.h"
#include "ZunSettingsWriter.h"

#include <QFile>
#include <QFileDialog>
#include <QSettings>
#include <QtTest>

#include <functional>

Q_DECLARE_METATYPE(std::function<int()>)

class TestSettingsWriter : public QObject
{
    Q_OBJECT

    DeviceTestRig::Config m_config; // before the first settings are read

    static QSettings settings() { return QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")); }

private slots:
    // Each row stores as the program does and gives the GUI thread's flushes meanwhile.
    void storedOffTheGuiThread_data()
    {
        QTest::addColumn<std::function<int()>>("store");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        // Mended: a store while the last one waited for the writer wrote both in the GUI thread
        // (first, while the writer is still starting).
        QTest::newRow("two folders at once") << std::function<int()>([] {
            const int before = ZunDiskFlushProbe::guiFlushes();
            ZunSettingsWriter::store(QStringLiteral("SetupDir"), QStringLiteral("/srv/setups"));
            ZunSettingsWriter::store(QStringLiteral("FirmwareDir"), QStringLiteral("/srv/firmware"));
            return ZunDiskFlushProbe::guiFlushes() - before;
        }) << "FirmwareDir" << "/srv/firmware";
        QTest::newRow("a folder") << std::function<int()>([] {
            const int before = ZunDiskFlushProbe::guiFlushes();
            ZunSettingsWriter::store(QStringLiteral("EQDir"), QStringLiteral("/srv/eq lists"));
            return ZunDiskFlushProbe::guiFlushes() - before;
        }) << "EQDir" << "/srv/eq lists";
        QTest::newRow("a control window's place as it closes") << std::function<int()>([] {
            WindowTestRig rig;
            rig.addDevice(57);
            ZunControlDlg window(57, rig.deviceServer(), rig.statusServer());
            window.setAttribute(Qt::WA_DeleteOnClose, false);
            window.show();
            if (!QTest::qWaitForWindowExposed(&window))
                return -1;
            const int before = ZunDiskFlushProbe::guiFlushes();
            window.close();
            return ZunDiskFlushProbe::guiFlushes() - before;
        }) << "ZunControlDlgNr57/pos" << "[ZunControlDlgNr57]";
        // Mended: the file dialog stored its own state with a flush as it went, after each choice.
        QTest::newRow("a folder chosen in the file dialog, twice") << std::function<int()>([] {
            QTemporaryDir chosen;
            ZunActionPrompts prompts(nullptr);
            const int before = ZunDiskFlushProbe::guiFlushes();
            for (int i = 0; i < 2; ++i) {
                QTimer::singleShot(0, [&chosen]() {
                    if (!QTest::qWaitFor([]() { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); }))
                        return;
                    zunAnswerFileDialog(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()), chosen.path());
                });
                if (prompts.folder(QStringLiteral("Load"), QDir::tempPath()) != chosen.path())
                    return -1;
            }
            ZunSettingsWriter::store(QStringLiteral("SaveConfigDir"), QStringLiteral("/srv/configurations"));
            return ZunDiskFlushProbe::guiFlushes() - before;
        }) << "SaveConfigDir" << "/srv/configurations";
    }
    void storedOffTheGuiThread()
    {
        QFETCH(std::function<int()>, store);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QCOMPARE(store(), 0);
        QVERIFY(settings().contains(key));
        ZunSettingsWriter::waitForWritten();
        QFile file(settings().fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains(value.toUtf8()), text.constData());
    }
};

QTEST_MAIN(TestSettingsWriter)
#include "tst_settingswriter.moc"
