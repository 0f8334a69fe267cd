#include "FakeEngine.h"
#include "FocusFrame.h"
#include "ImageButton.h"
#include "PictureBox.h"
#include "PlayerForm.h"
#include "SystrayHelper.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace SystrayHelper;

namespace {

class PlayerWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("SONVALE_STREAM_HOST", "station.test");
        auto engine = std::make_unique<FakeEngine>(log);
        fake = engine.get();
        form = std::make_unique<PlayerForm>(std::move(engine), shell);
        // Every popup closes at once, as if the listener pressed Escape.
        QObject::connect(form->contextMenu, &QMenu::aboutToShow, [this] {
            ++menusShown;
            openVisibleInMenu = form->openMenuItem->isVisible();
            QTimer::singleShot(0, form->contextMenu, &QMenu::close);
        });
    }
    void Loaded()
    {
        form->Load();
        log.clear();
    }
    void Click(ImageButton* button, Qt::MouseButton which = Qt::LeftButton)
    {
        QTest::mouseClick(button, which, {}, QPoint(5, 5));
    }
    QRgb Face(ImageButton* button) const { return button->Face().toImage().pixel(32, 35); }
    QRgb PictureOf(class ImageHolder* holder) const { return holder->Picture().toImage().pixel(32, 35); }

    QStringList log;
    FakeShell shell{log};
    FakeEngine* fake = nullptr;
    std::unique_ptr<PlayerForm> form;
    int menusShown = 0;
    bool openVisibleInMenu = false;
    const QString low = "http://station.test:8000/velmora32.m3u";
    const QString high = "http://station.test:8000/velmora.m3u";
};

} // namespace

TEST_F(PlayerWindow, LoadRunsInItsOrderAndLeavesTheDesignedStartState)
{
    bool titleAtAdd = false, stopDisabledAtAdd = false, shapedAtAdd = false, hookedAtAdd = true;
    shell.onCall = [&](int) {
        titleAtAdd = form->windowTitle() == "Radio Velmora Player";
        stopDisabledAtAdd = !form->stopImageButton->isEnabled();
        shapedAtAdd = !form->mask().isEmpty() && form->isVisible();
        hookedAtAdd = PreviousWindowProc != 0;
    };
    form->Load();
    EXPECT_EQ(log, (QStringList{"settings.autoStart=0", "uiMode=invisible", "settings.volume=100", "NIM_ADD"}));
    EXPECT_TRUE(titleAtAdd && stopDisabledAtAdd && shapedAtAdd);
    EXPECT_FALSE(hookedAtAdd) << "the tray hook comes last";
    EXPECT_NE(PreviousWindowProc, 0);

    EXPECT_EQ(form->size(), QSize(380, 72));
    EXPECT_EQ(form->pos(), QPoint(212, 196));
    EXPECT_EQ(form->TwipsPerPixelX, 15);
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form->mask().boundingRect(), QRect(QPoint(2, 2), QPoint(378, 71)));
    EXPECT_TRUE(form->lowSpeedImageButton->Checked());
    EXPECT_FALSE(form->highSpeedImageButton->Checked());
    EXPECT_TRUE(form->lowSpeedMenuItem->isChecked());
    EXPECT_FALSE(form->highSpeedMenuItem->isChecked());
    EXPECT_FALSE(form->IsPlaying);
    EXPECT_EQ(form->statusLabel->text(), "Ready");
    EXPECT_GE(form->statusLabel->y(), 72) << "the status label lies below the visible area";
    EXPECT_EQ(form->playPauseImageButton->geometry(), QRect(0, 1, 68, 70));
    EXPECT_EQ(form->stopImageButton->geometry(), QRect(64, 1, 43, 70));
    EXPECT_EQ(form->minimiseImageButton->parentWidget(), form->backgroundPicture);
    QStringList captions;
    for (QAction* action : form->contextMenu->actions())
        captions << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(captions, (QStringList{"&Play/Pause", "&Stop", "&Open", "-", "&High Speed", "&Low Speed", "-", "E&xit"}));
}

TEST_F(PlayerWindow, TrayRecordCarriesTheIconIdTipAndCallback)
{
    form->Load();
    ASSERT_EQ(shell.records.size(), 1u);
    const QByteArray& record = shell.records[0];
    ASSERT_EQ(record.size(), 504);
    const TrayRecordFields f = ParseTrayRecord(record);
    EXPECT_EQ(f.cbSize, 504u);
    EXPECT_EQ(f.hWnd, std::uint32_t(form->winId()));
    EXPECT_EQ(f.uID, 125u);
    EXPECT_EQ(f.uFlags, 7u);
    EXPECT_EQ(f.uCallbackMessage, 0x8015u);
    EXPECT_EQ(IconFromHandle(f.hIcon).cacheKey(), form->redIcon->Icon().cacheKey());
    EXPECT_EQ(f.szTip, QByteArray("Radio Velmora Player") + '\0' + QByteArray(107, ' '));
    EXPECT_EQ(record.mid(24 + 128), QByteArray(504 - 152, '\0'));
}

TEST_F(PlayerWindow, PlayPauseAndStopFollowTheCommandTable)
{
    Loaded();
    Click(form->playPauseImageButton);
    EXPECT_EQ(log, (QStringList{"URL=" + low, "controls.play"}));
    EXPECT_TRUE(form->IsPlaying);
    fake->Report(Playing);
    log.clear();
    form->playPauseMenuItem->trigger();
    EXPECT_EQ(log, QStringList{"controls.pause"});
    EXPECT_FALSE(form->IsPlaying);
    fake->Report(Paused);
    log.clear();
    Click(form->playPauseImageButton);
    EXPECT_EQ(log, QStringList{"controls.play"}) << "the same address is not set again, so the stream resumes";
    log.clear();
    form->stopMenuItem->trigger();
    EXPECT_EQ(log, QStringList{"controls.stop"});
    EXPECT_FALSE(form->IsPlaying);
}

TEST_F(PlayerWindow, ChangingQualityWhilePlayingTakesEffectAtTheNextPlay)
{
    Loaded();
    Click(form->playPauseImageButton);
    fake->Report(Playing);
    log.clear();
    Click(form->highSpeedImageButton);
    EXPECT_TRUE(log.isEmpty()) << "choosing a quality changes nothing at once";
    EXPECT_TRUE(form->highSpeedImageButton->Checked());
    EXPECT_FALSE(form->lowSpeedImageButton->Checked());
    EXPECT_TRUE(form->highSpeedMenuItem->isChecked());
    EXPECT_FALSE(form->lowSpeedMenuItem->isChecked());
    Click(form->playPauseImageButton);
    EXPECT_EQ(log, QStringList{"controls.pause"});
    fake->Report(Paused);
    log.clear();
    Click(form->playPauseImageButton);
    EXPECT_EQ(log, (QStringList{"URL=" + high, "controls.play"}));
}

TEST_F(PlayerWindow, MenuQualityItemsMoveTheButtonsAndTheCheckedButtonStaysChecked)
{
    Loaded();
    form->highSpeedMenuItem->trigger();
    EXPECT_TRUE(form->highSpeedImageButton->Checked());
    EXPECT_FALSE(form->lowSpeedImageButton->Checked()) << "radio mode un-checks the other button";
    EXPECT_TRUE(form->highSpeedMenuItem->isChecked());
    EXPECT_FALSE(form->lowSpeedMenuItem->isChecked());

    Click(form->highSpeedImageButton);
    EXPECT_TRUE(form->highSpeedImageButton->Checked()) << "a click never leaves neither quality chosen";
    EXPECT_TRUE(form->highSpeedMenuItem->isChecked());
    Click(form->playPauseImageButton);
    EXPECT_TRUE(log.contains("URL=" + high));

    form->lowSpeedMenuItem->trigger();
    Click(form->lowSpeedImageButton);
    EXPECT_TRUE(form->lowSpeedImageButton->Checked());
    EXPECT_FALSE(form->highSpeedImageButton->Checked());
    EXPECT_TRUE(form->lowSpeedMenuItem->isChecked());
    EXPECT_FALSE(form->highSpeedMenuItem->isChecked());
}

TEST_F(PlayerWindow, AStreamThatEndedByItselfIsStartedAgainNotPaused)
{
    for (int idle : {int(Stopped), int(MediaEnded), int(Ready), int(Undefined)}) {
        Loaded();
        Click(form->playPauseImageButton);
        fake->Report(Playing);
        fake->Report(idle);
        log.clear();
        Click(form->playPauseImageButton);
        EXPECT_EQ(log, QStringList{"controls.play"}) << "engine state " << idle;
        EXPECT_TRUE(form->IsPlaying);
        form->StopCommand();
        fake->state = Undefined;
    }
}

TEST_F(PlayerWindow, StatusFollowsEveryPlayState)
{
    Loaded();
    const QStringList texts = {"", "Stopped", "Paused", "Playing (Low Quality)", "ScanForward", "ScanReverse",
        "Buffering...", "Waiting", "MediaEnded", "Connecting...", "Ready", "Reconnecting...", ""};
    for (int state = 0; state <= 12; ++state) {
        fake->Report(Playing);
        log.clear();
        const QRgb faceBefore = Face(form->playPauseImageButton);
        fake->Report(state);
        EXPECT_EQ(form->statusLabel->text(), texts[state]) << state;
        if (state >= 1 && state <= 3) {
            EXPECT_EQ(log, (QStringList{"NIM_DELETE", "NIM_ADD"})) << state;
            const TrayRecordFields added = ParseTrayRecord(shell.records.back());
            const QIcon expected = state == 3 ? form->greenIcon->Icon() : form->redIcon->Icon();
            EXPECT_EQ(IconFromHandle(added.hIcon).cacheKey(), expected.cacheKey()) << state;
            EXPECT_EQ(form->stopImageButton->isEnabled(), state != 1) << state;
            const auto up = state == 3 ? form->pauseImage : form->playImage;
            const auto over = state == 3 ? form->pauseHoverImage : form->playHoverImage;
            EXPECT_EQ(form->playPauseImageButton->UpImage().cacheKey(), up->Picture().cacheKey()) << state;
            EXPECT_EQ(form->playPauseImageButton->OverImage().cacheKey(), over->Picture().cacheKey()) << state;
        } else {
            EXPECT_TRUE(log.isEmpty()) << state;
            EXPECT_EQ(Face(form->playPauseImageButton), faceBefore) << state;
        }
    }
}

TEST_F(PlayerWindow, QualitySuffixIsReadWhenPlayingBeginsAndRepeatedStatesRecreateTheIcon)
{
    Loaded();
    fake->Report(Playing);
    form->highSpeedMenuItem->trigger();
    EXPECT_EQ(form->statusLabel->text(), "Playing (Low Quality)");
    fake->Report(Buffering);
    fake->Report(Playing);
    EXPECT_EQ(form->statusLabel->text(), "Playing (High Quality)");
    log.clear();
    fake->Report(Paused);
    fake->Report(Paused);
    EXPECT_EQ(log, (QStringList{"NIM_DELETE", "NIM_ADD", "NIM_DELETE", "NIM_ADD"}));
}

TEST_F(PlayerWindow, PopupMenuOffersOpenOnlyWhileHiddenAndOnlyTheRightButtonPopsItUp)
{
    Loaded();
    QTest::mousePress(form->playPauseImageButton, Qt::RightButton, {}, {5, 5});
    EXPECT_EQ(menusShown, 1);
    EXPECT_FALSE(openVisibleInMenu);
    QTest::mouseRelease(form->playPauseImageButton, Qt::RightButton, {}, {5, 5});
    QTest::mouseClick(form->backgroundPicture, Qt::RightButton, {}, {150, 60});
    EXPECT_EQ(menusShown, 2);
    QTest::mouseClick(form->backgroundPicture, Qt::MiddleButton, {}, {150, 60});
    QTest::mouseClick(form->playPauseImageButton, Qt::MiddleButton, {}, {5, 5});
    EXPECT_EQ(menusShown, 2) << "the middle button pops up nothing";

    Click(form->minimiseImageButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(log.filter("NIM").isEmpty()) << "hiding keeps the tray icon";
    form->ShowPopupMenu(2);
    EXPECT_TRUE(openVisibleInMenu);
    form->openMenuItem->trigger();
    EXPECT_TRUE(form->isVisible());
}

TEST_F(PlayerWindow, TrayDoubleClickShowsAndRightClickPopsUpTheMenu)
{
    Loaded();
    form->hide();
    TrayMessageEvent singleClick(0x201), rightPress(0x204);
    QCoreApplication::sendEvent(form.get(), &singleClick);
    QCoreApplication::sendEvent(form.get(), &rightPress);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(menusShown, 0);
    TrayMessageEvent rightUp(WM_RBUTTONUP);
    QCoreApplication::sendEvent(form.get(), &rightUp);
    EXPECT_EQ(menusShown, 1);
    EXPECT_TRUE(openVisibleInMenu);
    TrayMessageEvent doubleClick(WM_LBUTTONDBLCLK);
    QCoreApplication::sendEvent(form.get(), &doubleClick);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(PlayerWindow, UnloadStopsRemovesTheIconAndUnhooksEvenWhenStepsFail)
{
    for (int failing = 0; failing < 3; ++failing) {
        log.clear();
        SetUp();
        Loaded();
        fake->stopFails = failing == 1;
        shell.deleteFails = failing == 2;
        QSignalSpy unloaded(form.get(), &PlayerForm::Unloaded);
        if (failing == 0)
            Click(form->closeImageButton);
        else
            form->exitMenuItem->trigger();
        EXPECT_EQ(log, (QStringList{"controls.stop", "NIM_DELETE"})) << failing;
        EXPECT_EQ(PreviousWindowProc, 0) << failing;
        EXPECT_EQ(unloaded.count(), 1) << failing;
        EXPECT_FALSE(form->isVisible());
        shell.deleteFails = false;
    }
}

TEST_F(PlayerWindow, DraggingTheBackgroundShowsTheFrameAndMovesTheWindowByThePointersMovement)
{
    Loaded();
    const QPoint start = form->pos();
    emit form->backgroundPicture->MouseDown(1, 0, 1500, 300);
    EXPECT_FALSE(form->Frame().isVisible()) << "no frame before the first move";
    emit form->backgroundPicture->MouseMove(1, 0, 1650, 450);
    EXPECT_TRUE(form->Frame().isVisible());
    EXPECT_EQ(form->Frame().Shown(), form->frameGeometry().translated(10, 10));
    emit form->backgroundPicture->MouseMove(3, 0, 3000, 3000);
    EXPECT_EQ(form->Frame().Shown(), form->frameGeometry().translated(10, 10)) << "moves with two buttons held";
    emit form->backgroundPicture->MouseUp(2, 0, 3000, 3000);
    EXPECT_EQ(form->pos(), start);
    emit form->backgroundPicture->MouseUp(1, 0, 1650, 450);
    EXPECT_FALSE(form->Frame().isVisible());
    EXPECT_EQ(form->pos(), start + QPoint(10, 10));

    emit form->backgroundPicture->MouseDown(1, 0, 1500, 300);
    EXPECT_TRUE(form->Frame().isVisible()) << "the previous drag's frame shows at the press";
    emit form->backgroundPicture->MouseUp(1, 0, 1500, 300);
    EXPECT_FALSE(form->Frame().isVisible());
    EXPECT_EQ(form->pos(), start + QPoint(10, 10));
}
