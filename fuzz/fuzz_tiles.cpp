// tovixtiles on any monitor layout (overlaps, gaps, single pixels, negative origins) with any input:
// it must end exactly when the quit rules, stated here on their own, say so, and the monitors must
// show the model's tiles pixel for pixel.
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "program_test.h"

void program_test::ResetProgramGlobals() {}

// Keys, and whether each types a character and so ends the program.
const std::pair<WORD, bool> kKeys[] = {{'A', true},        {'7', true},         {VK_SPACE, true},
                                       {VK_ESCAPE, true},  {VK_RETURN, true},   {VK_SHIFT, false},
                                       {VK_CONTROL, false}, {VK_LEFT, false},   {VK_F1, false}};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace program_test;
    size_t at = 0;
    auto next = [&] { return at < size ? int(data[at++]) : 0; };
    Layout layout(size_t(next() % 3 + 1));
    for (winport::MonitorSpec &m : layout) {
        const int left = (next() - 128) * 4, top = (next() - 128) * 4;
        m.rect = RECT{left, top, left + next() + 1, top + next() + 1};
    }
    const DWORD clock = DWORD(next()) * 100000u;
    if (!Start(layout, clock))
        return 0;
    const RECT v = winport::VirtualScreen();
    const RECT primary = layout[0].rect;
    bool quits = false, origin = false;
    int ox = 0, oy = 0;
    std::vector<std::function<void()>> steps;
    for (int i = 0; i < 12 && at + 2 <= size; ++i) {
        const int kind = next() % 6, arg = next();
        if (kind == 0) {  // moves land near the primary's centre, or anywhere at all
            const int x = arg & 0x80 ? (primary.left + primary.right) / 2 + (arg & 7) - 3 : v.left - 8 + arg * 37;
            const int y = arg & 0x80 ? (primary.top + primary.bottom) / 2 + (arg >> 3 & 7) - 3 : v.top - 8 + arg * 23;
            const int cx = uint16_t(x - v.left), cy = uint16_t(y - v.top);
            quits = quits || (origin && (std::abs(cx - ox) > 2 || std::abs(cy - oy) > 2));
            if (!origin)
                ox = cx, oy = cy, origin = true;
            steps.push_back([=] { winport::InjectPointerMove(x, y); });
        } else if (kind == 1) {
            quits = true;
            steps.push_back([=] { winport::InjectButton(winport::Button(arg % 3), arg & 1); });
        } else if (kind == 2) {
            quits = true;
            steps.push_back([=] { winport::InjectWheel(arg & 1 ? 120 : -120); });
        } else if (kind == 3) {
            const auto [vk, types] = kKeys[arg % (sizeof kKeys / sizeof kKeys[0])];
            quits = quits || types;
            steps.push_back([vk = vk] { winport::InjectKeyPress(vk); });
        } else {
            steps.push_back([] {});  // a retrieval with nothing new: a paint
        }
    }
    const long marker = 2 + long(steps.size()) + 30;
    const int code = RunProgram(marker, [&](long n) {
        if (n >= 2 && size_t(n - 2) < steps.size())
            steps[size_t(n - 2)]();
    });
    // Every tile takes six draws, so the state tells how many paints there were.
    const size_t monitors = layout.size();
    model::Random rng;
    long paints = 0;
    for (; rng.state != g_randomState && paints < marker + 1; ++paints)
        for (size_t d = 0; d < 6 * monitors; ++d)
            rng.Next();
    const ::testing::AssertionResult picture = ScreenShows(TilesPicture(paints, clock));
    if (code != 0 || (winport::Retrievals() < marker) != quits || rng.state != g_randomState || !picture ||
        winport::LiveGdiObjects() != 0 || winport::OutstandingDCs() != 0) {
        std::fprintf(stderr, "exit %d, ended at retrieval %ld (marker %ld), quit expected %d, %ld GDI objects, %s\n",
                     code, winport::Retrievals(), marker, quits, winport::LiveGdiObjects(), picture.message());
        std::abort();
    }
    return 0;
}
