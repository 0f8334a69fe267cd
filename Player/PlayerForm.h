#pragma once

#include "DragFrame.h"
#include "PlayState.h"

#include <QImage>
#include <QWidget>
#include <memory>

class FocusFrame;
class ImageButton;
class ImageHolder;
class PictureBox;
class QAbstractNativeEventFilter;
class QAction;
class QLabel;
class QMenu;
class RadioPlayer;
enum class Quality;
namespace SystrayHelper {
class SystrayIcon;
}

// The player's only window: a frameless 380 x 72 skinned window built from its
// stored design, with the image buttons, the hidden image holders, the status
// label, the popup menu and the tray icon. It is a view of the player: its
// buttons and menu send the player commands, and what it shows is the
// player's status. Its controls carry their design names as object names.
class PlayerForm : public QWidget {
    Q_OBJECT

public:
    // Throws when the stored design and the window disagree on a control
    // (one missing, of another kind, or unknown), naming it.
    explicit PlayerForm(RadioPlayer& player, const QString& designFile = QStringLiteral(":/design/PlayerForm.json"));
    ~PlayerForm() override;

    // The load sequence: volume, quality, outline, twips, title, the
    // player's status (at first: stop disabled, the red icon), tray icon,
    // tray hook.
    void Load();

    bool ShellTrayAdd(const QIcon& icon);
    void ShellTrayDelete();
    void ShowForm();
    void ShowPopupMenu(Qt::MouseButton button);

    const FocusFrame& Frame() const { return *m_frame; }

signals:
    // The window was unloaded; the program ends.
    void Unloaded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // The Menu key and Shift+F10 open the popup menu at the window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildFromDesign(const QString& designFile);
    void ConnectHandlers();
    void HookWindow();
    void UnhookWindow();
    void ChooseQuality(Quality quality);
    void RenderQuality();
    void RenderState(PlayState state);
    // What the player's status says; `faces`: the play button's faces, the
    // stop button and the tray icon too.
    void RenderStatus(bool faces);
    QIcon StatusIcon() const;
    void RenderTrayTip();
    void RenderNames();
    void Minimise();
    void Picture1_MouseDown(int Button, int Shift, float X, float Y);
    void Picture1_MouseMove(int Button, int Shift, float X, float Y);
    void Picture1_MouseUp(int Button, int Shift, float X, float Y);
    void BeginDrag(float X, float Y);
    void DragFrameTo(float X, float Y);
    void EndDrag(float X, float Y);
    QPoint ClientToScreen(QPoint point) const;

    RadioPlayer& m_player;
    ImageButton* closeImageButton = nullptr;
    ImageButton* lowSpeedImageButton = nullptr;
    ImageButton* stopImageButton = nullptr;
    ImageButton* playPauseImageButton = nullptr;
    ImageButton* highSpeedImageButton = nullptr;
    ImageButton* minimiseImageButton = nullptr;
    PictureBox* Picture1 = nullptr;
    PictureBox* backgroundPicture = nullptr;
    ImageHolder* greenIcon = nullptr;
    ImageHolder* redIcon = nullptr;
    ImageHolder* playHoverImage = nullptr;
    ImageHolder* pauseHoverImage = nullptr;
    ImageHolder* pauseImage = nullptr;
    ImageHolder* playImage = nullptr;
    QLabel* statusLabel = nullptr;
    QMenu* contextMenu = nullptr;
    QAction* playPauseMenuItem = nullptr;
    QAction* stopMenuItem = nullptr;
    QAction* openMenuItem = nullptr;
    QAction* highSpeedMenuItem = nullptr;
    QAction* lowSpeedMenuItem = nullptr;
    QAction* exitMenuItem = nullptr;
    SystrayHelper::SystrayIcon* m_tray = nullptr;
    QMetaObject::Connection m_trayHook;

    int TwipsPerPixelX = 0;
    int TwipsPerPixelY = 0;

    // The drag state.
    int DragStartX = 0;
    int DragStartY = 0;
    QPoint DragStartPoint;
    DragRect DragWindowRect;
    DragRect DragFrame;

    QImage m_picture;
    std::unique_ptr<FocusFrame> m_frame;
    std::unique_ptr<QAbstractNativeEventFilter> m_showRequests;
    bool m_unloaded = false;
};
