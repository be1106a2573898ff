// The port's single state, and the per-call bookkeeping the test API observes.
#include "port.h"

namespace winport::detail {

PortState &Port()
{
    static PortState state;
    static bool laidOut = false;
    if (!laidOut) {
        laidOut = true;  // before SetLayout, which comes back here
        SetLayout({MonitorSpec{RECT{0, 0, 1024, 768}}});
    }
    return state;
}

void EnterCall(const char *name)
{
    PortState &port = Port();
    if (port.recordCalls)
        port.callLog.emplace_back(name);
}

bool EnterCall(const char *name, Call call)
{
    EnterCall(name);
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
