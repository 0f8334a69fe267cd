#include "PlayerForm.h"

#include "FocusFrame.h"
#include "Identity.h"
#include "ImageButton.h"
#include "Logging.h"
#include "Picture.h"
#include "PictureBox.h"
#include "PropertyBag.h"
#include "RadioPlayer.h"
#include "SystrayHelper.h"
#include "TransparencyHelper.h"
#include "TopLevelWindows.h"
#include "Twips.h"

#include <QAbstractNativeEventFilter>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QJsonArray>
#include <QKeyEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <map>
#include <set>

namespace {



QByteArray SkinFile(const QString& name)
{
    QFile file(QStringLiteral(":/skin/") + name);
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(QStringLiteral("File not found: %1").arg(name).toStdString());
    return file.readAll();
}

// A picture of the skin for a screen of this many device pixels to a pixel:
// above one, its @2x art (NAME@2x.png) where the skin has it, which Qt draws
// at the picture's own size in the layout's pixels.
QPixmap SkinPicture(const QString& file, qreal pixelRatio)
{
    const QString sharp = QStringLiteral(":/skin/") + file.section(QLatin1Char('.'), 0, 0) + QStringLiteral("@2x.png");
    if (pixelRatio > 1 && QFile::exists(sharp)) {
        QPixmap picture(sharp);
        picture.setDevicePixelRatio(2);
        return picture;
    }
    return QPixmap::fromImage(LoadPicture(SkinFile(file)));
}

// An icon file of the skin with the larger sizes drawn beside it
// (NAME-SIZE.png), which trays, menus and HiDPI screens ask for.
QIcon SkinIcon(const QString& file)
{
    QIcon icon(QStringLiteral(":/skin/") + file);
    const QString base = file.section(QLatin1Char('.'), 0, 0);
    for (const int size : {22, 24, 32, 48}) {
        const QString larger = QStringLiteral(":/skin/%1-%2.png").arg(base).arg(size);
        if (QFile::exists(larger))
            icon.addFile(larger);
    }
    return icon;
}

QJsonObject Design(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The window's stored design is missing");
    return QJsonDocument::fromJson(file.readAll()).object();
}

// Matches the controls the stored design names with the ones the window
// works with: a control missing, of another kind, or left over is reported by
// name when the window is built, never met later as nothing.
class DesignBinding {
public:
    explicit DesignBinding(QObject& root)
        : m_root(root)
    {
    }
    void Designed(const QString& name, const QString& kind) { m_designed.emplace(name, kind); }
    template <typename T> T* Bind(const char* name)
    {
        const auto designed = m_designed.find(QLatin1String(name));
        if (designed == m_designed.end())
            throw std::runtime_error(QStringLiteral("The window's stored design has no control named %1")
                    .arg(QLatin1String(name)).toStdString());
        T* control = m_root.findChild<T*>(QLatin1String(name));
        if (!control)
            throw std::runtime_error(QStringLiteral("The window's stored design makes %1 a %2, not a %3")
                    .arg(QLatin1String(name), designed->second, QLatin1String(T::staticMetaObject.className()))
                    .toStdString());
        m_bound.insert(designed->first);
        return control;
    }
    // A design entry the window has no use for, such as a separator.
    void Known(const char* name) { m_bound.insert(QLatin1String(name)); }
    void Finish() const
    {
        for (const auto& [name, kind] : m_designed)
            if (!m_bound.contains(name))
                throw std::runtime_error(QStringLiteral("The window's stored design names %1 (%2), which the window does not know")
                        .arg(name, kind).toStdString());
    }

private:
    QObject& m_root;
    std::map<QString, QString> m_designed;
    std::set<QString> m_bound;
};

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
    const QJsonObject design = Design(designFile);
    DesignBinding binding(*this);
    const qreal pixelRatio = devicePixelRatioF();
    const int tpp = TwipsPerPixel(this);
    const auto pixels = [tpp](const QJsonObject& o, const char* key) { return int(RoundHalfEven(o[key].toDouble() / tpp)); };
    const QJsonObject form = design["form"].toObject();
    m_picture = LoadPicture(SkinFile(form["picture"].toString()));
    setFixedSize(pixels(form, "width"), pixels(form, "height"));
    move(pixels(form, "left"), pixels(form, "top"));
    setWindowIcon(SkinIcon(form["icon"].toString()));

    // Later siblings lie on top: build from the bottom of the stacking order up.
    std::function<void(const QJsonArray&, QWidget*)> build = [&](const QJsonArray& controls, QWidget* parent) {
        for (auto it = controls.end(); it != controls.begin();) {
            const QJsonObject c = (--it)->toObject();
            const QString kind = c["kind"].toString();
            const QString name = c["name"].toString();
            binding.Designed(name, kind);
            const QRect geometry(pixels(c, "left"), pixels(c, "top"), pixels(c, "width"), pixels(c, "height"));
            QWidget* widget = nullptr;
            if (kind == "ImageButton") {
                auto* button = new ImageButton(parent);
                button->setObjectName(name);
                PropertyBag bag;
                const QJsonObject properties = c["properties"].toObject();
                for (auto p = properties.begin(); p != properties.end(); ++p)
                    bag.WriteProperty(p.key(), p->isString() ? QVariant(SkinPicture(p->toString(), pixelRatio)) : QVariant(p->toInt()));
                button->setGeometry(geometry);
                button->ReadProperties(bag);
                widget = button;
            } else if (kind == "PictureBox") {
                auto* box = new PictureBox(parent);
                if (c.contains("picture"))
                    box->SetPicture(SkinPicture(c["picture"].toString(), pixelRatio));
                widget = box;
            } else if (kind == "ImageHolder") {
                auto* holder = new ImageHolder(parent);
                const QString file = c["picture"].toString();
                holder->SetPicture(SkinPicture(file, pixelRatio));
                if (file.endsWith(".ico"))
                    holder->SetIcon(SkinIcon(file));
                widget = holder;
            } else if (kind == "Label") {
                auto* label = new QLabel(parent);
                // The window's status to assistive technologies, known before its first text.
                label->setProperty("AccessibleStatus", c["accessibleRole"].toString() == QLatin1String("status"));
                label->setText(c["caption"].toString());
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

    closeImageButton = binding.Bind<ImageButton>("closeImageButton");
    lowSpeedImageButton = binding.Bind<ImageButton>("lowSpeedImageButton");
    stopImageButton = binding.Bind<ImageButton>("stopImageButton");
    playPauseImageButton = binding.Bind<ImageButton>("playPauseImageButton");
    highSpeedImageButton = binding.Bind<ImageButton>("highSpeedImageButton");
    minimiseImageButton = binding.Bind<ImageButton>("minimiseImageButton");
    Picture1 = binding.Bind<PictureBox>("Picture1");
    backgroundPicture = binding.Bind<PictureBox>("backgroundPicture");
    greenIcon = binding.Bind<ImageHolder>("greenIcon");
    redIcon = binding.Bind<ImageHolder>("redIcon");
    playHoverImage = binding.Bind<ImageHolder>("playHoverImage");
    pauseHoverImage = binding.Bind<ImageHolder>("pauseHoverImage");
    pauseImage = binding.Bind<ImageHolder>("pauseImage");
    playImage = binding.Bind<ImageHolder>("playImage");
    statusLabel = binding.Bind<QLabel>("statusLabel");

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
        const bool separator = item["caption"].toString() == "-";
        QAction* action = separator ? contextMenu->addSeparator() : contextMenu->addAction(item["caption"].toString());
        action->setObjectName(item["name"].toString());
        binding.Designed(action->objectName(), separator ? QStringLiteral("separator") : QStringLiteral("menu item"));
        if (separator)
            binding.Known(item["name"].toString().toLatin1().constData());
        if (item.contains("checked")) {
            action->setCheckable(true);
            action->setChecked(item["checked"].toBool());
        }
    }
    playPauseMenuItem = binding.Bind<QAction>("playPauseMenuItem");
    stopMenuItem = binding.Bind<QAction>("stopMenuItem");
    openMenuItem = binding.Bind<QAction>("openMenuItem");
    highSpeedMenuItem = binding.Bind<QAction>("highSpeedMenuItem");
    lowSpeedMenuItem = binding.Bind<QAction>("lowSpeedMenuItem");
    exitMenuItem = binding.Bind<QAction>("exitMenuItem");
    binding.Finish();

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
    stopImageButton->setEnabled(false);
    RenderNames();
    ShellTrayAdd(redIcon->Icon());
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
    const PlayerStatus& status = m_player.Status();
    if (PlayerStatus::IsMainState(state)) {
        playPauseImageButton->SetUpImage(status.pauseFaces ? pauseImage->Picture() : playImage->Picture());
        playPauseImageButton->SetOverImage(status.pauseFaces ? pauseHoverImage->Picture() : playHoverImage->Picture());
        stopImageButton->setEnabled(status.stopEnabled);
        m_tray->SetIcon(status.green ? greenIcon->Icon() : redIcon->Icon());
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
