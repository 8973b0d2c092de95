#pragma once

#include <QString>

class CZun;
class QWidget;

// The operator's choice of an EQ list (CSV) to import: the dialog starts in the folder of the
// last choice and remembers the new one; the device's keep-alive rests while the operator
// decides, so that the link does not expire behind the dialog.
class ZunEQListFile
{
public:
    // The chosen file; empty when the dialog was cancelled.
    static QString choose(QWidget* parent, CZun* device);
};
