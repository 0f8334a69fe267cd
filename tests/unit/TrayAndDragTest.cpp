#include "DragFrame.h"
#include "MainModule.h"
#include "PlayerForm.h"
#include "SystrayHelper.h"

#include <QtEndian>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace SystrayHelper;

namespace {
QByteArray FixedFileInfo(int major, int minor)
{
    QByteArray record(52, '\0');
    qToLittleEndian<std::uint32_t>(0xFEEF04BD, record.data());
    qToLittleEndian<std::uint32_t>(std::uint32_t(major) << 16 | std::uint32_t(minor), record.data() + 8);
    return record;
}
} // namespace

TEST(TrayRecordSize, FollowsTheShellsMajorVersion)
{
    const auto original = ShellFixedFileInfo;
    const struct { QByteArray info; int size; } cases[] = {
        {FixedFileInfo(6, 0), 504}, {FixedFileInfo(10, 0), 504}, {FixedFileInfo(5, 0), 488},
        {FixedFileInfo(4, 72), 88}, {QByteArray(), 88}, {QByteArray(52, '\x7f'), 88},
    };
    for (const auto& c : cases) {
        ShellFixedFileInfo = [&] { return c.info; };
        SelectTrayRecordSize();
        EXPECT_EQ(TrayRecordSize, c.size);
    }
    ShellFixedFileInfo = original;
    SelectTrayRecordSize();
    EXPECT_EQ(TrayRecordSize, 504) << "the tray facility counts as the modern one";
    TrayRecordSize = 0;
    EXPECT_EQ(FixedFileInfoMajorVersion(FixedFileInfo(4, 72)), 4);
}

TEST(TrayRecord, FirstLayoutHoldsA64CharacterTip)
{
    const QByteArray tip = QByteArray("Radio Velmora Player") + '\0' + QByteArray(107, ' ');
    const QByteArray record = BuildTrayRecord({88, 7, 125, 7, 0x8015, 9, tip});
    EXPECT_EQ(record.mid(24, 64), tip.left(64));
    EXPECT_EQ(record.mid(88), QByteArray(504 - 88, '\0'));
    EXPECT_EQ(ParseTrayRecord(record).szTip, tip.left(64));
}

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

    SearchTitle = "Radio Velmora Player";
    FoundWindow = 0;
    EXPECT_EQ(EnumWindowProc({11, "radio velmora player notes", "Gedit"}, 1), 1) << "another program's window";
    EXPECT_EQ(FoundWindow, 0u);
    EXPECT_EQ(EnumWindowProc({12, "Radio Velmora Player", PlayerWindowClass}, 1), 0);
    EXPECT_EQ(FoundWindow, 12u);
    FoundWindow = 0;
}

TEST(StatusText, StatesNineAndTenReadConnectingAndReady)
{
    EXPECT_EQ(StatusTextFor(9, false), "Connecting...");
    EXPECT_EQ(StatusTextFor(10, false), "Ready");
    EXPECT_EQ(StatusTextFor(3, true), "Playing (High Quality)");
    EXPECT_EQ(StatusTextFor(-1, true), "");
}
