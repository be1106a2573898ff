#include "x11_session.h"

#include <X11/Xlib.h>

namespace winport::detail {

namespace {

int DisplayLost(Display *) { EndBecause("the display went away"); }
int IgnoreError(Display *, XErrorEvent *) { return 0; }

}  // namespace

void HandleXErrorsQuietly()
{
    XSetIOErrorHandler(DisplayLost);
    XSetErrorHandler(IgnoreError);
}

}  // namespace winport::detail
