#pragma once

#include "ZunOperationJournal.h"

#include <QList>
#include <QString>

class CZun;

// What the operator is told at a connection about the long operations that an earlier
// program (killed, or quit anyway) or a window closed anyway left unfinished on this
// processor: each operation, and what the processor holds of what it changed, read now.
class ZunUnfinishedOperations
{
public:
    // Empty when there are none. The processor's image and lists must have been read.
    static QString text(CZun* zun, const QList<ZunOperationJournal::Entry>& entries);

private:
    // What the processor holds now of what the operation changed, and what to do.
    static QString left(CZun* zun, const ZunOperationJournal::Entry& entry);
    static QString loadLeft(CZun* zun, const QString& folder);
};
