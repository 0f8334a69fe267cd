#include "DragFrame.h"
#include "MainModule.h"
#include "RadioPlayer.h"

#include <gtest/gtest.h>
#include <stdexcept>

TEST(DragArithmetic, PointerMovementInTwipsBecomesPixels)
{
    const DragRect window{212, 196, 592, 268};
    const QPoint start(1500 + 212, 300 + 196);
    EXPECT_EQ(ComputeDragFrame(start + QPoint(150, 0), window, start, 15, 15), (DragRect{222, 196, 602, 268}));
    // Halves round to even: 7.5 px -> 8, 22.5 px -> 22.
    EXPECT_EQ(ComputeDragFrame(start + QPoint(112, 0), window, start, 15, 15).left, 219);
    EXPECT_EQ(ComputeDragFrame(QPoint(0, 0), DragRect{0, 0, 10, 10}, QPoint(-225, -113), 15, 15),
        (DragRect{15, 8, 25, 18}));
    EXPECT_EQ(ComputeDragFrame(QPoint(0, 0), DragRect{0, 0, 10, 10}, QPoint(-345, 0), 15, 15).left, 23);

    EXPECT_EQ(DragEndPosition(1650.f, 300.f, 1500, 300, window, 15, 15), QPointF(150 + 15 * 212, 15 * 196));
    EXPECT_EQ(DragEndPosition(1500.4f, 300.f, 1500, 300, window, 15, 15).x(), 1500.4f - 1500 + 15 * 212)
        << "the release position is used as it came";
    EXPECT_THROW(DragEndPosition(0, 0, 0, 0, DragRect{200000000, 0, 0, 0}, 15, 15), std::overflow_error);
}

TEST(SingleInstance, TitleRuleAndTheWindowsClass)
{
    using namespace MainModule;
    EXPECT_TRUE(TitleContains("Radio Velmora Player", "Radio Velmora Player"));
    EXPECT_TRUE(TitleContains("x RADIO velmora PLAYER notes", "Radio Velmora Player"));
    EXPECT_FALSE(TitleContains("Radio Velmora", "Radio Velmora Player"));
    EXPECT_TRUE(TitleContains(QByteArray(240, 'a') + "Radio Velmora Player", "Radio Velmora Player"));
    EXPECT_FALSE(TitleContains(QByteArray(241, 'a') + "Radio Velmora Player", "Radio Velmora Player"))
        << "titles are cut to 260 characters";

    const std::vector<TopLevelWindow> windows = {
        {11, "radio velmora player notes", "Gedit"}, {12, "Radio Velmora Player", PlayerWindowClass},
        {13, "Radio Velmora Player", PlayerWindowClass}};
    EXPECT_EQ(FindWindowByTitle("Radio Velmora Player", windows), 12u) << "the first player window, not another program's";
    EXPECT_EQ(FindWindowByTitle("Radio Velmora Player", {windows[0]}), 0u);
}

TEST(StatusText, StatesNineAndTenReadConnectingAndReady)
{
    EXPECT_EQ(StatusTextFor(PlayState(9), false), "Connecting...");
    EXPECT_EQ(StatusTextFor(PlayState(10), false), "Ready");
    EXPECT_EQ(StatusTextFor(PlayState(3), true), "Playing (High Quality)");
    EXPECT_EQ(StatusTextFor(PlayState(-1), true), "");
}

TEST(PlayerStatus, TheDesktopHearsPlayingWhileTheListenerWantsItAndItIsOnItsWay)
{
    const auto word = [](Playback playback) {
        return playback == Playback::Playing ? "Playing" : playback == Playback::Paused ? "Paused" : "Stopped";
    };
    QStringList wanted, unwanted;
    for (int state = 0; state <= 12; ++state) {
        wanted << word(NextStatus({}, PlayState(state), Quality::Low, true).playback);
        unwanted << word(NextStatus({}, PlayState(state), Quality::Low, false).playback);
    }
    // 0 undefined, 1 stopped, 2 paused, 3 playing, 4-5 scanning, 6 buffering, 7 waiting,
    // 8 ended, 9 connecting, 10 ready, 11 reconnecting, 12 undefined
    EXPECT_EQ(wanted.join(' '), "Stopped Stopped Paused Playing Stopped Stopped Playing Stopped Stopped Playing Stopped Playing Stopped");
    EXPECT_EQ(unwanted.join(' '), "Stopped Stopped Paused Stopped Stopped Stopped Stopped Stopped Stopped Stopped Stopped Stopped Stopped");

    const PlayerStatus playing = NextStatus({}, Playing, Quality::High, true);
    const PlayerStatus reconnecting = NextStatus(playing, Reconnecting, Quality::Low, true);
    EXPECT_EQ(reconnecting.text, "Reconnecting...");
    EXPECT_TRUE(reconnecting.pauseFaces && reconnecting.stopEnabled && reconnecting.green)
        << "only stopped, paused and playing change the faces, the stop button and the icon";
}
