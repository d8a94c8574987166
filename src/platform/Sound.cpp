#include "platform/Sound.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace Sound {

namespace {

void Put16(QByteArray& out, quint16 v)
{
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&v), 2);
}

void Put32(QByteArray& out, quint32 v)
{
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&v), 4);
}

} // namespace

QByteArray ToneWav(int sampleRate, int frequency, int milliseconds)
{
    const int samples = qMax(0, int(qint64(sampleRate) * milliseconds / 1000));
    const int fade = qMax(1, sampleRate / 100); // 10 ms
    QByteArray out;
    out.reserve(44 + samples * 2);
    out.append("RIFF");
    Put32(out, quint32(36 + samples * 2));
    out.append("WAVEfmt ");
    Put32(out, 16);
    Put16(out, 1); // PCM
    Put16(out, 1); // mono
    Put32(out, quint32(sampleRate));
    Put32(out, quint32(sampleRate * 2));
    Put16(out, 2);
    Put16(out, 16);
    out.append("data");
    Put32(out, quint32(samples * 2));
    constexpr double kTwoPi = 6.283185307179586;
    for (int i = 0; i < samples; ++i) {
        const double ramp = std::min({1.0, double(i) / fade, double(samples - 1 - i) / fade});
        const double v = 0.6 * ramp * std::sin(kTwoPi * frequency * i / sampleRate);
        Put16(out, quint16(qint16(std::lround(v * 32767))));
    }
    return out;
}

} // namespace Sound
