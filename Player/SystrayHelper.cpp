#include "SystrayHelper.h"

#include <QHash>
#include <QWidget>
#include <QtEndian>

namespace SystrayHelper {

std::intptr_t PreviousWindowProc = 0;
int TrayRecordSize = 0;

namespace {

constexpr std::uint32_t FixedFileInfoSignature = 0xFEEF04BD;

QByteArray ModernShellVersion()
{
    QByteArray record(52, '\0');
    qToLittleEndian<std::uint32_t>(FixedFileInfoSignature, record.data());
    qToLittleEndian<std::uint32_t>(0x00010000, record.data() + 4);   // structure version
    qToLittleEndian<std::uint32_t>(0x00060000, record.data() + 8);   // file version 6.0
    return record;
}

QHash<std::uint32_t, QIcon>& Icons()
{
    static QHash<std::uint32_t, QIcon> icons;
    return icons;
}

} // namespace

std::function<QByteArray()> ShellFixedFileInfo = ModernShellVersion;

int TrayRecordSizeFor(int shellMajorVersion)
{
    if (shellMajorVersion >= 6)
        return 504;
    if (shellMajorVersion == 5)
        return 488;
    return 88;
}

std::optional<int> FixedFileInfoMajorVersion(const QByteArray& fixedFileInfo)
{
    if (fixedFileInfo.size() < 12 || qFromLittleEndian<std::uint32_t>(fixedFileInfo.constData()) != FixedFileInfoSignature)
        return std::nullopt;
    return qFromLittleEndian<std::int16_t>(fixedFileInfo.constData() + 10);
}

bool ShellVersionAtLeast(int required)
{
    const auto major = FixedFileInfoMajorVersion(ShellFixedFileInfo ? ShellFixedFileInfo() : QByteArray());
    return major && *major >= required;
}

void SelectTrayRecordSize()
{
    TrayRecordSize = ShellVersionAtLeast(6) ? TrayRecordSizeFor(6) : ShellVersionAtLeast(5) ? TrayRecordSizeFor(5) : TrayRecordSizeFor(0);
}

QByteArray BuildTrayRecord(const TrayRecordFields& f)
{
    QByteArray record(TrayRecordBufferSize, '\0');
    char* p = record.data();
    const std::uint32_t words[] = {f.cbSize, f.hWnd, f.uID, f.uFlags, f.uCallbackMessage, f.hIcon};
    for (std::uint32_t word : words) {
        qToLittleEndian(word, p);
        p += 4;
    }
    // The first layout holds a 64-character tip; the later ones 128.
    const int tipSize = f.cbSize <= 88 ? 64 : 128;
    std::copy_n(f.szTip.constData(), std::min<qsizetype>(f.szTip.size(), tipSize), p);
    return record;
}

TrayRecordFields ParseTrayRecord(const QByteArray& record)
{
    TrayRecordFields f{};
    if (record.size() < 24)
        return f;
    const char* p = record.constData();
    std::uint32_t* words[] = {&f.cbSize, &f.hWnd, &f.uID, &f.uFlags, &f.uCallbackMessage, &f.hIcon};
    for (std::uint32_t* word : words) {
        *word = qFromLittleEndian<std::uint32_t>(p);
        p += 4;
    }
    const int tipSize = f.cbSize <= 88 ? 64 : 128;
    f.szTip = record.mid(24, tipSize);
    return f;
}

std::uint32_t IconHandle(const QIcon& icon)
{
    const auto handle = static_cast<std::uint32_t>(icon.cacheKey() & 0xffffffffu) | 1u;
    Icons().insert(handle, icon);
    return handle;
}

QIcon IconFromHandle(std::uint32_t handle)
{
    return Icons().value(handle);
}

QEvent::Type TrayMessageEvent::EventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType(QEvent::User + 0x15));
    return type;
}

bool TrayWindowProc(TrayWindow& form, QObject* window, QEvent* event)
{
    if (event->type() != TrayMessageEvent::EventType() || window != form.Window())
        return false;
    const int lParam = static_cast<TrayMessageEvent*>(event)->LParam();
    // Errors of the commands are swallowed: the filter never fails.
    try {
        if (lParam == WM_LBUTTONDBLCLK) {
            form.ShowForm();
        } else if (lParam == WM_RBUTTONUP) {
            try {
                form.Window()->raise();
                form.Window()->activateWindow();
            } catch (...) {
            }
            form.ShowPopupMenu(2);
        }
    } catch (...) {
    }
    return true;
}

} // namespace SystrayHelper
