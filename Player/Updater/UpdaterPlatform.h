#pragma once

#include <QString>

// What the updater needs from the desktop, behind one seam so that tests can
// answer the questions and watch what would be started.
class UpdaterPlatform {
public:
    virtual ~UpdaterPlatform() = default;
    // A message box with the given flags (0x24 Yes/No with a question mark,
    // 0x40 OK with an information sign); returns the button pressed (6 Yes,
    // 7 No, 1 OK). Throws when no box can be shown.
    virtual int MsgBox(const QString& prompt, int buttons, const QString& title) = 0;
    // Starts the program, not waiting for it. Throws when it cannot be started.
    virtual void StartProcess(const QString& program) = 0;
    // The user's temporary directory with its trailing separator.
    virtual QString TempPath() = 0;
};

// The desktop's own: Qt message boxes (when there is a display), a detached
// process started from an argument vector, QDir::tempPath().
class DesktopUpdaterPlatform : public UpdaterPlatform {
public:
    explicit DesktopUpdaterPlatform(bool canShowBoxes);
    int MsgBox(const QString& prompt, int buttons, const QString& title) override;
    void StartProcess(const QString& program) override;
    QString TempPath() override;

private:
    bool m_canShowBoxes;
};
