#pragma once

#include <QByteArray>
#include <QString>

// The alarm tone. A desktop's X bell is usually silent or a faint click, so the tone goes to the sound
// server (PulseAudio or PipeWire's PulseAudio service; ALSA directly where no server runs).
namespace Sound {

// Starts the tone once and returns at once. False when nothing can play it (no library, no server, no
// device); the caller then falls back to the X bell.
bool PlayAlarmTone();

// The tone as a complete WAV file (16-bit mono PCM): a sine of `frequency` Hz, `milliseconds` long, with a
// short fade at both ends so that it does not click (pure).
QByteArray ToneWav(int sampleRate, int frequency, int milliseconds);

// The backend that plays, for diagnostics: "canberra", or "none" when the program was built without it.
QString Backend();

} // namespace Sound
