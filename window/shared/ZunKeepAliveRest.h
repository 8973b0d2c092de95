#pragma once

#include <QSharedPointer>

class CZun;
class ZunOperation;

// Rests the device's TCP keep-alive while it lives: made around a modal choice so that the
// link does not expire while the operator decides, and the keep-alive comes back however the
// choice ends, unless a long operation holds it off meanwhile (it goes through the device's
// list of operations). A null device is left alone.
class ZunKeepAliveRest
{
public:
    explicit ZunKeepAliveRest(CZun* device);
    ~ZunKeepAliveRest();

private:
    Q_DISABLE_COPY(ZunKeepAliveRest)
    QSharedPointer<ZunOperation> m_rest;
};
