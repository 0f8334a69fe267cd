#include "UpdaterPlatform.h"

#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <stdexcept>

DesktopUpdaterPlatform::DesktopUpdaterPlatform(bool canShowBoxes)
    : m_canShowBoxes(canShowBoxes)
{
}

bool DesktopUpdaterPlatform::AskYesNo(const QString& question, const QString& title)
{
    if (!m_canShowBoxes)
        throw std::runtime_error("no display to ask on");
    QMessageBox box(QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void DesktopUpdaterPlatform::Inform(const QString& note, const QString& title)
{
    if (!m_canShowBoxes)
        throw std::runtime_error("no display to show the note on");
    QMessageBox box(QMessageBox::Information, title, note, QMessageBox::Ok);
    box.exec();
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
