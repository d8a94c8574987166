#include "platform/Sound.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#if __has_include(<canberra.h>)
#include <canberra.h>
#define TAVINOR_HAVE_CANBERRA 1
#endif

namespace Sound {

#ifdef TAVINOR_HAVE_CANBERRA

namespace {

// The sound server may come and go (a user session starting late, a restarted server): after a failure the
// next attempt waits this long, so that a missing server costs one failed connect per interval, not per beep.
constexpr qint64 kRetryMs = 10000;

struct Player
{
    ca_context* context = nullptr;
    int fd = -1;
    QByteArray path;
    QElapsedTimer lastFailure;
    bool warned = false;

    ~Player()
    {
        Close();
        if (fd >= 0)
            ::close(fd);
    }

    void Close()
    {
        if (context)
            ca_context_destroy(context);
        context = nullptr;
    }

    void Fail(const char* what, int code)
    {
        Close();
        lastFailure.start();
        if (!warned)
            std::fprintf(stderr, "tavinor: alarm tone: %s: %s; the X bell stands in\n", what, ca_strerror(code));
        warned = true;
    }

    // The tone is played from a file of our own, so that no sound theme needs to be installed. The file is
    // unlinked at once and reached through our descriptor: nothing is left behind, however the program ends.
    bool EnsureFile()
    {
        if (fd >= 0)
            return true;
        QByteArray name = QFile::encodeName(QDir::tempPath()) + "/tavinor-tone-XXXXXX";
        const int f = ::mkstemp(name.data());
        if (f < 0) {
            std::perror("tavinor: alarm tone: mkstemp");
            return false;
        }
        ::unlink(name.constData());
        const QByteArray wav = ToneWav(44100, 880, 300);
        if (::write(f, wav.constData(), size_t(wav.size())) != wav.size()) {
            std::perror("tavinor: alarm tone: write");
            ::close(f);
            return false;
        }
        fd = f;
        path = "/proc/self/fd/" + QByteArray::number(fd);
        return true;
    }

    bool Open()
    {
        if (context)
            return true;
        if (lastFailure.isValid() && lastFailure.elapsed() < kRetryMs)
            return false;
        int r = ca_context_create(&context);
        if (r != CA_SUCCESS) {
            context = nullptr;
            Fail("no context", r);
            return false;
        }
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "tavinor", CA_PROP_APPLICATION_ID, "tavinor",
                                nullptr);
        r = ca_context_open(context);
        if (r != CA_SUCCESS) {
            Fail("no sound server or device", r);
            return false;
        }
        return true;
    }

    bool Play()
    {
        if (!EnsureFile() || !Open())
            return false;
        // No event id: with one, libcanberra prefers the sound theme's file of that name over ours.
        const int r = ca_context_play(context, 1, CA_PROP_MEDIA_FILENAME, path.constData(), CA_PROP_EVENT_DESCRIPTION,
                                      "Alarm", CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
        if (r != CA_SUCCESS) {
            Fail("cannot play", r);
            return false;
        }
        if (warned) {
            std::fprintf(stderr, "tavinor: alarm tone: sound is back\n");
            warned = false;
        }
        return true;
    }
};

Player& TheOne()
{
    static Player player;
    return player;
}

} // namespace

bool PlayAlarmTone()
{
    return TheOne().Play();
}

QString Backend()
{
    return QStringLiteral("canberra");
}

#else

bool PlayAlarmTone()
{
    return false;
}

QString Backend()
{
    return QStringLiteral("none");
}

#endif

} // namespace Sound
