#include "GetOpt.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QtGlobal>

#include <cstdlib>

GetOpt::GetOpt()
{
    if (!QCoreApplication::instance())
        qFatal("GetOpt: requires a QApplication instance to be constructed first");
    init(QCoreApplication::arguments());
}

GetOpt::GetOpt(const QStringList& arguments)
{
    init(arguments);
}

GetOpt::~GetOpt() = default;

void GetOpt::init(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        m_appName = QFileInfo(arguments.first()).fileName();
    m_args = arguments.mid(1);
    m_currArg = 1;
}

void GetOpt::addSwitch(const QString& longName, bool* value)
{
    Option o;
    o.kind = Kind::Switch;
    o.longName = longName;
    o.boolValue = value;
    *value = false;
    m_options.append(o);
}

void GetOpt::addOption(char shortName, const QString& longName, QString* value)
{
    Option o;
    o.kind = Kind::RequiredValue;
    o.shortName = shortName;
    o.longName = longName;
    o.stringValue = value;
    *value = QString();
    m_options.append(o);
}

bool GetOpt::parse(bool untilFirstSwitchOnly)
{
    enum TokenType { LongOpt, ShortOpt, Arg, End } t;
    enum State { StartState, ExpectingState } state = StartState;
    const Option* currOpt = nullptr;
    QString currTyped; // the waiting option as it was typed (long name or letter)
    bool extraLoop = true; // one more pass after the last token, to check the state
    bool ok = true;

    while (!m_args.isEmpty() || extraLoop) {
        QString a;
        QString origA;
        if (m_args.isEmpty()) {
            extraLoop = false;
            t = End;
        } else {
            a = m_args.takeFirst();
            ++m_currArg;
            origA = a;
            if (a.startsWith(QLatin1String("--"))) {
                a = a.mid(2);
                if (a.isEmpty()) {
                    qWarning("'--' feature not supported, yet");
                    std::exit(2);
                }
                t = LongOpt;
                const int equal = a.indexOf(QLatin1Char('='));
                if (equal >= 0) {
                    m_args.prepend(a.mid(equal + 1));
                    --m_currArg;
                    a = a.left(equal);
                }
            } else if (a.length() > 1 && a.at(0) == QLatin1Char('-')) {
                t = ShortOpt;
                if (a.length() > 2) {
                    m_args.prepend(a.mid(2));
                    --m_currArg;
                }
                a = a.mid(1, 1);
            } else {
                t = Arg;
            }
        }

        const Option* opt = nullptr;
        if (t == LongOpt || t == ShortOpt) {
            for (const Option& o : qAsConst(m_options)) {
                if ((t == LongOpt && o.longName == a) || (t == ShortOpt && o.shortName != 0 && QLatin1Char(o.shortName) == a.at(0))) {
                    opt = &o;
                    break;
                }
            }
        }

        // An option that waits for its value and gets none is dropped with a warning; the
        // token that came instead is then taken for what it is.
        if (state == ExpectingState) {
            if (t == Arg) {
                *currOpt->stringValue = origA;
                currOpt = nullptr;
                state = StartState;
                continue;
            }
            qWarning("Expected an argument after '%s' option", qPrintable(currTyped));
            ok = false;
            currOpt = nullptr;
            state = StartState;
        }

        // An unknown option costs a warning; what was understood before and after it stays.
        if ((t == LongOpt || t == ShortOpt) && !opt) {
            if (t == LongOpt)
                qWarning("Unknown option --%s", qPrintable(a));
            else
                qWarning("Unknown option -%c", a.at(0).toLatin1());
            ok = false;
            continue;
        }

        if (opt) {
            switch (opt->kind) {
            case Kind::Switch:
                *opt->boolValue = true;
                m_present[opt->longName] = true;
                if (untilFirstSwitchOnly)
                    return ok;
                break;
            case Kind::RequiredValue:
                m_present[opt->longName] = true;
                currOpt = opt;
                currTyped = a;
                state = ExpectingState;
                break;
            default:
                qFatal("unhandled StartState case %d", int(opt->kind));
            }
        } else if (t == Arg) {
            if (m_numReqArgs > 0 || m_numOptArgs > 0) {
                qWarning("Too many arguments");
                ok = false;
            }
            // No argument records are registered: a plain argument is ignored.
        } else if (t == End) {
            if (m_numReqArgs > 0) {
                qWarning("Lacking required argument");
                return false;
            }
            return ok;
        }
    }
    return ok;
}
