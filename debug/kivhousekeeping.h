// Housekeeping of the trace directory at exit.
#ifndef KIV_DEBUG_KIVHOUSEKEEPING_H
#define KIV_DEBUG_KIVHOUSEKEEPING_H

// Compresses the stale traces and this run's own trace, then prunes the
// oldest files until the directory is within its limits.
void KIV_HouseKeeping(const char* directory);

#endif
