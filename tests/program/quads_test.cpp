// tovixquads on the headless desktop: the surface and its frames over every layout, and each call
// it makes failing. A loop pass is two retrievals and two frames, the paint message's copied to
// the window and the idle one's to the screen, so at retrieval 2i + 1 the screen shows 2i frames.
#include <string>

#include "program_test.h"
#include "quads.h"

using namespace program_test;

void program_test::ResetProgramGlobals()
{
    g_memDC = NULL;
    g_hDib = NULL;
}

namespace {

// GL stores a drawn v/256 as v or v - 1.
constexpr int kGlRounding = 1;

class Quads : public ProgramTest, public ::testing::WithParamInterface<NamedLayout> {};

TEST_P(Quads, ShowTheOrangeBitmapAndThenTheModelsFramesOverEveryMonitor)
{
    ASSERT_TRUE(Start(GetParam().monitors));
    const int code = RunProgram(21, [](long n) {
        if (n == 1 || n == 21) {
            EXPECT_TRUE(ScreenShows(QuadsPicture(n - 1), kGlRounding)) << "at retrieval " << n;
        }
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(winport::LiveGdiObjects(), 2) << "the surface's DC and bitmap, and nothing more";
    EXPECT_EQ(winport::OutstandingDCs(), 0);
}

class QuadsPreview : public ProgramTest, public ::testing::WithParamInterface<PreviewCase> {};

TEST_P(QuadsPreview, ShowAPreviewSizedBitmapAndItsFramesInThePreviewAloneAndEndWithItsParent)
{
    RunPreviewCase(GetParam(), 11, [](long n, const model::Rect &area) { return QuadsPicture(n - 1, true, &area); },
                   kGlRounding);
}

INSTANTIATE_TEST_SUITE_P(Previews, QuadsPreview, ::testing::ValuesIn(kPreviews),
                         [](const ::testing::TestParamInfo<PreviewCase> &i) { return std::string(i.param.name); });

// A loop pass is two retrievals and two frames.
TEST_F(ProgramTest, SoakForThousandsOfFramesWithoutGrowing) { Soak(8000); }

INSTANTIATE_TEST_SUITE_P(Layouts, Quads, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<NamedLayout> &i) { return std::string(i.param.name); });

enum class Outcome {
    Frames,        // every frame drawn so far is on the screen
    Blackout,      // the surface never got a picture: the monitors stay black, frames or not
    IdleCopyLost,  // the screen shows every frame but the last
};

// A call failing once, `skip` calls after it is armed: at start-up, or at retrieval armAt, the start
// of a loop pass. The screen is judged at the start of the pass after.
struct Failure {
    const char *name;
    winport::Call call;
    int skip;
    long armAt;
    Outcome outcome;
};
void PrintTo(const Failure &f, std::ostream *os) { *os << f.name; }

// GetDC: the window's own, the first frame's target, the blackout's, the surface's window DC.
const Failure kFailures[] = {
    {"WindowContextCreation", winport::Call::wglCreateContext, 0, 0, Outcome::Frames},
    {"SurfacesWindowDc", winport::Call::GetDC, 3, 0, Outcome::Frames},
    {"MemoryDc", winport::Call::CreateCompatibleDC, 0, 0, Outcome::Blackout},
    {"Bitmap", winport::Call::CreateDIBSection, 0, 0, Outcome::Blackout},
    {"BitmapPixelFormatChoice", winport::Call::ChoosePixelFormat, 1, 0, Outcome::Blackout},
    {"BitmapPixelFormatSetting", winport::Call::SetPixelFormat, 1, 0, Outcome::Blackout},
    {"BitmapContextCreation", winport::Call::wglCreateContext, 1, 0, Outcome::Blackout},
    {"BitmapContextBinding", winport::Call::wglMakeCurrent, 1, 0, Outcome::Blackout},
    {"BitmapGlStart", winport::Call::GlStart, 0, 0, Outcome::Blackout},
    {"PaintCopy", winport::Call::BitBlt, 0, 5, Outcome::Frames},
    {"IdleCopy", winport::Call::BitBlt, 1, 5, Outcome::IdleCopyLost},
    {"IdleCopysScreenDc", winport::Call::GetDC, 1, 5, Outcome::IdleCopyLost},
};

class QuadsFailure : public ProgramTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(QuadsFailure, LosesOnlyWhatTheCallWouldHaveShownAndStillEndsOnInput)
{
    const Failure &f = GetParam();
    ASSERT_TRUE(Start(LeftOfPrimary().monitors));
    if (f.armAt == 0)
        winport::FailCall(f.call, f.skip, 1);
    const long check = f.armAt == 0 ? 9 : f.armAt + 2;
    const int code = RunProgram(check + 2, [&](long n) {
        if (n == f.armAt)
            winport::FailCall(f.call, f.skip, 1);
        if (n != check)
            return;
        const long shown = f.outcome == Outcome::IdleCopyLost ? check - 2 : check - 1;
        EXPECT_TRUE(ScreenShows(QuadsPicture(shown, f.outcome != Outcome::Blackout), kGlRounding));
    });
    EXPECT_EQ(code, 0);
}

INSTANTIATE_TEST_SUITE_P(Calls, QuadsFailure, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure> &i) { return std::string(i.param.name); });

}  // namespace
