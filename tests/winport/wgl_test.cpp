// Pixel formats, WGL contexts and GL drawing on the port, observed through the public calls and
// the test API.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "port_fixture.h"

namespace {

constexpr DWORD kWindowFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
constexpr DWORD kBitmapFlags = PFD_DRAW_TO_BITMAP | PFD_SUPPORT_GDI | PFD_SUPPORT_OPENGL;

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
// glClearColor(1, 0.5, 0): llvmpipe rounds 0.5 * 255 to 128; other drivers may give 127.
constexpr int kOrangeGreen = 128;

PIXELFORMATDESCRIPTOR Descriptor(DWORD flags)
{
    PIXELFORMATDESCRIPTOR pfd;
    std::memset(&pfd, 0, sizeof pfd);
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = flags;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    return pfd;
}

::testing::AssertionResult IsColor(COLORREF actual, int red, int green, int blue, int tolerance = 0)
{
    int r = GetRValue(actual);
    int g = GetGValue(actual);
    int b = GetBValue(actual);
    if (actual != winport::kInvalidColor && std::abs(r - red) <= tolerance && std::abs(g - green) <= tolerance &&
        std::abs(b - blue) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "colour 0x" << std::hex << actual << std::dec << " = (" << r << ", " << g
                                         << ", " << b << "), expected (" << red << ", " << green << ", " << blue
                                         << ") within " << tolerance;
}

::testing::AssertionResult IsOrange(COLORREF actual) { return IsColor(actual, 255, kOrangeGreen, 0, 1); }

// A memory DC with a 32-bit DIB section selected; bottom-up unless asked otherwise.
struct BitmapTarget {
    HDC dc = nullptr;
    HBITMAP dib = nullptr;
    HGDIOBJ stock = nullptr;  // what the DC held before the DIB
    uint32_t *bits = nullptr;
    int width = 0;
    int height = 0;
};

BitmapTarget MakeBitmapTarget(int width, int height, bool bottomUp = true)
{
    BitmapTarget t;
    t.width = width;
    t.height = height;
    t.dc = CreateCompatibleDC(nullptr);
    t.dib = MakeDibSection(width, height, bottomUp, &t.bits);
    t.stock = SelectObject(t.dc, t.dib);
    return t;
}

// A bitmap target with the bitmap format set and a context of its own.
HGLRC MakeBitmapContext(const BitmapTarget &t)
{
    PIXELFORMATDESCRIPTOR pfd = Descriptor(kBitmapFlags);
    if (!SetPixelFormat(t.dc, ChoosePixelFormat(t.dc, &pfd), &pfd))
        return nullptr;
    return wglCreateContext(t.dc);
}

LRESULT CALLBACK PlainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A visible window; its class is registered on first use after each desktop reset.
HWND MakeWindow(UINT classStyle, int x, int y, int width, int height)
{
    const char *name = classStyle & CS_OWNDC ? "WglTestOwnDc" : "WglTestPlain";
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = classStyle;
    wc.lpfnWndProc = PlainWndProc;
    wc.lpszClassName = name;
    RegisterClassExA(&wc);  // fails harmlessly when already registered
    HWND hwnd = CreateWindowExA(0, name, "wgl", WS_POPUP, x, y, width, height, nullptr, nullptr, nullptr, nullptr);
    if (hwnd != nullptr)
        ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

// GL coordinates one unit per pixel, origin at the bottom-left, on a fresh context.
void PixelOrtho(int width, int height)
{
    glOrtho(0.0, static_cast<GLdouble>(width), 0.0, static_cast<GLdouble>(height), 1.0, -1.0);
}

void Quad(float x0, float y0, float x1, float y1)
{
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x0, y1);
    glVertex2f(x1, y1);
    glVertex2f(x1, y0);
    glEnd();
}

void ClearTo(float red, float green, float blue)
{
    glClearColor(red, green, blue, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

int CountPixels(HBITMAP dib, int width, int height, COLORREF color)
{
    int count = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            count += winport::BitmapPixel(dib, x, y) == color ? 1 : 0;
    return count;
}

class WglTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(winport::ResetDesktop()); }
    void TearDown() override { winport::ResetDesktop(); }
};

// First in this file: run alone, the GL calls and resets meet a device that was never set up.
TEST_F(WglTest, GlCallsWithNoContextCurrentDoNothing)
{
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glOrtho(0.0, 1.0, 0.0, 1.0, 1.0, -1.0);
    glColor3f(1.0f, 1.0f, 1.0f);
    Quad(0.0f, 0.0f, 1.0f, 1.0f);
    glFlush();
    ASSERT_TRUE(winport::ResetDesktop());
    ASSERT_TRUE(winport::ResetDesktop());

    // A released context no longer draws into the bitmap it was current on.
    BitmapTarget t = MakeBitmapTarget(8, 8);
    HGLRC rc = MakeBitmapContext(t);
    ASSERT_NE(rc, nullptr);
    ASSERT_TRUE(wglMakeCurrent(t.dc, rc));
    ASSERT_TRUE(wglMakeCurrent(nullptr, nullptr));
    ClearTo(1.0f, 1.0f, 1.0f);
    glFlush();
    EXPECT_EQ(CountPixels(t.dib, 8, 8, kBlack), 64);
    EXPECT_TRUE(wglMakeCurrent(nullptr, nullptr));  // releasing with nothing current still succeeds
}

TEST_F(WglTest, MalformedGlCallSequencesDoNotDisturbLaterFrames)
{
    BitmapTarget t = MakeBitmapTarget(16, 16);
    HGLRC rc = MakeBitmapContext(t);
    ASSERT_NE(rc, nullptr);
    ASSERT_TRUE(wglMakeCurrent(t.dc, rc));
    PixelOrtho(16, 16);
    glEnd();             // no primitive open
    glBegin(0x1234);     // no such primitive
    glEnd();
    glBegin(GL_QUADS);
    glFlush();           // inside a primitive: refused by GL, and no readback either
    glClear(GL_COLOR_BUFFER_BIT);
    glBegin(GL_QUADS);   // nested
    glEnd();
    glEnd();
    glOrtho(0.0, 0.0, 0.0, 0.0, 0.0, 0.0);  // refused: an empty volume

    ClearTo(1.0f, 0.5f, 0.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    Quad(0.0f, 0.0f, 4.0f, 4.0f);
    glFlush();
    EXPECT_TRUE(IsOrange(winport::BitmapPixel(t.dib, 8, 8)));
    EXPECT_EQ(winport::BitmapPixel(t.dib, 0, 15), kWhite);
    EXPECT_EQ(CountPixels(t.dib, 16, 16, kWhite), 16);
}

// ---- Pixel formats ----

TEST_F(WglTest, ChoosePixelFormatGivesTheFormatForTheTarget)
{
    HWND hwnd = MakeWindow(CS_OWNDC, 0, 0, 64, 64);
    ASSERT_NE(hwnd, nullptr);
    HDC windowDc = GetDC(hwnd);
    BitmapTarget t = MakeBitmapTarget(8, 8);

    PIXELFORMATDESCRIPTOR window = Descriptor(kWindowFlags);
    EXPECT_EQ(ChoosePixelFormat(windowDc, &window), 1);
    // What the cover window asks for: fewer bits than the format has still fit.
    window.cColorBits = 24;
    window.cDepthBits = 16;
    EXPECT_EQ(ChoosePixelFormat(windowDc, &window), 1);
    PIXELFORMATDESCRIPTOR bitmap = Descriptor(kBitmapFlags);
    EXPECT_EQ(ChoosePixelFormat(t.dc, &bitmap), 2);
}

TEST_F(WglTest, ChoosePixelFormatRefusesWhatNoFormatFits)
{
    BitmapTarget t = MakeBitmapTarget(8, 8);
    PIXELFORMATDESCRIPTOR pfd = Descriptor(kBitmapFlags);

    EXPECT_EQ(ChoosePixelFormat(t.dc, nullptr), 0);
    pfd.iPixelType = 1;  // colour index
    EXPECT_EQ(ChoosePixelFormat(t.dc, &pfd), 0);
    pfd = Descriptor(kBitmapFlags | PFD_DOUBLEBUFFER);
    EXPECT_EQ(ChoosePixelFormat(t.dc, &pfd), 0);
    pfd = Descriptor(PFD_DRAW_TO_WINDOW | PFD_DRAW_TO_BITMAP | PFD_SUPPORT_OPENGL);
    EXPECT_EQ(ChoosePixelFormat(t.dc, &pfd), 0);
    pfd = Descriptor(PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER);
    EXPECT_EQ(ChoosePixelFormat(t.dc, &pfd), 0);

    pfd = Descriptor(kBitmapFlags);
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(ChoosePixelFormat(screen, &pfd), 0);  // released, so stale
    EXPECT_EQ(ChoosePixelFormat(nullptr, &pfd), 0);
    EXPECT_EQ(ChoosePixelFormat(reinterpret_cast<HDC>(static_cast<uintptr_t>(0x1234)), &pfd), 0);
    EXPECT_EQ(ChoosePixelFormat(t.dc, &pfd), 2);  // the same descriptor on a live DC does fit
}

TEST_F(WglTest, SetPixelFormatAcceptsOnlyTheFormatOfTheDcsTarget)
{
    HWND hwnd = MakeWindow(CS_OWNDC, 0, 0, 64, 64);
    ASSERT_NE(hwnd, nullptr);
    HDC windowDc = GetDC(hwnd);
    BitmapTarget t = MakeBitmapTarget(8, 8);
    HDC screen = GetDC(nullptr);
    PIXELFORMATDESCRIPTOR pfd = Descriptor(kWindowFlags);

    for (int format : {0, -1, 3, 1000}) {
        EXPECT_FALSE(SetPixelFormat(windowDc, format, &pfd)) << format;
        EXPECT_FALSE(SetPixelFormat(t.dc, format, &pfd)) << format;
    }
    EXPECT_FALSE(SetPixelFormat(windowDc, 2, &pfd));
    EXPECT_FALSE(SetPixelFormat(t.dc, 1, &pfd));
    EXPECT_FALSE(SetPixelFormat(screen, 1, &pfd));
    EXPECT_FALSE(SetPixelFormat(screen, 2, &pfd));
    EXPECT_FALSE(SetPixelFormat(nullptr, 1, &pfd));
    // None of the refusals left a format behind.
    EXPECT_EQ(wglCreateContext(windowDc), nullptr);
    EXPECT_EQ(wglCreateContext(t.dc), nullptr);

    EXPECT_TRUE(SetPixelFormat(windowDc, 1, &pfd));
    EXPECT_TRUE(SetPixelFormat(t.dc, 2, nullptr));  // the descriptor is not needed
}

TEST_F(WglTest, PixelFormatIsSetOnceAndBelongsToTheWindow)
{
    HWND hwnd = MakeWindow(0, 0, 0, 64, 64);
    ASSERT_NE(hwnd, nullptr);
    HDC first = GetDC(hwnd);
    HDC second = GetDC(hwnd);
    ASSERT_NE(first, second);
    PIXELFORMATDESCRIPTOR pfd = Descriptor(kWindowFlags);

    ASSERT_TRUE(SetPixelFormat(first, 1, &pfd));
    EXPECT_TRUE(SetPixelFormat(first, 1, &pfd));
    EXPECT_FALSE(SetPixelFormat(first, 2, &pfd));
    // Every DC of the window has the window's format.
    HGLRC rc = wglCreateContext(second);
    ASSERT_NE(rc, nullptr);
    EXPECT_TRUE(wglMakeCurrent(second, rc));
    EXPECT_TRUE(SetPixelFormat(second, 1, &pfd));

    BitmapTarget t = MakeBitmapTarget(8, 8);
    ASSERT_TRUE(SetPixelFormat(t.dc, 2, &pfd));
    EXPECT_TRUE(SetPixelFormat(t.dc, 2, &pfd));
    EXPECT_FALSE(SetPixelFormat(t.dc, 1, &pfd));
}

// ---- Contexts ----

TEST_F(WglTest, ContextNeedsADcWithAPixelFormat)
{
    BitmapTarget t = MakeBitmapTarget(8, 8);
    EXPECT_EQ(wglCreateContext(t.dc), nullptr);
    EXPECT_EQ(wglCreateContext(nullptr), nullptr);
    EXPECT_EQ(wglCreateContext(reinterpret_cast<HDC>(static_cast<uintptr_t>(0x1234))), nullptr);

    HGLRC first = MakeBitmapContext(t);
    HGLRC second = wglCreateContext(t.dc);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);

    // A memory DC with a format but no bitmap yet: a context, but nothing to draw on.
    HDC bare = CreateCompatibleDC(nullptr);
    ASSERT_TRUE(SetPixelFormat(bare, 2, nullptr));
    HGLRC bareRc = wglCreateContext(bare);
    ASSERT_NE(bareRc, nullptr);
    EXPECT_FALSE(wglMakeCurrent(bare, bareRc));
    // Once it has a bitmap, the same context draws on it.
    uint32_t *bits = nullptr;
    HBITMAP dib = MakeDibSection(4, 4, true, &bits);
    SelectObject(bare, dib);
    ASSERT_TRUE(wglMakeCurrent(bare, bareRc));
    ClearTo(1.0f, 1.0f, 1.0f);
    glFlush();
    EXPECT_EQ(CountPixels(dib, 4, 4, kWhite), 16);
}

TEST_F(WglTest, MakeCurrentRefusesForeignStaleAndMismatchedHandles)
{
    BitmapTarget t = MakeBitmapTarget(8, 8);
    HGLRC bitmapRc = MakeBitmapContext(t);
    ASSERT_NE(bitmapRc, nullptr);
    HWND hwnd = MakeWindow(0, 0, 0, 32, 32);
    ASSERT_NE(hwnd, nullptr);
    HDC windowDc = GetDC(hwnd);
    ASSERT_TRUE(SetPixelFormat(windowDc, 1, nullptr));
    HGLRC windowRc = wglCreateContext(windowDc);
    ASSERT_NE(windowRc, nullptr);
    BitmapTarget noFormat = MakeBitmapTarget(8, 8);

    EXPECT_FALSE(wglMakeCurrent(t.dc, reinterpret_cast<HGLRC>(static_cast<uintptr_t>(0x1234))));
    EXPECT_FALSE(wglMakeCurrent(t.dc, reinterpret_cast<HGLRC>(t.dc)));  // a live handle of another kind
    EXPECT_FALSE(wglMakeCurrent(nullptr, bitmapRc));
    EXPECT_FALSE(wglMakeCurrent(windowDc, bitmapRc));
    EXPECT_FALSE(wglMakeCurrent(t.dc, windowRc));
    EXPECT_FALSE(wglMakeCurrent(noFormat.dc, bitmapRc));
    EXPECT_TRUE(wglMakeCurrent(windowDc, windowRc));
    EXPECT_TRUE(wglMakeCurrent(t.dc, bitmapRc));

    // A released DC and a destroyed window's own DC are stale.
    ASSERT_EQ(ReleaseDC(hwnd, windowDc), 1);
    EXPECT_FALSE(wglMakeCurrent(windowDc, windowRc));
    HWND own = MakeWindow(CS_OWNDC, 0, 0, 32, 32);
    ASSERT_NE(own, nullptr);
    HDC ownDc = GetDC(own);
    ASSERT_TRUE(SetPixelFormat(ownDc, 1, nullptr));
    HGLRC ownRc = wglCreateContext(ownDc);
    ASSERT_NE(ownRc, nullptr);
    ASSERT_TRUE(winport::DestroyWindowExternally(own));
    EXPECT_FALSE(wglMakeCurrent(ownDc, ownRc));
    EXPECT_EQ(wglCreateContext(ownDc), nullptr);
}

TEST_F(WglTest, AFailedMakeCurrentLeavesNoContextCurrent)
{
    BitmapTarget t = MakeBitmapTarget(8, 8);
    HGLRC rc = MakeBitmapContext(t);
    ASSERT_NE(rc, nullptr);
    for (bool injected : {false, true}) {
        ASSERT_TRUE(wglMakeCurrent(t.dc, rc));
        if (injected) {
            winport::FailCall(winport::Call::wglMakeCurrent);
            EXPECT_FALSE(wglMakeCurrent(t.dc, rc));
        } else {
            EXPECT_FALSE(wglMakeCurrent(t.dc, reinterpret_cast<HGLRC>(static_cast<uintptr_t>(0x1234))));
        }
        // Drawing now reaches nothing: the bitmap keeps its black.
        glClearColor(1.0f, 1.0f, 1.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glFlush();
        EXPECT_EQ(winport::BitmapPixel(t.dib, 3, 3), 0u) << (injected ? "injected failure" : "stale context");
    }
}

TEST_F(WglTest, ViewportCoversTheFirstDrawableOnly)
{
    BitmapTarget small = MakeBitmapTarget(16, 16);
    BitmapTarget large = MakeBitmapTarget(64, 32);
    HGLRC rc = MakeBitmapContext(small);
    ASSERT_NE(rc, nullptr);
    ASSERT_TRUE(SetPixelFormat(large.dc, 2, nullptr));
    ASSERT_TRUE(wglMakeCurrent(small.dc, rc));
    // Made current on a larger bitmap, the context keeps its 16x16 viewport.
    ASSERT_TRUE(wglMakeCurrent(large.dc, rc));
    PixelOrtho(64, 32);
    glColor3f(1.0f, 1.0f, 1.0f);
    Quad(0.0f, 0.0f, 64.0f, 32.0f);
    glFlush();
    EXPECT_EQ(CountPixels(large.dib, 64, 32, kWhite), 16 * 16);
    EXPECT_EQ(winport::BitmapPixel(large.dib, 15, 16), kWhite);  // top-left of the bottom-left 16x16
    EXPECT_EQ(winport::BitmapPixel(large.dib, 16, 31), kBlack);

    // A new context's viewport covers its first drawable whole.
    HGLRC fresh = wglCreateContext(large.dc);
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(wglMakeCurrent(large.dc, fresh));
    PixelOrtho(64, 32);
    glColor3f(1.0f, 1.0f, 1.0f);
    Quad(0.0f, 0.0f, 64.0f, 32.0f);
    glFlush();
    EXPECT_EQ(CountPixels(large.dib, 64, 32, kWhite), 64 * 32);
}

TEST_F(WglTest, BitmapBeyondTheGlLimitsCannotBeMadeCurrent)
{
    BitmapTarget wide = MakeBitmapTarget(1 << 17, 1);
    ASSERT_NE(wide.dib, nullptr);
    HGLRC rc = MakeBitmapContext(wide);
    ASSERT_NE(rc, nullptr);
    EXPECT_FALSE(wglMakeCurrent(wide.dc, rc));
    ClearTo(1.0f, 1.0f, 1.0f);
    glFlush();
    EXPECT_EQ(winport::BitmapPixel(wide.dib, 0, 0), kBlack);

    BitmapTarget t = MakeBitmapTarget(8, 8);
    HGLRC other = MakeBitmapContext(t);
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(wglMakeCurrent(t.dc, other));
}

// ---- Drawing into a bitmap ----

class BitmapDrawingTest : public WglTest {
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;

    void SetUp() override
    {
        WglTest::SetUp();
        target_ = MakeBitmapTarget(kWidth, kHeight);
        ASSERT_NE(target_.dib, nullptr);
        rc_ = MakeBitmapContext(target_);
        ASSERT_NE(rc_, nullptr);
    }

    COLORREF Pixel(int x, int y) const { return winport::BitmapPixel(target_.dib, x, y); }

    BitmapTarget target_;
    HGLRC rc_ = nullptr;
};

TEST_F(BitmapDrawingTest, ClearColourLandsInEveryPixelAtFlush)
{
    ASSERT_TRUE(wglMakeCurrent(target_.dc, rc_));
    ClearTo(1.0f, 0.5f, 0.0f);
    glFlush();
    COLORREF first = Pixel(0, 0);
    EXPECT_TRUE(IsOrange(first));
    EXPECT_EQ(CountPixels(target_.dib, kWidth, kHeight, first), kWidth * kHeight);
}

TEST_F(BitmapDrawingTest, ReadbackWritesTheDibMemoryWithItsTopByteClear)
{
    ASSERT_TRUE(wglMakeCurrent(target_.dc, rc_));
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);  // alpha 1 in GL, but never in the DIB
    glClear(GL_COLOR_BUFFER_BIT);
    glFlush();
    for (int i = 0; i < kWidth * kHeight; ++i)
        ASSERT_EQ(target_.bits[i], 0x000000FFu) << "pixel " << i;
}

TEST_F(BitmapDrawingTest, QuadCoversExactlyItsPixelsWithYUpward)
{
    for (bool bottomUp : {true, false}) {
        SCOPED_TRACE(bottomUp ? "bottom-up DIB" : "top-down DIB");
        BitmapTarget t = MakeBitmapTarget(kWidth, kHeight, bottomUp);
        HGLRC rc = MakeBitmapContext(t);
        ASSERT_NE(rc, nullptr);
        ASSERT_TRUE(wglMakeCurrent(t.dc, rc));
        ClearTo(0.0f, 0.0f, 0.0f);
        PixelOrtho(kWidth, kHeight);
        glColor3f(1.0f, 1.0f, 1.0f);
        Quad(0.0f, 0.0f, 16.0f, 16.0f);
        glColor3f(0.0f, 1.0f, 0.0f);
        Quad(30.0f, 20.0f, 46.0f, 36.0f);
        glFlush();

        EXPECT_EQ(CountPixels(t.dib, kWidth, kHeight, kWhite), 256);
        EXPECT_EQ(CountPixels(t.dib, kWidth, kHeight, RGB(0, 255, 0)), 256);
        // GL's row y is the bitmap's row h-1-y counted from the top.
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(winport::BitmapPixel(t.dib, x, kHeight - 1 - y), kWhite) << x << "," << y;
        EXPECT_EQ(winport::BitmapPixel(t.dib, 30, kHeight - 1 - 20), RGB(0, 255, 0));
        EXPECT_EQ(winport::BitmapPixel(t.dib, 45, kHeight - 1 - 35), RGB(0, 255, 0));
        EXPECT_EQ(winport::BitmapPixel(t.dib, 46, kHeight - 1 - 35), kBlack);
        EXPECT_EQ(winport::BitmapPixel(t.dib, 45, kHeight - 1 - 36), kBlack);
    }
}

TEST_F(BitmapDrawingTest, GdiDrawingBeforeMakeCurrentSurvivesUnderGl)
{
    for (bool bottomUp : {true, false}) {
        SCOPED_TRACE(bottomUp ? "bottom-up DIB" : "top-down DIB");
        BitmapTarget t = MakeBitmapTarget(kWidth, kHeight, bottomUp);
        HGLRC rc = MakeBitmapContext(t);
        ASSERT_NE(rc, nullptr);
        HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
        RECT area = {10, 5, 20, 12};  // GDI: from the top
        ASSERT_NE(FillRect(t.dc, &area, red), 0);

        ASSERT_TRUE(wglMakeCurrent(t.dc, rc));
        PixelOrtho(kWidth, kHeight);
        glColor3f(1.0f, 1.0f, 1.0f);
        Quad(40.0f, 0.0f, 56.0f, 16.0f);
        glFlush();

        EXPECT_EQ(CountPixels(t.dib, kWidth, kHeight, RGB(255, 0, 0)), 10 * 7);
        EXPECT_EQ(winport::BitmapPixel(t.dib, 10, 5), RGB(255, 0, 0));
        EXPECT_EQ(winport::BitmapPixel(t.dib, 19, 11), RGB(255, 0, 0));
        EXPECT_EQ(CountPixels(t.dib, kWidth, kHeight, kWhite), 256);
        EXPECT_EQ(winport::BitmapPixel(t.dib, 40, kHeight - 1), kWhite);
        EXPECT_EQ(CountPixels(t.dib, kWidth, kHeight, kBlack), kWidth * kHeight - 70 - 256);
    }
}

TEST_F(BitmapDrawingTest, GdiDrawingBetweenFramesComposesWithGl)
{
    ASSERT_TRUE(wglMakeCurrent(target_.dc, rc_));
    PixelOrtho(kWidth, kHeight);
    ClearTo(1.0f, 0.5f, 0.0f);
    glFlush();

    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    RECT area = {0, 0, 8, 8};
    ASSERT_NE(FillRect(target_.dc, &area, blue), 0);
    glFlush();  // GL drew nothing since the last frame, so GDI's pixels stay
    EXPECT_EQ(CountPixels(target_.dib, kWidth, kHeight, RGB(0, 0, 255)), 64);

    glColor3f(1.0f, 1.0f, 1.0f);
    Quad(32.0f, 0.0f, 48.0f, 16.0f);
    glFlush();

    EXPECT_EQ(CountPixels(target_.dib, kWidth, kHeight, RGB(0, 0, 255)), 64);
    EXPECT_EQ(CountPixels(target_.dib, kWidth, kHeight, kWhite), 256);
    EXPECT_TRUE(IsOrange(Pixel(20, 20)));
    EXPECT_TRUE(IsOrange(Pixel(8, 8)));

    // A later GDI write followed by a clear: the clear wins.
    ASSERT_NE(FillRect(target_.dc, &area, blue), 0);
    ClearTo(0.0f, 0.0f, 0.0f);
    glFlush();
    EXPECT_EQ(CountPixels(target_.dib, kWidth, kHeight, kBlack), kWidth * kHeight);
}

TEST_F(BitmapDrawingTest, ReadbackSkipsABitmapTheDcNoLongerHolds)
{
    // The context has drawn on a second bitmap of the same size before, through another DC.
    uint32_t *otherBits = nullptr;
    HBITMAP other = MakeDibSection(kWidth, kHeight, true, &otherBits);
    HDC otherDc = CreateCompatibleDC(nullptr);
    HGDIOBJ otherStock = SelectObject(otherDc, other);
    ASSERT_TRUE(SetPixelFormat(otherDc, 2, nullptr));
    ASSERT_TRUE(wglMakeCurrent(otherDc, rc_));
    ASSERT_EQ(SelectObject(otherDc, otherStock), other);

    ASSERT_TRUE(wglMakeCurrent(target_.dc, rc_));
    ClearTo(1.0f, 0.5f, 0.0f);
    glFlush();
    ASSERT_TRUE(IsOrange(Pixel(0, 0)));

    // The second bitmap in the current DC: neither it nor the first one takes the frame.
    ASSERT_EQ(SelectObject(target_.dc, other), target_.dib);
    ClearTo(1.0f, 1.0f, 1.0f);
    glFlush();
    EXPECT_EQ(CountPixels(other, kWidth, kHeight, kBlack), kWidth * kHeight);
    EXPECT_TRUE(IsOrange(Pixel(0, 0)));

    // The first bitmap deleted while its buffer is current.
    ASSERT_EQ(SelectObject(target_.dc, target_.stock), other);
    ASSERT_TRUE(DeleteObject(target_.dib));
    ClearTo(0.0f, 0.0f, 1.0f);
    glFlush();
    EXPECT_EQ(winport::BitmapPixel(target_.dib, 0, 0), winport::kInvalidColor);
    EXPECT_EQ(CountPixels(other, kWidth, kHeight, kBlack), kWidth * kHeight);
}

TEST_F(BitmapDrawingTest, ContextsSharingABitmapSeeEachOthersFrames)
{
    HGLRC second = wglCreateContext(target_.dc);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(wglMakeCurrent(target_.dc, rc_));
    ClearTo(1.0f, 0.5f, 0.0f);
    glFlush();

    ASSERT_TRUE(wglMakeCurrent(target_.dc, second));
    PixelOrtho(kWidth, kHeight);
    glColor3f(1.0f, 1.0f, 1.0f);
    Quad(0.0f, 0.0f, 16.0f, 16.0f);
    glFlush();
    // The second context drew over the first one's frame, not over its own stale buffer.
    EXPECT_TRUE(IsOrange(Pixel(40, 20)));
    EXPECT_EQ(CountPixels(target_.dib, kWidth, kHeight, kWhite), 256);

    // And the first context, current again, draws over both.
    ASSERT_TRUE(wglMakeCurrent(target_.dc, rc_));
    glFlush();
    EXPECT_EQ(CountPixels(target_.dib, kWidth, kHeight, kWhite), 256);
    EXPECT_TRUE(IsOrange(Pixel(40, 20)));
}

// ---- Windows ----

TEST_F(WglTest, WindowDrawingReachesNeitherTheScreenNorAnyBitmap)
{
    BitmapTarget t = MakeBitmapTarget(32, 32);
    HGLRC bitmapRc = MakeBitmapContext(t);
    ASSERT_NE(bitmapRc, nullptr);
    ASSERT_TRUE(wglMakeCurrent(t.dc, bitmapRc));
    ClearTo(1.0f, 0.5f, 0.0f);
    glFlush();

    HWND hwnd = MakeWindow(CS_OWNDC, 0, 0, 200, 100);
    ASSERT_NE(hwnd, nullptr);
    HDC windowDc = GetDC(hwnd);
    PIXELFORMATDESCRIPTOR pfd = Descriptor(kWindowFlags);
    ASSERT_TRUE(SetPixelFormat(windowDc, ChoosePixelFormat(windowDc, &pfd), &pfd));
    HGLRC windowRc = wglCreateContext(windowDc);
    ASSERT_NE(windowRc, nullptr);
    ASSERT_TRUE(wglMakeCurrent(windowDc, windowRc));
    ClearTo(0.0f, 1.0f, 0.0f);
    PixelOrtho(200, 100);
    glColor3f(1.0f, 1.0f, 1.0f);
    Quad(0.0f, 0.0f, 100.0f, 100.0f);
    glFlush();

    for (int y = 0; y < 100; y += 9)
        for (int x = 0; x < 200; x += 9)
            ASSERT_EQ(winport::ScreenPixel(x, y), kBlack) << x << "," << y;
    EXPECT_TRUE(IsOrange(winport::BitmapPixel(t.dib, 0, 0)));
    EXPECT_TRUE(IsOrange(winport::BitmapPixel(t.dib, 31, 31)));

    // Back on the bitmap, its context still holds its own frame.
    ASSERT_TRUE(wglMakeCurrent(t.dc, bitmapRc));
    glFlush();
    COLORREF corner = winport::BitmapPixel(t.dib, 0, 0);
    EXPECT_TRUE(IsOrange(corner));
    EXPECT_EQ(CountPixels(t.dib, 32, 32, corner), 32 * 32);
}

// The quad program's sequence: a window context, then a bitmap context drawn and copied to the window.
TEST_F(WglTest, BitmapFramesReachTheScreenThroughBitBlt)
{
    ASSERT_TRUE(winport::ResetDesktop({winport::MonitorSpec{RECT{0, 0, 128, 96}}}));
    HWND hwnd = MakeWindow(CS_OWNDC, 0, 0, 128, 96);
    ASSERT_NE(hwnd, nullptr);
    HDC windowDc = GetDC(hwnd);
    PIXELFORMATDESCRIPTOR windowPfd = Descriptor(kWindowFlags);
    windowPfd.cColorBits = 24;
    windowPfd.cDepthBits = 16;
    ASSERT_TRUE(SetPixelFormat(windowDc, ChoosePixelFormat(windowDc, &windowPfd), &windowPfd));
    HGLRC windowRc = wglCreateContext(windowDc);
    ASSERT_TRUE(wglMakeCurrent(windowDc, windowRc));

    BitmapTarget t = MakeBitmapTarget(128, 96);
    HGLRC bitmapRc = MakeBitmapContext(t);
    ASSERT_NE(bitmapRc, nullptr);
    ASSERT_TRUE(wglMakeCurrent(t.dc, bitmapRc));
    ClearTo(1.0f, 0.5f, 0.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    PixelOrtho(128, 96);
    glBegin(GL_LINES);  // the program's sub-pixel line; whether it lights a pixel is the driver's business
    glVertex2f(0.25f, 0.25f);
    glVertex2f(0.75f, 0.25f);
    glEnd();
    glFlush();
    ASSERT_TRUE(BitBlt(windowDc, 0, 0, 128, 96, t.dc, 0, 0, SRCCOPY));
    EXPECT_TRUE(IsOrange(winport::ScreenPixel(64, 48)));
    EXPECT_TRUE(IsOrange(winport::ScreenPixel(127, 0)));

    glColor3f(0.0f, 0.0f, 1.0f);
    Quad(0.0f, 0.0f, 16.0f, 16.0f);
    glFlush();
    ASSERT_TRUE(BitBlt(windowDc, 0, 0, 128, 96, t.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(winport::ScreenPixel(0, 95), RGB(0, 0, 255));
    EXPECT_EQ(winport::ScreenPixel(15, 80), RGB(0, 0, 255));
    EXPECT_TRUE(IsOrange(winport::ScreenPixel(15, 79)));
    EXPECT_TRUE(IsOrange(winport::ScreenPixel(16, 95)));
}

// ---- Injected failures and resets ----

TEST_F(WglTest, InjectedFailuresHitOnlyTheCallNamed)
{
    PIXELFORMATDESCRIPTOR pfd = Descriptor(kBitmapFlags);

    {
        BitmapTarget t = MakeBitmapTarget(8, 8);
        winport::FailCall(winport::Call::ChoosePixelFormat, 0, 1);
        EXPECT_EQ(ChoosePixelFormat(t.dc, &pfd), 0);
        EXPECT_EQ(ChoosePixelFormat(t.dc, &pfd), 2);
    }
    {
        BitmapTarget t = MakeBitmapTarget(8, 8);
        winport::FailCall(winport::Call::SetPixelFormat, 0, 1);
        EXPECT_EQ(ChoosePixelFormat(t.dc, &pfd), 2);
        EXPECT_FALSE(SetPixelFormat(t.dc, 2, &pfd));
        EXPECT_EQ(wglCreateContext(t.dc), nullptr);  // the failed call set no format
        EXPECT_TRUE(SetPixelFormat(t.dc, 2, &pfd));
    }
    {
        BitmapTarget t = MakeBitmapTarget(8, 8);
        winport::FailCall(winport::Call::wglCreateContext, 0, 1);
        ASSERT_TRUE(SetPixelFormat(t.dc, ChoosePixelFormat(t.dc, &pfd), &pfd));
        EXPECT_EQ(wglCreateContext(t.dc), nullptr);
        EXPECT_NE(wglCreateContext(t.dc), nullptr);
    }
    {
        BitmapTarget t = MakeBitmapTarget(8, 8);
        winport::FailCall(winport::Call::wglMakeCurrent, 0, 1);
        HGLRC rc = MakeBitmapContext(t);
        ASSERT_NE(rc, nullptr);
        EXPECT_FALSE(wglMakeCurrent(t.dc, rc));
        ClearTo(1.0f, 1.0f, 1.0f);
        glFlush();
        EXPECT_EQ(CountPixels(t.dib, 8, 8, kBlack), 64);
        EXPECT_TRUE(wglMakeCurrent(t.dc, rc));
        ClearTo(1.0f, 1.0f, 1.0f);
        glFlush();
        EXPECT_EQ(CountPixels(t.dib, 8, 8, kWhite), 64);
    }
}

TEST_F(WglTest, CallsAreRecordedUnderTheirOwnNames)
{
    BitmapTarget t = MakeBitmapTarget(8, 8);
    PIXELFORMATDESCRIPTOR pfd = Descriptor(kBitmapFlags);
    winport::RecordCalls(true);
    int format = ChoosePixelFormat(t.dc, &pfd);
    SetPixelFormat(t.dc, format, &pfd);
    HGLRC rc = wglCreateContext(t.dc);
    wglMakeCurrent(t.dc, rc);
    wglMakeCurrent(nullptr, nullptr);
    std::vector<std::string> expected = {"ChoosePixelFormat", "SetPixelFormat", "wglCreateContext", "wglMakeCurrent",
                                         "wglMakeCurrent"};
    EXPECT_EQ(winport::CallLog(), expected);
}

TEST_F(WglTest, ResetLeavesNoContextCurrentAndNewOnesWork)
{
    BitmapTarget t = MakeBitmapTarget(16, 16);
    HGLRC rc = MakeBitmapContext(t);
    ASSERT_NE(rc, nullptr);
    ASSERT_TRUE(wglMakeCurrent(t.dc, rc));

    ASSERT_TRUE(winport::ResetDesktop());
    // The same objects again, which may well get the same handles as before the reset.
    BitmapTarget again = MakeBitmapTarget(16, 16);
    ASSERT_TRUE(SetPixelFormat(again.dc, 2, nullptr));
    ClearTo(1.0f, 1.0f, 1.0f);
    glFlush();
    EXPECT_EQ(CountPixels(again.dib, 16, 16, kBlack), 256);
    EXPECT_FALSE(wglMakeCurrent(again.dc, rc));  // contexts do not outlive the desktop

    HGLRC fresh = wglCreateContext(again.dc);
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(wglMakeCurrent(again.dc, fresh));
    ClearTo(1.0f, 1.0f, 1.0f);
    glFlush();
    EXPECT_EQ(CountPixels(again.dib, 16, 16, kWhite), 256);
}

}  // namespace
