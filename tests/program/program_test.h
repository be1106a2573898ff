// The real program code on the headless desktop: a fresh desktop and fresh globals for every run,
// the program run to a chosen message retrieval, and the screen judged pixel by pixel against the
// model of what it must show.
#ifndef TOVIX_TESTS_PROGRAM_PROGRAM_TEST_H
#define TOVIX_TESTS_PROGRAM_PROGRAM_TEST_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "model.h"
#include "tovix.h"
#include "winport/test_api.h"

namespace program_test {

using Layout = std::vector<winport::MonitorSpec>;

// Primary first, as the enumeration reports them. Small, so that every pixel can be compared.
struct NamedLayout {
    const char *name;
    Layout monitors;
    DWORD clock;  // tovixtiles' colour phase turns with it; the largest value is past 2^31
};
inline void PrintTo(const NamedLayout &l, std::ostream *os) { *os << l.name; }
inline const NamedLayout kLayouts[] = {
    {"OneMonitor", {{{0, 0, 320, 240}}}, 0},
    {"LeftOfPrimary", {{{0, 0, 320, 240}}, {{-200, 0, 0, 150}}}, 13000},
    {"AbovePrimary", {{{0, 0, 320, 240}}, {{40, -150, 240, 0}}}, 7000},
    {"WithGap", {{{0, 0, 320, 240}}, {{400, 60, 600, 210}}}, 0xFFFFFFFFu},
};
inline const NamedLayout &LeftOfPrimary() { return kLayouts[1]; }

// What the monitors showed before the program started.
const model::Rgb kBackdrop{40, 90, 160};

inline model::Rect ToRect(const RECT &r) { return {r.left, r.top, r.right, r.bottom}; }
// In virtual-screen coordinates and enumeration order.
inline std::vector<model::Rect> Monitors()
{
    std::vector<model::Rect> out;
    for (const RECT &r : winport::Monitors())
        out.push_back(ToRect(r));
    return out;
}

// Every pixel of the virtual screen.
struct Picture {
    model::Rect area = ToRect(winport::VirtualScreen());
    int width = area.right - area.left;
    std::vector<model::Rgb> pixels = std::vector<model::Rgb>(size_t(width * (area.bottom - area.top)), kBackdrop);
    bool lineCorner = false;  // tovixquads' start-up line may light the bottom-left pixel white, or not
    int cornerX = area.left, cornerY = area.bottom - 1;

    model::Rgb &At(int x, int y) { return pixels[size_t((y - area.top) * width + x - area.left)]; }
    void Fill(const model::Rect &r, const model::Rgb &c)
    {
        const model::Rect in = model::Clip(r, area);
        for (int y = in.top; y < in.bottom; ++y)
            std::fill_n(&At(in.left, y), std::max(0, in.right - in.left), c);
    }
};

// The monitors show `expected`, each component within `tolerance`; what lies on no monitor is
// never seen. Names the first pixels that differ.
inline ::testing::AssertionResult ScreenShows(Picture expected, int tolerance = 0)
{
    const std::vector<COLORREF> screen = winport::ScreenPixels();
    long wrong = 0;
    std::string first;
    auto text = [](const model::Rgb &c) { return std::to_string(c.r) + "/" + std::to_string(c.g) + "/" + std::to_string(c.b); };
    for (const model::Rect &m : Monitors())
        for (int y = m.top; y < m.bottom; ++y)
            for (int x = m.left; x < m.right; ++x) {
                const COLORREF c = screen.at(size_t((y - expected.area.top) * expected.width + x - expected.area.left));
                const model::Rgb got{int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF)};
                const bool corner = expected.lineCorner && x == expected.cornerX && y == expected.cornerY;
                if (!model::Near(got, expected.At(x, y), tolerance) && !(corner && got == model::kWhite) && ++wrong <= 3)
                    first += " (" + std::to_string(x) + "," + std::to_string(y) + ") is " + text(got) + ", not " +
                             text(expected.At(x, y)) + ";";
            }
    if (wrong == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong << " pixels differ:" << first;
}

// tovixtiles after `paints` paints: the first inside window creation, then the blackout, then one
// per message retrieval. `lost(paint, monitor)` marks tiles a failed call kept off the screen,
// `blackedOut(monitor)` the monitors the blackout reached.
// `preview`: drawn in a preview over that area, which is the one monitor and the virtual screen.
inline Picture TilesPicture(long paints, DWORD clock, const std::function<bool(long, size_t)> &lost = nullptr,
                            const std::function<bool(size_t)> &blackedOut = nullptr,
                            const model::Rect *preview = nullptr)
{
    Picture p;
    const std::vector<model::Rect> monitors = preview ? std::vector<model::Rect>{*preview} : Monitors();
    const model::Rect virt = preview ? *preview : p.area;
    model::Random rng;
    for (long paint = 0; paint < paints; ++paint) {
        for (size_t m = 0; m < monitors.size(); ++m) {
            const model::Tile t = model::NextTile(rng, monitors[m], virt, clock);
            if (!lost || !lost(paint, m))
                p.Fill(model::Clip(t.rect, monitors[m]), t.colour);
        }
        for (size_t m = 0; paint == 0 && m < monitors.size(); ++m)
            if (!blackedOut || blackedOut(m))
                p.Fill(monitors[m], model::kBlack);
    }
    return p;
}

// tovixquads once the surface is shown and `frames` frames after the first (drawn before the
// surface existed) have been copied; ground false: the surface never got its ground or a frame,
// so the monitors show the blackout.
inline Picture QuadsPicture(long frames, bool ground = true, const model::Rect *preview = nullptr)
{
    Picture p;
    const model::Rect a = preview ? *preview : p.area;
    const int width = a.right - a.left;
    const int height = a.bottom - a.top;
    p.Fill(a, ground ? model::kOrange : model::kBlack);
    p.lineCorner = ground;
    p.cornerX = a.left;
    p.cornerY = a.bottom - 1;
    model::Random rng;
    model::NextQuadFrame(rng, width, height);
    for (long i = 0; ground && i < frames; ++i) {
        const model::QuadFrame f = model::NextQuadFrame(rng, width, height);
        for (const model::Rect &s : f.squares)
            p.Fill(model::Clip({s.left + a.left, s.top + a.top, s.right + a.left, s.bottom + a.top}, a), f.colour);
    }
    return p;
}

// Defined by each program's tests: its own globals as a new process has them.
void ResetProgramGlobals();

// A fresh desktop showing the backdrop, a fixed clock, and the globals of a new process; false
// when the desktop refuses the layout.
inline bool Start(const Layout &layout, DWORD clock = 0)
{
    if (!winport::ResetDesktop(layout))
        return false;
    winport::SetClock(clock);
    winport::SetRetrievalLimit(2000);  // a loop that does not end aborts instead of hanging
    g_randomState = 1;
    MouseOrigin = MouseOriginRecord{};
    g_hInstance = NULL;
    g_hWnd = NULL;
    g_hDC = NULL;
    g_hRC = NULL;
    g_hScreenWnd = NULL;
    VirtualScreenRect = VirtualScreen{};
    std::fill(std::begin(g_windowTitle), std::end(g_windowTitle), '\0');
    std::fill(std::begin(g_className), std::end(g_className), '\0');
    ResetProgramGlobals();
    const RECT v = winport::VirtualScreen();
    HDC screen = GetDC(NULL);
    HBRUSH brush = CreateSolidBrush(COLORREF(kBackdrop.r | kBackdrop.g << 8 | kBackdrop.b << 16));
    FillRect(screen, &v, brush);
    DeleteObject(brush);
    ReleaseDC(NULL, screen);
    return true;
}

// Runs the program; `each` sees the start of every message retrieval, and a character typed at
// retrieval `end` ends the program unless it has ended before.
inline int RunProgram(long end, const std::function<void(long)> &each = nullptr)
{
    winport::SetRetrievalHook([=](long n) {
        if (each)
            each(n);
        if (n == end)
            winport::InjectCharacter('x');
    });
    char commandLine[] = "";
    return WinMain(NULL, NULL, commandLine, SW_SHOWNORMAL);
}

// What a long run must not grow: resident memory (KiB), descriptors, GDI objects and DCs held.
inline std::vector<long> Usage()
{
    long pages = 0, resident = 0, fds = -2;  // . and ..
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        resident = std::fscanf(f, "%ld %ld", &pages, &resident) == 2 ? resident * sysconf(_SC_PAGESIZE) / 1024 : 0;
        std::fclose(f);
    }
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++fds;
        closedir(d);
    }
    return {resident, fds, winport::LiveGdiObjects(), winport::OutstandingDCs()};
}

// Runs the program on two monitors for `retrievals` (TOVIX_SOAK_RETRIEVALS, for the benchmark's long
// soak) and expects nothing to grow after the first third, resident memory by at most 1 MiB.
inline void Soak(long retrievals)
{
    if (const char *given = std::getenv("TOVIX_SOAK_RETRIEVALS"))
        retrievals = std::atol(given);
    ASSERT_TRUE(Start({{{0, 0, 1024, 768}}, {{-800, 0, 0, 600}}}));
    winport::SetRetrievalLimit(retrievals + 100);
    std::vector<long> before, after;
    ASSERT_EQ(RunProgram(retrievals, [&](long n) {
                  if (n == retrievals / 3)
                      before = Usage();
                  if (n == retrievals)
                      after = Usage();
              }),
              0);
    std::printf("%ld retrievals: resident %ld -> %ld KiB after the first third\n", retrievals, before[0], after[0]);
    EXPECT_LE(after[0] - before[0], 1024);
    EXPECT_EQ(std::vector<long>(after.begin() + 1, after.end()), std::vector<long>(before.begin() + 1, before.end()))
        << "descriptors, GDI objects, DCs";
}

// A preview in the settings dialog: its preview window at `parent` (virtual-screen coordinates),
// hidden by the dialog at retrieval `hideAt` (0: never), which leaves only the program's timer.
struct PreviewCase {
    const char *name;
    Layout monitors;
    RECT parent;
    long hideAt;
};
inline void PrintTo(const PreviewCase &c, std::ostream *os) { *os << c.name; }
inline const PreviewCase kPreviews[] = {
    {"OnThePrimary", {{{0, 0, 320, 240}}}, {40, 30, 192, 142}, 0},
    {"AcrossTwoMonitors", {{{0, 0, 320, 240}}, {{-200, 0, 0, 150}}}, {-60, 20, 92, 132}, 0},
    {"HiddenBeforeItsParentGoes", {{{0, 0, 320, 240}}}, {100, 90, 252, 202}, 30},
};

// At retrieval `check` the screen shows `expected(check, area)`, drawn over the parent's area alone,
// with no capture or hidden pointer, at idle priority; input over it changes nothing, and the
// parent going ends it at once with exit code 0.
inline void RunPreviewCase(const PreviewCase &c, long check,
                           const std::function<Picture(long, const model::Rect &)> &expected, int tolerance)
{
    ASSERT_TRUE(Start(c.monitors, 5000));
    WNDCLASSEXA wc{sizeof wc, 0, DefWindowProcA, 0, 0, NULL, NULL, NULL, NULL, NULL, "Dialog", NULL};
    RegisterClassExA(&wc);
    const RECT &r = c.parent;
    HWND parent = CreateWindowExA(0, "Dialog", "", WS_POPUP | WS_VISIBLE, r.left, r.top, r.right - r.left,
                                  r.bottom - r.top, NULL, NULL, NULL, NULL);
    UpdateWindow(parent);  // painted: its paint messages would take the program's retrievals
    const long end = 33;
    winport::SetRetrievalHook([&](long n) {
        if (n == check) {
            EXPECT_TRUE(ScreenShows(expected(check, ToRect(r)), tolerance));
            EXPECT_TRUE(!winport::CaptureWindow() && !winport::CursorHidden() &&
                        winport::ThreadPriority() == THREAD_PRIORITY_IDLE);
            winport::InjectPointerMove(r.left + 10, r.top + 10);
            winport::InjectPointerMove(r.left + 50, r.top + 40);
            winport::InjectClick(winport::Button::Left);
            winport::InjectKeyPress('A');
        }
        if (n == c.hideAt)
            ShowWindow(parent, SW_HIDE);
        if (n == end)
            winport::DestroyWindowExternally(parent);
    });
    EXPECT_EQ(RunPreviewProgram(NULL, parent), 0);
    // Continuous mode peeks at the quit message before it takes it.
    EXPECT_TRUE(winport::Retrievals() == end || winport::Retrievals() == end + 1) << winport::Retrievals();
    EXPECT_TRUE(winport::Windows().empty());
}

class ProgramTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        winport::SetRetrievalHook(nullptr);
        winport::ResetDesktop();
    }
};

}  // namespace program_test

#endif
