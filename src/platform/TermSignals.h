#pragma once

#include <QObject>
#include <functional>

// Logout, shutdown and `systemctl stop` end a process with SIGTERM or SIGHUP, a terminal with SIGINT. The
// program must end in order then (end line in the event log, outputs off), so the signals are turned into
// a call on the window thread instead of killing it on the spot.
namespace TermSignals {

// Installs the handlers; `handler` gets the signal number, on the thread of `context`.
bool Install(QObject* context, std::function<void(int)> handler);

} // namespace TermSignals
