#pragma once

#include <QString>

namespace Network {

class AlarmNet;

// What the start and the end of the program ask of the alarm network.

// Server: (re)creates the listening socket on port 10161 and listens. Called on every settings update.
void StartServerListener();
// Station: creates the listening socket on port 10162 for the server's downlink. Called once at start.
void StartClientListener();
// End of the program: closes the listening socket and the station's uplink.
void CloseForExit();

// The main window's alarm network, made on first use; nullptr before the main window exists.
AlarmNet* Instance();

// Test seam: ports and addresses for the network the main window makes next (the program itself always
// uses 10161 and 10162 on all local addresses).
void SetPortsForTests(quint16 serverPort, quint16 stationPort, const QString& listenAddress = QString());

} // namespace Network

// Station: drops the uplink to the server.
void doClientDisconnect();
// Station: connects the uplink to `address`, or to the setting "Servername" when `address` is empty.
void doClientConnect(const QString& address);
// Sends one line (without CR LF): station to the server, true when the uplink is connected; server to every
// station, true.
bool doSendData(const QString& value);
// Station: shows whether the server answered the last registration.
void SetConnectionStatus(bool connected);
