// An idle-priority thread takes its turns only while the processors have nothing else to do. The
// kernel's own idle class keeps it behind the work of its own session alone (autogroups and cgroups
// share the processor between sessions and scopes first), and an ordinary user may not leave that
// class again, so the thread also steps aside by itself: while other runnable work fills every
// processor, it waits for input instead of drawing.
#ifndef WINPORT_IDLE_TURNS_H
#define WINPORT_IDLE_TURNS_H

namespace winport::detail {

// From the text of /proc/loadavg: whether runnable threads other than the caller, which is running
// as it reads, number at least `processors`. False for text it cannot read.
bool OthersFillProcessors(const char *loadavg, long processors);

// Whether this machine shows its runnable threads, so that a thread can step aside by itself.
bool CanSeeLoad();

// On the GUI thread's every message retrieval: at idle priority, while other work fills every
// processor and no input waits to be handled, waits for input instead of returning to draw, for
// up to half a second at a time.
void StepAsideWhileBusy();

}  // namespace winport::detail

#endif
