// What every presenter's X connection shares: Xlib's errors handled the programs' way.
#ifndef WINPORT_X11_SESSION_H
#define WINPORT_X11_SESSION_H

#include "end_because.h"

namespace winport::detail {

// The server going away ends the program with EndBecause; a refused request (a grab the server
// would not give, a window gone) is no reason to end it.
void HandleXErrorsQuietly();

}  // namespace winport::detail

#endif
