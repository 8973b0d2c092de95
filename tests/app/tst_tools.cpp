// The tools as a newcomer first runs them. Every script of tools/ and every
// program built there answers --help with its usage and refuses an option it does not
// know, with no display and with nothing installed, built or started: each command they
// could start (package tools, cmake, ip, Xvfb...) is a stub here that notes its call.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
const QStringList Started = {"apt-get", "sudo", "dpkg-query", "cmake", "ctest", "make", "ip", "Xvfb", "xvfb-run",
                             "import", "stress-ng", "clang", "clang++"};
} // namespace

class TstTools : public QObject
{
    Q_OBJECT

    QTemporaryDir m_stubs;

    QString log() const { return m_stubs.filePath("started.log"); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_stubs.isValid());
        for (const QString& name : Started) {
            QFile stub(m_stubs.filePath(name));
            QVERIFY(stub.open(QIODevice::WriteOnly));
            stub.write(QStringLiteral("#!/bin/sh\necho \"$(basename \"$0\") $*\" >> '%1'\nexit 1\n").arg(log()).toUtf8());
            stub.close();
            QVERIFY(stub.setPermissions(stub.permissions() | QFileDevice::ExeOwner));
        }
    }

    void answersHelpAndRefusesUnknownOptions_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        const QDir source(qEnvironmentVariable("ZUN_SOURCE_DIR"));
        const QDir tools(QFileInfo(qEnvironmentVariable("ZUNSIM")).dir().filePath(".."));
        QStringList programs;
        const QDir scripts(source.filePath("tools"));
        for (const QString& s : scripts.entryList({"*.sh"}, QDir::Files, QDir::Name))
            programs << scripts.filePath(s);
        for (const QString& d : scripts.entryList({"zun*"}, QDir::Dirs, QDir::Name))
            programs << tools.filePath(d + '/' + d);
        QVERIFY(programs.size() > 10);
        for (const QString& p : qAsConst(programs)) {
            const QString name = QFileInfo(p).fileName();
            QTest::newRow(qPrintable(name + " --help")) << p << "--help";
            // The program is the one to judge what run-app.sh passes on.
            if (name != QLatin1String("run-app.sh"))
                QTest::newRow(qPrintable(name + " --bogus")) << p << "--bogus";
        }
    }

    void answersHelpAndRefusesUnknownOptions()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        if (!QFileInfo(program).isExecutable())
            QSKIP(qPrintable(program + " is not built"));
        QFile::remove(log());
        QTemporaryDir cwd;
        QTemporaryDir emptyBuild; // zunlab and zunshot find nothing built there
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(v);
        env.insert("PATH", m_stubs.path() + ':' + env.value("PATH"));
        env.insert("ZUNLAB_BUILD", emptyBuild.path());
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(cwd.path());
        p.start(program, {option});
        QVERIFY2(p.waitForFinished(30000), "still running after 30 s");
        const QString out = p.readAllStandardOutput(), err = p.readAllStandardError();
        const QString name = QFileInfo(program).fileName();
        if (option == QLatin1String("--help")) {
            QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(err));
            QVERIFY2(out.contains(name), qPrintable(out)); // the usage names the program
        } else {
            QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() != 0, qPrintable(out));
            QVERIFY2(err.contains(name), qPrintable(err));
        }
        QFile started(log());
        QVERIFY2(!started.exists(), started.open(QIODevice::ReadOnly) ? started.readAll().constData() : "");
        QCOMPARE(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TstTools tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_tools.moc"
