// A client that is already connected when it injects the input that ends a program, so the time
// measured is the program's alone, not a client's start. Reads one command a line on standard input
// and answers each with one line:
//   key | button    injects a press of 'a' or of the first button through XTEST; answers the
//                   monotonic clock's nanoseconds at the moment the press is flushed to the server,
//                   then at the moment the server has answered the next request (it has handled
//                   the press, so delivered the input)
//   window          makes a mapped window the size of the screen, as a screen-saver daemon does,
//                   white until something draws in it; answers its id
// Runs until standard input ends.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

long long Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Presses, stamps the moment the request leaves (just before, so that this client's own turn for the
// processor never counts in the program's favour) and the moment the server has handled it, then
// releases.
void Press(Display *display, bool key, long long *sent, long long *handled)
{
    KeyCode code = XKeysymToKeycode(display, XK_a);
    if (key)
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    else
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
    *sent = Now();
    XSync(display, False);
    *handled = Now();
    if (key)
        XTestFakeKeyEvent(display, code, False, CurrentTime);
    else
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
}

}  // namespace

int main()
{
    Display *display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (display == nullptr || !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "inject: no display with XTEST\n");
        return 1;
    }
    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        if (std::strcmp(line, "key\n") == 0 || std::strcmp(line, "button\n") == 0) {
            long long sent = 0, handled = 0;
            Press(display, line[0] == 'k', &sent, &handled);
            std::printf("%lld %lld\n", sent, handled);
        } else if (std::strcmp(line, "window\n") == 0) {
            int screen = DefaultScreen(display);
            ::Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                                                  static_cast<unsigned>(DisplayWidth(display, screen)),
                                                  static_cast<unsigned>(DisplayHeight(display, screen)), 0, 0,
                                                  WhitePixel(display, screen));
            XMapWindow(display, window);
            XSync(display, False);
            std::printf("%lu\n", window);
        } else {
            std::printf("?\n");
        }
        std::fflush(stdout);
    }
    XCloseDisplay(display);
    return 0;
}
