// Starts a program and reports how long it took until its first top-level window was
// mapped on the X server, then closes that window as a user would and reports the
// program's peak resident memory. Both figures are measured the same way for any program,
// so two programs can be compared run against run.
//
//   launch_until_mapped PROGRAM [ARGS...]
//   prints: "<milliseconds to map> <peak RSS in KiB>"
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

double NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The pid a window says it belongs to (_NET_WM_PID), or 0 when it does not say.
long WindowPid(Display* display, Window window) {
    const Atom property = XInternAtom(display, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data && count == 1 && format == 32)
        pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return pid;
}

// Waits for the next X event up to deadline; false when the time ran out.
bool NextEvent(Display* display, XEvent& event, double deadline) {
    while (!XPending(display)) {
        const double left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left) + 1);
    }
    XNextEvent(display, &event);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    // Without a window manager every top-level window is a child of the root, so its
    // MapNotify reaches whoever listens to the root's substructure.
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double start = NowMs();
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        close(ConnectionNumber(display));
        execvp(argv[1], argv + 1);
        _exit(127);
    }

    Window mapped = 0;
    double mappedAt = 0;
    XEvent event;
    while (!mapped && NextEvent(display, event, start + 30000)) {
        // A window of another program, or one that does not say whose it is yet, is not
        // ours; Qt sets _NET_WM_PID before it maps.
        if (event.type == MapNotify && event.xmap.event == root && !event.xmap.override_redirect &&
            WindowPid(display, event.xmap.window) == child) {
            mappedAt = NowMs();
            mapped = event.xmap.window;
        }
    }
    if (!mapped) {
        std::fprintf(stderr, "no window was mapped within 30 s\n");
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 1;
    }

    // Let the first paint finish, so the peak memory includes what showing the window
    // costs, then close it by its close box.
    usleep(300 * 1000);
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = mapped;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, mapped, False, NoEventMask, &close);
    XFlush(display);

    int status = 0;
    rusage usage{};
    for (int waited = 0; wait4(child, &status, WNOHANG, &usage) == 0; ++waited) {
        if (waited == 500) kill(child, SIGKILL);  // 5 s: it did not close
        usleep(10 * 1000);
    }
    std::printf("%.2f %ld\n", mappedAt - start, usage.ru_maxrss);
    XCloseDisplay(display);
    return 0;
}
