#pragma once

#include <QObject>

class CZun;

// The DSP programs of one device. Lives in a worker thread of its device object. Only
// the slot the device object invokes exists yet.
class ZunDSPProgramManager : public QObject
{
    Q_OBJECT
public:
    explicit ZunDSPProgramManager(CZun* zun);

public slots:
    void initialize();

private:
    CZun* m_zun;
};
