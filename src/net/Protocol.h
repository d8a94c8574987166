#pragma once

#include <QString>

// The line protocol between stations and the server: code texts, station records and relay lines.
namespace Protocol {

inline const QString kSeparator = QStringLiteral("|");

// The longest station name that goes on the wire. With it, a relay line stays far below the line limit of
// every receiver (older stations read what one network packet brings), so a long name never costs an
// alarm. The settings dialog takes no more; the server clips what it stores.
constexpr int kMaxStationName = 255;
// The longest registration the server stores: the name and room for the code and both flags.
constexpr int kMaxRegistration = kMaxStationName + 16;

// The code a received line is known by: its first four characters ("004:").
QString CodeOf(const QString& line);
// The relay code the server answers a station's code with: "004:" -> "005: ", "006:" -> "007: ",
// "008:" -> "009: ", "010:" -> "011: "; empty for every other code.
QString RelayCodeFor(const QString& code);
// True for the codes that raise an alarm: 004 and the training alarm 010.
bool RaisesAlarm(const QString& code);
// True for the relayed alarm a station shows (005, and 011 for training).
bool ShowsAlarm(const QString& code);
// A station's registration: "001: |name|visual|acoustic".
QString RegistrationLine(const QString& stationName, const QString& visual, const QString& acoustic);
// A station name as it goes on the wire: at most kMaxStationName characters.
QString ClipStationName(const QString& name);
// A received registration as the server stores it: the name field clipped, and the whole line at most
// kMaxRegistration characters. A registration within the limits is kept unchanged.
QString ClipRegistration(const QString& registration);
// The record the server keeps for a slot: the registration line, the separator and the peer address.
QString StationRecord(const QString& registration, const QString& peer);
// What the server sends for a station's code: relay code, sender address, separator, sender's record.
QString RelayLine(const QString& relayCode, const QString& peer, const QString& record);
// The address a station announces in its 003: the text after "003:", without surrounding blanks.
QString AnnouncedAddress(const QString& line);
// Whether a received line is one the role acts on: the station's codes on the server (a 003 only with a
// dotted IPv4 address), the server's codes on a station. Everything else is stray input.
bool IsAccepted(const QString& line, bool server);
// Dotted IPv4 text, four numbers 0 to 255: what a station announces in its 003.
bool IsDottedIPv4(const QString& text);

} // namespace Protocol
