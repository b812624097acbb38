#include "MultiButton_QRV.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace qrv;

namespace {

constexpr int W = 24;
constexpr int H = 12;

// A distinct solid colour for each picture, so that a grab tells which one is drawn.
QColor FaceColour(int set, int state) { return QColor(30 + 50 * state, set == 1 ? 60 : 180, 90); }

QPixmap Solid(int set, int state, QSize size = {W, H})
{
    QPixmap p(size);
    p.fill(FaceColour(set, state));
    return p;
}

class MultiButtonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "player_window_tests";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr)
            s_app = new QApplication(argc, argv);
    }

    static void GiveBothSets(TMultiButton_QRV& b)
    {
        for (int set : {1, 2})
            for (int state = 0; state < 4; ++state)
                b.SetImage(set, static_cast<TMultiButton_QRV::TState>(state), Solid(set, state));
    }

    // The picture the button shows now, as (set, state); (0, -1) for anything else.
    static std::pair<int, int> Face(TMultiButton_QRV& b)
    {
        const QColor c = b.grab().toImage().pixelColor(W / 2, H / 2);
        for (int set : {1, 2})
            for (int state = 0; state < 4; ++state)
                if (c == FaceColour(set, state))
                    return {set, state};
        return {0, -1};
    }

    static void Enter(TMultiButton_QRV& b)
    {
        QEnterEvent e(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(&b, &e);
    }
    static void Leave(TMultiButton_QRV& b)
    {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(&b, &e);
    }
    static void Mouse(TMultiButton_QRV& b, QEvent::Type type, QPointF at)
    {
        QMouseEvent e(type, at, b.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&b, &e);
    }

    static inline QApplication* s_app = nullptr;
};

TEST_F(MultiButtonTest, TakesTheSizeOfItsFirstNormalPictureAndKeepsIt)
{
    TMultiButton_QRV plain;
    EXPECT_EQ(plain.size(), QSize(100, 20));
    plain.resize(60, 30);
    EXPECT_EQ(plain.size(), QSize(60, 30)) << "without a picture the button sizes freely";

    TMultiButton_QRV b;
    b.SetImage2Normal(Solid(2, 0, {50, 50}));
    EXPECT_EQ(b.size(), QSize(100, 20)) << "only the first set's normal picture sizes the button";
    b.SetImage1Normal(Solid(1, 0));
    EXPECT_EQ(b.size(), QSize(W, H));
    b.resize(200, 80);
    EXPECT_EQ(b.size(), QSize(W, H));
    b.SetImage1Normal(Solid(1, 0, {30, 16}));
    EXPECT_EQ(b.size(), QSize(30, 16));
}

TEST_F(MultiButtonTest, MissingPictureShowsTheNamedBoxAtTheControlSize)
{
    // Large enough that the box's inside shows beside the text.
    const QSize big(140, 30);
    TMultiButton_QRV b;
    for (int state = 0; state < 4; ++state)
        b.SetImage(1, static_cast<TMultiButton_QRV::TState>(state), Solid(1, state, big));
    ASSERT_EQ(b.grab().toImage().pixelColor(70, 15), FaceColour(1, 0));

    b.SetToggle(true); // set 2 has no pictures at all
    const QImage shown = b.grab().toImage();
    EXPECT_EQ(shown.pixelColor(0, 0), QColor(Qt::black)) << "the box's border";
    EXPECT_EQ(shown.pixelColor(big.width() - 1, big.height() - 1), QColor(Qt::black));
    EXPECT_EQ(shown.pixelColor(big.width() - 3, big.height() - 3), QColor(Qt::white)) << "the box's inside";
    bool text = false;
    for (int y = 2; y < big.height() - 1 && !text; ++y)
        for (int x = 2; x < 20 && !text; ++x)
            text = shown.pixelColor(x, y).lightness() < 128;
    EXPECT_TRUE(text) << "the text \"MButton_QRV\" starts at (2, 2)";

    // A smaller over picture leaves the box showing around it.
    b.SetToggle(false);
    b.SetImage1Over(Solid(1, 1, {10, 10}));
    Enter(b);
    const QImage over = b.grab().toImage();
    EXPECT_EQ(over.pixelColor(5, 5), FaceColour(1, 1));
    EXPECT_EQ(over.pixelColor(big.width() - 3, big.height() - 3), QColor(Qt::white));
}

// Each step acts on the button and then names the state and the picture it must show.
enum class Act { Enter, Leave, PressIn, ReleaseIn, ReleaseOut, Disable, Enable, DownOn, DownOff, ToggleOn, ToggleOff };

struct Step {
    Act Action;
    int State;
    bool Down;
};

struct Sequence {
    const char* Name;
    bool AllowDown;
    std::vector<Step> Steps;
    int Clicks;
};

void PrintTo(const Sequence& sequence, std::ostream* os) { *os << sequence.Name; }

class MultiButtonStateTest : public MultiButtonTest, public ::testing::WithParamInterface<Sequence> {};

TEST_P(MultiButtonStateTest, FollowsTheStateTable)
{
    const Sequence& seq = GetParam();
    TMultiButton_QRV b;
    GiveBothSets(b);
    b.AllowDown = seq.AllowDown;
    int clicks = 0;
    b.OnClick = [&](TMultiButton_QRV& sender) {
        EXPECT_EQ(&sender, &b);
        ++clicks;
    };
    int step = 0;
    for (const Step& s : seq.Steps) {
        SCOPED_TRACE(std::string(seq.Name) + ", step " + std::to_string(step++));
        switch (s.Action) {
        case Act::Enter: Enter(b); break;
        case Act::Leave: Leave(b); break;
        case Act::PressIn: Mouse(b, QEvent::MouseButtonPress, {3, 3}); break;
        case Act::ReleaseIn: Mouse(b, QEvent::MouseButtonRelease, {3, 3}); break;
        case Act::ReleaseOut: Mouse(b, QEvent::MouseButtonRelease, {W + 40.0, 3}); break;
        case Act::Disable: b.setEnabled(false); break;
        case Act::Enable: b.setEnabled(true); break;
        case Act::DownOn: b.SetDown(true); break;
        case Act::DownOff: b.SetDown(false); break;
        case Act::ToggleOn: b.SetToggle(true); break;
        case Act::ToggleOff: b.SetToggle(false); break;
        }
        EXPECT_EQ(b.State(), s.State);
        EXPECT_EQ(b.Down(), s.Down);
        EXPECT_EQ(Face(b), std::make_pair(b.Toggle() ? 2 : 1, s.State));
    }
    EXPECT_EQ(clicks, seq.Clicks);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, MultiButtonStateTest,
    ::testing::Values(
        Sequence{"click", false,
                 {{Act::Enter, 1, false}, {Act::PressIn, 2, false}, {Act::ReleaseIn, 1, false}, {Act::Leave, 0, false}},
                 1},
        Sequence{"released outside: no click", false,
                 {{Act::Enter, 1, false}, {Act::PressIn, 2, false}, {Act::ReleaseOut, 0, false}},
                 0},
        Sequence{"latched by a click, kept through leave and enter, released by a second click", true,
                 {{Act::Enter, 1, false},
                  {Act::PressIn, 2, true},
                  {Act::ReleaseIn, 2, true},
                  {Act::Leave, 2, true},
                  {Act::Enter, 2, true},
                  {Act::PressIn, 2, false},
                  {Act::ReleaseIn, 1, false},
                  {Act::Leave, 0, false}},
                 2},
        Sequence{"latched and released outside stays pressed", true,
                 {{Act::Enter, 1, false}, {Act::PressIn, 2, true}, {Act::ReleaseOut, 2, true}},
                 0},
        Sequence{"disabled ignores the mouse until enabled", false,
                 {{Act::Disable, 3, false},
                  {Act::Enter, 3, false},
                  {Act::Leave, 3, false},
                  {Act::Enable, 0, false},
                  {Act::Enter, 1, false}},
                 0},
        Sequence{"SetDown shows the pressed picture and enter does not change it", false,
                 {{Act::DownOn, 2, true}, {Act::Enter, 2, true}, {Act::Leave, 2, true}, {Act::DownOff, 0, false}},
                 0},
        Sequence{"SetDown while disabled keeps the disabled look", false,
                 {{Act::Disable, 3, false}, {Act::DownOn, 3, true}, {Act::Enable, 0, true}},
                 0},
        Sequence{"Toggle redraws the same state from the other set", false,
                 {{Act::Enter, 1, false},
                  {Act::ToggleOn, 1, false},
                  {Act::PressIn, 2, false},
                  {Act::ReleaseIn, 1, false},
                  {Act::ToggleOff, 1, false},
                  {Act::Disable, 3, false},
                  {Act::ToggleOn, 3, false}},
                 1}),
    [](const ::testing::TestParamInfo<Sequence>& param) { return "Sequence" + std::to_string(param.index); });

TEST_F(MultiButtonTest, EnterAndLeaveEventsFireInEveryState)
{
    TMultiButton_QRV b;
    GiveBothSets(b);
    int entered = 0, left = 0;
    b.OnMouseEnter = [&](TMultiButton_QRV&) { ++entered; };
    b.OnMouseLeave = [&](TMultiButton_QRV&) { ++left; };
    Enter(b);
    Leave(b);
    b.SetDown(true);
    Enter(b);
    Leave(b);
    b.setEnabled(false);
    Enter(b);
    Leave(b);
    EXPECT_EQ(entered, 3);
    EXPECT_EQ(left, 3);
}

TEST_F(MultiButtonTest, HintFollowsTheActiveSet)
{
    struct Case {
        const char* Hint1;
        const char* Hint2;
        bool Toggle;
        const char* Shown;
    };
    const Case cases[] = {
        {"Play", "Pause", false, "Play"},
        {"Play", "Pause", true, "Pause"},
        {"Play", "", true, "Base"}, // an empty set hint leaves Hint as it is
        {"", "Pause", false, "Base"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Hint1) + "/" + c.Hint2 + (c.Toggle ? " toggled" : ""));
        TMultiButton_QRV b;
        b.SetHint(QStringLiteral("Base"));
        b.Image1Hint = QString::fromUtf8(c.Hint1);
        b.Image2Hint = QString::fromUtf8(c.Hint2);
        b.SetToggle(c.Toggle);
        QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), b.mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(&b, &help);
        EXPECT_EQ(b.Hint(), QString::fromUtf8(c.Shown));
    }
}

} // namespace
