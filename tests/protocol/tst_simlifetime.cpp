// The emulators of the test support end with the test that started them, however it ends:
// an abort (a failed assertion, a sanitizer report) or a kill (ctest's timeout, Ctrl-C)
// must not leave processors answering on the machine.
#include "TcpSimProcess.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/types.h>

namespace
{
const char* const ChildMode = "ZUN_SIMLIFETIME_CHILD";

// Running or not yet reaped: a process that has exited but waits for its parent is gone.
bool alive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) != "Z";
}

// The child: starts an emulator, names its process and ends as asked.
int child(const QByteArray& mode)
{
    TcpSimProcess sim;
    if (!sim.start())
        return 3;
    std::printf("sim %lld\n", static_cast<long long>(sim.pid()));
    std::fflush(stdout);
    if (mode == "abort") {
        char go[8];
        if (std::fgets(go, sizeof go, stdin)) // the test has seen the emulator running
            std::abort();
        return 4;
    }
    for (;;)
        QThread::sleep(1); // waits for its kill
}
} // namespace

class TestSimLifetime : public QObject
{
    Q_OBJECT

    void endChild(const QString& mode)
    {
        QProcess test;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(ChildMode), mode);
        test.setProcessEnvironment(env);
        test.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(test.waitForStarted(10000));
        QByteArray out;
        while (!out.contains('\n') && test.waitForReadyRead(30000))
            out += test.readAllStandardOutput();
        QVERIFY2(out.startsWith("sim "), out.constData());
        const qint64 sim = out.mid(4).trimmed().toLongLong();
        QVERIFY(sim > 1);
        QVERIFY(alive(sim));
        if (mode == QLatin1String("kill"))
            test.kill();
        else
            test.write("go\n");
        QVERIFY(test.waitForFinished(30000));
        QTRY_VERIFY_WITH_TIMEOUT(!alive(sim), 20000);
    }

private slots:
    void emulatorEndsWhenTheTestAborts() { endChild(QStringLiteral("abort")); }
    void emulatorEndsWhenTheTestIsKilled() { endChild(QStringLiteral("kill")); }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = qgetenv(ChildMode);
    if (!mode.isEmpty())
        return child(mode);
    TestSimLifetime tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_simlifetime.moc"
