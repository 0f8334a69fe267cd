#include "PlayerForm.h"

#include "FocusFrame.h"
#include "FormDesign.h"
#include "Identity.h"
#include "ImageButton.h"
#include "Logging.h"
#include "PictureBox.h"
#include "RadioPlayer.h"
#include "SystrayHelper.h"
#include "TransparencyHelper.h"
#include "TopLevelWindows.h"
#include "Twips.h"

#include <QAbstractNativeEventFilter>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>

namespace {

Qt::MouseButton ButtonOf(int code)
{
    switch (code) {
    case 1: return Qt::LeftButton;
    case 2: return Qt::RightButton;
    case 4: return Qt::MiddleButton;
    default: return Qt::NoButton;
    }
}

// Each step of the unload runs even when the one before it failed; what
// failed is only logged.
template <typename Step> void IgnoringErrors(const char* what, Step step)
{
    try {
        step();
    } catch (const std::exception& error) {
        qCWarning(lcPlayer) << "unload:" << what << "failed:" << error.what();
    } catch (...) {
        qCWarning(lcPlayer) << "unload:" << what << "failed";
    }
}

} // namespace

PlayerForm::PlayerForm(RadioPlayer& player, const QString& designFile)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    , m_player(player)
    , m_frame(std::make_unique<FocusFrame>())
{
    BuildFromDesign(designFile);
    m_tray = new SystrayHelper::SystrayIcon(QString::fromUtf8(Identity::PlayerName), contextMenu, this);
    ConnectHandlers();
    m_showRequests = WatchShowRequests(this, [this] { ShowForm(); });
}

PlayerForm::~PlayerForm() = default;

void PlayerForm::BuildFromDesign(const QString& designFile)
{
    FormDesign design(designFile, *this);
    m_picture = design.Picture();
    closeImageButton = design.Control<ImageButton>("closeImageButton");
    lowSpeedImageButton = design.Control<ImageButton>("lowSpeedImageButton");
    stopImageButton = design.Control<ImageButton>("stopImageButton");
    playPauseImageButton = design.Control<ImageButton>("playPauseImageButton");
    highSpeedImageButton = design.Control<ImageButton>("highSpeedImageButton");
    minimiseImageButton = design.Control<ImageButton>("minimiseImageButton");
    Picture1 = design.Control<PictureBox>("Picture1");
    backgroundPicture = design.Control<PictureBox>("backgroundPicture");
    greenIcon = design.Control<ImageHolder>("greenIcon");
    redIcon = design.Control<ImageHolder>("redIcon");
    playHoverImage = design.Control<ImageHolder>("playHoverImage");
    pauseHoverImage = design.Control<ImageHolder>("pauseHoverImage");
    pauseImage = design.Control<ImageHolder>("pauseImage");
    playImage = design.Control<ImageHolder>("playImage");
    statusLabel = design.Control<QLabel>("statusLabel");

    contextMenu = design.Menu();
    playPauseMenuItem = design.Control<QAction>("playPauseMenuItem");
    stopMenuItem = design.Control<QAction>("stopMenuItem");
    openMenuItem = design.Control<QAction>("openMenuItem");
    highSpeedMenuItem = design.Control<QAction>("highSpeedMenuItem");
    lowSpeedMenuItem = design.Control<QAction>("lowSpeedMenuItem");
    exitMenuItem = design.Control<QAction>("exitMenuItem");
    design.Finish();

    // Pictures kept for later are not shown, and say so to assistive
    // technologies; every button has its name as a tool tip.
    for (QWidget* kept : std::initializer_list<QWidget*>{greenIcon, redIcon, playHoverImage, pauseHoverImage, pauseImage,
             playImage, Picture1})
        kept->hide();
    const auto caption = [](QAction* item) { return item->text().remove(QLatin1Char('&')); };
    const std::pair<ImageButton*, QString> names[] = {{stopImageButton, caption(stopMenuItem)},
        {lowSpeedImageButton, caption(lowSpeedMenuItem)}, {highSpeedImageButton, caption(highSpeedMenuItem)},
        {minimiseImageButton, QStringLiteral("Minimise")}, {closeImageButton, QStringLiteral("Close")}};
    for (const auto& [button, name] : names) {
        button->setAccessibleName(name);
        button->setToolTip(name);
    }
}

void PlayerForm::ConnectHandlers()
{
    connect(&m_player, &RadioPlayer::StateReported, this, &PlayerForm::RenderState);
    connect(&m_player, &RadioPlayer::TitleChanged, this, &PlayerForm::RenderTrayTip);
    connect(&m_player, &RadioPlayer::ProblemChanged, this, &PlayerForm::RenderNames);
    connect(&m_player, &RadioPlayer::ProblemChanged, this, &PlayerForm::RenderTrayTip);
    connect(&m_player, &RadioPlayer::QualityChanged, this, &PlayerForm::RenderQuality);
    connect(&m_player, &RadioPlayer::RaiseRequested, this, &PlayerForm::ShowForm);
    connect(&m_player, &RadioPlayer::QuitRequested, this, &QWidget::close);
    connect(playPauseImageButton, &ImageButton::Click, &m_player, &RadioPlayer::PlayPause);
    connect(playPauseMenuItem, &QAction::triggered, &m_player, &RadioPlayer::PlayPause);
    connect(stopImageButton, &ImageButton::Click, &m_player, &RadioPlayer::Stop);
    connect(stopMenuItem, &QAction::triggered, &m_player, &RadioPlayer::Stop);
    connect(highSpeedImageButton, &ImageButton::Click, this, [this] { ChooseQuality(Quality::High); });
    connect(highSpeedMenuItem, &QAction::triggered, this, [this] { ChooseQuality(Quality::High); });
    connect(lowSpeedImageButton, &ImageButton::Click, this, [this] { ChooseQuality(Quality::Low); });
    connect(lowSpeedMenuItem, &QAction::triggered, this, [this] { ChooseQuality(Quality::Low); });
    for (ImageButton* button : {playPauseImageButton, stopImageButton, highSpeedImageButton, lowSpeedImageButton})
        connect(button, &ImageButton::MouseDown, this, [this](int Button, int, float, float) { ShowPopupMenu(ButtonOf(Button)); });
    connect(minimiseImageButton, &ImageButton::Click, this, &PlayerForm::Minimise);
    connect(openMenuItem, &QAction::triggered, this, &PlayerForm::ShowForm);
    connect(closeImageButton, &ImageButton::Click, this, &QWidget::close);
    connect(exitMenuItem, &QAction::triggered, this, &QWidget::close);
    // However the menu comes up (the window, the tray, a host that shows it
    // itself), Open is offered only while the window is hidden, and a shown
    // window comes to the front first.
    connect(contextMenu, &QMenu::aboutToShow, this, [this] {
        openMenuItem->setVisible(!isVisible());
        if (isVisible()) {
            raise();
            activateWindow();
        }
    });

    for (PictureBox* surface : {backgroundPicture, Picture1}) {
        connect(surface, &PictureBox::MouseDown, this, &PlayerForm::Picture1_MouseDown);
        connect(surface, &PictureBox::MouseMove, this, &PlayerForm::Picture1_MouseMove);
        connect(surface, &PictureBox::MouseUp, this, &PlayerForm::Picture1_MouseUp);
    }
}

void PlayerForm::Load()
{
    // The player object's starting quality (and volume) are shown, not set.
    RenderQuality();
    int transparentIndex = 0;
    TransparencyHelper::ShapeWindow(*this, m_picture, transparentIndex);
    TwipsPerPixelX = TwipsPerPixelFor(logicalDpiX());
    TwipsPerPixelY = TwipsPerPixelFor(logicalDpiY());
    setWindowTitle(QString::fromUtf8(Identity::PlayerName));
    // The first paint is the player's status, as every later one.
    RenderStatus(true);
    ShellTrayAdd(StatusIcon());
    HookWindow();
}

void PlayerForm::ChooseQuality(Quality quality)
{
    m_player.SetQuality(quality);
    // A menu item toggles its own check mark: put it back where the choice is.
    RenderQuality();
}

void PlayerForm::RenderQuality()
{
    const bool high = m_player.CurrentQuality() == Quality::High;
    // The newly chosen button first: checking it un-checks the other.
    ImageButton* chosen = high ? highSpeedImageButton : lowSpeedImageButton;
    ImageButton* other = high ? lowSpeedImageButton : highSpeedImageButton;
    if (!chosen->Checked())
        chosen->SetChecked(true);
    if (other->Checked())
        other->SetChecked(false);
    highSpeedMenuItem->setChecked(high);
    lowSpeedMenuItem->setChecked(!high);
}

void PlayerForm::RenderState(PlayState state)
{
    RenderStatus(PlayerStatus::IsMainState(state));
}

QIcon PlayerForm::StatusIcon() const
{
    return m_player.Status().green ? greenIcon->Icon() : redIcon->Icon();
}

void PlayerForm::RenderStatus(bool faces)
{
    const PlayerStatus& status = m_player.Status();
    // Only a stopped, paused or playing state changes the faces, the stop
    // button and the icon (a face set anew would also end a hover).
    if (faces) {
        playPauseImageButton->SetUpImage(status.pauseFaces ? pauseImage->Picture() : playImage->Picture());
        playPauseImageButton->SetOverImage(status.pauseFaces ? pauseHoverImage->Picture() : playHoverImage->Picture());
        stopImageButton->setEnabled(status.stopEnabled);
        m_tray->SetIcon(StatusIcon());
    }
    statusLabel->setText(status.text);
    qCInfo(lcPlayer) << "status:" << status.text;
    RenderNames();
    RenderTrayTip();
}

void PlayerForm::RenderNames()
{
    // Named for what a press does now, which is not always what its face
    // shows: while a first play connects, the play faces stay and a press pauses.
    const QString name = m_player.PlayPauseWouldPause() ? QStringLiteral("Pause") : QStringLiteral("Play");
    playPauseImageButton->setAccessibleName(name);
    const QString problem = m_player.Problem();
    playPauseImageButton->setToolTip(problem.isEmpty() ? name : name + QLatin1Char('\n') + problem);
    playPauseImageButton->setAccessibleDescription(problem);
}

void PlayerForm::RenderTrayTip()
{
    m_tray->SetTip(m_player.TrayTip());
}

bool PlayerForm::ShellTrayAdd(const QIcon& icon)
{
    m_tray->SetIcon(icon);
    return m_tray->Show();
}

void PlayerForm::ShellTrayDelete()
{
    m_tray->Hide();
}

void PlayerForm::HookWindow()
{
    m_trayHook = connect(m_tray, &SystrayHelper::SystrayIcon::ShowFormRequested, this, &PlayerForm::ShowForm);
}

void PlayerForm::UnhookWindow()
{
    disconnect(m_trayHook);
}

void PlayerForm::ShowForm()
{
    // An iconified window (minimised where there is no tray) comes back too.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
}

void PlayerForm::Minimise()
{
    // Hidden, the window is reached through the tray icon; with no tray to
    // show it, it is iconified instead, so it is never out of reach.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void PlayerForm::ShowPopupMenu(Qt::MouseButton button)
{
    openMenuItem->setVisible(!isVisible());
    if (button == Qt::RightButton)
        contextMenu->exec(QCursor::pos());
}

void PlayerForm::keyPressEvent(QKeyEvent* event)
{
    const bool menuKey = event->key() == Qt::Key_Menu
        || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (!menuKey) {
        QWidget::keyPressEvent(event);
        return;
    }
    // At the focused button, or at the window; the arrow keys go on from there.
    const QWidget* at = focusWidget() && focusWidget() != this ? focusWidget() : this;
    contextMenu->exec(at->mapToGlobal(QPoint(at->width() / 2, at->height() / 2)));
}

void PlayerForm::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_picture);
}

void PlayerForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (m_unloaded)
        return;
    m_unloaded = true;
    // Unloading is never cancelled.
    IgnoringErrors("stopping the engine", [this] { m_player.Stop(); });
    IgnoringErrors("removing the tray icon", [this] { ShellTrayDelete(); });
    IgnoringErrors("unhooking the tray icon", [this] { UnhookWindow(); });
    emit Unloaded();
}

QPoint PlayerForm::ClientToScreen(QPoint point) const
{
    return point + mapToGlobal(QPoint(0, 0));
}

void PlayerForm::Picture1_MouseDown(int Button, int, float X, float Y)
{
    if (Button == 1)
        BeginDrag(X, Y);
    else
        ShowPopupMenu(ButtonOf(Button));
}

void PlayerForm::Picture1_MouseMove(int Button, int, float X, float Y)
{
    if (Button == 1)
        DragFrameTo(X, Y);
}

void PlayerForm::Picture1_MouseUp(int Button, int, float X, float Y)
{
    if (Button == 1)
        EndDrag(X, Y);
}

void PlayerForm::BeginDrag(float X, float Y)
{
    DragStartX = int(RoundHalfEven(X));
    DragStartY = int(RoundHalfEven(Y));
    DragWindowRect = DragRect::FromQRect(frameGeometry());
    DragStartPoint = ClientToScreen(QPoint(DragStartX, DragStartY));
    // Where the last drag ended, which is as a rule where the window stands;
    // before the first drag there is no frame to show.
    m_frame->ShowAt(DragFrame.ToQRect());
}

void PlayerForm::DragFrameTo(float X, float Y)
{
    const QPoint pointer = ClientToScreen(QPoint(int(RoundHalfEven(X)), int(RoundHalfEven(Y))));
    DragFrame = ComputeDragFrame(pointer, DragWindowRect, DragStartPoint, TwipsPerPixelX, TwipsPerPixelY);
    m_frame->ShowAt(DragFrame.ToQRect());
}

void PlayerForm::EndDrag(float X, float Y)
{
    m_frame->hide();
    const QPointF twips = DragEndPosition(X, Y, DragStartX, DragStartY, DragWindowRect, TwipsPerPixelX, TwipsPerPixelY);
    move(int(RoundHalfEven(twips.x() / TwipsPerPixelX)), int(RoundHalfEven(twips.y() / TwipsPerPixelY)));
}
