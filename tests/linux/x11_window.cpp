// A stand-in desktop application for the Linux window listing: one top-level window with the
// given title and its process id (_NET_WM_PID); with "owned", that window unmapped and a second
// one owned by it (WM_TRANSIENT_FOR) with the title given after the first. Prints "mapped" once
// the windows are up, then runs until killed.
//   x11_window TITLE [owned OWNED_TITLE]

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

Window makeWindow(Display* display, const char* title) {
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 10, 10, 200, 100, 0, 0, WhitePixel(display, 0));
    XStoreName(display, window, title);
    const long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XMapWindow(display, window);
    return window;
}

}  // namespace

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr || argc < 2) {
        std::fprintf(stderr, "x11_window: no display, or no title\n");
        return 1;
    }
    const Window main = makeWindow(display, argv[1]);
    if (argc > 3 && std::strcmp(argv[2], "owned") == 0) {
        const Window owned = makeWindow(display, argv[3]);
        XSetTransientForHint(display, owned, main);
        // The owner itself is no window of the listing's: unmapped, it is only the owner.
        XUnmapWindow(display, main);
    }
    XSync(display, False);
    std::printf("mapped\n");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}
