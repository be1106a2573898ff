// What every test of the real program code needs: a fresh headless desktop, the program's globals
// as a new process has them, a bounded message loop, screen snapshots, and an independent model of
// the program's pseudo-random source.
#ifndef TOVIX_TESTS_PROGRAM_FIXTURE_H
#define TOVIX_TESTS_PROGRAM_FIXTURE_H

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shell_globals.h"
#include "tovix.h"
#include "winport/test_api.h"

namespace program_test {

using Layout = std::vector<winport::MonitorSpec>;

inline Layout SinglePrimary() { return {{{0, 0, 1024, 768}}}; }
// A smaller monitor left of the primary: the virtual screen starts at a negative x, and the strip
// below the small monitor belongs to no monitor.
inline Layout LeftOfPrimary() { return {{{-800, 0, 0, 600}}, {{0, 0, 1024, 768}}}; }
// A monitor above the primary: the virtual screen starts at a negative y.
inline Layout AbovePrimary() { return {{{0, 0, 1024, 768}}, {{0, -600, 800, 0}}}; }
// Two monitors with a strip between them that belongs to no monitor.
inline Layout WithGap() { return {{{0, 0, 1024, 768}}, {{1124, 84, 1924, 684}}}; }
// The same arrangements on smaller monitors, where the sizes do not matter and pixels cost time.
inline Layout SmallLeftOfPrimary() { return {{{-320, 0, 0, 240}}, {{0, 0, 640, 480}}}; }
inline Layout SmallAbovePrimary() { return {{{0, 0, 640, 480}}, {{0, -240, 320, 0}}}; }

struct NamedLayout {
    const char *name;
    Layout layout;
};
inline std::vector<NamedLayout> AllLayouts()
{
    return {{"SinglePrimary", SinglePrimary()},
            {"LeftOfPrimary", LeftOfPrimary()},
            {"AbovePrimary", AbovePrimary()},
            {"WithGap", WithGap()}};
}
inline void PrintTo(const NamedLayout &layout, std::ostream *os) { *os << layout.name; }
struct LayoutName {
    std::string operator()(const ::testing::TestParamInfo<NamedLayout> &info) const { return info.param.name; }
};

// A loop that ought to end long before this is broken; the port aborts it instead of hanging.
constexpr long kRetrievalLimit = 1000;

constexpr COLORREF Rgb(int r, int g, int b)
{
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int Red(COLORREF c) { return static_cast<int>(c & 0xFF); }
constexpr int Green(COLORREF c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int Blue(COLORREF c) { return static_cast<int>((c >> 16) & 0xFF); }
constexpr COLORREF kBlack = 0;
constexpr COLORREF kWhite = Rgb(255, 255, 255);

inline std::string Hex(COLORREF c)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(c));
    return text;
}

// A mouse message's lParam: client x and y as two unsigned 16-bit halves.
inline LPARAM PointParam(unsigned x, unsigned y) { return static_cast<LPARAM>((x & 0xFFFFu) | ((y & 0xFFFFu) << 16)); }

inline bool Contains(const RECT &r, LONG x, LONG y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }
inline bool Empty(const RECT &r) { return r.right <= r.left || r.bottom <= r.top; }
inline RECT Intersection(const RECT &a, const RECT &b)
{
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    if (Empty(r))
        r = RECT{0, 0, 0, 0};
    return r;
}
inline bool SameRect(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::string Describe(const RECT &r)
{
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

// The C runtime's rand(), stated apart from the program's own code: a 32-bit linear congruential
// state (multiplier 214013, increment 2531011) whose bits 16..30 are the draw.
struct ModelRandom {
    uint32_t state = 1;

    int Next()
    {
        state = static_cast<uint32_t>((uint64_t{state} * 214013u + 2531011u) % (uint64_t{1} << 32));
        return static_cast<int>(state / 65536u % 32768u);
    }
    void Skip(uint64_t draws)
    {
        for (uint64_t i = 0; i < draws; ++i)
            Next();
    }
};

// Monitors in the order EnumDisplayMonitors reports them, which is the order renderers draw in.
inline std::vector<RECT> EnumeratedMonitors()
{
    std::vector<RECT> found;
    HDC screen = GetDC(NULL);
    EnumDisplayMonitors(
        screen, NULL,
        [](HMONITOR, HDC, LPRECT rect, LPARAM data) -> BOOL {
            reinterpret_cast<std::vector<RECT> *>(data)->push_back(*rect);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    ReleaseDC(NULL, screen);
    return found;
}

inline bool OnAnyMonitor(const std::vector<RECT> &monitors, LONG x, LONG y)
{
    for (const RECT &m : monitors)
        if (Contains(m, x, y))
            return true;
    return false;
}

// Every pixel of the virtual screen as the user sees it.
struct Screen {
    RECT area{};
    std::vector<COLORREF> pixels;

    COLORREF &At(LONG x, LONG y)
    {
        return pixels[static_cast<size_t>(y - area.top) * static_cast<size_t>(area.right - area.left) +
                      static_cast<size_t>(x - area.left)];
    }
    COLORREF At(LONG x, LONG y) const { return const_cast<Screen *>(this)->At(x, y); }
    void Fill(const RECT &r, COLORREF c)
    {
        RECT clipped = Intersection(r, area);
        for (LONG y = clipped.top; y < clipped.bottom; ++y)
            for (LONG x = clipped.left; x < clipped.right; ++x)
                At(x, y) = c;
    }
};

inline Screen CaptureScreen()
{
    Screen s;
    s.area = winport::VirtualScreen();
    s.pixels = winport::ScreenPixels();
    EXPECT_EQ(s.pixels.size(),
              static_cast<size_t>(s.area.right - s.area.left) * static_cast<size_t>(s.area.bottom - s.area.top));
    return s;
}

// Pixel-exact comparison that names the first few differing pixels.
inline ::testing::AssertionResult SameScreen(const Screen &expected, const Screen &actual)
{
    if (!SameRect(expected.area, actual.area))
        return ::testing::AssertionFailure() << "screen area " << Describe(actual.area) << ", expected "
                                             << Describe(expected.area);
    if (expected.pixels == actual.pixels)
        return ::testing::AssertionSuccess();
    long differing = 0;
    std::string first;
    for (LONG y = expected.area.top; y < expected.area.bottom; ++y)
        for (LONG x = expected.area.left; x < expected.area.right; ++x)
            if (expected.At(x, y) != actual.At(x, y) && ++differing <= 5)
                first += " (" + std::to_string(x) + "," + std::to_string(y) + ") is " + Hex(actual.At(x, y)) +
                         ", expected " + Hex(expected.At(x, y)) + ";";
    if (differing == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ:" << first;
}

// Paints the whole virtual screen one colour through the screen's DC, so a test can tell whether
// the program drew anything afterwards.
inline void PaintWholeScreen(COLORREF colour)
{
    RECT all = winport::VirtualScreen();
    HDC screen = GetDC(NULL);
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(screen, &all, brush);
    DeleteObject(brush);
    ReleaseDC(NULL, screen);
}

// Whether `expected` appears in `log` in order, other entries allowed between.
inline ::testing::AssertionResult HasSubsequence(const std::vector<std::string> &log,
                                                 const std::vector<std::string> &expected)
{
    size_t at = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        while (at < log.size() && log[at] != expected[i])
            ++at;
        if (at == log.size()) {
            std::string tail;
            for (size_t j = 0; j < log.size() && j < 80; ++j)
                tail += " " + log[j];
            return ::testing::AssertionFailure()
                   << "\"" << expected[i] << "\" (expected entry " << i << ") not found in order; the log begins:" << tail;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

inline long CountOf(const std::vector<std::string> &log, const std::string &entry, size_t end = SIZE_MAX)
{
    long n = 0;
    for (size_t i = 0; i < log.size() && i < end; ++i)
        n += log[i] == entry ? 1 : 0;
    return n;
}

inline size_t IndexOf(const std::vector<std::string> &log, const std::string &entry, size_t from = 0)
{
    for (size_t i = from; i < log.size(); ++i)
        if (log[i] == entry)
            return i;
    return log.size();
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(UseDesktop(SinglePrimary())); }

    void TearDown() override
    {
        // The hooks a test installed capture its locals; the reset also puts this thread back
        // at normal priority for the next test.
        winport::SetRetrievalHook(nullptr);
        winport::RecordCalls(false);
        winport::ResetDesktop();
    }

    void UseDesktop(const Layout &layout)
    {
        ASSERT_TRUE(winport::ResetDesktop(layout));
        ResetProgramState();
        winport::SetRetrievalLimit(kRetrievalLimit);
    }

    // The program's globals as a freshly started process has them.
    virtual void ResetProgramState()
    {
        ResetShellGlobals();
    }

    static int RunProgram(int nCmdShow = SW_SHOW)
    {
        char commandLine[] = "";
        return WinMain(NULL, NULL, commandLine, nCmdShow);
    }

    // The cover window as WinMain sets it up before its blackout, for tests of single pieces.
    static void OpenCoverWindow(int nCmdShow = SW_SHOW)
    {
        std::strcpy(g_windowTitle, "Tovix");
        std::strcpy(g_className, "TOVIX");
        ASSERT_NE(RegisterCoverClass(NULL), 0);
        ASSERT_EQ(CreateCoverWindow(NULL, nCmdShow), 1);
        ASSERT_NE(g_hWnd, nullptr);
    }

    // The virtual screen as CreateCoverWindow records it, for renderers driven without a window.
    static void RecordVirtualScreen()
    {
        RECT v = winport::VirtualScreen();
        VirtualScreenRect.left = v.left;
        VirtualScreenRect.top = v.top;
        VirtualScreenRect.width = v.right - v.left;
        VirtualScreenRect.height = v.bottom - v.top;
    }

    // Ends the program with a left click injected at the given retrieval.
    static void ClickAtRetrieval(long retrieval)
    {
        winport::SetRetrievalHook([retrieval](long n) {
            if (n == retrieval)
                winport::InjectClick(winport::Button::Left);
        });
    }
};

}  // namespace program_test

#endif
