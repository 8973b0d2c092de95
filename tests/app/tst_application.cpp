// The application object's last line of defence, and the program's style.
#include "Application.h"
#include "CBlockFIR.h"
#include "CCmdMap.h"
#include "ZunStyle.h"

#include <QSpinBox>
#include <QtTest>

#include <stdexcept>

// Slots that fail the way the device model and the filter code fail.
class Thrower : public QObject
{
    Q_OBJECT
public:
    int ran = 0;
    CCmdMap map;
public slots:
    void logic() { throw std::logic_error("CZun::GetMasterGain(): dsp must be 0, 1, or 2."); }
    void runtime() { throw std::runtime_error("disk full"); }
    void lookup() { map.getCmdNr("Cmd_NoSuchCommand"); }
    void filter() { throw CBlockFIR::invalid_filter("too many coefficients"); }
    void unknown() { throw 42; }
    void fine() { ++ran; }
};

class TstApplication : public QObject
{
    Q_OBJECT

    QStringList m_texts;
    QStringList m_captions;

    void call(Thrower* t, const char* slot)
    {
        QMetaObject::invokeMethod(t, slot, Qt::QueuedConnection);
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        auto* app = qobject_cast<Application*>(QCoreApplication::instance());
        QVERIFY(app);
        connect(app, &Application::signal_exception, this, [this](QString text, QString caption) {
            m_texts << text;
            m_captions << caption;
        });
    }

    void init()
    {
        m_texts.clear();
        m_captions.clear();
    }

    void logicErrorShowsItsText()
    {
        Thrower t;
        call(&t, "logic");
        QCOMPARE(m_texts, QStringList {"CZun::GetMasterGain(): dsp must be 0, 1, or 2."});
        QCOMPARE(m_captions, QStringList {"ZunControl"});
        // The program goes on.
        call(&t, "fine");
        QCOMPARE(t.ran, 1);
    }

    void otherStandardExceptionShowsItsTextAndGoesOn()
    {
        Thrower t;
        call(&t, "runtime");
        call(&t, "fine");
        QCOMPARE(m_texts, QStringList {"disk full"});
        QCOMPARE(t.ran, 1);
    }

    void onlyTheFirstFailedLookupOfAMapIsShown()
    {
        Thrower t;
        t.map.setVersion(1080);
        call(&t, "lookup");
        call(&t, "lookup");
        QCOMPARE(m_texts, QStringList {"The firmware seems to be outdated. Please update to the newest one."});
    }

    void invalidFilterHasTheFixedText()
    {
        Thrower t;
        call(&t, "filter");
        QCOMPARE(m_texts,
                 QStringList {"Invalid FIR filter. Either the number coefficients or the target DSP platform is invalid."});
    }

    // The device model's worker threads run their queued slots through the same handler;
    // the box comes up in the GUI thread.
    void exceptionInAWorkerThreadReachesTheGuiThread()
    {
        QThread worker;
        auto* t = new Thrower;
        t->moveToThread(&worker);
        connect(&worker, &QThread::finished, t, &QObject::deleteLater);
        worker.start();
        QThread* shownIn = nullptr;
        const auto c = connect(qobject_cast<Application*>(QCoreApplication::instance()), &Application::signal_exception, this,
                               [&] { shownIn = QThread::currentThread(); });
        QMetaObject::invokeMethod(t, "logic", Qt::QueuedConnection);
        QMetaObject::invokeMethod(t, "fine", Qt::QueuedConnection);
        QTRY_COMPARE(m_texts.size(), 1);
        disconnect(c);
        QCOMPARE(m_texts[0], QString("CZun::GetMasterGain(): dsp must be 0, 1, or 2."));
        QCOMPARE(shownIn, QThread::currentThread());
        QTRY_COMPARE(t->ran, 1);
        worker.quit();
        worker.wait();
    }

    void unknownExceptionEndsTheProgram()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TST_APPLICATION_CHILD", "1");
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains("shown: Unknown exception. Aborting. / ZunControl"), err.constData());
        QVERIFY(!err.contains("still running"));
    }

    void styleAndIcon()
    {
        auto* style = qobject_cast<ZunStyle*>(QApplication::style());
        QVERIFY(style);
        QCOMPARE(style->baseStyle()->objectName().toLower(), QString("cleanlooks"));
        QVERIFY(!QApplication::windowIcon().isNull());
    }

    void spinBoxRepeatTiming()
    {
        ZunStyle plastique("Plastique");
        QCOMPARE(plastique.baseStyle()->objectName().toLower(), QString("plastique"));
        QCOMPARE(plastique.styleHint(QStyle::SH_SpinBox_KeyPressAutoRepeatRate), 100);
        QCOMPARE(plastique.styleHint(QStyle::SH_SpinBox_ClickAutoRepeatRate), 100);
        QCOMPARE(plastique.styleHint(QStyle::SH_SpinBox_ClickAutoRepeatThreshold), 500);
        // Everything else is the wrapped style's.
        QCOMPARE(plastique.styleHint(QStyle::SH_ComboBox_Popup), plastique.baseStyle()->styleHint(QStyle::SH_ComboBox_Popup));
        QCOMPARE(plastique.pixelMetric(QStyle::PM_ButtonMargin), plastique.baseStyle()->pixelMetric(QStyle::PM_ButtonMargin));
    }

    void unknownStyleFallsBackToFusion()
    {
        QTest::ignoreMessage(QtWarningMsg, "ProxyStyle: style \"NoSuchStyle\" not available, using Fusion");
        ZunStyle s("NoSuchStyle");
        QCOMPARE(s.baseStyle()->objectName().toLower(), QString("fusion"));
        // Drawing through it works: a widget polished and grabbed with the style.
        QSpinBox box;
        box.setStyle(&s);
        box.resize(80, 24);
        QVERIFY(!box.grab().isNull());
    }
};

int main(int argc, char** argv)
{
    Application app(argc, argv);
    if (qEnvironmentVariableIsSet("TST_APPLICATION_CHILD")) {
        QObject::connect(&app, &Application::signal_exception, [](QString text, QString caption) {
            fprintf(stderr, "shown: %s / %s\n", qPrintable(text), qPrintable(caption));
            fflush(stderr);
        });
        Thrower t;
        QMetaObject::invokeMethod(&t, "unknown", Qt::QueuedConnection);
        QTimer::singleShot(2000, [] {
            fprintf(stderr, "still running\n");
            QCoreApplication::exit(0);
        });
        return app.exec();
    }
    TstApplication tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_application.moc"
