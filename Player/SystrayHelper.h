#pragma once

#include <QByteArray>
#include <QEvent>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <optional>

class QObject;
class QWidget;

// The tray icon's record, the choice of its size, and the event filter that
// turns the tray icon's mouse messages into window commands.
namespace SystrayHelper {

constexpr int TrayCallbackMessage = 0x8015;
constexpr int WM_LBUTTONDBLCLK = 0x203;
constexpr int WM_RBUTTONUP = 0x205;
constexpr int NIM_ADD = 0;
constexpr int NIM_DELETE = 2;
constexpr int NIF_MESSAGE = 1, NIF_ICON = 2, NIF_TIP = 4;
constexpr int TrayRecordBufferSize = 504;

// Non-zero exactly while the tray filter is installed on the window.
extern std::intptr_t PreviousWindowProc;
// The announced record size; 0 until chosen.
extern int TrayRecordSize;

// 504 for shell major version 6 or higher, 488 for 5, 88 below.
int TrayRecordSizeFor(int shellMajorVersion);

// The file major version from a fixed version record (the signed 16-bit
// value at byte 10); nothing when the record is too short or not one.
std::optional<int> FixedFileInfoMajorVersion(const QByteArray& fixedFileInfo);

// Where the shell's fixed version record comes from; replaceable for tests.
// Linux has no shell library: the tray facility is reported as the modern one.
extern std::function<QByteArray()> ShellFixedFileInfo;

bool ShellVersionAtLeast(int required);
void SelectTrayRecordSize();

// The NOTIFYICONDATA record in its 32-bit ANSI layout, in a zeroed buffer.
struct TrayRecordFields {
    std::uint32_t cbSize, hWnd, uID, uFlags, uCallbackMessage, hIcon;
    QByteArray szTip; // 128 characters
};
QByteArray BuildTrayRecord(const TrayRecordFields& fields);
TrayRecordFields ParseTrayRecord(const QByteArray& record);

// Icons are handed around by 32-bit handle, as the record holds them.
std::uint32_t IconHandle(const QIcon& icon);
QIcon IconFromHandle(std::uint32_t handle);

// The tray's callback message, sent to the window as an event.
class TrayMessageEvent : public QEvent {
public:
    static QEvent::Type EventType();
    explicit TrayMessageEvent(int lParam)
        : QEvent(EventType())
        , m_lParam(lParam)
    {
    }
    int LParam() const { return m_lParam; }

private:
    int m_lParam;
};

// What the filter calls on the player window.
class TrayWindow {
public:
    virtual ~TrayWindow() = default;
    virtual QWidget* Window() = 0;
    virtual void ShowForm() = 0;
    virtual void ShowPopupMenu(int buttun) = 0;
};

// The filter installed in front of the window's own event handling. Returns
// true for the tray's messages (answered here, never passed on).
bool TrayWindowProc(TrayWindow& form, QObject* window, QEvent* event);

} // namespace SystrayHelper
