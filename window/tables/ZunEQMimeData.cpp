#include "ZunEQMimeData.h"

// Out of line: inlined into a caller that has just made the payload, GCC 12 mistakes the
// empty vector's shared header for the place the record is written to.
void ZunEQMimeData::appendEQ(const EQ_PARAMS& eq) { m_eqs.append(eq); }
