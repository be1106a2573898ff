// The multimedia timer of the Windows subset.
#ifndef WINPORT_MMSYSTEM_H
#define WINPORT_MMSYSTEM_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Milliseconds since system start; wraps after about 49.7 days.
DWORD WINAPI timeGetTime(void);

#ifdef __cplusplus
}
#endif

#endif
