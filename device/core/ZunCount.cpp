#include "ZunCount.h"

QString ZunCount::of(int n, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString ZunCount::sets(int n) { return of(n, QStringLiteral("FIR/limiter set"), QStringLiteral("FIR/limiter sets")); }

QString ZunCount::setups(int n) { return of(n, QStringLiteral("setup"), QStringLiteral("setups")); }

QString ZunCount::setsAndSetups(int n)
{
    return of(n, QStringLiteral("FIR/limiter set or setup"), QStringLiteral("FIR/limiter sets and setups"));
}
