// Trace facility: trace file and trace lines, intelligent tracing, trace
// directory housekeeping, code-to-name tables, hex dumps and the command-line
// record.
#ifndef KIV_DEBUG_KIVDEBUG_H
#define KIV_DEBUG_KIVDEBUG_H

#include "debug/kivtrace.h"
#include "debug/kivdisposition.h"
#include "debug/kivhousekeeping.h"
#include "debug/kivcodes.h"
#include "debug/kivtables.h"
#include "debug/kivdump.h"

#endif
