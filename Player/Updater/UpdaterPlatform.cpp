#include "UpdaterPlatform.h"

#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <stdexcept>

namespace {
constexpr int YesNo = 4, Question = 32, Information = 64;
constexpr int IdOk = 1, IdYes = 6, IdNo = 7;
} // namespace

DesktopUpdaterPlatform::DesktopUpdaterPlatform(bool canShowBoxes)
    : m_canShowBoxes(canShowBoxes)
{
}

int DesktopUpdaterPlatform::MsgBox(const QString& prompt, int buttons, const QString& title)
{
    if (!m_canShowBoxes)
        throw std::runtime_error("no display to ask on");
    const bool yesNo = (buttons & 0xf) == YesNo;
    QMessageBox box(buttons & Information ? QMessageBox::Information
            : buttons & Question          ? QMessageBox::Question
                                          : QMessageBox::NoIcon,
        title, prompt, yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    const int answer = box.exec();
    return answer == QMessageBox::Yes ? IdYes : answer == QMessageBox::No ? IdNo : IdOk;
}

void DesktopUpdaterPlatform::StartProcess(const QString& program)
{
    // The path is the whole argument vector: nothing is parsed by a shell.
    if (!QProcess::startDetached(program, {}))
        throw std::runtime_error("the patch could not be started");
}

QString DesktopUpdaterPlatform::TempPath()
{
    return QDir::tempPath() + QLatin1Char('/');
}
