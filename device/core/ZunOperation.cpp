#include "ZunOperation.h"

#include "ZunOperations.h"

ZunOperation::ZunOperation(ZunOperations* registry, ZunLongOperation kind, int takes)
    : m_registry(registry), m_kind(kind), m_takes(takes)
{
}

ZunOperation::~ZunOperation() { finish(Outcome::Quit); }

bool ZunOperation::isRunning() const { return ZunOperations::isRunning(this); }

void ZunOperation::finish(Outcome outcome) { ZunOperations::release(this, outcome); }
