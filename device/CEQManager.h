#pragma once

#include <QObject>

class CZun;

// The EQ and high-order-filter slots of one device. Lives with its device object in the
// GUI thread. Only the part the device object calls exists yet; the slots themselves come
// with the EQ work.
class CEQManager : public QObject
{
    Q_OBJECT
public:
    explicit CEQManager(CZun* zun);

    // Rebuilds the EQ and filter objects from the parameter image.
    void Rebuild();

private:
    CZun* m_zun;
};
