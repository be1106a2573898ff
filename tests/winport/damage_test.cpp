// The fast paths (copies that move only what changed, GL readbacks of only what GL drew) must leave
// exactly what plain whole copies leave, and the damage must cover every pixel that changed.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "port_fixture.h"

namespace {

// Random drawing of every kind, the same from the same seed, on a screen with two windows.
class Scenario {
public:
    Scenario(const std::vector<winport::MonitorSpec> &layout, bool fast)
    {
        EXPECT_TRUE(winport::ResetDesktop(layout));
        winport::SetFastPaths(fast);
        v_ = winport::VirtualScreen();
        width_ = v_.right - v_.left;
        height_ = v_.bottom - v_.top;
        int x = Int(v_.left - 20, v_.right - 20), y = Int(v_.top - 20, v_.bottom - 20);
        windows_[1] = ShowWindowAt(v_);
        windows_[2] = ShowWindowAt(small_ = RECT{x, y, x + Int(1, 60), y + Int(1, 60)});  // partly off the screen
        frame_ = MakeDib(width_, height_, Int(0, 2) != 0);
        other_ = MakeDib(Int(1, 90), Int(1, 70), Int(0, 1) != 0);
        SetPixelFormat(other_.dc, 2, nullptr);
        for (HGLRC &rc : contexts_) {
            rc = MakeContext(frame_.dc);
            EXPECT_TRUE(wglMakeCurrent(frame_.dc, rc));
            glOrtho(0.0, width_, 0.0, height_, 1.0, -1.0);
        }
        shown_ = winport::ScreenPixels();
        winport::TakeScreenDamage();
    }

    // One step; every pixel it changed on the screen must lie inside the damage. Gives the screen and bitmaps.
    std::vector<uint32_t> Step()
    {
        int w = Int(0, 3) == 0 ? 2 : Int(0, 1);  // through the small window's DC, the screen's or the cover's
        HDC dc = GetDC(windows_[w]);
        POINT origin = w == 0 ? POINT{0, 0} : w == 1 ? POINT{v_.left, v_.top} : POINT{small_.left, small_.top};
        Draw(dc, v_.left - origin.x, v_.top - origin.y);
        ReleaseDC(windows_[w], dc);
        const std::vector<RECT> damage = winport::TakeScreenDamage();
        std::vector<COLORREF> now = winport::ScreenPixels();
        size_t i = 0, outside = 0;
        for (LONG y = v_.top; y < v_.bottom; ++y)
            for (LONG x = v_.left; x < v_.right; ++x, ++i)
                outside += now[i] != shown_[i] && std::none_of(damage.begin(), damage.end(), [&](const RECT &d) {
                               return x >= d.left && x < d.right && y >= d.top && y < d.bottom;
                           });
        EXPECT_EQ(outside, 0u) << "pixels changed outside the damage";
        shown_ = now;
        now.insert(now.end(), frame_.bits, frame_.bits + frame_.pixels);
        now.insert(now.end(), other_.bits, other_.bits + other_.pixels);
        return now;
    }

private:
    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    float Float() { return std::uniform_real_distribution<float>(0.0f, 1.0f)(random_); }
    COLORREF Color() { return RGB(Int(0, 255), Int(0, 255), Int(0, 255)); }
    Dib &AnyBitmap() { return Int(0, 2) == 0 ? other_ : frame_; }

    void Draw(HDC dc, LONG dx, LONG dy)
    {
        int x = Int(-8, width_), y = Int(-8, height_), cx = Int(0, 40), cy = Int(0, 40), roll = Int(0, 39);
        if (roll < 3) {
            Fill(AnyBitmap().dc, RECT{x, y, x + cx, y + cy}, Color());
        } else if (roll < 5) {
            Fill(dc, RECT{x + dx, y + dy, x + cx + dx, y + cy + dy}, Color());
        } else if (roll < 17) {  // a primitive of any kind, at times after a clear or a turn of the picture
            wglMakeCurrent(AnyBitmap().dc, contexts_[Int(0, 1)]);
            glClearColor(Float(), Float(), Float(), 1.0f);
            if (Int(0, 5) == 0)
                glClear(GL_COLOR_BUFFER_BIT);
            if (Int(0, 7) == 0)
                glOrtho(1.0, -1.0, 1.0, -1.0, -1.0, 1.0);
            glColor3f(Float(), Float(), Float());
            glBegin(static_cast<GLenum>(Int(0, 9)));  // GL_POINTS to GL_POLYGON
            auto gx = static_cast<float>(x) - 12.0f, gy = static_cast<float>(y) - 12.0f;
            for (int i = Int(0, 30); i > 0; --i)
                glVertex2f(gx + 24.0f * Float(), gy + 24.0f * Float());
            glEnd();
            glFlush();
            if (Int(0, 1) == 0)  // and on to the screen, as the programs do
                BitBlt(dc, dx, dy, width_, height_, frame_.dc, 0, 0, SRCCOPY);
        } else if (roll < 27) {
            BitBlt(dc, dx, dy, width_, height_, frame_.dc, 0, 0, SRCCOPY);  // the whole frame
        } else if (roll < 33) {
            bool aligned = Int(0, 1) != 0;  // with the whole copy's shift, which the screen may remember
            BitBlt(dc, x + dx, y + dy, cx, cy, AnyBitmap().dc, aligned ? x : Int(-9, 90), aligned ? y : Int(-9, 70),
                   SRCCOPY);
        } else if (roll < 37) {  // within the screen, or from the screen or the other bitmap into the frame
            HDC screen = GetDC(nullptr), from = Int(0, 2) != 0 ? screen : other_.dc;
            bool within = from == screen && Int(0, 1) != 0;
            BitBlt(within ? screen : frame_.dc, x + (within ? v_.left : 0), y + (within ? v_.top : 0), cx, cy, from,
                   Int(v_.left - 9, v_.right), Int(v_.top - 9, v_.bottom), SRCCOPY);
            ReleaseDC(nullptr, screen);
        } else if (roll < 38) {  // more changes than a bitmap remembers
            for (int i = 0; i < 300; ++i)
                Fill(frame_.dc, RECT{i % width_, i % height_, i % width_ + 1, i % height_ + 1}, Color());
        } else {  // a new bitmap, likely where the old one was
            SelectObject(other_.dc, other_.stock);
            DeleteObject(other_.bitmap);
            other_ = MakeDib(Int(1, 90), Int(1, 70), Int(0, 1) != 0);
            SetPixelFormat(other_.dc, 2, nullptr);
        }
    }

    std::mt19937 random_{20240611};
    RECT v_{};
    int width_ = 0, height_ = 0;
    HWND windows_[3] = {};  // the screen, a cover, a small window
    RECT small_{};
    Dib frame_, other_;
    HGLRC contexts_[2] = {};
    std::vector<COLORREF> shown_;
};

TEST_F(PortTest, FastPathsLeaveWhatWholeCopiesLeaveAndTheDamageCoversEveryChange)
{
    const std::vector<winport::MonitorSpec> layouts[] = {
        {{RECT{0, 0, 120, 90}}}, {{RECT{0, 0, 96, 72}}, {RECT{-64, 8, 0, 56}}},  // one; a negative origin on the left
        {{RECT{0, 0, 96, 72}}, {RECT{16, -48, 80, 0}}},  // above the primary
        {{RECT{0, 0, 80, 60}}, {RECT{-80, -30, 0, 30}}, {RECT{100, 20, 150, 70}}},  // with a gap
    };
    for (const auto &layout : layouts) {
        std::vector<std::vector<uint32_t>> plain;
        for (bool fast : {false, true}) {
            Scenario scenario(layout, fast);  // the same desktop each time, from the same seed
            for (size_t i = 0; i < 300 && !HasFailure(); ++i) {
                SCOPED_TRACE("layout " + std::to_string(&layout - layouts) + ", step " + std::to_string(i));
                std::vector<uint32_t> now = scenario.Step();
                if (!fast)
                    plain.push_back(now);
                else
                    ASSERT_TRUE(now == plain[i]);
            }
        }
    }
}

}  // namespace
