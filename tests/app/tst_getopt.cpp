// The command-line parser as start-up registers it: three options, three switches.
#include "GetOpt.h"
#include "ZunStartup.h"

#include <QtTest>

class TstGetOpt : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QString>("configFile");
        QTest::addColumn<QString>("verbose");
        QTest::addColumn<QString>("nic");
        QTest::addColumn<QString>("switches"); // developer, xmlFir, importEqs as 0/1

        const QString null;
        QTest::newRow("nothing") << QStringList() << true << null << null << null << null << "000";
        QTest::newRow("switches") << QStringList {"--developer", "--xmlFir"} << true << null << null << null << null << "110";
        QTest::newRow("long=") << QStringList {"--configFile=x.cfg"} << true << null << "x.cfg" << null << null << "000";
        QTest::newRow("long space") << QStringList {"--configFile", "x.cfg"} << true << null << "x.cfg" << null << null << "000";
        QTest::newRow("short glued") << QStringList {"-cx.cfg"} << true << null << "x.cfg" << null << null << "000";
        QTest::newRow("short space") << QStringList {"-c", "x.cfg"} << true << null << "x.cfg" << null << null << "000";
        QTest::newRow("value with =") << QStringList {"--configFile=a=b"} << true << null << "a=b" << null << null << "000";
        QTest::newRow("all") << QStringList {"-v", "3", "--useNIC=2", "--importEqs", "-cy"} << true << null << "y" << "3" << "2" << "001";
        QTest::newRow("-v last") << QStringList {"-v"} << false << "Expected an argument after 'v' option" << null << null << null << "000";
        QTest::newRow("--verboseLevel last") << QStringList {"--verboseLevel"} << false
                                             << "Expected an argument after 'verboseLevel' option" << null << null << null << "000";
        QTest::newRow("option then option") << QStringList {"-c", "--developer"} << false << "Expected an argument after 'c' option"
                                            << null << null << null << "100";
        QTest::newRow("value starting with -") << QStringList {"--configFile=-x"} << false
                                               << "Expected an argument after 'configFile' option|Unknown option -x" << null
                                               << null << null << "000";
        QTest::newRow("-vx not a number") << QStringList {"-vx"} << true << null << null << "x" << null << "000";
        QTest::newRow("unknown long") << QStringList {"--bogus"} << false << "Unknown option --bogus" << null << null << null << "000";
        QTest::newRow("unknown short") << QStringList {"-q"} << false << "Unknown option -q" << null << null << null << "000";
        QTest::newRow("stray argument") << QStringList {"file.zun", "--xmlFir"} << true << null << null << null << null << "010";
        QTest::newRow("lone dash is plain") << QStringList {"-c", "-"} << true << null << "-" << null << null << "000";
        QTest::newRow("keeps what it understood around an unknown option")
            << QStringList {"--developer", "--bogus", "--xmlFir", "-q3", "-v", "4"} << false
            << "Unknown option --bogus|Unknown option -q" << null << "4" << null << "110";
        QTest::newRow("case sensitive") << QStringList {"--Developer"} << false << "Unknown option --Developer" << null << null
                                        << null << "000";
    }

    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        QFETCH(QString, warning);
        QFETCH(QString, configFile);
        QFETCH(QString, verbose);
        QFETCH(QString, nic);
        QFETCH(QString, switches);
        for (const QString& w : warning.split('|', Qt::SkipEmptyParts))
            QTest::ignoreMessage(QtWarningMsg, qPrintable(w));
        const ZunStartup::CommandLine c = ZunStartup::parseCommandLine(QStringList {"/usr/bin/ZunControlV2"} + args);
        QCOMPARE(c.parsedOk, ok);
        QCOMPARE(c.configFile, configFile);
        QCOMPARE(c.configFile.isNull(), configFile.isNull());
        QCOMPARE(c.verboseLevel, verbose);
        QCOMPARE(c.useNIC, nic);
        QCOMPARE(QString("%1%2%3").arg(int(c.developer)).arg(int(c.xmlFir)).arg(int(c.importEqs)), switches);
    }

    void stopsAfterFirstSwitchWhenAsked()
    {
        bool a = true, b = true;
        GetOpt o(QStringList {"prog", "--a", "--bogus"});
        o.addSwitch("a", &a);
        o.addSwitch("b", &b);
        QVERIFY(!a && !b); // registration resets
        QVERIFY(o.parse(true));
        QVERIFY(a && !b);
        QVERIFY(o.isSet("a"));
        QCOMPARE(o.appName(), QString("prog"));
    }

    void bareDoubleDashEndsWithStatus2()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TST_GETOPT_CHILD", "1");
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationFilePath(), {"--developer", "--", "--xmlFir"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("'--' feature not supported, yet"));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TST_GETOPT_CHILD")) {
        // As start-up parses: over the application object's own arguments.
        QCoreApplication app(argc, argv);
        bool developer = false;
        GetOpt o;
        o.addSwitch("developer", &developer);
        o.parse(false);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TstGetOpt tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_getopt.moc"
