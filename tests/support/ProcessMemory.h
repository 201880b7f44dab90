#pragma once

// What this process holds in memory, for the benchmarks and the soak that compare it over a run.

#include <QtGlobal>

namespace ProcessMemory {

// The resident set, after handing freed pages back to the system (pages the allocator keeps
// only because large transient buffers were freed are not the program's).
qint64 residentBytes();

// Bytes the allocator has handed out and not got back: the live heap, without the pages that
// fragmentation keeps resident. Under AddressSanitizer its own count (its allocator replaces
// malloc's).
qint64 heapInUse();

bool underAddressSanitizer();

} // namespace ProcessMemory
