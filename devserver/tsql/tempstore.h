#pragma once
// A bound on SQLite's temporary files (sorts, DISTINCT and GROUP BY indexes, statement journals
// spilled out of memory). SQLite keeps its sort memory to the page cache and spills the rest to
// disk without limit, so a sort over a cross join could fill the disk; SQL Server's sorts spill to
// tempdb, whose size is bounded, and a sort that does not fit fails with error 1105.
#include <cstdint>

namespace devserver::tsql {

// Registers the bounding file system layer (once per process; later calls only change the
// limit) and returns its name for sqlite3_open_v2. The bound is for the whole process, as tempdb
// is one for the whole server. 0 means no bound.
const char* boundedTempVfs(std::int64_t maxTempBytes);

// Bytes now held by temporary files opened through the layer.
std::int64_t tempBytesInUse();

// True once after a write on this thread was refused for the bound (then false until the next).
bool takeTempLimitHit();

}  // namespace devserver::tsql
