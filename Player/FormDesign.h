#pragma once

#include <QImage>
#include <QMenu>
#include <QString>
#include <map>
#include <set>
#include <stdexcept>

class QWidget;

// The window's stored design, read and made: the window's size, place and
// icon, its controls (image buttons, pictures, hidden image holders, the
// status label, each named by its design name), the tab order of their tab
// indices, and the popup menu. The window then asks for each control it
// works with by name and kind; a control missing, of another kind, or left
// over is reported by name while the window is built, never met later as
// nothing.
class FormDesign {
public:
    // Builds everything the design names into `window`.
    FormDesign(const QString& designFile, QWidget& window);

    template <typename T> T* Control(const char* name)
    {
        const auto designed = m_designed.find(QLatin1String(name));
        if (designed == m_designed.end())
            throw std::runtime_error(QStringLiteral("The window's stored design has no control named %1")
                    .arg(QLatin1String(name)).toStdString());
        T* control = m_window.findChild<T*>(QLatin1String(name));
        if (!control)
            throw std::runtime_error(QStringLiteral("The window's stored design makes %1 a %2, not a %3")
                    .arg(QLatin1String(name), designed->second, QLatin1String(T::staticMetaObject.className()))
                    .toStdString());
        m_bound.insert(designed->first);
        return control;
    }
    // Every control of the design has been asked for.
    void Finish() const;

    QMenu* Menu() const { return m_menu; }
    // The window's picture, whose cut-away colour is its outline.
    const QImage& Picture() const { return m_picture; }

private:
    QWidget& m_window;
    QMenu* m_menu = nullptr;
    QImage m_picture;
    std::map<QString, QString> m_designed; // name, kind
    std::set<QString> m_bound;
};
