#pragma once

#include <QString>

// A count with its noun as the operator's texts give it: "1 setup", "0 setups", "2 setups".
class ZunCount
{
public:
    static QString of(int n, const QString& one, const QString& many);
    static QString sets(int n);   // FIR/limiter sets
    static QString setups(int n);
    static QString setsAndSetups(int n); // "1 FIR/limiter set or setup", "2 FIR/limiter sets and setups"
};
