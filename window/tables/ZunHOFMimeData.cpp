#include "ZunHOFMimeData.h"

// Out of line: inlined into a caller that has just made the payload, GCC 12 mistakes the
// empty vector's shared header for the place the record is written to.
void ZunHOFMimeData::appendFilter(const HO_FILTER_PARAMS& filter) { m_filters.append(filter); }
