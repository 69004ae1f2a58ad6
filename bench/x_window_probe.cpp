// A second X client that measures, from outside, how long a window takes to answer. Every
// 10 ms (after the previous answer) it sends the window a _NET_WM_PING, which the window's own
// event loop must answer by sending it back to the root window; the time to the answer is the
// time the window could not react to the X server. With --paste-every SECONDS it also pastes
// the X primary selection (as a terminal's middle click does) and times each paste to its last
// byte, large selections coming in INCR pieces: as UTF8_STRING, or as TARGET, and COUNT pastes
// at once (as so many programs would), the next ones when all of them are done. It needs a
// display without a window manager (Xvfb, as xvfb-run starts it), see below.
//
//   bench_x_window_probe WINDOW-ID [--paste-every SECONDS [TARGET [COUNT]]]
//
// It runs until its standard input closes, then prints one line:
//   pings N max MS p99 MS pastes N longest-paste MS paste-bytes N
#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

struct Atoms {
    xcb_atom_t protocols, ping, pasteAs, incr;
};

class Paste {
public:
    enum class State { Idle, AwaitingNotify, Incremental };

    // Reads the property the owner wrote, deleting it; returns the bytes read.
    static long readProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                             xcb_atom_t* type) {
        long total = 0;
        uint32_t offset = 0;
        for (;;) {
            xcb_get_property_reply_t* reply =
                xcb_get_property_reply(c,
                                       xcb_get_property(c, 1, window, property,
                                                        XCB_GET_PROPERTY_TYPE_ANY, offset, 1 << 20),
                                       nullptr);
            if (!reply)
                return total;
            *type = reply->type;
            const int length = xcb_get_property_value_length(reply);
            total += length;
            offset += uint32_t(length) / 4;
            const bool more = reply->bytes_after > 0;
            std::free(reply);
            if (!more)
                return total;
        }
    }

    xcb_atom_t property = XCB_ATOM_NONE;
    State state = State::Idle;
    Clock::time_point started;
    long bytes = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WINDOW-ID [--paste-every SECONDS [TARGET [COUNT]]]\n",
                     argv[0]);
        return 2;
    }
    const xcb_window_t target = xcb_window_t(std::strtoul(argv[1], nullptr, 0));
    double pasteEvery = 0;
    if (argc > 3 && std::strcmp(argv[2], "--paste-every") == 0)
        pasteEvery = std::atof(argv[3]);
    const char* pasteAs = argc > 4 ? argv[4] : "UTF8_STRING";
    const size_t atOnce = size_t(std::max(1, argc > 5 ? std::atoi(argv[5]) : 1));

    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    const Atoms atoms{atom(c, "WM_PROTOCOLS"), atom(c, "_NET_WM_PING"), atom(c, pasteAs),
                      atom(c, "INCR")};

    // The answers come to the root window; the pasted text to a window of our own. The window
    // sends its answer for the window manager (with substructure redirection in its mask), and
    // the server hands such an event only to the client that redirects the root's substructure:
    // under a bare X server (Xvfb) without a window manager, the probe takes that place, so a
    // window that the program maps while the probe runs waits for the probe to end.
    const uint32_t rootMask =
        XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    if (xcb_generic_error_t* refused = xcb_request_check(
            c, xcb_change_window_attributes_checked(c, root, XCB_CW_EVENT_MASK, &rootMask))) {
        std::free(refused);
        std::fprintf(stderr, "a window manager runs on this display: use a bare one (xvfb-run)\n");
        return 2;
    }
    const xcb_window_t own = xcb_generate_id(c);
    const uint32_t ownMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, own, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &ownMask);
    xcb_flush(c);

    std::vector<double> pings;
    uint32_t serial = 0;
    Clock::time_point pingSent;
    bool pingOut = false;
    Clock::time_point nextPing = Clock::now();
    const Clock::time_point start = Clock::now();
    Clock::time_point nextPaste = start + std::chrono::milliseconds(long(pasteEvery * 1000));
    std::vector<double> pastes;
    long pasteBytes = 0;
    std::vector<Paste> round(atOnce);
    for (size_t i = 0; i < atOnce; ++i)
        round[i].property = atom(c, ("VMX_PASTE_" + std::to_string(i)).c_str());
    const auto idle = [&] {
        return std::all_of(round.begin(), round.end(),
                           [](const Paste& p) { return p.state == Paste::State::Idle; });
    };
    // A paste done: the next round starts pasteEvery after the last of this one.
    const auto done = [&](Paste& paste) {
        pastes.push_back(msSince(paste.started));
        pasteBytes = std::max(pasteBytes, paste.bytes);
        paste.state = Paste::State::Idle;
        nextPaste = Clock::now() + std::chrono::milliseconds(long(pasteEvery * 1000));
    };

    const auto sendPing = [&] {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = target;
        event.type = atoms.protocols;
        event.data.data32[0] = atoms.ping;
        event.data.data32[1] = ++serial;
        event.data.data32[2] = target;
        xcb_send_event(c, 0, target, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(c);
        pingSent = Clock::now();
        pingOut = true;
    };

    bool inputOpen = true;
    while (inputOpen || pingOut) {
        const Clock::time_point now = Clock::now();
        if (!pingOut && now >= nextPing && inputOpen)
            sendPing();
        if (pasteEvery > 0 && idle() && now >= nextPaste && inputOpen) {
            for (Paste& paste : round) {
                xcb_convert_selection(c, own, XCB_ATOM_PRIMARY, atoms.pasteAs, paste.property,
                                      XCB_CURRENT_TIME);
                paste.state = Paste::State::AwaitingNotify;
                paste.started = Clock::now();
                paste.bytes = 0;
            }
            xcb_flush(c);
        }
        pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {0, POLLIN, 0}};
        ::poll(fds, inputOpen ? 2 : 1, 2);
        if (inputOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buffer[64];
            if (::read(0, buffer, sizeof buffer) <= 0)
                inputOpen = false;
        }
        if (!inputOpen && pingOut && msSince(pingSent) > 30'000)
            break;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                if (message->window == root && message->data.data32[0] == atoms.ping &&
                    message->data.data32[1] == serial && pingOut) {
                    pings.push_back(msSince(pingSent));
                    pingOut = false;
                    nextPing = pingSent + std::chrono::milliseconds(10);
                }
            } else if (type == XCB_SELECTION_NOTIFY) {
                const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
                for (Paste& paste : round) {
                    if (paste.state != Paste::State::AwaitingNotify ||
                        (notify->property != paste.property && notify->property != XCB_ATOM_NONE))
                        continue;
                    // A refusal names no property: it is taken for the first paste waiting.
                    xcb_atom_t got = XCB_ATOM_NONE;
                    if (notify->property != XCB_ATOM_NONE)
                        paste.bytes = Paste::readProperty(c, own, paste.property, &got);
                    if (got == atoms.incr) {
                        paste.bytes = 0;
                        paste.state = Paste::State::Incremental;
                    } else {
                        done(paste);
                    }
                    break;
                }
            } else if (type == XCB_PROPERTY_NOTIFY) {
                const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
                for (Paste& paste : round) {
                    if (paste.state != Paste::State::Incremental ||
                        property->atom != paste.property ||
                        property->state != XCB_PROPERTY_NEW_VALUE)
                        continue;
                    xcb_atom_t got = XCB_ATOM_NONE;
                    const long piece = Paste::readProperty(c, own, paste.property, &got);
                    paste.bytes += piece;
                    if (piece == 0)
                        done(paste);
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(c))
            break;
    }
    // A ping still unanswered counts with the time it has waited so far.
    if (pingOut)
        pings.push_back(msSince(pingSent));
    for (const Paste& paste : round)
        if (paste.state != Paste::State::Idle)
            pastes.push_back(msSince(paste.started));

    std::vector<double> sorted = pings;
    std::sort(sorted.begin(), sorted.end());
    const double max = sorted.empty() ? 0 : sorted.back();
    const double p99 =
        sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
    const double longestPaste =
        pastes.empty() ? 0 : *std::max_element(pastes.begin(), pastes.end());
    std::printf("pings %zu max %.1f p99 %.1f pastes %zu longest-paste %.1f paste-bytes %ld\n",
                pings.size(), max, p99, pastes.size(), longestPaste, pasteBytes);
    xcb_disconnect(c);
    return 0;
}
