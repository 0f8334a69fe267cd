#pragma once

#include <QString>

// What the updater needs from the desktop, behind one seam so that tests can
// answer the questions and watch what would be started.
class UpdaterPlatform {
public:
    virtual ~UpdaterPlatform() = default;
    // A question with Yes and No and a question mark; true for Yes. Throws
    // when no box can be shown.
    virtual bool AskYesNo(const QString& question, const QString& title) = 0;
    // A note with OK and an information sign; returns once it is dismissed.
    // Throws when no box can be shown.
    virtual void Inform(const QString& note, const QString& title) = 0;
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
    bool AskYesNo(const QString& question, const QString& title) override;
    void Inform(const QString& note, const QString& title) override;
    void StartProcess(const QString& program) override;
    QString TempPath() override;

private:
    bool m_canShowBoxes;
};
