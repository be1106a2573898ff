#include "port_fixture.h"

namespace {

class WindowTest : public PortTest {
protected:
    void SetUp() override
    {
        PortTest::SetUp();
        Received().clear();
    }
};

TEST_F(WindowTest, ClassRegistrationChecksTheRecordAndRefusesDuplicates)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "Alpha";
    EXPECT_NE(RegisterClassExA(&wc), 0);

    WNDCLASSEXA again = wc;
    again.lpszClassName = "ALPHA";  // class names ignore case
    EXPECT_EQ(RegisterClassExA(&again), 0);

    WNDCLASSEXA badSize = wc;
    badSize.lpszClassName = "Beta";
    badSize.cbSize = 48;  // the 32-bit record's size is wrong here
    EXPECT_EQ(RegisterClassExA(&badSize), 0);

    WNDCLASSEXA noProc = wc;
    noProc.lpszClassName = "Gamma";
    noProc.lpfnWndProc = nullptr;
    EXPECT_EQ(RegisterClassExA(&noProc), 0);
    EXPECT_EQ(RegisterClassExA(nullptr), 0);

    winport::FailCall(winport::Call::RegisterClassExA);
    WNDCLASSEXA failing = wc;
    failing.lpszClassName = "Delta";
    EXPECT_EQ(RegisterClassExA(&failing), 0);
}

TEST_F(WindowTest, CreationSendsCreateMessagesAndPlacesTheWindowExactly)
{
    HWND hwnd = MakeWindow(RECT{-800, -10, 1024, 768}, 0, WS_EX_TOPMOST);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(ReceivedMessages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
    auto windows = winport::Windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].rect.left, -800);
    EXPECT_EQ(windows[0].rect.top, -10);
    EXPECT_EQ(windows[0].rect.right, 1024);
    EXPECT_EQ(windows[0].exStyle, static_cast<DWORD>(WS_EX_TOPMOST));
    EXPECT_FALSE(windows[0].visible);

    EXPECT_EQ(CreateWindowExA(0, "NOSUCHCLASS", "x", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    winport::FailCall(winport::Call::CreateWindowExA);
    EXPECT_EQ(MakeWindow(RECT{0, 0, 10, 10}), nullptr);
}

TEST_F(WindowTest, UpdateWindowSendsTheFirstPaintStraightToTheProcedure)
{
    HWND hwnd = MakeWindow(RECT{0, 0, 100, 100});
    UpdateWindow(hwnd);  // hidden: nothing to paint
    EXPECT_EQ(ReceivedMessages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
    ShowWindow(hwnd, SW_SHOWDEFAULT);
    Received().clear();
    EXPECT_TRUE(UpdateWindow(hwnd));
    EXPECT_EQ(ReceivedMessages(), (std::vector<UINT>{WM_PAINT}));
    // The default handling validated it: no paint message is left for the queue.
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_FALSE(UpdateWindow(nullptr));
}

TEST_F(WindowTest, AnOwnDcIsTheSameHandleEveryTimeAndSurvivesRelease)
{
    HWND own = MakeWindow(RECT{0, 0, 100, 100}, CS_OWNDC, 0, "OWN");
    HDC first = GetDC(own);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ReleaseDC(own, first), 1);
    EXPECT_EQ(GetDC(own), first);
    EXPECT_EQ(winport::OutstandingDCs(), 0);

    HWND common = MakeWindow(RECT{0, 0, 100, 100}, 0, 0, "COMMON");
    HDC a = GetDC(common);
    HDC b = GetDC(common);
    EXPECT_NE(a, b);
    EXPECT_EQ(winport::OutstandingDCs(), 2);
    EXPECT_EQ(ReleaseDC(common, a), 1);
    EXPECT_EQ(ReleaseDC(common, a), 0);  // already released
    EXPECT_EQ(ReleaseDC(common, b), 1);
    EXPECT_EQ(winport::OutstandingDCs(), 0);
}

TEST_F(WindowTest, ACloseRequestDestroysTheWindowThroughTheDefaultHandling)
{
    HWND hwnd = MakeWindow(RECT{0, 0, 100, 100}, CS_OWNDC);
    ShowWindow(hwnd, SW_SHOW);
    HDC own = GetDC(hwnd);
    SetCapture(hwnd);
    winport::RequestClose(hwnd);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    Received().clear();
    DispatchMessageA(&msg);
    EXPECT_EQ(ReceivedMessages(), (std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_TRUE(winport::Windows().empty());
    EXPECT_EQ(winport::CaptureWindow(), nullptr);
    // Handles of the destroyed window are now rejected, not followed.
    EXPECT_EQ(GetDC(hwnd), nullptr);
    HBRUSH brush = CreateSolidBrush(0);
    RECT r{0, 0, 1, 1};
    EXPECT_EQ(FillRect(own, &r, brush), 0);
    DeleteObject(brush);
    EXPECT_FALSE(winport::DestroyWindowExternally(hwnd));
}

TEST_F(WindowTest, AltF4ClosesTheFocusedWindow)
{
    HWND hwnd = MakeWindow(RECT{0, 0, 100, 100});
    ShowWindow(hwnd, SW_SHOW);
    winport::InjectKey(VK_MENU, true);
    winport::InjectKey(VK_F4, true);
    MSG msg;
    for (int i = 0; i < 3 && !winport::Windows().empty(); ++i) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    EXPECT_TRUE(winport::Windows().empty());
}

TEST_F(WindowTest, ForgedAndMismatchedHandlesAreRejected)
{
    HWND hwnd = MakeWindow(RECT{0, 0, 100, 100});
    HWND forged = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    EXPECT_FALSE(ShowWindow(forged, SW_SHOW));
    EXPECT_EQ(GetDC(forged), nullptr);
    EXPECT_EQ(SetCapture(forged), nullptr);
    EXPECT_EQ(winport::CaptureWindow(), nullptr);
    // A window handle is not a DC, a brush is not a bitmap.
    EXPECT_EQ(ReleaseDC(hwnd, reinterpret_cast<HDC>(hwnd)), 0);
    HBRUSH brush = CreateSolidBrush(0);
    HDC mem = CreateCompatibleDC(nullptr);
    EXPECT_EQ(SelectObject(mem, brush), nullptr);
    EXPECT_EQ(DefWindowProcA(forged, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(winport::Windows().size(), 1u);
}

}  // namespace
