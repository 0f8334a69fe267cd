#include "ButtonHelper.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

class FakeButton : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void DrawHover() { calls << "DrawHover"; }
    Q_INVOKABLE void DrawNormal() { calls << "DrawNormal"; }
    QStringList calls;
};

// Records what reaches the window behind the filter.
class ButtonWindowSurface : public QWidget {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::MouseMove || e->type() == QEvent::Leave)
            received << e->type();
        return QWidget::event(e);
    }
    QList<QEvent::Type> received;
};

void Move(QWidget& window)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &move);
}

void Leave(QWidget& window)
{
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&window, &leave);
}

struct HookedWindow {
    HookedWindow()
    {
        ButtonHelper::HookButtonWindow(&window);
        window.setProperty("Button", QVariant::fromValue<QObject*>(&button));
    }
    ~HookedWindow() { ButtonHelper::UnhookButtonWindow(&window); }
    FakeButton button;
    ButtonWindowSurface window;
};

} // namespace

TEST(HoverFilter, ManyMovesDrawHoverOnceAndEveryEventGoesOn)
{
    HookedWindow hooked;
    for (int i = 0; i < 5; ++i)
        Move(hooked.window);
    EXPECT_EQ(hooked.button.calls, QStringList{"DrawHover"});
    EXPECT_EQ(hooked.window.property("Hot").toInt(), 1);
    Leave(hooked.window);
    Move(hooked.window);
    EXPECT_EQ(hooked.button.calls, (QStringList{"DrawHover", "DrawNormal", "DrawHover"}));
    EXPECT_EQ(hooked.window.received.size(), 7);
    EXPECT_EQ(hooked.window.received.at(5), QEvent::Leave);
}

TEST(HoverFilter, LeaveWhileNotHotStillDrawsNormal)
{
    HookedWindow hooked;
    Leave(hooked.window);
    EXPECT_EQ(hooked.button.calls, QStringList{"DrawNormal"});
    EXPECT_EQ(hooked.window.property("Hot").toInt(), 0);
}

TEST(HoverFilter, EachWindowKeepsItsOwnHotFlag)
{
    HookedWindow first, second;
    Move(first.window);
    Leave(first.window);
    Move(second.window);
    EXPECT_EQ(first.button.calls, (QStringList{"DrawHover", "DrawNormal"}));
    EXPECT_EQ(second.button.calls, QStringList{"DrawHover"});
}

TEST(HoverFilter, WindowWithoutButtonOrWithoutTheMethodsStillTracksHot)
{
    ButtonWindowSurface bare;
    ButtonHelper::HookButtonWindow(&bare);
    Move(bare);
    EXPECT_EQ(bare.property("Hot").toInt(), 1);
    QObject plain;
    bare.setProperty("Button", QVariant::fromValue<QObject*>(&plain));
    Leave(bare);
    EXPECT_EQ(bare.property("Hot").toInt(), 0);
    EXPECT_EQ(bare.received.size(), 2);
    ButtonHelper::UnhookButtonWindow(&bare);
}

TEST(HoverFilter, DisabledWindowsGetNoHoverAndUnhookedWindowsNoCalls)
{
    HookedWindow hooked;
    hooked.window.setEnabled(false);
    Move(hooked.window);
    EXPECT_TRUE(hooked.button.calls.isEmpty());
    hooked.window.setEnabled(true);
    ButtonHelper::UnhookButtonWindow(&hooked.window);
    Move(hooked.window);
    Leave(hooked.window);
    EXPECT_TRUE(hooked.button.calls.isEmpty());
}

#include "ButtonHelperTest.moc"
