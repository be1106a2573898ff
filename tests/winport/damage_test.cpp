// Copies of a bitmap to the screen move only what changed in the bitmap, and GL returns only the
// pixels it drew: both must leave exactly the pixels that plain whole copies leave.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <winport/test_api.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "port_fixture.h"

namespace {

using Pixels = std::vector<COLORREF>;

constexpr DWORD kBitmapFlags = PFD_DRAW_TO_BITMAP | PFD_SUPPORT_GDI | PFD_SUPPORT_OPENGL;

// GL values the programs' subset of GL/gl.h leaves out.
constexpr GLenum kPoints = 0x0000;
constexpr GLenum kTriangles = 0x0004;
constexpr GLenum kPolygon = 0x0009;
constexpr GLbitfield kDepthBufferBit = 0x0100;

COLORREF FromDib(uint32_t pixel) { return ((pixel & 0xFF) << 16) | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF); }

class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
    bool OneIn(int n) { return Int(1, n) == 1; }
    float Float(float low, float high) { return std::uniform_real_distribution<float>(low, high)(engine_); }
    double Double(double low, double high) { return std::uniform_real_distribution<double>(low, high)(engine_); }
    COLORREF Color() { return RGB(Int(0, 255), Int(0, 255), Int(0, 255)); }

private:
    std::mt19937 engine_;
};

// A memory DC with a 32-bit DIB section selected.
struct Dib {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ stock = nullptr;
    uint32_t *bits = nullptr;
    int width = 0;
    int height = 0;
    bool bottomUp = true;

    // Counted from the top row, whichever way the rows are stored.
    uint32_t At(int x, int y) const
    {
        int row = bottomUp ? height - 1 - y : y;
        return bits[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
    size_t Bytes() const { return static_cast<size_t>(width) * static_cast<size_t>(height) * sizeof(uint32_t); }
};

Dib MakeDib(int width, int height, bool bottomUp)
{
    Dib d;
    d.width = width;
    d.height = height;
    d.bottomUp = bottomUp;
    d.dc = CreateCompatibleDC(nullptr);
    d.bitmap = MakeDibSection(width, height, bottomUp, &d.bits);
    d.stock = SelectObject(d.dc, d.bitmap);
    return d;
}

void DeleteDib(Dib &d)
{
    SelectObject(d.dc, d.stock);
    DeleteObject(d.bitmap);
    d = Dib{};
}

HGLRC MakeContext(HDC dc)
{
    PIXELFORMATDESCRIPTOR pfd;
    std::memset(&pfd, 0, sizeof pfd);
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = kBitmapFlags;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    if (!SetPixelFormat(dc, ChoosePixelFormat(dc, &pfd), &pfd))
        return nullptr;
    return wglCreateContext(dc);
}

void Fill(HDC dc, const RECT &rect, COLORREF color)
{
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND ShowWindowAt(const RECT &rect)
{
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = "DamageTest";
    RegisterClassExA(&wc);  // fails harmlessly when already registered
    HWND hwnd = CreateWindowExA(0, "DamageTest", "damage", WS_POPUP, rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, nullptr, nullptr, nullptr, nullptr);
    if (hwnd != nullptr)
        ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

RECT Clip(const RECT &a, const RECT &b)
{
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

bool Inside(const RECT &r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// The screen as it must look, worked out pixel by pixel from the bitmaps' memory: every copy moves
// all of its pixels here.
class ScreenModel {
public:
    void Reset()
    {
        screen_ = winport::VirtualScreen();
        pixels_ = winport::ScreenPixels();
    }
    const Pixels &Expected() const { return pixels_; }
    const RECT &Screen() const { return screen_; }

    // FillRect in virtual-screen coordinates, clipped to `clip`.
    void Fill(const RECT &rect, const RECT &clip, COLORREF color)
    {
        RECT area = Clip(Clip(rect, clip), screen_);
        for (LONG y = area.top; y < area.bottom; ++y)
            for (LONG x = area.left; x < area.right; ++x)
                At(x, y) = color;
    }

    // BitBlt whose destination origin (x, y) is in virtual-screen coordinates, clipped to `clip`.
    void CopyFrom(const Dib &source, int x, int y, int width, int height, int srcX, int srcY, const RECT &clip)
    {
        RECT area = Clip(Clip(RECT{x, y, x + width, y + height}, clip), screen_);
        for (LONG vy = area.top; vy < area.bottom; ++vy)
            for (LONG vx = area.left; vx < area.right; ++vx) {
                int sx = srcX + (vx - x);
                int sy = srcY + (vy - y);
                if (sx >= 0 && sy >= 0 && sx < source.width && sy < source.height)
                    At(vx, vy) = FromDib(source.At(sx, sy));
            }
    }

    // BitBlt from the screen to itself: every pixel read before any is written.
    void CopyWithin(int x, int y, int width, int height, int srcX, int srcY)
    {
        const std::vector<COLORREF> before = pixels_;
        RECT area = Clip(RECT{x, y, x + width, y + height}, screen_);
        for (LONG vy = area.top; vy < area.bottom; ++vy)
            for (LONG vx = area.left; vx < area.right; ++vx) {
                int sx = srcX + (vx - x);
                int sy = srcY + (vy - y);
                if (Inside(screen_, sx, sy))
                    At(vx, vy) = before[Index(sx, sy)];
            }
    }

private:
    size_t Index(int x, int y) const
    {
        return static_cast<size_t>(y - screen_.top) * static_cast<size_t>(screen_.right - screen_.left) +
               static_cast<size_t>(x - screen_.left);
    }
    COLORREF &At(int x, int y) { return pixels_[Index(x, y)]; }

    RECT screen_{};
    std::vector<COLORREF> pixels_;
};

// Says where the screen first differs from the model, and whether every pixel that changed since
// `before` lies in the damage the port reported.
::testing::AssertionResult ScreenMatches(const ScreenModel &model, const Pixels &actual, const Pixels &before,
                                         const RECT &damage)
{
    const RECT &v = model.Screen();
    size_t width = static_cast<size_t>(v.right - v.left);
    if (actual.size() != model.Expected().size() || actual.size() != before.size())
        return ::testing::AssertionFailure() << "screen size changed";
    auto where = [&](size_t i) {
        return "pixel (" + std::to_string(v.left + static_cast<int>(i % width)) + ", " +
               std::to_string(v.top + static_cast<int>(i / width)) + ")";
    };
    if (actual != model.Expected()) {
        size_t i = static_cast<size_t>(std::mismatch(actual.begin(), actual.end(), model.Expected().begin()).first -
                                       actual.begin());
        return ::testing::AssertionFailure() << where(i) << " is 0x" << std::hex << actual[i]
                                             << ", a whole copy leaves 0x" << model.Expected()[i];
    }
    // Row by row, only the parts outside the damage must be as they were.
    for (size_t row = 0; row * width < actual.size(); ++row) {
        LONG y = v.top + static_cast<LONG>(row);
        bool damagedRow = y >= damage.top && y < damage.bottom;
        size_t from = row * width;
        auto column = [&](LONG x) { return static_cast<size_t>(std::clamp<LONG>(x - v.left, 0, v.right - v.left)); };
        size_t left = damagedRow ? column(damage.left) : width;
        size_t right = damagedRow ? column(damage.right) : width;
        if (std::memcmp(&actual[from], &before[from], left * sizeof(COLORREF)) != 0 ||
            std::memcmp(&actual[from + right], &before[from + right], (width - right) * sizeof(COLORREF)) != 0)
            return ::testing::AssertionFailure() << "row " << y << " changed outside the damage";
    }
    return ::testing::AssertionSuccess();
}

class DamageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(winport::ResetDesktop()); }
    void TearDown() override { winport::ResetDesktop(); }
};

// ---- Copies to the screen ----

std::vector<std::vector<winport::MonitorSpec>> Layouts(Random &random)
{
    using winport::MonitorSpec;
    std::vector<std::vector<MonitorSpec>> layouts = {
        {MonitorSpec{RECT{0, 0, 120, 90}}},
        {MonitorSpec{RECT{0, 0, 96, 72}}, MonitorSpec{RECT{-64, 8, 0, 56}}},
        {MonitorSpec{RECT{0, 0, 96, 72}}, MonitorSpec{RECT{16, -48, 80, 0}}},
        {MonitorSpec{RECT{0, 0, 80, 60}}, MonitorSpec{RECT{-80, -30, 0, 30}}, MonitorSpec{RECT{80, 20, 150, 70}}},
    };
    // And one more drawn at random: a primary and up to two monitors beside or above it.
    std::vector<MonitorSpec> drawn = {MonitorSpec{RECT{0, 0, random.Int(16, 100), random.Int(16, 80)}}};
    for (int i = random.Int(1, 2); i > 0; --i) {
        int w = random.Int(8, 70);
        int h = random.Int(8, 70);
        int x = random.OneIn(2) ? -w : drawn.front().rect.right;
        int y = random.Int(-h, 40);
        drawn.push_back(MonitorSpec{RECT{x, y, x + w, y + h}});
    }
    layouts.push_back(drawn);
    return layouts;
}

// What the quad program and its surroundings do to the screen and the bitmaps, in random order.
class CopyScenario {
public:
    CopyScenario(Random &random, const std::vector<winport::MonitorSpec> &layout) : random_(random), layout_(layout) {}

    void Run(int steps)
    {
        ASSERT_TRUE(winport::ResetDesktop(layout_));
        v_ = winport::VirtualScreen();
        cover_ = ShowWindowAt(v_);
        ASSERT_NE(cover_, nullptr);
        // A smaller window too, whose DC clips.
        RECT inner{v_.left + random_.Int(0, 10), v_.top + random_.Int(0, 10), v_.right - random_.Int(0, 10),
                   v_.bottom - random_.Int(0, 10)};
        small_ = ShowWindowAt(inner);
        ASSERT_NE(small_, nullptr);
        smallRect_ = inner;
        frame_ = MakeDib(v_.right - v_.left, v_.bottom - v_.top, !random_.OneIn(3));
        other_ = NewOther();
        rc_ = MakeContext(frame_.dc);
        ASSERT_NE(rc_, nullptr);
        ASSERT_TRUE(wglMakeCurrent(frame_.dc, rc_));
        glOrtho(0.0, frame_.width, 0.0, frame_.height, 1.0, -1.0);
        model_.Reset();

        Pixels shown = winport::ScreenPixels();
        winport::TakeScreenDamage();
        for (int step = 0; step < steps; ++step) {
            std::string what = Step();
            RECT damage = winport::TakeScreenDamage();
            Pixels now = winport::ScreenPixels();
            ASSERT_TRUE(ScreenMatches(model_, now, shown, damage)) << "step " << step << ": " << what;
            shown = std::move(now);
        }
    }

private:
    Dib NewOther() { return MakeDib(random_.Int(1, 90), random_.Int(1, 70), random_.OneIn(2)); }

    RECT RandomRect(int width, int height)
    {
        int x = random_.Int(-8, width);
        int y = random_.Int(-8, height);
        return RECT{x, y, x + random_.Int(0, 30), y + random_.Int(0, 30)};
    }

    // A frame of the program: squares of one colour at random places, then glFlush.
    void QuadFrame()
    {
        glColor3f(random_.Float(0, 1), random_.Float(0, 1), random_.Float(0, 1));
        glBegin(GL_QUADS);
        for (int i = random_.Int(1, 12); i > 0; --i) {
            auto x = static_cast<GLfloat>(random_.Int(0, frame_.width - 1));
            auto y = static_cast<GLfloat>(random_.Int(0, frame_.height - 1));
            glVertex2f(x, y);
            glVertex2f(x, y + 16);
            glVertex2f(x + 16, y + 16);
            glVertex2f(x + 16, y);
        }
        glEnd();
        glFlush();
    }

    // Copies with the shift of the program's whole copy half the time, so that the remembered copy
    // can serve them.
    void PartialCopy(const Dib &source, std::string *what)
    {
        // Where it lands in virtual-screen coordinates, and from where in the bitmap.
        int x = v_.left + random_.Int(-10, v_.right - v_.left);
        int y = v_.top + random_.Int(-10, v_.bottom - v_.top);
        int w = random_.Int(0, 60);
        int h = random_.Int(0, 60);
        bool aligned = random_.OneIn(2);
        int srcX = aligned ? x - v_.left : random_.Int(-10, source.width);
        int srcY = aligned ? y - v_.top : random_.Int(-10, source.height);
        // Through the screen's DC, the covering window's or the smaller window's.
        int through = random_.Int(0, 2);
        HWND window = through == 0 ? nullptr : (through == 1 ? cover_ : small_);
        RECT area = through == 2 ? smallRect_ : v_;
        POINT origin = through == 0 ? POINT{0, 0} : POINT{area.left, area.top};
        HDC dc = GetDC(window);
        BitBlt(dc, x - origin.x, y - origin.y, w, h, source.dc, srcX, srcY, SRCCOPY);
        ReleaseDC(window, dc);
        model_.CopyFrom(source, x, y, w, h, srcX, srcY, area);
        *what = std::string("partial copy") + (aligned ? " with the whole copy's shift" : "");
    }

    std::string Step()
    {
        std::string what;
        switch (random_.Int(0, 15)) {
        case 0:
        case 1:
        case 2:
            QuadFrame();
            return "quad frame";
        case 3: {
            Dib &target = random_.OneIn(3) ? other_ : frame_;
            Fill(target.dc, RandomRect(target.width, target.height), random_.Color());
            return "fill in a bitmap";
        }
        case 4:
            // More changes than any log keeps.
            for (int i = 0; i < 300; ++i)
                Fill(frame_.dc, RECT{i % frame_.width, 0, i % frame_.width + 1, 1}, random_.Color());
            return "many fills in the bitmap";
        case 5: {
            // Through the screen's DC, in virtual-screen coordinates, or the covering window's.
            bool screen = random_.OneIn(2);
            RECT r = RandomRect(v_.right - v_.left, v_.bottom - v_.top);
            RECT onScreen{r.left + v_.left, r.top + v_.top, r.right + v_.left, r.bottom + v_.top};
            COLORREF color = random_.Color();
            HDC dc = GetDC(screen ? nullptr : cover_);
            Fill(dc, screen ? onScreen : r, color);
            ReleaseDC(screen ? nullptr : cover_, dc);
            model_.Fill(onScreen, v_, color);
            return "fill on the screen";
        }
        case 6:
        case 7:
        case 8:
        case 9: {
            // The program's copy: the whole bitmap to the window at (0, 0) or the screen at its top-left.
            bool screen = random_.OneIn(2);
            HDC dc = GetDC(screen ? nullptr : cover_);
            int x = screen ? v_.left : 0;
            int y = screen ? v_.top : 0;
            BitBlt(dc, x, y, frame_.width, frame_.height, frame_.dc, 0, 0, SRCCOPY);
            ReleaseDC(screen ? nullptr : cover_, dc);
            model_.CopyFrom(frame_, v_.left, v_.top, frame_.width, frame_.height, 0, 0, v_);
            return screen ? "whole copy to the screen" : "whole copy to the window";
        }
        case 10:
            PartialCopy(random_.OneIn(3) ? other_ : frame_, &what);
            return what;
        case 11: {
            // The whole bitmap once per monitor, each copy clipped to its monitor.
            HDC screen = GetDC(nullptr);
            EnumDisplayMonitors(
                screen, nullptr,
                [](HMONITOR, HDC monitorDc, LPRECT monitor, LPARAM data) -> BOOL {
                    auto *self = reinterpret_cast<CopyScenario *>(data);
                    const RECT &v = self->v_;
                    BitBlt(monitorDc, v.left, v.top, v.right - v.left, v.bottom - v.top, self->frame_.dc, 0, 0,
                           SRCCOPY);
                    self->model_.CopyFrom(self->frame_, v.left, v.top, v.right - v.left, v.bottom - v.top, 0, 0,
                                          *monitor);
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(this));
            ReleaseDC(nullptr, screen);
            return "copy per monitor";
        }
        case 12: {
            HDC screen = GetDC(nullptr);
            RECT r = RandomRect(frame_.width, frame_.height);
            BitBlt(frame_.dc, r.left, r.top, r.right - r.left, r.bottom - r.top, screen,
                   random_.Int(v_.left - 5, v_.right), random_.Int(v_.top - 5, v_.bottom), SRCCOPY);
            ReleaseDC(nullptr, screen);
            return "copy from the screen into the bitmap";
        }
        case 13: {
            RECT r = RandomRect(frame_.width, frame_.height);
            BitBlt(frame_.dc, r.left, r.top, r.right - r.left, r.bottom - r.top, other_.dc,
                   random_.Int(-5, other_.width), random_.Int(-5, other_.height), SRCCOPY);
            return "copy from the other bitmap into the bitmap";
        }
        case 14: {
            HDC screen = GetDC(nullptr);
            int x = random_.Int(v_.left - 5, v_.right);
            int y = random_.Int(v_.top - 5, v_.bottom);
            int w = random_.Int(0, 40);
            int h = random_.Int(0, 40);
            int sx = random_.Int(v_.left - 5, v_.right);
            int sy = random_.Int(v_.top - 5, v_.bottom);
            BitBlt(screen, x, y, w, h, screen, sx, sy, SRCCOPY);
            ReleaseDC(nullptr, screen);
            model_.CopyWithin(x, y, w, h, sx, sy);
            return "copy within the screen";
        }
        default:
            // A new bitmap, which may well land where the old one was.
            DeleteDib(other_);
            other_ = NewOther();
            return "other bitmap replaced";
        }
    }

    Random &random_;
    std::vector<winport::MonitorSpec> layout_;
    RECT v_{};
    HWND cover_ = nullptr;
    HWND small_ = nullptr;
    RECT smallRect_{};
    Dib frame_;
    Dib other_;
    HGLRC rc_ = nullptr;
    ScreenModel model_;
};

TEST_F(DamageTest, CopiesToTheScreenLeaveWhatWholeCopiesLeave)
{
    Random random(20240611);
    for (const auto &layout : Layouts(random)) {
        SCOPED_TRACE("monitors: " + std::to_string(layout.size()));
        CopyScenario scenario(random, layout);
        scenario.Run(400);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(DamageTest, ACopyMovesOnlyWhatChangedSinceTheLastCopy)
{
    ASSERT_TRUE(winport::ResetDesktop({winport::MonitorSpec{RECT{0, 0, 100, 80}},
                                       winport::MonitorSpec{RECT{-60, 10, 0, 50}}}));
    HWND cover = ShowWindowAt(RECT{-60, 0, 100, 80});
    ASSERT_NE(cover, nullptr);
    Dib frame = MakeDib(160, 80, true);
    HDC window = GetDC(cover);
    HDC screen = GetDC(nullptr);
    auto copied = [] { return winport::PixelCopyCounts().blitted; };

    ASSERT_TRUE(BitBlt(window, 0, 0, 160, 80, frame.dc, 0, 0, SRCCOPY));
    unsigned long long start = copied();
    winport::TakeScreenDamage();
    // The same pixels again, through the screen's DC this time: nothing to move, nothing damaged.
    ASSERT_TRUE(BitBlt(screen, -60, 0, 160, 80, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(copied(), start);
    RECT damage = winport::TakeScreenDamage();
    EXPECT_TRUE(damage.right <= damage.left || damage.bottom <= damage.top);

    // A change in the bitmap moves just that change, and damages just that.
    Fill(frame.dc, RECT{10, 20, 20, 25}, RGB(1, 2, 3));
    ASSERT_TRUE(BitBlt(window, 0, 0, 160, 80, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(copied(), start + 50);
    damage = winport::TakeScreenDamage();
    EXPECT_EQ(damage.left, -50);
    EXPECT_EQ(damage.top, 20);
    EXPECT_EQ(damage.right, -40);
    EXPECT_EQ(damage.bottom, 25);
    EXPECT_EQ(winport::ScreenPixel(-50, 20), RGB(1, 2, 3));
    ASSERT_TRUE(BitBlt(screen, -60, 0, 160, 80, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(copied(), start + 50) << "that change is on the screen now";

    // A part of the copy with the same shift is served the same way.
    Fill(frame.dc, RECT{100, 0, 104, 2}, RGB(4, 5, 6));
    Fill(frame.dc, RECT{0, 70, 2, 72}, RGB(4, 5, 6));
    ASSERT_TRUE(BitBlt(window, 90, 0, 30, 30, frame.dc, 90, 0, SRCCOPY));
    EXPECT_EQ(copied(), start + 58);
    EXPECT_EQ(winport::ScreenPixel(40, 0), RGB(4, 5, 6));
    EXPECT_EQ(winport::ScreenPixel(-60, 70), 0u) << "outside the part copied";

    // Anything else written to the screen means the next copy moves everything it covers again.
    unsigned long long before = copied();
    Fill(screen, RECT{0, 0, 1, 1}, RGB(9, 9, 9));
    ASSERT_TRUE(BitBlt(window, 0, 0, 160, 80, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(copied(), before + 160 * 80);
    // So does a copy with another shift in between, and more changes than the bitmap remembers.
    ASSERT_TRUE(BitBlt(window, 1, 0, 10, 10, frame.dc, 0, 0, SRCCOPY));
    before = copied();
    ASSERT_TRUE(BitBlt(window, 0, 0, 160, 80, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(copied(), before + 160 * 80);
    for (int i = 0; i < 300; ++i)
        Fill(frame.dc, RECT{i % 160, 79, i % 160 + 1, 80}, RGB(7, 7, 7));
    before = copied();
    ASSERT_TRUE(BitBlt(window, 0, 0, 160, 80, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(copied(), before + 160 * 80);

    // A bitmap deleted and another made in its place is never taken for the one copied before.
    ASSERT_TRUE(BitBlt(window, 0, 0, 160, 80, frame.dc, 0, 0, SRCCOPY));
    DeleteDib(frame);
    Dib again = MakeDib(160, 80, true);
    std::fill(again.bits, again.bits + 160 * 80, 0x00FFFFFFu);  // behind GDI's back, yet a copy takes it
    Fill(again.dc, RECT{0, 0, 1, 1}, RGB(0, 0, 0));
    before = copied();
    ASSERT_TRUE(BitBlt(window, 0, 0, 160, 80, again.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(copied(), before + 160 * 80);
    EXPECT_EQ(winport::ScreenPixel(99, 79), RGB(255, 255, 255));
}

TEST_F(DamageTest, WithoutFastPathsEveryCopyMovesEverything)
{
    Dib frame = MakeDib(64, 48, false);
    HDC screen = GetDC(nullptr);
    winport::SetFastPaths(false);
    ASSERT_TRUE(BitBlt(screen, 0, 0, 64, 48, frame.dc, 0, 0, SRCCOPY));
    unsigned long long before = winport::PixelCopyCounts().blitted;
    ASSERT_TRUE(BitBlt(screen, 0, 0, 64, 48, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(winport::PixelCopyCounts().blitted, before + 64 * 48);
    // Back on, the first copy cannot trust what the slow ones left behind.
    winport::SetFastPaths(true);
    ASSERT_TRUE(BitBlt(screen, 0, 0, 64, 48, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(winport::PixelCopyCounts().blitted, before + 2 * 64 * 48);
    ASSERT_TRUE(BitBlt(screen, 0, 0, 64, 48, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(winport::PixelCopyCounts().blitted, before + 2 * 64 * 48);
}

// ---- GL readback ----

// One GL call of a frame, so the same frame can be drawn twice.
struct GlCall {
    enum class Kind { Ortho, Color, Begin, Vertex, End, Clear, ClearColor } kind = Kind::Vertex;
    double a[6] = {0, 0, 0, 0, 0, 0};
    GLenum mode = 0;
};

// Where the next vertex goes: mostly a short step from the last one, as drawings go, so that each
// piece of a primitive covers a place of its own; now and then a jump, or somewhere GL cannot draw.
float NextCoordinate(Random &random, float last, int extent)
{
    switch (random.Int(0, 29)) {
    case 0:
        return std::numeric_limits<float>::quiet_NaN();
    case 1:
        return random.OneIn(2) ? std::numeric_limits<float>::infinity() : -1e30f;
    case 2:
        return random.Float(-1e7f, 1e7f);
    case 3:
    case 4:
    case 5:
        return random.Float(-20.0f, static_cast<float>(extent) + 20.0f);
    case 6:
    case 7:
    case 8:
    case 9:
        return std::round(last) + static_cast<float>(random.Int(-6, 6));  // on pixel edges
    default:
        return last + random.Float(-8.0f, 8.0f);
    }
}

// A random frame: primitives of every kind at random places (sometimes nowhere sensible), now and
// then a clear, a new matrix, and calls GL refuses.
std::vector<GlCall> RandomFrame(Random &random, int width, int height)
{
    std::vector<GlCall> calls;
    auto add = [&](GlCall::Kind kind, std::initializer_list<double> values = {}, GLenum mode = 0) {
        GlCall c;
        c.kind = kind;
        std::copy(values.begin(), values.end(), c.a);
        c.mode = mode;
        calls.push_back(c);
    };
    if (random.OneIn(8)) {
        add(GlCall::Kind::ClearColor, {random.Double(0, 1), random.Double(0, 1), random.Double(0, 1), 1.0});
        add(GlCall::Kind::Clear, {static_cast<double>(random.OneIn(4) ? kDepthBufferBit : GL_COLOR_BUFFER_BIT)});
    }
    if (random.OneIn(10)) {
        // Shifts, flips and scales of modest size, so that matrices stay within reach of the drawable.
        double s = random.OneIn(2) ? 1.0 : random.Double(0.5, 2.0);
        double dx = random.Double(-0.3, 0.3);
        double dy = random.Double(-0.3, 0.3);
        double flip = random.OneIn(4) ? -1.0 : 1.0;
        add(GlCall::Kind::Ortho, {-s * flip + dx, s * flip + dx, -s + dy, s + dy, -1.0, 1.0});
    }
    if (random.OneIn(30))
        add(GlCall::Kind::Ortho, {1.0, 1.0, 0.0, 1.0, 0.0, 1.0});  // refused: an empty volume
    for (int p = random.Int(0, 6); p > 0; --p) {
        add(GlCall::Kind::Color, {random.Double(0, 1), random.Double(0, 1), random.Double(0, 1)});
        GLenum mode = random.OneIn(12) ? GL_QUADS + 100 : static_cast<GLenum>(random.Int(kPoints, kPolygon));
        add(GlCall::Kind::Begin, {}, mode);
        // Now and then more separate pieces than the port keeps apart.
        bool many = mode == kPoints && random.OneIn(4);
        int vertices = many ? random.Int(60, 150) : random.Int(0, 13);
        float x = random.Float(0.0f, static_cast<float>(width));
        float y = random.Float(0.0f, static_cast<float>(height));
        // Or a band striding across the drawable, two vertices a column, so that the pieces of a
        // strip or fan lie apart from each other.
        bool striding = !many && random.OneIn(4);
        float stride = random.Float(8.0f, 40.0f) * (random.OneIn(2) ? 1.0f : -1.0f);
        float band = random.Float(3.0f, 20.0f);
        float startX = x;
        float startY = y;
        for (int i = 0; i < vertices; ++i) {
            if (random.OneIn(40))
                add(GlCall::Kind::Ortho, {0.0, 1.0, 0.0, 1.0, -1.0, 1.0});  // refused inside a primitive
            if (random.OneIn(40))
                add(GlCall::Kind::Clear, {static_cast<double>(GL_COLOR_BUFFER_BIT)});  // refused too
            if (random.OneIn(40))
                add(GlCall::Kind::Begin, {}, kTriangles);  // nested: refused
            float nextX = many ? random.Float(0.0f, static_cast<float>(width)) : NextCoordinate(random, x, width);
            float nextY = many ? random.Float(0.0f, static_cast<float>(height)) : NextCoordinate(random, y, height);
            if (striding) {
                nextX = startX + static_cast<float>(i / 2) * stride + random.Float(-2.0f, 2.0f);
                nextY = startY + static_cast<float>(i % 2) * band + random.Float(-2.0f, 2.0f);
            }
            add(GlCall::Kind::Vertex, {static_cast<double>(nextX), static_cast<double>(nextY)});
            // A walk that went nowhere sensible starts again somewhere in the drawable.
            auto sensible = [](float c) { return std::isfinite(c) && std::fabs(c) < 1e4f; };
            x = sensible(nextX) ? nextX : random.Float(0.0f, static_cast<float>(width));
            y = sensible(nextY) ? nextY : random.Float(0.0f, static_cast<float>(height));
        }
        add(GlCall::Kind::End);
        if (random.OneIn(20))
            add(GlCall::Kind::End);  // with none open
        if (random.OneIn(20))
            add(GlCall::Kind::Vertex, {static_cast<double>(x), static_cast<double>(y)});  // outside any primitive
    }
    return calls;
}

void Draw(const std::vector<GlCall> &calls)
{
    for (const GlCall &c : calls) {
        switch (c.kind) {
        case GlCall::Kind::Ortho:
            glOrtho(c.a[0], c.a[1], c.a[2], c.a[3], c.a[4], c.a[5]);
            break;
        case GlCall::Kind::Color:
            glColor3f(static_cast<GLfloat>(c.a[0]), static_cast<GLfloat>(c.a[1]), static_cast<GLfloat>(c.a[2]));
            break;
        case GlCall::Kind::Begin:
            glBegin(c.mode);
            break;
        case GlCall::Kind::Vertex:
            glVertex2f(static_cast<GLfloat>(c.a[0]), static_cast<GLfloat>(c.a[1]));
            break;
        case GlCall::Kind::End:
            glEnd();
            break;
        case GlCall::Kind::Clear:
            glClear(static_cast<GLbitfield>(c.a[0]));
            break;
        case GlCall::Kind::ClearColor:
            glClearColor(static_cast<GLclampf>(c.a[0]), static_cast<GLclampf>(c.a[1]), static_cast<GLclampf>(c.a[2]),
                         static_cast<GLclampf>(c.a[3]));
            break;
        }
    }
}

// The same bitmap twice: one whose GL frames come back as the port tracks them, one whose frames
// come back whole. Each has a context of its own, and a second one sharing it.
struct Twin {
    Dib dib;
    HGLRC rc = nullptr;
    HGLRC second = nullptr;
};

class GlScenario {
public:
    GlScenario(Random &random, int width, int height, bool bottomUp, bool smallViewport)
        : random_(random), width_(width), height_(height)
    {
        for (Twin *t : {&fast_, &slow_}) {
            t->dib = MakeDib(width, height, bottomUp);
            t->rc = MakeContext(t->dib.dc);
            t->second = wglCreateContext(t->dib.dc);
        }
        if (smallViewport) {
            // Contexts made current first on a smaller bitmap keep its viewport.
            for (Twin *t : {&fast_, &slow_}) {
                Dib first = MakeDib(std::max(1, width / 2), std::max(1, height / 3), bottomUp);
                SetPixelFormat(first.dc, 2, nullptr);
                wglMakeCurrent(first.dc, t->rc);
            }
        }
        screen_ = winport::VirtualScreen();
    }

    void Run(int steps)
    {
        for (Twin *t : {&fast_, &slow_}) {
            ASSERT_NE(t->rc, nullptr);
            ASSERT_NE(t->second, nullptr);
            ASSERT_TRUE(wglMakeCurrent(t->dib.dc, t->rc));
            glOrtho(0.0, width_, 0.0, height_, 1.0, -1.0);
            ASSERT_TRUE(wglMakeCurrent(t->dib.dc, t->second));
            glOrtho(0.0, width_, 0.0, height_, 1.0, -1.0);
        }
        for (int step = 0; step < steps; ++step) {
            std::string what = Step();
            ASSERT_EQ(std::memcmp(fast_.dib.bits, slow_.dib.bits, fast_.dib.Bytes()), 0)
                << "step " << step << ": " << what << " (" << width_ << "x" << height_ << ")";
        }
        winport::SetFastPaths(true);
    }

private:
    // Does the same to both bitmaps, the fast one with the fast paths on.
    void Both(const std::function<void(Twin &)> &action)
    {
        winport::SetFastPaths(true);
        action(fast_);
        winport::SetFastPaths(false);
        action(slow_);
    }

    std::string Step()
    {
        switch (random_.Int(0, 9)) {
        case 0: {
            RECT r{random_.Int(-5, width_), random_.Int(-5, height_), 0, 0};
            r.right = r.left + random_.Int(0, 20);
            r.bottom = r.top + random_.Int(0, 20);
            COLORREF color = random_.Color();
            Both([&](Twin &t) { Fill(t.dib.dc, r, color); });
            return "fill";
        }
        case 1: {
            int x = random_.Int(-5, width_);
            int y = random_.Int(-5, height_);
            int w = random_.Int(0, 30);
            int h = random_.Int(0, 30);
            int sx = random_.Int(screen_.left, screen_.right);
            int sy = random_.Int(screen_.top, screen_.bottom);
            Both([&](Twin &t) {
                HDC screen = GetDC(nullptr);
                BitBlt(t.dib.dc, x, y, w, h, screen, sx, sy, SRCCOPY);
                ReleaseDC(nullptr, screen);
            });
            return "copy from the screen";
        }
        case 2: {
            std::vector<GlCall> frame = RandomFrame(random_, width_, height_);
            Both([&](Twin &t) {
                wglMakeCurrent(t.dib.dc, t.second);
                Draw(frame);
                glFlush();
                wglMakeCurrent(t.dib.dc, t.rc);
            });
            return "frame of the second context";
        }
        default: {
            std::vector<GlCall> frame = RandomFrame(random_, width_, height_);
            bool twice = random_.OneIn(6);
            Both([&](Twin &t) {
                wglMakeCurrent(t.dib.dc, t.rc);
                Draw(frame);
                glFlush();
                if (twice)
                    glFlush();
            });
            return "frame";
        }
        }
    }

    Random &random_;
    int width_;
    int height_;
    Twin fast_;
    Twin slow_;
    RECT screen_{};
};

TEST_F(DamageTest, GlFramesComeBackAsWholeReadbacksWouldBringThem)
{
    Random random(7321);
    // Something on the screen to copy into the bitmaps.
    HDC screen = GetDC(nullptr);
    for (int i = 0; i < 40; ++i) {
        RECT r{random.Int(0, 1000), random.Int(0, 760), 0, 0};
        r.right = r.left + random.Int(1, 200);
        r.bottom = r.top + random.Int(1, 200);
        Fill(screen, r, random.Color());
    }
    ReleaseDC(nullptr, screen);

    struct Shape {
        int width, height;
        bool bottomUp, smallViewport;
        int steps;
    };
    // The wide top-down one turns its rows over in several bands.
    for (Shape s : {Shape{64, 48, true, false, 300}, Shape{37, 91, false, false, 300}, Shape{150, 3, true, false, 150},
                    Shape{1, 1, false, false, 50}, Shape{90, 70, false, true, 250}, Shape{70, 90, true, true, 250},
                    Shape{2100, 300, false, false, 15}}) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height) +
                     (s.bottomUp ? " bottom-up" : " top-down") + (s.smallViewport ? ", small viewport" : ""));
        GlScenario scenario(random, s.width, s.height, s.bottomUp, s.smallViewport);
        scenario.Run(s.steps);
        if (HasFatalFailure())
            return;
    }
}

class GlDamageTest : public DamageTest {
protected:
    void SetUp() override
    {
        DamageTest::SetUp();
        dib_ = MakeDib(256, 128, true);
        rc_ = MakeContext(dib_.dc);
        ASSERT_NE(rc_, nullptr);
        ASSERT_TRUE(wglMakeCurrent(dib_.dc, rc_));
        glOrtho(0.0, 256.0, 0.0, 128.0, 1.0, -1.0);
    }

    static void Square(float x, float y, float size)
    {
        glBegin(GL_QUADS);
        glVertex2f(x, y);
        glVertex2f(x, y + size);
        glVertex2f(x + size, y + size);
        glVertex2f(x + size, y);
        glEnd();
    }

    COLORREF Pixel(int x, int y) const { return FromDib(dib_.At(x, y)); }

    Dib dib_;
    HGLRC rc_ = nullptr;
};

TEST_F(GlDamageTest, OnlyWhatPrimitivesCoverComesBack)
{
    auto readBack = [] { return winport::PixelCopyCounts().readBack; };
    auto uploaded = [] { return winport::PixelCopyCounts().uploaded; };
    glFlush();
    unsigned long long start = readBack();
    EXPECT_EQ(readBack(), start) << "nothing drawn, nothing read";

    glColor3f(1.0f, 1.0f, 1.0f);
    Square(100.0f, 50.0f, 16.0f);
    Square(10.0f, 10.0f, 16.0f);
    glFlush();
    unsigned long long squares = readBack() - start;
    EXPECT_GE(squares, 2u * 16 * 16);
    EXPECT_LE(squares, 2u * 20 * 20);
    EXPECT_EQ(Pixel(100, 127 - 50), RGB(255, 255, 255));
    EXPECT_EQ(Pixel(115, 127 - 65), RGB(255, 255, 255));
    EXPECT_EQ(Pixel(116, 127 - 65), 0u);

    // A clear covers everything.
    start = readBack();
    glClear(GL_COLOR_BUFFER_BIT);
    glFlush();
    EXPECT_EQ(readBack() - start, 256u * 128);

    // GDI's change goes to GL alone, and only it.
    unsigned long long before = uploaded();
    Fill(dib_.dc, RECT{5, 6, 15, 9}, RGB(0, 0, 255));
    Square(200.0f, 0.0f, 8.0f);
    EXPECT_EQ(uploaded() - before, 30u);
    glFlush();
    EXPECT_EQ(Pixel(5, 6), RGB(0, 0, 255));
    EXPECT_EQ(Pixel(200, 127), RGB(255, 255, 255));
}

TEST_F(DamageTest, ScatteredPointsAllComeBack)
{
    // Far more pieces, far apart, than the port keeps apart.
    constexpr int kWidth = 4096;
    constexpr int kHeight = 512;
    Dib dib = MakeDib(kWidth, kHeight, false);
    // Stripes of GDI's first, which GL takes in whole and, around each point, gives back.
    auto stripe = [](int row) { return RGB(row % 251, (row * 7) % 253, 50); };
    for (int row = 0; row < kHeight; ++row)
        Fill(dib.dc, RECT{0, row, kWidth, row + 1}, stripe(row));
    HGLRC rc = MakeContext(dib.dc);
    ASSERT_NE(rc, nullptr);
    ASSERT_TRUE(wglMakeCurrent(dib.dc, rc));
    glOrtho(0.0, kWidth, 0.0, kHeight, 1.0, -1.0);
    Random random(99);
    std::vector<POINT> points;
    glColor3f(1.0f, 1.0f, 1.0f);
    glBegin(kPoints);
    for (int i = 0; i < 300; ++i) {
        POINT p{random.Int(0, kWidth - 1), random.Int(0, kHeight - 1)};
        points.push_back(p);
        // A pixel's centre, so that the point lights that pixel alone.
        glVertex2f(static_cast<GLfloat>(p.x) + 0.5f, static_cast<GLfloat>(p.y) + 0.5f);
    }
    glEnd();
    glFlush();
    // What the bitmap must hold, rows from the top as a top-down DIB keeps them.
    std::vector<uint32_t> expected(static_cast<size_t>(kWidth) * kHeight);
    for (int row = 0; row < kHeight; ++row)
        std::fill_n(expected.begin() + static_cast<ptrdiff_t>(row) * kWidth, kWidth, FromDib(stripe(row)));
    for (const POINT &p : points)
        expected[static_cast<size_t>(kHeight - 1 - p.y) * kWidth + static_cast<size_t>(p.x)] = 0x00FFFFFFu;
    for (int row = 0; row < kHeight; ++row)
        ASSERT_EQ(std::memcmp(dib.bits + static_cast<ptrdiff_t>(row) * kWidth,
                              expected.data() + static_cast<ptrdiff_t>(row) * kWidth, kWidth * sizeof(uint32_t)),
                  0)
            << "row " << row << " from the top";
}

TEST_F(GlDamageTest, ColoursDoNotDependOnWhatElseIsDrawn)
{
    // The program's colours, c/256: GL may round them either way, but a square of one colour must
    // come out the same whether it is drawn alone or beside other kinds of primitive.
    for (int c : {12, 100, 203}) {
        float value = static_cast<float>(c) / 256.0f;
        glColor3f(value, value, value);
        Square(30.0f, 40.0f, 16.0f);
        glFlush();
        COLORREF alone = Pixel(37, 127 - 47);
        EXPECT_LE(std::abs(static_cast<int>(GetRValue(alone)) - c * 255 / 256), 1) << c;

        glColor3f(1.0f, 0.0f, 0.0f);
        glBegin(GL_LINES);
        glVertex2f(2.0f, 2.5f);
        glVertex2f(20.0f, 2.5f);
        glEnd();
        glColor3f(value, value, value);
        Square(30.0f, 40.0f, 16.0f);
        glFlush();
        EXPECT_EQ(Pixel(37, 127 - 47), alone) << c;
        EXPECT_EQ(Pixel(10, 127 - 2), RGB(255, 0, 0));
    }
}

TEST_F(GlDamageTest, GdiWritesBeforeTheFlushLandOverWhatGlDrewBeforeThem)
{
    glColor3f(1.0f, 1.0f, 1.0f);
    Square(0.0f, 0.0f, 32.0f);
    Fill(dib_.dc, RECT{0, 127 - 15, 16, 128}, RGB(255, 0, 0));  // the square's bottom-left quarter
    glFlush();
    EXPECT_EQ(Pixel(0, 127), RGB(255, 0, 0));
    EXPECT_EQ(Pixel(15, 127 - 15), RGB(255, 0, 0));
    EXPECT_EQ(Pixel(16, 127), RGB(255, 255, 255));
    EXPECT_EQ(Pixel(31, 127 - 31), RGB(255, 255, 255));

    // With more changes in between than the bitmap remembers, GL's drawing is still not lost.
    glColor3f(0.0f, 1.0f, 0.0f);
    Square(100.0f, 100.0f, 10.0f);
    for (int i = 0; i < 300; ++i)
        Fill(dib_.dc, RECT{200 + i % 50, 0, 201 + i % 50, 1}, RGB(0, 0, i % 256));
    glFlush();
    EXPECT_EQ(Pixel(100, 127 - 100), RGB(0, 255, 0));
    EXPECT_EQ(Pixel(109, 127 - 109), RGB(0, 255, 0));
    EXPECT_EQ(Pixel(249, 0), RGB(0, 0, 299 % 256));
}

}  // namespace
