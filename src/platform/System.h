#pragma once

#include <QString>

// Small questions to the operating system.
namespace System {

// The host name in its short form (up to the first dot); empty only when the system has none.
QString HostName();
// The short form of a host name as the program shows it (pure).
QString ShortHostName(const QString& fullName);
// A short audible signal.
void Beep();

} // namespace System
