// The port's single state, and the failing calls the test API asks for.
#include <malloc.h>

#include "port.h"

namespace winport::detail {

PortState &Port()
{
    static PortState state;
    static bool laidOut = false;
    if (!laidOut) {
        laidOut = true;  // before SetLayout, which comes back here
        // glibc raises its mmap threshold to the size of any mapped block freed (a pixel store, or one
        // of the vertex buffers Mesa replaces every few hundred frames); blocks that size then come from
        // the heap, where small blocks allocated between them leave the freed space in pieces too small
        // for the next one, and the heap creeps. A fixed threshold keeps them mapped.
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // glibc's own starting value
        SetLayout({MonitorSpec{RECT{0, 0, 1024, 768}}});
    }
    return state;
}

bool Failing(Call call)
{
    PortState &port = Port();
    auto it = port.failures.find(call);
    if (it == port.failures.end())
        return false;
    Failure &failure = it->second;
    if (failure.skip > 0) {
        --failure.skip;
        return false;
    }
    if (failure.count <= 0)
        return false;
    --failure.count;
    return true;
}

}  // namespace winport::detail
