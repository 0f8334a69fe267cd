#include "FakeEngine.h"
#include "FocusFrame.h"
#include "ImageButton.h"
#include "ImageButtonAccessible.h"
#include "MprisService.h"
#include "PictureBox.h"
#include "PlayerForm.h"
#include "RadioPlayer.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class PlayerWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ImageButtonAccessible::Install(); }
    void SetUp() override
    {
        form.reset();
        StationConfig config;
        config.streamBase = ServiceBase("station.test", 8000);
        auto engine = std::make_unique<FakeEngine>(log);
        fake = engine.get();
        player = std::make_unique<RadioPlayer>(std::move(engine), config);
        form = std::make_unique<PlayerForm>(*player);
        menu = form->findChild<QMenu*>("contextMenu");
        ASSERT_TRUE(menu);
        // Every popup closes at once, as if the listener pressed Escape.
        QObject::connect(menu, &QMenu::aboutToShow, [this] {
            ++menusShown;
            openVisibleInMenu = Item("openMenuItem")->isVisible();
            QTimer::singleShot(0, menu, &QMenu::close);
        });
    }
    void Loaded()
    {
        form->Load();
        log.clear();
    }
    template <typename T = ImageButton> T* Control(const char* name) const
    {
        T* control = form->findChild<T*>(name);
        EXPECT_TRUE(control) << name;
        return control;
    }
    QAction* Item(const char* name) const { return menu->findChild<QAction*>(name); }
    QSystemTrayIcon* Tray() const
    {
        const auto icons = form->findChildren<QSystemTrayIcon*>();
        EXPECT_EQ(icons.size(), 1) << "one tray icon for the whole run";
        return icons.value(0);
    }
    qint64 HolderIcon(const char* name) const { return Control<ImageHolder>(name)->Icon().cacheKey(); }
    QString Status() const { return Control<QLabel>("statusLabel")->text(); }
    void Click(const char* button, Qt::MouseButton which = Qt::LeftButton)
    {
        QTest::mouseClick(Control(button), which, {}, QPoint(5, 5));
    }

    QStringList log;
    FakeEngine* fake = nullptr;
    std::unique_ptr<RadioPlayer> player;
    std::unique_ptr<PlayerForm> form;
    QMenu* menu = nullptr;
    int menusShown = 0;
    bool openVisibleInMenu = false;
    const QString low = "http://station.test:8000/velmora32.m3u";
    const QString high = "http://station.test:8000/velmora.m3u";
};

} // namespace

TEST_F(PlayerWindow, LoadRunsInItsOrderAndLeavesTheDesignedStartState)
{
    EXPECT_FALSE(Tray()->isVisible());
    EXPECT_EQ(log, QStringList{"volume=100"}) << "the player object sets its starting volume, and nothing else";
    log.clear();
    form->Load();
    EXPECT_TRUE(log.isEmpty()) << "the window renders the player's start state; nothing starts by itself";
    EXPECT_EQ(form->windowTitle(), "Radio Velmora Player");
    EXPECT_FALSE(Control("stopImageButton")->isEnabled());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(Tray()->isVisible());
    EXPECT_EQ(Tray()->icon().cacheKey(), HolderIcon("redIcon"));
    EXPECT_EQ(Tray()->toolTip(), "Radio Velmora Player");
    EXPECT_EQ(Tray()->contextMenu(), menu);
    for (const QIcon& icon : {Tray()->icon(), form->windowIcon()}) {
        QList<int> sizes;
        for (const QSize& size : icon.availableSizes())
            sizes << size.width();
        for (int size : {16, 22, 24, 32, 48})
            EXPECT_TRUE(sizes.contains(size)) << size << " of " << sizes.size() << " sizes: the tray gets the size it asks for";
    }

    EXPECT_EQ(form->size(), QSize(380, 72));
    EXPECT_EQ(form->pos(), QPoint(212, 196));
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form->mask().boundingRect(), QRect(QPoint(0, 1), QPoint(378, 70)));
    EXPECT_TRUE(Control("lowSpeedImageButton")->Checked());
    EXPECT_FALSE(Control("highSpeedImageButton")->Checked());
    EXPECT_TRUE(Item("lowSpeedMenuItem")->isChecked());
    EXPECT_FALSE(Item("highSpeedMenuItem")->isChecked());
    EXPECT_EQ(Status(), "Ready");
    EXPECT_GE(Control<QLabel>("statusLabel")->y(), 72) << "the status label lies below the visible area";
    EXPECT_EQ(Control("playPauseImageButton")->geometry(), QRect(0, 1, 68, 70));
    EXPECT_EQ(Control("stopImageButton")->geometry(), QRect(64, 1, 43, 70));
    EXPECT_EQ(Control("minimiseImageButton")->parentWidget(), Control<PictureBox>("backgroundPicture"));
    QStringList captions;
    for (QAction* action : menu->actions())
        captions << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(captions, (QStringList{"&Play/Pause", "&Stop", "&Open", "-", "&High Speed", "&Low Speed", "-", "E&xit"}));
}

TEST_F(PlayerWindow, PlayPauseAndStopFollowTheCommandTable)
{
    Loaded();
    Click("playPauseImageButton");
    EXPECT_EQ(log, (QStringList{"URL=" + low, "play"}));
    fake->Report(Playing);
    log.clear();
    Item("playPauseMenuItem")->trigger();
    EXPECT_EQ(log, QStringList{"pause"});
    fake->Report(Paused);
    log.clear();
    Click("playPauseImageButton");
    EXPECT_EQ(log, QStringList{"play"}) << "the same address is not set again, so the stream resumes";
    log.clear();
    Item("stopMenuItem")->trigger();
    fake->Report(Stopped);
    Click("playPauseImageButton");
    EXPECT_EQ(log, (QStringList{"stop", "play"})) << "after a stop the next press plays";
}

TEST(StationAddresses, AHostSettingNamesTheServiceBaseBothProgramsUse)
{
    EXPECT_EQ(ServiceBase("https://station.test:8443/"), "https://station.test:8443")
        << "a host with its scheme names scheme and port";
    EXPECT_EQ(ServiceBase("station.test", 8000), "http://station.test:8000");
    EXPECT_EQ(ServiceBase("station.test:8080", 8000), "http://station.test:8080") << "a port of its own stays";
    EXPECT_EQ(ServiceBase("::1", 8000), "http://[::1]:8000") << "a bare IPv6 address is bracketed";
    EXPECT_EQ(ServiceBase("[::1]:8080", 8000), "http://[::1]:8080");
    EXPECT_EQ(ServiceBase("updates.test"), "http://updates.test") << "the update service's default is http's own port";
}

TEST_F(PlayerWindow, ChangingQualityWhilePlayingTakesEffectAtTheNextPlay)
{
    Loaded();
    Click("playPauseImageButton");
    fake->Report(Playing);
    log.clear();
    Click("highSpeedImageButton");
    EXPECT_TRUE(log.isEmpty()) << "choosing a quality changes nothing at once";
    EXPECT_TRUE(Control("highSpeedImageButton")->Checked());
    EXPECT_FALSE(Control("lowSpeedImageButton")->Checked());
    EXPECT_TRUE(Item("highSpeedMenuItem")->isChecked());
    EXPECT_FALSE(Item("lowSpeedMenuItem")->isChecked());
    Click("playPauseImageButton");
    EXPECT_EQ(log, QStringList{"pause"});
    fake->Report(Paused);
    log.clear();
    Click("playPauseImageButton");
    EXPECT_EQ(log, (QStringList{"URL=" + high, "play"}));
}

TEST_F(PlayerWindow, MenuQualityItemsMoveTheButtonsAndTheCheckedButtonStaysChecked)
{
    Loaded();
    Item("highSpeedMenuItem")->trigger();
    EXPECT_TRUE(Control("highSpeedImageButton")->Checked());
    EXPECT_FALSE(Control("lowSpeedImageButton")->Checked()) << "radio mode un-checks the other button";
    EXPECT_TRUE(Item("highSpeedMenuItem")->isChecked());
    EXPECT_FALSE(Item("lowSpeedMenuItem")->isChecked());

    Click("highSpeedImageButton");
    EXPECT_TRUE(Control("highSpeedImageButton")->Checked()) << "a click never leaves neither quality chosen";
    EXPECT_TRUE(Item("highSpeedMenuItem")->isChecked());
    Click("playPauseImageButton");
    EXPECT_TRUE(log.contains("URL=" + high));

    Item("lowSpeedMenuItem")->trigger();
    Click("lowSpeedImageButton");
    EXPECT_TRUE(Control("lowSpeedImageButton")->Checked());
    EXPECT_FALSE(Control("highSpeedImageButton")->Checked());
    EXPECT_TRUE(Item("lowSpeedMenuItem")->isChecked());
    EXPECT_FALSE(Item("highSpeedMenuItem")->isChecked());
}

TEST_F(PlayerWindow, AStreamThatEndedByItselfIsStartedAgainNotPaused)
{
    for (PlayState idle : {Stopped, MediaEnded, Ready, Undefined}) {
        Loaded();
        Click("playPauseImageButton");
        fake->Report(Playing);
        fake->Report(idle);
        log.clear();
        Click("playPauseImageButton");
        EXPECT_EQ(log, QStringList{"play"}) << "engine state " << idle;
        fake->Report(Playing);
        log.clear();
        Click("playPauseImageButton");
        EXPECT_EQ(log, QStringList{"pause"}) << "engine state " << idle;
        Item("stopMenuItem")->trigger();
        fake->state = Undefined;
    }
}

TEST_F(PlayerWindow, PlayAndPauseFromElsewhereActOnlyWherePlayPauseWouldAndTheTipNamesWhatPlays)
{
    Loaded();
    player->Pause();
    EXPECT_TRUE(log.isEmpty()) << "nothing to pause";
    player->Play();
    EXPECT_EQ(log, (QStringList{"URL=" + low, "play"}));
    fake->SetTitle("Morning Show");
    fake->Report(Playing);
    EXPECT_EQ(Tray()->toolTip(), "Radio Velmora Player\nMorning Show");
    log.clear();
    player->Play();
    EXPECT_TRUE(log.isEmpty()) << "already playing";
    fake->Report(Stopped);
    EXPECT_EQ(Tray()->toolTip(), "Radio Velmora Player\nRadio Velmora can't be reached right now.");
    player->Pause();
    EXPECT_TRUE(log.isEmpty()) << "a stream that broke off is not paused";
    player->Play();
    EXPECT_EQ(log, QStringList{"play"});
    fake->Report(Playing);
    log.clear();
    player->Pause();
    EXPECT_EQ(log, QStringList{"pause"});
}

TEST_F(PlayerWindow, StatusFacesStopButtonAndTrayIconFollowEveryPlayState)
{
    Loaded();
    const QSystemTrayIcon* tray = Tray();
    const QStringList texts = {"", "Stopped", "Paused", "Playing (Low Quality)", "ScanForward", "ScanReverse",
        "Buffering...", "Waiting", "MediaEnded", "Connecting...", "Ready", "Reconnecting...", ""};
    ImageButton* playPause = Control("playPauseImageButton");
    for (int state = 0; state <= 12; ++state) {
        fake->Report(Playing);
        EXPECT_EQ(tray->icon().cacheKey(), HolderIcon("greenIcon"));
        const qint64 faceBefore = playPause->Face().cacheKey();
        fake->Report(PlayState(state));
        EXPECT_EQ(Status(), texts[state]) << state;
        EXPECT_EQ(Tray(), tray);
        EXPECT_TRUE(tray->isVisible()) << state;
        if (state >= 1 && state <= 3) {
            EXPECT_EQ(tray->icon().cacheKey(), HolderIcon(state == 3 ? "greenIcon" : "redIcon")) << state;
            EXPECT_EQ(Control("stopImageButton")->isEnabled(), state != 1) << state;
            const auto up = Control<ImageHolder>(state == 3 ? "pauseImage" : "playImage");
            const auto over = Control<ImageHolder>(state == 3 ? "pauseHoverImage" : "playHoverImage");
            EXPECT_EQ(playPause->UpImage().cacheKey(), up->Picture().cacheKey()) << state;
            EXPECT_EQ(playPause->OverImage().cacheKey(), over->Picture().cacheKey()) << state;
        } else {
            EXPECT_EQ(tray->icon().cacheKey(), HolderIcon("greenIcon")) << state;
            EXPECT_EQ(playPause->Face().cacheKey(), faceBefore) << state;
        }
    }
}

TEST_F(PlayerWindow, QualitySuffixIsReadWhenPlayingBegins)
{
    Loaded();
    fake->Report(Playing);
    Item("highSpeedMenuItem")->trigger();
    EXPECT_EQ(Status(), "Playing (Low Quality)");
    fake->Report(Buffering);
    fake->Report(Playing);
    EXPECT_EQ(Status(), "Playing (High Quality)");
}

TEST_F(PlayerWindow, PopupMenuOffersOpenOnlyWhileHiddenAndOnlyTheRightButtonPopsItUp)
{
    Loaded();
    QTest::mousePress(Control("playPauseImageButton"), Qt::RightButton, {}, {5, 5});
    EXPECT_EQ(menusShown, 1);
    EXPECT_FALSE(openVisibleInMenu);
    QTest::mouseRelease(Control("playPauseImageButton"), Qt::RightButton, {}, {5, 5});
    QTest::mouseClick(Control<PictureBox>("backgroundPicture"), Qt::RightButton, {}, {150, 60});
    EXPECT_EQ(menusShown, 2);
    QTest::mouseClick(Control<PictureBox>("backgroundPicture"), Qt::MiddleButton, {}, {150, 60});
    Click("playPauseImageButton", Qt::MiddleButton);
    EXPECT_EQ(menusShown, 2) << "the middle button pops up nothing";

    form->hide();
    menu->popup(QPoint(900, 10)); // as the tray pops it up
    EXPECT_EQ(menusShown, 3);
    EXPECT_TRUE(openVisibleInMenu);
    Item("openMenuItem")->trigger();
    EXPECT_TRUE(form->isVisible());
}

TEST_F(PlayerWindow, WithoutANotificationAreaMinimiseIconifiesAndTheTrayBringsTheWindowBack)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    Loaded();
    Click("minimiseImageButton");
    EXPECT_TRUE(form->isVisible()) << "never out of reach";
    EXPECT_TRUE(form->isMinimized());
    EXPECT_TRUE(Tray()->isVisible()) << "the icon waits for a tray to appear";

    emit Tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(form->isMinimized()) << "a single left click does nothing";
    emit Tray()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(form->isMinimized());
    EXPECT_TRUE(form->isVisible());
    form->hide();
    emit Tray()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(PlayerWindow, UnloadStopsRemovesTheIconAndUnhooksEvenWhenStepsFail)
{
    for (bool stopFails : {false, true}) {
        log.clear();
        SetUp();
        Loaded();
        fake->stopFails = stopFails;
        QSignalSpy unloaded(form.get(), &PlayerForm::Unloaded);
        if (stopFails)
            Item("exitMenuItem")->trigger();
        else
            Click("closeImageButton");
        EXPECT_EQ(log, QStringList{"stop"}) << stopFails;
        EXPECT_FALSE(Tray()->isVisible()) << stopFails;
        EXPECT_EQ(unloaded.count(), 1) << stopFails;
        EXPECT_FALSE(form->isVisible());
        emit Tray()->activated(QSystemTrayIcon::DoubleClick);
        EXPECT_FALSE(form->isVisible()) << "unhooked: the tray no longer reaches the window";
    }
}

TEST_F(PlayerWindow, DraggingTheBackgroundShowsTheFrameAndMovesTheWindowByThePointersMovement)
{
    Loaded();
    PictureBox* background = Control<PictureBox>("backgroundPicture");
    const QPoint start = form->pos();
    emit background->MouseDown(1, 0, 1500, 300);
    EXPECT_FALSE(form->Frame().isVisible()) << "no frame before the first move";
    emit background->MouseMove(1, 0, 1650, 450);
    EXPECT_TRUE(form->Frame().isVisible());
    EXPECT_EQ(form->Frame().Shown(), form->frameGeometry().translated(10, 10));
    emit background->MouseMove(3, 0, 3000, 3000);
    EXPECT_EQ(form->Frame().Shown(), form->frameGeometry().translated(10, 10)) << "moves with two buttons held";
    emit background->MouseUp(2, 0, 3000, 3000);
    EXPECT_EQ(form->pos(), start);
    emit background->MouseUp(1, 0, 1650, 450);
    EXPECT_FALSE(form->Frame().isVisible());
    EXPECT_EQ(form->pos(), start + QPoint(10, 10));

    emit background->MouseDown(1, 0, 1500, 300);
    EXPECT_TRUE(form->Frame().isVisible()) << "the previous drag's frame shows at the press";
    emit background->MouseUp(1, 0, 1500, 300);
    EXPECT_FALSE(form->Frame().isVisible());
    EXPECT_EQ(form->pos(), start + QPoint(10, 10));
}

TEST_F(PlayerWindow, WindowTrayAndMediaControlsTellOneStoryThroughADropAndBack)
{
    Loaded();
    MprisService mpris(*player);
    ImageButton* playPause = Control("playPauseImageButton");
    const auto story = [&] {
        const bool pauseFaces = playPause->UpImage().cacheKey() == Control<ImageHolder>("pauseImage")->Picture().cacheKey();
        const bool green = Tray()->icon().cacheKey() == HolderIcon("greenIcon");
        return QStringLiteral("%1|%2|%3|%4|%5|%6")
            .arg(Status(), pauseFaces ? "pause" : "play", green ? "green" : "red", mpris.PlaybackStatus(),
                mpris.Metadata().value("xesam:title").toString(), Tray()->toolTip());
    };
    const QString idle = "Radio Velmora Player";
    const QString named = "Radio Velmora Player\nMorning Show";

    Click("playPauseImageButton");
    fake->Report(Transitioning);
    EXPECT_EQ(story(), "Connecting...|play|red|Playing|Radio Velmora|" + idle) << "on its way counts as playing";
    fake->Report(Buffering);
    fake->Report(Playing);
    fake->SetTitle("Morning Show");
    EXPECT_EQ(story(), "Playing (Low Quality)|pause|green|Playing|Morning Show|" + named);
    fake->Report(Reconnecting);
    EXPECT_EQ(story(), "Reconnecting...|pause|green|Playing|Radio Velmora|" + idle + "\nReconnecting...")
        << "a reconnect is a new connection: no title until it sends one";
    fake->Report(Buffering);
    fake->Report(Playing);
    fake->SetTitle("Morning Show");
    EXPECT_EQ(story(), "Playing (Low Quality)|pause|green|Playing|Morning Show|" + named);

    // The desktop's play/pause while the station is away pauses, as the window's button does.
    fake->Report(Reconnecting);
    log.clear();
    mpris.findChild<MprisPlayer*>()->PlayPause();
    EXPECT_EQ(log, QStringList{"pause"});
    fake->Report(Paused);
    EXPECT_EQ(story(), "Paused|play|red|Paused|Radio Velmora|" + idle);
    log.clear();
    mpris.findChild<MprisPlayer*>()->Play();
    EXPECT_EQ(log, QStringList{"play"});
    fake->Report(Playing);
    fake->SetTitle("Morning Show");

    // Stop forgets the title; so does the address of another quality.
    Item("stopMenuItem")->trigger();
    EXPECT_EQ(story(), "Playing (Low Quality)|pause|green|Stopped|Radio Velmora|" + idle)
        << "the engine has not stopped yet, the listener has";
    fake->Report(Stopped);
    EXPECT_EQ(story(), "Stopped|play|red|Stopped|Radio Velmora|" + idle);
    Click("playPauseImageButton");
    fake->Report(Playing);
    fake->SetTitle("Morning Show");
    Click("highSpeedImageButton");
    EXPECT_EQ(story(), "Playing (Low Quality)|pause|green|Playing|Morning Show|" + named)
        << "the low stream still plays, with its title";
    Click("playPauseImageButton");
    fake->Report(Paused);
    Click("playPauseImageButton");
    EXPECT_TRUE(log.contains("URL=" + high));
    fake->Report(Transitioning);
    EXPECT_EQ(story(), "Connecting...|play|red|Playing|Radio Velmora|" + idle)
        << "the high stream has sent no title yet";
}

TEST_F(PlayerWindow, ADesignThatDisagreesWithTheWindowIsNamedAtStart)
{
    QFile stored(":/design/PlayerForm.json");
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QByteArray design = stored.readAll();
    QTemporaryDir dir;
    const auto failure = [&](const QByteArray& from, const QByteArray& to) -> std::string {
        QFile changed(dir.filePath("design.json"));
        EXPECT_TRUE(changed.open(QIODevice::WriteOnly | QIODevice::Truncate));
        changed.write(QByteArray(design).replace(from, to));
        changed.close();
        try {
            PlayerForm broken(*player, changed.fileName());
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "no failure";
    };
    EXPECT_EQ(failure("\"stopImageButton\"", "\"stoppImageButton\""),
        "The window's stored design has no control named stopImageButton");
    EXPECT_EQ(failure("\"name\": \"statusLabel\", \"kind\": \"Label\"", "\"name\": \"statusLabel\", \"kind\": \"PictureBox\""),
        "The window's stored design makes statusLabel a PictureBox, not a QLabel");
    EXPECT_EQ(failure("\"name\": \"sep1\"", "\"name\": \"extraMenuItem\", \"x\": 1"), "no failure")
        << "a separator by any name is only a separator";
    EXPECT_EQ(failure("{ \"name\": \"exitMenuItem\", \"caption\": \"E&xit\" }",
                  "{ \"name\": \"exitMenuItem\", \"caption\": \"E&xit\" }, { \"name\": \"aboutMenuItem\", \"caption\": \"&About\" }"),
        "The window's stored design names aboutMenuItem (menu item), which the window does not know");
}

TEST_F(PlayerWindow, AScreenReaderFindsNamedButtonsThatPressAsAClickDoesAndTheStatus)
{
    Loaded();
    const auto node = [this](const char* name) { return QAccessible::queryAccessibleInterface(form->findChild<QWidget*>(name)); };
    const auto press = [](QAccessibleInterface* button) {
        QAccessibleActionInterface* actions = button->actionInterface();
        ASSERT_TRUE(actions && actions->actionNames().value(0) == QAccessibleActionInterface::pressAction());
        actions->doAction(QAccessibleActionInterface::pressAction());
    };
    QAccessibleInterface* play = node("playPauseImageButton");
    EXPECT_EQ(play->role(), QAccessible::Button);
    EXPECT_EQ(play->text(QAccessible::Name), "Play");
    EXPECT_TRUE(play->state().focusable);
    press(play);
    EXPECT_EQ(log, (QStringList{"URL=" + low, "play"}));
    fake->Report(Transitioning);
    EXPECT_EQ(play->text(QAccessible::Name), "Pause") << "a press while connecting pauses, though the play face shows";
    fake->Report(Playing);
    EXPECT_EQ(play->text(QAccessible::Name), "Pause") << "named for what a press does now";
    EXPECT_EQ(node("stopImageButton")->text(QAccessible::Name), "Stop");
    EXPECT_EQ(node("minimiseImageButton")->text(QAccessible::Name), "Minimise");
    EXPECT_EQ(Control("closeImageButton")->toolTip(), "Close");

    QAccessibleInterface* high = node("highSpeedImageButton");
    QAccessibleInterface* lowButton = node("lowSpeedImageButton");
    EXPECT_EQ(high->role(), QAccessible::RadioButton);
    EXPECT_EQ(high->text(QAccessible::Name), "High Speed");
    EXPECT_TRUE(high->state().checkable);
    EXPECT_TRUE(lowButton->state().checked);
    press(high);
    EXPECT_TRUE(high->state().checked);
    EXPECT_FALSE(lowButton->state().checked);
    EXPECT_TRUE(Item("highSpeedMenuItem")->isChecked());

    QAccessibleInterface* status = node("statusLabel");
    EXPECT_EQ(status->role(), QAccessible::StatusBar);
    EXPECT_EQ(status->text(QAccessible::Name), "Playing (Low Quality)");
    for (const char* kept : {"greenIcon", "redIcon", "playImage", "pauseImage", "playHoverImage", "pauseHoverImage", "Picture1"})
        EXPECT_TRUE(node(kept)->state().invisible) << kept;
    EXPECT_FALSE(node("backgroundPicture")->state().focusable);
}

TEST_F(PlayerWindow, TheKeyboardReachesEveryButtonInTheDesignsOrderAndOpensTheMenu)
{
    Loaded();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QStringList order;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : form.get(), Qt::Key_Tab);
        order << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "none");
    }
    EXPECT_EQ(order, (QStringList{"playPauseImageButton", "lowSpeedImageButton", "highSpeedImageButton",
                         "closeImageButton", "minimiseImageButton", "playPauseImageButton"}))
        << "the stop button, disabled, is passed over";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(log, (QStringList{"URL=" + low, "play"})) << "Space presses: one click";
    fake->Report(Playing);
    log.clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(log, QStringList{"pause"});
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(menusShown, 1);
    QTest::keyClick(Control("playPauseImageButton"), Qt::Key_Menu);
    EXPECT_EQ(menusShown, 2);
}

TEST_F(PlayerWindow, AStationThatCannotBeReachedIsSaidInTheTipAndOnThePlayButton)
{
    Loaded();
    ImageButton* play = Control("playPauseImageButton");
    EXPECT_EQ(play->toolTip(), "Play");
    Click("playPauseImageButton");
    fake->Report(Transitioning);
    fake->Report(Stopped);
    const QString word = "Radio Velmora can't be reached right now.";
    EXPECT_EQ(Tray()->toolTip(), "Radio Velmora Player\n" + word);
    EXPECT_EQ(play->toolTip(), "Play\n" + word);
    Click("playPauseImageButton");
    EXPECT_EQ(play->toolTip(), "Play") << "the next play clears it";
    fake->Report(Playing);
    fake->Report(Reconnecting);
    EXPECT_EQ(Tray()->toolTip(), "Radio Velmora Player\nReconnecting...");
    fake->Fail({PlayFailure::Kind::NoOutput});
    fake->Report(Reconnecting);
    EXPECT_EQ(Tray()->toolTip(), "Radio Velmora Player\nReconnecting... The sound output is missing.");
    Item("stopMenuItem")->trigger();
    fake->Report(Stopped);
    EXPECT_EQ(Tray()->toolTip(), "Radio Velmora Player") << "a stop the listener asked for is no failure";

    // Each kind of failure in its own words, until the next play.
    const std::vector<std::pair<PlayFailure, QString>> reasons = {
        {{PlayFailure::Kind::HttpStatus, 403}, "Radio Velmora is full or busy right now (HTTP 403)."},
        {{PlayFailure::Kind::HttpStatus, 404}, "Radio Velmora answered with an error (HTTP 404)."},
        {{PlayFailure::Kind::Certificate}, "Radio Velmora's certificate is not trusted."},
        {{PlayFailure::Kind::NotAudio}, "Radio Velmora's reply was not audio."},
        {{PlayFailure::Kind::NoDecoder, 0, "MPEG-4 AAC"}, "No decoder for the station's format (MPEG-4 AAC) is installed."},
    };
    for (const auto& [failure, words] : reasons) {
        Click("playPauseImageButton");
        fake->Report(Transitioning);
        fake->Fail(failure);
        fake->Report(Stopped);
        EXPECT_EQ(Tray()->toolTip(), "Radio Velmora Player\n" + words);
        EXPECT_EQ(play->toolTip(), "Play\n" + words);
    }
}
