// The keyboard-hook library. One thread with its own X connection catches the alert key with a key grab on
// the root window (every CapsLock/NumLock variant), so it sees the key whichever program has the focus; the
// grabbed key does not reach the focused program. The record in shared memory says which key and which
// window; it is read again on every press. A new key needs a new grab: a program that says when it wrote the
// record (TvKeyRecordChanged) wakes the thread only then, so an idle station costs nothing; for one that
// never says, the thread looks at the record a few times a second.

#include "tvkbhk.h"

#include "platform/KeyHookRecord.h"
#include "platform/KeySyms.h"

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using KeyHookRecord::Record;

constexpr int kRecordPollMs = 50;

struct Watcher
{
    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    std::thread thread;
    int stopPipe[2] = {-1, -1};
    int changed = -1;              // eventfd: the program wrote the record
    std::atomic<bool> told{false}; // the program says when it writes: no need to look on our own
    TvKeyboardProc proc = nullptr;
    std::int32_t handle = 0;

    // Keyboard layout of the server.
    xcb_keycode_t minKeycode = 8, maxKeycode = 255;
    int perKeycode = 0;
    std::vector<xcb_keysym_t> keysyms;
    KeyHookRecord::XModifiers mods;

    // The record as last seen and what is grabbed for it.
    std::string shmName;
    const unsigned char* shm = nullptr;
    Record grabbed;
    std::vector<xcb_keycode_t> grabbedKeys;
    std::vector<std::uint16_t> grabbedStates;

    // Autorepeat shows as a release and a press with the same time stamp.
    xcb_keycode_t lastReleaseKey = 0;
    xcb_timestamp_t lastReleaseTime = 0;
    xcb_timestamp_t eventTime = 0;
};

Watcher* g_watcher = nullptr;
std::atomic<std::int32_t> g_nextHandle{1};

void Log(const char* what, int code)
{
    std::fprintf(stderr, "tvkbhk: %s (%d)\n", what, code);
}

xcb_keysym_t Keysym(const Watcher& w, xcb_keycode_t key, int level)
{
    if (key < w.minKeycode || key > w.maxKeycode || level >= w.perKeycode)
        return 0;
    return w.keysyms[std::size_t((key - w.minKeycode) * w.perKeycode + level)];
}

// Virtual-key codes of a keycode: its first level, and for keypad keys also the level NumLock selects.
std::vector<int> KeyCodesOf(const Watcher& w, xcb_keycode_t key)
{
    return KeySyms::VirtualKeysOfLevels(Keysym(w, key, 0), Keysym(w, key, 1));
}

void LoadKeyboard(Watcher& w)
{
    const xcb_setup_t* setup = xcb_get_setup(w.conn);
    w.minKeycode = setup->min_keycode;
    w.maxKeycode = setup->max_keycode;
    auto* km = xcb_get_keyboard_mapping_reply(
        w.conn, xcb_get_keyboard_mapping(w.conn, w.minKeycode, w.maxKeycode - w.minKeycode + 1), nullptr);
    if (km) {
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(km);
        w.perKeycode = km->keysyms_per_keycode;
        w.keysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(km));
        std::free(km);
    } else {
        Log("keyboard mapping not available", 0);
    }
    w.mods = KeyHookRecord::XModifiers{};
    w.mods.alt = 0;
    w.mods.numLock = 0;
    auto* mm = xcb_get_modifier_mapping_reply(w.conn, xcb_get_modifier_mapping(w.conn), nullptr);
    if (!mm)
        return;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mm);
    for (int mod = 3; mod < 8; ++mod) { // Mod1 .. Mod5
        for (int i = 0; i < mm->keycodes_per_modifier; ++i) {
            const xcb_keycode_t key = codes[mod * mm->keycodes_per_modifier + i];
            for (int level = 0; key && level < w.perKeycode; ++level) {
                const xcb_keysym_t s = Keysym(w, key, level);
                if ((s == 0xffe9 || s == 0xffea || s == 0xffe7) && !w.mods.alt) // Alt_L, Alt_R, Meta_L
                    w.mods.alt = std::uint16_t(1 << mod);
                if (s == 0xff7f && !w.mods.numLock) // Num_Lock
                    w.mods.numLock = std::uint16_t(1 << mod);
            }
        }
    }
    std::free(mm);
}

// The record, or an empty one while the program has not written it yet.
Record ReadRecord(Watcher& w)
{
    if (!w.shm) {
        const int fd = shm_open(w.shmName.c_str(), O_RDONLY, 0);
        if (fd < 0)
            return {};
        struct stat st{};
        if (fstat(fd, &st) == 0 && st.st_size >= off_t(KeyHookRecord::kSharedSize)) {
            void* p = mmap(nullptr, KeyHookRecord::kSharedSize, PROT_READ, MAP_SHARED, fd, 0);
            if (p != MAP_FAILED)
                w.shm = static_cast<const unsigned char*>(p);
        }
        close(fd);
        if (!w.shm)
            return {};
    }
    unsigned char copy[KeyHookRecord::kRecordSize];
    std::memcpy(copy, w.shm, sizeof copy);
    return KeyHookRecord::Decode(copy);
}

void Ungrab(Watcher& w)
{
    for (xcb_keycode_t key : w.grabbedKeys) {
        for (std::uint16_t state : w.grabbedStates)
            xcb_ungrab_key(w.conn, key, w.root, state);
    }
    w.grabbedKeys.clear();
    w.grabbedStates.clear();
    xcb_flush(w.conn);
}

void Regrab(Watcher& w, const Record& r)
{
    Ungrab(w);
    w.grabbed = r;
    if (r.keyCode == 0)
        return;
    const auto states = KeyHookRecord::GrabStates(r, w.mods);
    for (int key = w.minKeycode; key <= w.maxKeycode; ++key) {
        const auto codes = KeyCodesOf(w, xcb_keycode_t(key));
        if (std::find(codes.begin(), codes.end(), r.keyCode) == codes.end())
            continue;
        bool taken = false;
        for (std::uint16_t state : states) {
            const auto cookie = xcb_grab_key_checked(w.conn, 1, w.root, state, xcb_keycode_t(key),
                                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* err = xcb_request_check(w.conn, cookie)) {
                taken = true;
                std::free(err);
            }
        }
        // Another client holds the same combination: it gets the key, we may still see the other variants.
        if (taken)
            Log("the alert key is grabbed by another program, keycode", key);
        w.grabbedKeys.push_back(xcb_keycode_t(key));
    }
    w.grabbedStates = states;
    if (w.grabbedKeys.empty())
        Log("no key on this keyboard has the virtual-key code", r.keyCode);
}

void HandleEvent(Watcher& w, xcb_generic_event_t* ev)
{
    switch (ev->response_type & 0x7f) {
    case XCB_KEY_PRESS: {
        auto* k = reinterpret_cast<xcb_key_press_event_t*>(ev);
        const bool repeat = k->detail == w.lastReleaseKey && k->time == w.lastReleaseTime;
        w.eventTime = k->time;
        w.proc(0, k->detail, std::intptr_t(k->state) | (repeat ? (1L << 30) : 0));
        break;
    }
    case XCB_KEY_RELEASE: {
        auto* k = reinterpret_cast<xcb_key_release_event_t*>(ev);
        w.lastReleaseKey = k->detail;
        w.lastReleaseTime = k->time;
        w.eventTime = k->time;
        w.proc(0, k->detail, std::intptr_t(k->state) | (1L << 31));
        break;
    }
    case XCB_MAPPING_NOTIFY:
        LoadKeyboard(w);
        Regrab(w, w.grabbed);
        break;
    default:
        break;
    }
}

void Run(Watcher* w)
{
    pollfd fds[3] = {
        {xcb_get_file_descriptor(w->conn), POLLIN, 0}, {w->stopPipe[0], POLLIN, 0}, {w->changed, POLLIN, 0}};
    for (;;) {
        const Record r = ReadRecord(*w);
        if (r.keyCode != w->grabbed.keyCode || KeyHookRecord::Modifiers(r) != KeyHookRecord::Modifiers(w->grabbed))
            Regrab(*w, r);
        w->grabbed = r;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(w->conn)) {
            HandleEvent(*w, ev);
            std::free(ev);
        }
        if (xcb_connection_has_error(w->conn)) {
            Log("the X connection broke", xcb_connection_has_error(w->conn));
            return;
        }
        xcb_flush(w->conn);
        if (poll(fds, 3, w->told ? -1 : kRecordPollMs) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            break;
        std::uint64_t count = 0;
        if (fds[2].revents && read(w->changed, &count, sizeof count) < 0 && errno != EAGAIN)
            Log("cannot read the change signal", errno);
    }
    Ungrab(*w);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) long KeyboardProc(int code, std::uintptr_t wParam, std::intptr_t lParam)
{
    Watcher* w = g_watcher;
    if (code < 0 || !w)
        return 0;
    const auto keycode = xcb_keycode_t(wParam);
    KeyHookRecord::KeyEvent ev;
    ev.press = !(lParam & (1L << 31));
    ev.autoRepeat = (lParam & (1L << 30)) != 0;
    ev.state = std::uint16_t(lParam & 0xffff);
    ev.keyCodes = KeyCodesOf(*w, keycode);
    const Record r = ReadRecord(*w);
    if (!KeyHookRecord::Fires(r, ev, w->mods))
        return 0;

    xcb_key_press_event_t out{};
    out.response_type = XCB_KEY_PRESS;
    out.detail = keycode;
    out.time = w->eventTime;
    out.root = w->root;
    out.event = xcb_window_t(r.window);
    out.child = XCB_NONE;
    out.same_screen = 1;
    out.state = std::uint16_t((r.shift ? XCB_MOD_MASK_SHIFT : 0) | (r.ctrl ? XCB_MOD_MASK_CONTROL : 0) |
                              (r.alt ? XCB_MOD_MASK_1 : 0));
    // No event mask: the event goes to the client that created the window, mapped or not.
    const auto cookie = xcb_send_event_checked(w->conn, 0, out.event, XCB_EVENT_MASK_NO_EVENT,
                                               reinterpret_cast<const char*>(&out));
    if (xcb_generic_error_t* err = xcb_request_check(w->conn, cookie)) {
        Log("the target window cannot be reached, X error", err->error_code);
        std::free(err);
        return 0;
    }
    return 1;
}

__attribute__((visibility("default"))) std::int32_t TvSetKeyboardHook(TvKeyboardProc proc)
{
    if (g_watcher || !proc)
        return 0;
    int screenNo = 0;
    xcb_connection_t* conn = xcb_connect(nullptr, &screenNo);
    if (xcb_connection_has_error(conn)) {
        Log("cannot open the X display", xcb_connection_has_error(conn));
        xcb_disconnect(conn);
        return 0;
    }
    auto* w = new Watcher;
    w->conn = conn;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNo && it.rem; ++i)
        xcb_screen_next(&it);
    w->root = it.data->root;
    w->proc = proc;
    w->shmName = KeyHookRecord::SharedMemoryName(std::getenv("DISPLAY"), unsigned(getuid()));
    LoadKeyboard(*w);
    w->changed = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->changed < 0 || pipe2(w->stopPipe, O_CLOEXEC) != 0) {
        Log("no stop pipe", errno);
        if (w->changed >= 0)
            close(w->changed);
        xcb_disconnect(conn);
        delete w;
        return 0;
    }
    w->handle = g_nextHandle++;
    g_watcher = w;
    w->thread = std::thread(Run, w);
    return w->handle;
}

__attribute__((visibility("default"))) int TvUnhookKeyboard(std::int32_t hook)
{
    Watcher* w = g_watcher;
    if (!w || hook != w->handle)
        return 0;
    const char stop = 1;
    if (write(w->stopPipe[1], &stop, 1) != 1)
        Log("cannot stop the key thread", errno);
    w->thread.join();
    g_watcher = nullptr;
    xcb_disconnect(w->conn);
    close(w->stopPipe[0]);
    close(w->stopPipe[1]);
    close(w->changed);
    if (w->shm)
        munmap(const_cast<unsigned char*>(w->shm), KeyHookRecord::kSharedSize);
    delete w;
    return 1;
}

__attribute__((visibility("default"))) int TvKeyRecordChanged()
{
    Watcher* w = g_watcher;
    if (!w)
        return 0;
    w->told = true;
    const std::uint64_t one = 1;
    if (write(w->changed, &one, sizeof one) != sizeof one) {
        Log("cannot signal the change", errno);
        return 0;
    }
    return 1;
}
}
