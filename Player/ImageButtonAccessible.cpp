#include "ImageButtonAccessible.h"

#include "ImageButton.h"

#include <QLabel>

namespace {

// A label named by its text; one marked as the window's status is read as a
// status bar, so that its changes are announced. The mark is read when asked:
// the interface may be made before the mark is set.
class LabelAccessible : public QAccessibleWidget {
public:
    explicit LabelAccessible(QWidget* label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {
    }
    QAccessible::Role role() const override
    {
        return widget()->property("AccessibleStatus").toBool() ? QAccessible::StatusBar : QAccessible::StaticText;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* Factory(const QString& className, QObject* object)
{
    if (className == QLatin1String("ImageButton") && object->isWidgetType())
        return new ImageButtonAccessible(static_cast<ImageButton*>(object));
    if (className == QLatin1String("QLabel") && object->isWidgetType())
        return new LabelAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

ImageButtonAccessible::ImageButtonAccessible(ImageButton* button)
    : QAccessibleWidget(button, QAccessible::Button)
{
}

ImageButton* ImageButtonAccessible::Button() const
{
    return static_cast<ImageButton*>(widget());
}

QAccessible::Role ImageButtonAccessible::role() const
{
    return Button()->RadioButtonMode() ? QAccessible::RadioButton : QAccessible::Button;
}

QAccessible::State ImageButtonAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (Button()->RadioButtonMode()) {
        state.checkable = true;
        state.checked = Button()->Checked();
    }
    return state;
}

QString ImageButtonAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
        return widget()->objectName();
    return QAccessibleWidget::text(t);
}

QStringList ImageButtonAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled())
        names.prepend(pressAction());
    return names;
}

void ImageButtonAccessible::doAction(const QString& actionName)
{
    if (actionName == pressAction() && widget()->isEnabled())
        Button()->Press();
    else
        QAccessibleWidget::doAction(actionName);
}

void ImageButtonAccessible::Install()
{
    QAccessible::installFactory(Factory);
}
