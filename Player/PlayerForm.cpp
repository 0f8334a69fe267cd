#include "PlayerForm.h"

#include "FocusFrame.h"
#include "ImageButton.h"
#include "MediaPlayer.h"
#include "Picture.h"
#include "PictureBox.h"
#include "PropertyBag.h"
#include "TransparencyHelper.h"
#include "TopLevelWindows.h"
#include "Twips.h"

#include <QAbstractNativeEventFilter>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QPainter>

#ifndef SONVALE_STREAM_HOST
#define SONVALE_STREAM_HOST "localhost"
#endif

namespace {

Q_LOGGING_CATEGORY(lcPlayer, "sonvale.player", QtCriticalMsg)

const char* const WindowTitle = "Radio Velmora Player";

QByteArray SkinFile(const QString& name)
{
    QFile file(QStringLiteral(":/skin/") + name);
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(QStringLiteral("File not found: %1").arg(name).toStdString());
    return file.readAll();
}

QJsonObject Design()
{
    QFile file(QStringLiteral(":/design/PlayerForm.json"));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The window's stored design is missing");
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The engine's states in which nothing is playing or on its way.
bool EngineIsIdle(int state)
{
    return state == Undefined || state == Stopped || state == MediaEnded || state == Ready;
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

QString StatusTextFor(int state, bool highQuality)
{
    switch (state) {
    case Stopped: return QStringLiteral("Stopped");
    case Paused: return QStringLiteral("Paused");
    case Playing: return highQuality ? QStringLiteral("Playing (High Quality)") : QStringLiteral("Playing (Low Quality)");
    case ScanForward: return QStringLiteral("ScanForward");
    case ScanReverse: return QStringLiteral("ScanReverse");
    case Buffering: return QStringLiteral("Buffering...");
    case Waiting: return QStringLiteral("Waiting");
    case MediaEnded: return QStringLiteral("MediaEnded");
    case Transitioning: return QStringLiteral("Connecting...");
    case Ready: return QStringLiteral("Ready");
    case Reconnecting: return QStringLiteral("Reconnecting...");
    default: return QString();
    }
}

QString StreamHost()
{
    const QString host = qEnvironmentVariable("SONVALE_STREAM_HOST");
    return host.isEmpty() ? QStringLiteral(SONVALE_STREAM_HOST) : host;
}

PlayerForm::PlayerForm(std::unique_ptr<MediaPlayer> engine)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    , m_engine(std::move(engine))
    , m_frame(std::make_unique<FocusFrame>())
{
    BuildFromDesign();
    m_tray = new SystrayHelper::SystrayIcon(QString::fromLatin1(WindowTitle), contextMenu, this);
    ConnectHandlers();
    m_showRequests = WatchShowRequests(this, [this] { ShowForm(); });
}

PlayerForm::~PlayerForm() = default;

void PlayerForm::BuildFromDesign()
{
    const QJsonObject design = Design();
    const int tpp = TwipsPerPixel(this);
    const auto pixels = [tpp](const QJsonObject& o, const char* key) { return int(RoundHalfEven(o[key].toDouble() / tpp)); };
    const QJsonObject form = design["form"].toObject();
    m_picture = LoadPicture(SkinFile(form["picture"].toString()));
    setFixedSize(pixels(form, "width"), pixels(form, "height"));
    move(pixels(form, "left"), pixels(form, "top"));
    setWindowIcon(QIcon(QStringLiteral(":/skin/") + form["icon"].toString()));

    // Later siblings lie on top: build from the bottom of the stacking order up.
    std::function<void(const QJsonArray&, QWidget*)> build = [&](const QJsonArray& controls, QWidget* parent) {
        for (auto it = controls.end(); it != controls.begin();) {
            const QJsonObject c = (--it)->toObject();
            const QString kind = c["kind"].toString();
            const QString name = c["name"].toString();
            const QRect geometry(pixels(c, "left"), pixels(c, "top"), pixels(c, "width"), pixels(c, "height"));
            QWidget* widget = nullptr;
            if (kind == "ImageButton") {
                auto* button = new ImageButton(parent);
                button->setObjectName(name);
                PropertyBag bag;
                const QJsonObject properties = c["properties"].toObject();
                for (auto p = properties.begin(); p != properties.end(); ++p)
                    bag.WriteProperty(p.key(), p->isString() ? QVariant(SkinFile(p->toString())) : QVariant(p->toInt()));
                button->setGeometry(geometry);
                button->ReadProperties(bag);
                widget = button;
            } else if (kind == "PictureBox") {
                auto* box = new PictureBox(parent);
                if (c.contains("picture"))
                    box->SetPicture(QPixmap::fromImage(LoadPicture(SkinFile(c["picture"].toString()))));
                widget = box;
            } else if (kind == "ImageHolder") {
                auto* holder = new ImageHolder(parent);
                const QString file = c["picture"].toString();
                holder->SetPicture(QPixmap::fromImage(LoadPicture(SkinFile(file))));
                if (file.endsWith(".ico"))
                    holder->SetIcon(QIcon(QStringLiteral(":/skin/") + file));
                widget = holder;
            } else if (kind == "Label") {
                auto* label = new QLabel(c["caption"].toString(), parent);
                const QJsonObject f = c["font"].toObject();
                QFont font(f["name"].toString());
                font.setPointSizeF(f["size"].toDouble());
                font.setWeight(QFont::Weight(f["weight"].toInt()));
                label->setFont(font);
                const QJsonArray rgb = c["color"].toArray();
                label->setStyleSheet(QStringLiteral("color: rgb(%1, %2, %3)").arg(rgb[0].toInt()).arg(rgb[1].toInt()).arg(rgb[2].toInt()));
                widget = label;
            } else {
                continue; // the media engine has no surface of its own
            }
            widget->setObjectName(name);
            widget->setGeometry(geometry);
            build(c["children"].toArray(), widget);
        }
    };
    build(design["controls"].toArray(), this);

    closeImageButton = findChild<ImageButton*>("closeImageButton");
    lowSpeedImageButton = findChild<ImageButton*>("lowSpeedImageButton");
    stopImageButton = findChild<ImageButton*>("stopImageButton");
    playPauseImageButton = findChild<ImageButton*>("playPauseImageButton");
    highSpeedImageButton = findChild<ImageButton*>("highSpeedImageButton");
    minimiseImageButton = findChild<ImageButton*>("minimiseImageButton");
    Picture1 = findChild<PictureBox*>("Picture1");
    backgroundPicture = findChild<PictureBox*>("backgroundPicture");
    greenIcon = findChild<ImageHolder*>("greenIcon");
    redIcon = findChild<ImageHolder*>("redIcon");
    playHoverImage = findChild<ImageHolder*>("playHoverImage");
    pauseHoverImage = findChild<ImageHolder*>("pauseHoverImage");
    pauseImage = findChild<ImageHolder*>("pauseImage");
    playImage = findChild<ImageHolder*>("playImage");
    statusLabel = findChild<QLabel*>("statusLabel");

    // Tab order follows the design's tab indices.
    QWidget* tabOrder[] = {playPauseImageButton, stopImageButton, lowSpeedImageButton, highSpeedImageButton,
        statusLabel, Picture1, closeImageButton, backgroundPicture, minimiseImageButton};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    const QJsonObject menu = design["menu"].toObject();
    contextMenu = new QMenu(menu["caption"].toString(), this);
    contextMenu->setObjectName(menu["name"].toString());
    for (const QJsonValue value : menu["items"].toArray()) {
        const QJsonObject item = value.toObject();
        QAction* action = item["caption"].toString() == "-" ? contextMenu->addSeparator()
                                                            : contextMenu->addAction(item["caption"].toString());
        action->setObjectName(item["name"].toString());
        if (item.contains("checked")) {
            action->setCheckable(true);
            action->setChecked(item["checked"].toBool());
        }
    }
    const auto item = [this](const char* name) { return contextMenu->findChild<QAction*>(name); };
    playPauseMenuItem = item("playPauseMenuItem");
    stopMenuItem = item("stopMenuItem");
    openMenuItem = item("openMenuItem");
    highSpeedMenuItem = item("highSpeedMenuItem");
    lowSpeedMenuItem = item("lowSpeedMenuItem");
    exitMenuItem = item("exitMenuItem");
    if (!contextMenu->actions().contains(exitMenuItem))
        throw std::runtime_error("The window's stored design is damaged");
}

void PlayerForm::ConnectHandlers()
{
    connect(m_engine.get(), &MediaPlayer::PlayStateChange, this, &PlayerForm::OnPlayStateChange);
    connect(m_engine.get(), &MediaPlayer::PlayStateChange, this, &PlayerForm::UpdateTrayTip);
    connect(m_engine.get(), &MediaPlayer::TitleChanged, this, &PlayerForm::UpdateTrayTip);
    connect(playPauseImageButton, &ImageButton::Click, this, &PlayerForm::PlayPauseCommand);
    connect(playPauseMenuItem, &QAction::triggered, this, &PlayerForm::PlayPauseCommand);
    connect(stopImageButton, &ImageButton::Click, this, &PlayerForm::StopCommand);
    connect(stopMenuItem, &QAction::triggered, this, &PlayerForm::StopCommand);
    connect(highSpeedImageButton, &ImageButton::Click, this, [this] {
        lowSpeedMenuItem->setChecked(false);
        highSpeedMenuItem->setChecked(true);
    });
    connect(lowSpeedImageButton, &ImageButton::Click, this, [this] {
        lowSpeedMenuItem->setChecked(true);
        highSpeedMenuItem->setChecked(false);
    });
    connect(highSpeedMenuItem, &QAction::triggered, this, [this] {
        highSpeedMenuItem->setChecked(true);
        lowSpeedMenuItem->setChecked(false);
        highSpeedImageButton->SetChecked(true);
    });
    connect(lowSpeedMenuItem, &QAction::triggered, this, [this] {
        highSpeedMenuItem->setChecked(false);
        lowSpeedMenuItem->setChecked(true);
        lowSpeedImageButton->SetChecked(true);
    });
    for (ImageButton* button : {playPauseImageButton, stopImageButton, highSpeedImageButton, lowSpeedImageButton})
        connect(button, &ImageButton::MouseDown, this, [this](int Button, int, float, float) { ShowPopupMenu(Button); });
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

    connect(backgroundPicture, &PictureBox::MouseDown, this, &PlayerForm::Picture1_MouseDown);
    connect(backgroundPicture, &PictureBox::MouseMove, this, &PlayerForm::Picture1_MouseMove);
    connect(backgroundPicture, &PictureBox::MouseUp, this, &PlayerForm::Picture1_MouseUp);
    connect(Picture1, &PictureBox::MouseDown, this, &PlayerForm::Picture1_MouseDown);
    connect(Picture1, &PictureBox::MouseMove, this, &PlayerForm::Picture1_MouseMove);
    connect(Picture1, &PictureBox::MouseUp, this, &PlayerForm::Picture1_MouseUp);
}

void PlayerForm::Load()
{
    m_engine->settings().setAutoStart(false);
    m_engine->setUiMode(QStringLiteral("invisible"));
    m_engine->settings().setVolume(100);
    lowSpeedImageButton->SetChecked(true);
    TransparencyHelper::BeginWindowShape(this);
    int transparentIndex = 0;
    TransparencyHelper::AddPictureToWindowShape(*this, transparentIndex);
    TransparencyHelper::EndWindowShape(this);
    TwipsPerPixelX = TwipsPerPixelFor(logicalDpiX());
    TwipsPerPixelY = TwipsPerPixelFor(logicalDpiY());
    setWindowTitle(QString::fromLatin1(WindowTitle));
    stopImageButton->SetEnabled(false);
    ShellTrayAdd(redIcon->Icon());
    HookWindow();
}

QString StreamBase()
{
    // A bare host is the station's web server on port 8000; a base with its
    // scheme (https://radio.example:8443) names scheme and port itself.
    QString base = StreamHost();
    if (!base.contains(QLatin1String("://")))
        return QStringLiteral("http://%1:8000").arg(base);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

QString PlayerForm::HighQualityAddress() const
{
    return StreamBase() + QStringLiteral("/velmora.m3u");
}

QString PlayerForm::LowQualityAddress() const
{
    return StreamBase() + QStringLiteral("/velmora32.m3u");
}

bool PlayerForm::PlayPauseWouldPause() const
{
    // A stream that ended or broke by itself is started again, not paused.
    return IsPlaying && !EngineIsIdle(m_engine->playState());
}

void PlayerForm::Play()
{
    if (!PlayPauseWouldPause())
        PlayPauseCommand();
}

void PlayerForm::Pause()
{
    if (PlayPauseWouldPause())
        PlayPauseCommand();
}

void PlayerForm::SetVolume(int volume)
{
    m_engine->settings().setVolume(volume);
    emit VolumeChanged();
}

void PlayerForm::UpdateTrayTip()
{
    // The station's current title as a second line while it plays.
    const QString title = m_engine->currentTitle();
    const bool playing = m_engine->playState() == Playing && !title.isEmpty();
    m_tray->SetTip(QString::fromLatin1(WindowTitle) + (playing ? QLatin1Char('\n') + title : QString()));
}

void PlayerForm::PlayPauseCommand()
{
    if (PlayPauseWouldPause()) {
        m_engine->controls().pause();
        IsPlaying = false;
        return;
    }
    const QString address = highSpeedImageButton->Checked() ? HighQualityAddress() : LowQualityAddress();
    if (m_engine->URL() != address)
        m_engine->setURL(address);
    m_engine->controls().play();
    IsPlaying = true;
}

void PlayerForm::StopCommand()
{
    m_engine->controls().stop();
    IsPlaying = false;
}

void PlayerForm::OnPlayStateChange(int NewState)
{
    QString text;
    if (NewState == Stopped || NewState == Paused || NewState == Playing) {
        const bool playing = NewState == Playing;
        text = StatusTextFor(NewState, highSpeedImageButton->Checked());
        playPauseImageButton->SetUpImage(playing ? pauseImage->Picture() : playImage->Picture());
        playPauseImageButton->SetOverImage(playing ? pauseHoverImage->Picture() : playHoverImage->Picture());
        stopImageButton->SetEnabled(NewState != Stopped);
        const SystrayHelper::SystrayIcon::Change change(*m_tray);
        ShellTrayDelete();
        ShellTrayAdd(playing ? greenIcon->Icon() : redIcon->Icon());
    } else {
        text = StatusTextFor(NewState, false);
    }
    statusLabel->setText(text);
}

bool PlayerForm::ShellTrayAdd(const QIcon& icon)
{
    return m_tray->Add(icon);
}

void PlayerForm::ShellTrayDelete()
{
    m_tray->Delete();
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

void PlayerForm::ShowPopupMenu(int buttun)
{
    openMenuItem->setVisible(!isVisible());
    if (buttun == 2)
        contextMenu->exec(QCursor::pos());
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
    IgnoringErrors("stopping the engine", [this] { m_engine->controls().stop(); });
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
        ShowPopupMenu(Button);
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
    m_frame->Draw(DragFrame.ToQRect());
    DrawnFrame = DragFrame;
}

void PlayerForm::DragFrameTo(float X, float Y)
{
    const QPoint pointer = ClientToScreen(QPoint(int(RoundHalfEven(X)), int(RoundHalfEven(Y))));
    DragFrame = ComputeDragFrame(pointer, DragWindowRect, DragStartPoint, TwipsPerPixelX, TwipsPerPixelY);
    m_frame->Draw(DrawnFrame.ToQRect());
    m_frame->Draw(DragFrame.ToQRect());
    DrawnFrame = DragFrame;
}

void PlayerForm::EndDrag(float X, float Y)
{
    m_frame->Draw(DrawnFrame.ToQRect());
    const QPointF twips = DragEndPosition(X, Y, DragStartX, DragStartY, DragWindowRect, TwipsPerPixelX, TwipsPerPixelY);
    move(int(RoundHalfEven(twips.x() / TwipsPerPixelX)), int(RoundHalfEven(twips.y() / TwipsPerPixelY)));
}
