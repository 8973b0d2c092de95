#pragma once

class QWidget;

// The question a recall asks first when the processor holds changes that no setup holds:
// store them as the active setup, discard them, or recall nothing. Asked alike from the
// control window's system tab and from the network list.
class ZunRecallQuestion
{
public:
    enum Answer { Store, Discard, Cancel };
    // canStore: whether a setup is active to store to (else Store is offered disabled).
    static Answer ask(QWidget* parent, bool canStore);
};
