#pragma once

#include <QThread>

// A worker thread of a device object: runs the default event loop for the one object
// moved into it (DSP-program, FIR/limiter or setup manager).
class ZunManagerThread : public QThread
{
    Q_OBJECT
public:
    ZunManagerThread() = default;
};
