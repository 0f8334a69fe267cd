#pragma once

#include "DragFrame.h"
#include "SystrayHelper.h"

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <memory>

class FocusFrame;
class ImageButton;
class ImageHolder;
class MediaPlayer;
class PictureBox;
class QAbstractNativeEventFilter;
class QAction;
class QLabel;
class QMenu;

// The status text for a play state; `highQuality` picks the suffix of state 3.
QString StatusTextFor(int state, bool highQuality);

// The stream's host: SONVALE_STREAM_HOST from the environment, else the one
// the player was built with.
QString StreamHost();
// Where the station's playlists are: http://HOST:8000 for a bare host, or
// the base the host setting names with its scheme.
QString StreamBase();

// The player's only window: a frameless 380 x 72 skinned window built from its
// stored design, holding the media engine, the image buttons, the hidden
// image holders, the status label, the popup menu and the tray icon. Its
// controls carry their design names as object names.
class PlayerForm : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QImage Picture READ Picture)

public:
    // The engine comes in from outside so that tests can watch it.
    explicit PlayerForm(std::unique_ptr<MediaPlayer> engine);
    ~PlayerForm() override;

    // The load sequence: engine settings, quality, outline, twips, title,
    // stop disabled, tray icon, tray hook.
    void Load();

    QImage Picture() const { return m_picture; }
    bool ShellTrayAdd(const QIcon& icon);
    void ShellTrayDelete();
    void ShowForm();
    void ShowPopupMenu(int buttun);

    // The commands of the play/pause and stop buttons, for every other way
    // in (media keys, the desktop's media controls).
    void PlayPauseCommand();
    void StopCommand();
    // Play, or pause, only where a press of play/pause would do that.
    void Play();
    void Pause();
    MediaPlayer& Engine() const { return *m_engine; }
    void SetVolume(int volume);

    const FocusFrame& Frame() const { return *m_frame; }

signals:
    // The window was unloaded; the program ends.
    void Unloaded();
    void VolumeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildFromDesign();
    void ConnectHandlers();
    void HookWindow();
    void UnhookWindow();
    QString HighQualityAddress() const;
    QString LowQualityAddress() const;
    bool PlayPauseWouldPause() const;
    void UpdateTrayTip();
    void Minimise();
    void OnPlayStateChange(int NewState);
    void Picture1_MouseDown(int Button, int Shift, float X, float Y);
    void Picture1_MouseMove(int Button, int Shift, float X, float Y);
    void Picture1_MouseUp(int Button, int Shift, float X, float Y);
    void BeginDrag(float X, float Y);
    void DragFrameTo(float X, float Y);
    void EndDrag(float X, float Y);
    QPoint ClientToScreen(QPoint point) const;

    std::unique_ptr<MediaPlayer> m_engine;
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
    bool IsPlaying = false;

    // The drag state.
    int DragStartX = 0;
    int DragStartY = 0;
    QPoint DragStartPoint;
    DragRect DragWindowRect;
    DragRect DragFrame;
    DragRect DrawnFrame;

    QImage m_picture;
    std::unique_ptr<FocusFrame> m_frame;
    std::unique_ptr<QAbstractNativeEventFilter> m_showRequests;
    bool m_unloaded = false;
};
