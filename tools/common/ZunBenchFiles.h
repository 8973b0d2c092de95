#pragma once

// Files the window benches hand to the program as an operator would pick them: a FIR set
// and a setup, both new to the processor.
#include "FilterLimiterEWS.h"
#include "ZunSetup.h"

#include <QDir>

// A FIR set of four outputs in the folder; its file's path.
inline QString zunWriteFirSet(const QString& folder, const QString& name)
{
    FilterLimiterEWS set(QString(), 48000.0);
    for (int o = 0; o < 4; ++o)
        set.setOutput(o, QVector<qint32>(64, 900 * (o + 1)), 8, o);
    set.SetName(name);
    set.toFile(folder, false);
    return QDir(folder).filePath(set.makeFileName(false));
}

// The image as setup number in the folder; its file's path.
inline QString zunWriteSetup(const QString& folder, const QByteArray& image, const QString& name, int number)
{
    ZunSetup setup(image);
    setup.SetSetupName(name);
    setup.toFile(folder, number, QShPtrFLE(), QShPtrFLE());
    return QDir(folder).filePath(setup.makeFileName(number));
}
