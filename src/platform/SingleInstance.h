#pragma once

#include <QString>

// One running copy per program folder. The lock is an flock() on the program folder itself: it needs no
// file of its own (the folder may be read-only), does not depend on the user's temporary folder, and the
// kernel drops it when the process dies, so a crash never blocks the next start.
namespace SingleInstance {

// True when this process now holds the lock for `programFolder` (kept until the process ends), false
// when another process holds it. When the lock cannot be taken at all, the start is not refused.
bool Acquire(const QString& programFolder);

} // namespace SingleInstance
