// Random message sequences into the cover window's procedure: sent straight to it, dispatched,
// or arriving as hardware input through the real queue. After every message the quit flag, the
// paint action and the default handling are checked against the rules as stated below, written
// without reference to the procedure.
#include <fuzzer/FuzzedDataProvider.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "counting_hooks.h"
#include "tovix.h"

namespace {

// Message numbers spelt out rather than taken from the port's header, so a wrong constant there
// cannot hide the same mistake in the procedure.
constexpr UINT kDestroy = 0x0002;
constexpr UINT kPaint = 0x000F;
constexpr UINT kChar = 0x0102;
constexpr UINT kMouseMove = 0x0200;
constexpr UINT kFirstPointerButton = 0x0201;  // left button down
constexpr UINT kMouseWheel = 0x020A;

struct Arrival {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Everything that reached the window procedure, including what the system sent from inside
// another message (WM_CLOSE's destruction, for one).
std::vector<Arrival> &Arrivals()
{
    static std::vector<Arrival> arrivals;
    return arrivals;
}

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Arrivals().push_back(Arrival{hwnd, message, wParam, lParam});
    return CoverWndProc(hwnd, message, wParam, lParam);
}

void PrintArrivals()
{
    std::fprintf(stderr, "messages that reached the procedure:\n");
    for (const Arrival &a : Arrivals())
        std::fprintf(stderr, "  hwnd %p message 0x%X wParam 0x%llx lParam 0x%llx\n", static_cast<void *>(a.hwnd),
                     a.message, static_cast<unsigned long long>(a.wParam), static_cast<unsigned long long>(a.lParam));
}

unsigned Apart(unsigned a, unsigned b) { return a > b ? a - b : b - a; }

// The program ends on a pointer button, double-click or wheel message, on any typed character,
// when its window is destroyed, and when the pointer has moved more than 2 pixels on either axis
// from where the very first move message put it. Coordinates are the two unsigned 16-bit halves
// of the low 32 bits of lParam.
class QuitRules {
public:
    bool Ends(const Arrival &a)
    {
        if (a.message >= kFirstPointerButton && a.message <= kMouseWheel)
            return true;
        if (a.message == kChar || a.message == kDestroy)
            return true;
        if (a.message != kMouseMove)
            return false;
        uint32_t packed = static_cast<uint32_t>(static_cast<uint64_t>(a.lParam));
        unsigned x = packed & 0xFFFFu;
        unsigned y = packed >> 16;
        if (!haveOrigin_) {
            haveOrigin_ = true;
            originX_ = x;
            originY_ = y;
            return false;
        }
        return Apart(x, originX_) > 2 || Apart(y, originY_) > 2;
    }

    bool HaveOrigin() const { return haveOrigin_; }
    unsigned OriginX() const { return originX_; }
    unsigned OriginY() const { return originY_; }

private:
    bool haveOrigin_ = false;
    unsigned originX_ = 0;
    unsigned originY_ = 0;
};

// Messages the procedure answers itself; every other one must get the default handling once.
// Pointer buttons may go either way.
bool AnsweredByProcedure(UINT message)
{
    return message == kPaint || message == kChar || message == kMouseMove || message == kDestroy ||
           (message >= kFirstPointerButton && message <= kMouseWheel);
}

class Checker {
public:
    void SetStep(size_t step) { step_ = step; }

    // Takes in what arrived since the last call and compares the port's view with the rules.
    void Settle()
    {
        std::vector<Arrival> &arrivals = Arrivals();
        for (; consumed_ < arrivals.size(); ++consumed_) {
            const Arrival &a = arrivals[consumed_];
            if (rules_.Ends(a))
                quitPending_ = true;
            if (a.message == kPaint) {
                const std::vector<HWND> &paints = counting_hooks::Paints();
                if (paints.size() <= paintsSeen_ || paints[paintsSeen_] != a.hwnd)
                    Fail("WM_PAINT did not run the paint action once, for its window", a);
                ++paintsSeen_;
            }
            if (!AnsweredByProcedure(a.message))
                ++defaultHandling_[a.message];
        }
        if (counting_hooks::Paints().size() != paintsSeen_)
            Fail("the paint action ran without a WM_PAINT");
        if (winport::QuitPosted() != quitPending_)
            Fail(quitPending_ ? "quit not posted" : "quit posted although no rule asks for it");
        // A validated window gets no further paint messages: the paint-driven program would stop.
        if (winport::DefWindowProcCalls(kPaint) != 0)
            Fail("WM_PAINT reached the default handling");
        for (const auto &[message, count] : defaultHandling_)
            if (winport::DefWindowProcCalls(message) != count) {
                std::fprintf(stderr, "message 0x%X: default handling %ld times, expected %ld\n", message,
                             winport::DefWindowProcCalls(message), count);
                Fail("a message the procedure does not answer missed the default handling");
            }
    }

    // The queue handed out WM_QUIT (with this exit code), or handed out nothing at all.
    void QuitRetrieved(WPARAM exitCode)
    {
        if (!quitPending_)
            Fail("WM_QUIT retrieved that no rule asked for");
        if (exitCode != 0)
            Fail("the program would end with a non-zero exit code");
        quitPending_ = false;
    }
    void QueueEmpty()
    {
        if (quitPending_)
            Fail("the queue is empty although quit was posted");
    }
    // Quit comes before paint: otherwise a window that is never validated would keep the program going.
    void PaintRetrieved()
    {
        if (quitPending_)
            Fail("WM_PAINT retrieved ahead of a posted quit");
    }

    const QuitRules &Rules() const { return rules_; }

private:
    [[noreturn]] void Fail(const char *what, const Arrival &a)
    {
        std::fprintf(stderr, "arrival: hwnd %p message 0x%X wParam 0x%llx lParam 0x%llx\n",
                     static_cast<void *>(a.hwnd), a.message, static_cast<unsigned long long>(a.wParam),
                     static_cast<unsigned long long>(a.lParam));
        Fail(what);
    }

    [[noreturn]] void Fail(const char *what)
    {
        std::fprintf(stderr, "fuzz_quit_rules: step %zu: %s\n", step_, what);
        PrintArrivals();
        std::abort();
    }

    QuitRules rules_;
    bool quitPending_ = false;
    size_t consumed_ = 0;
    size_t paintsSeen_ = 0;
    std::map<UINT, long> defaultHandling_;
    size_t step_ = 0;
};

constexpr char kClassName[] = "FUZZCOVER";
constexpr size_t kMaxWindows = 6;
constexpr size_t kMaxSteps = 256;

// A 32-bit packed value as a 64-bit lParam: zero-extended, sign-extended, or with junk on top,
// all of which carry the same coordinates.
LPARAM WidenLParam(FuzzedDataProvider &in, uint32_t packed)
{
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return static_cast<LPARAM>(packed);
    case 1:
        return static_cast<LPARAM>(static_cast<int32_t>(packed));
    default:
        return static_cast<LPARAM>((uint64_t{in.ConsumeIntegral<uint32_t>()} << 32) | packed);
    }
}

Arrival MakeMessage(FuzzedDataProvider &in, const QuitRules &rules)
{
    Arrival m{};
    switch (in.ConsumeIntegralInRange(0, 11)) {
    case 0:
    case 1:
        m.message = kMouseMove;
        m.lParam = WidenLParam(in, in.ConsumeIntegral<uint32_t>());
        break;
    case 2:
    case 3: {
        // Around the origin, where the slop's edge is; 16-bit wrap-around included.
        m.message = kMouseMove;
        unsigned ox = rules.HaveOrigin() ? rules.OriginX() : in.ConsumeIntegral<uint16_t>();
        unsigned oy = rules.HaveOrigin() ? rules.OriginY() : in.ConsumeIntegral<uint16_t>();
        unsigned x = (ox + static_cast<unsigned>(in.ConsumeIntegralInRange(-4, 4))) & 0xFFFFu;
        unsigned y = (oy + static_cast<unsigned>(in.ConsumeIntegralInRange(-4, 4))) & 0xFFFFu;
        m.lParam = WidenLParam(in, x | (y << 16));
        break;
    }
    case 4:
        // The pointer messages and their neighbours (the X buttons lie just past the wheel).
        m.message = in.ConsumeIntegralInRange<UINT>(0x01FF, 0x020E);
        m.wParam = in.ConsumeIntegral<uint32_t>();
        m.lParam = static_cast<LPARAM>(in.ConsumeIntegral<uint64_t>());
        break;
    case 5:
        m.message = kChar;
        m.wParam = in.ConsumeIntegral<uint32_t>();
        m.lParam = static_cast<LPARAM>(in.ConsumeIntegral<uint32_t>());
        break;
    case 6:
        m.message = kPaint;
        break;
    case 7:
        // Keys, system keys and dead characters: no character is typed by these.
        m.message = in.PickValueInArray<UINT>({0x0100, 0x0101, 0x0103, 0x0104, 0x0105, 0x0106, 0x0107});
        m.wParam = in.ConsumeIntegral<uint8_t>();
        m.lParam = static_cast<LPARAM>(in.ConsumeIntegral<uint32_t>());
        break;
    case 8:
        m.message = kDestroy;
        break;
    case 9:
        // Window life-cycle messages: WM_CLOSE and SC_CLOSE destroy the window through the default handling.
        m.message = in.PickValueInArray<UINT>({0x0001, 0x0010, 0x0012, 0x0018, 0x0081, 0x0082, 0x0112});
        m.wParam = in.ConsumeIntegral<uint16_t>();
        if (m.message == 0x0112 && in.ConsumeBool())
            m.wParam = 0xF060 | (m.wParam & 0xF);
        break;
    default:
        m.message = in.ConsumeIntegral<uint32_t>();
        m.wParam = in.ConsumeIntegral<uint64_t>();
        m.lParam = static_cast<LPARAM>(in.ConsumeIntegral<uint64_t>());
        break;
    }
    return m;
}

HWND PickWindow(FuzzedDataProvider &in, const std::vector<HWND> &windows)
{
    size_t pick = in.ConsumeIntegralInRange<size_t>(0, windows.size() + 1);
    if (pick < windows.size())
        return windows[pick];  // alive or already destroyed
    if (pick == windows.size())
        return NULL;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(in.ConsumeIntegral<uint64_t>()));
}

// Arguments are drawn one statement at a time: their order inside a call is unspecified.
void InjectInput(FuzzedDataProvider &in)
{
    const RECT v = winport::VirtualScreen();
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: {
        int x = in.ConsumeIntegralInRange<int>(v.left - 8, v.right + 8);
        int y = in.ConsumeIntegralInRange<int>(v.top - 8, v.bottom + 8);
        winport::InjectPointerMove(x, y);
        break;
    }
    case 1: {
        winport::Button button =
            in.PickValueInArray({winport::Button::Left, winport::Button::Right, winport::Button::Middle});
        bool down = in.ConsumeBool();
        winport::InjectButton(button, down);
        break;
    }
    case 2:
        winport::InjectWheel(in.ConsumeIntegral<int16_t>());
        break;
    case 3: {
        WORD key = in.ConsumeIntegral<uint8_t>();
        bool down = in.ConsumeBool();
        winport::InjectKey(key, down);
        break;
    }
    case 4:
        winport::InjectKeyPress(in.ConsumeIntegral<uint8_t>());
        break;
    default:
        winport::InjectCharacter(in.ConsumeIntegral<uint16_t>());
        break;
    }
}

// A message loop's worth of retrievals, stopping at the paint message, which never goes away.
void Pump(Checker &checker)
{
    for (int i = 0; i < 64; ++i) {
        MSG msg;
        if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            checker.QueueEmpty();
            return;
        }
        if (msg.message == WM_QUIT) {
            checker.QuitRetrieved(msg.wParam);
            checker.Settle();
            continue;
        }
        if (msg.message == WM_PAINT)
            checker.PaintRetrieved();
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        checker.Settle();
        if (msg.message == WM_PAINT)
            return;
    }
}

HWND CreateCover(FuzzedDataProvider &in)
{
    const RECT v = winport::VirtualScreen();
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, kClassName, "Tovix", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, v.left,
                                v.top, v.right - v.left, v.bottom - v.top, NULL, NULL, NULL, NULL);
    if (hwnd != NULL && in.ConsumeBool())
        ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

void ResetProgram()
{
    MouseOrigin = MouseOriginRecord{};
    g_randomState = 1;
    g_hInstance = NULL;
    g_hWnd = NULL;
    g_hDC = NULL;
    g_hRC = NULL;
    VirtualScreenRect = VirtualScreen{};
    counting_hooks::Paints().clear();
    Arrivals().clear();
}

[[noreturn]] void SetUpFailed(const char *what)
{
    std::fprintf(stderr, "fuzz_quit_rules: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // One monitor, or a virtual screen whose origin is negative; small, as every run makes a new framebuffer.
    std::vector<winport::MonitorSpec> layout{winport::MonitorSpec{RECT{0, 0, 64, 40}}};
    if (in.ConsumeBool())
        layout.push_back(winport::MonitorSpec{RECT{-32, -8, 0, 16}});
    bool ok = winport::ResetDesktop(layout);
    if (!ok)
        SetUpFailed("the desktop refused a plain layout");
    ResetProgram();

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = kClassName;
    if (RegisterClassExA(&wc) == 0)
        SetUpFailed("cannot register the window class");

    Checker checker;
    std::vector<HWND> windows;
    windows.push_back(CreateCover(in));
    if (windows.back() == NULL)
        SetUpFailed("cannot create a window");
    checker.Settle();

    for (size_t step = 1; step <= kMaxSteps && in.remaining_bytes() > 0; ++step) {
        checker.SetStep(step);
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2: {
            HWND hwnd = PickWindow(in, windows);
            Arrival m = MakeMessage(in, checker.Rules());
            RecordingProc(hwnd, m.message, m.wParam, m.lParam);
            break;
        }
        case 3: {
            MSG msg{};
            msg.hwnd = PickWindow(in, windows);
            Arrival m = MakeMessage(in, checker.Rules());
            msg.message = m.message;
            msg.wParam = m.wParam;
            msg.lParam = m.lParam;
            DispatchMessageA(&msg);
            break;
        }
        case 4:
            InjectInput(in);
            break;
        case 5:
            Pump(checker);
            break;
        case 6:
            if (windows.size() < kMaxWindows) {
                HWND hwnd = CreateCover(in);
                if (hwnd != NULL)
                    windows.push_back(hwnd);
            }
            break;
        case 7:
            winport::DestroyWindowExternally(PickWindow(in, windows));
            break;
        case 8:
            winport::RequestClose(PickWindow(in, windows));
            break;
        default:
            SetCapture(PickWindow(in, windows));
            break;
        }
        checker.Settle();
    }
    if (std::getenv("FUZZ_VERBOSE") != nullptr)
        PrintArrivals();
    return 0;
}
