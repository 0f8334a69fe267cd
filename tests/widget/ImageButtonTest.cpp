#include "ImageButton.h"
#include "Picture.h"
#include "PropertyBag.h"

#include <QBuffer>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QPixmap Face(QColor colour)
{
    QPixmap pixmap(20, 20);
    pixmap.fill(colour);
    return pixmap;
}

QByteArray PngBytes(QColor colour)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    Face(colour).save(&buffer, "PNG");
    return bytes;
}

// A window with image buttons whose faces are told apart by colour.
class ButtonWindow : public ::testing::Test {
protected:
    ImageButton* AddButton(const QString& name, bool radio = false, bool checked = false)
    {
        auto* button = new ImageButton(&window);
        button->setObjectName(name);
        button->setGeometry(10 + 30 * int(buttons.size()), 10, 20, 20);
        PropertyBag bag;
        bag.WriteProperty("UpImage", PngBytes(Qt::white));
        bag.WriteProperty("DownImage", PngBytes(Qt::black));
        bag.WriteProperty("OverImage", PngBytes(Qt::yellow));
        bag.WriteProperty("DisabledImage", PngBytes(Qt::gray));
        bag.WriteProperty("RadioButtonMode", radio ? -1 : 0);
        bag.WriteProperty("Checked", checked ? -1 : 0);
        button->ReadProperties(bag);
        button->show();
        buttons.push_back(button);
        return button;
    }
    void SetUp() override
    {
        window.resize(200, 60);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    static QRgb Shown(const ImageButton* button) { return button->Face().toImage().pixel(0, 0); }

    QWidget window;
    std::vector<ImageButton*> buttons;
};

const QRgb Up = QColor(Qt::white).rgb();
const QRgb Down = QColor(Qt::black).rgb();
const QRgb Over = QColor(Qt::yellow).rgb();
const QRgb Disabled = QColor(Qt::gray).rgb();

} // namespace

TEST_F(ButtonWindow, LeftClickInNormalModeShowsDownThenUpAndRaisesMouseDownAndClick)
{
    ImageButton* button = AddButton("play");
    std::vector<std::string> events;
    QObject::connect(button, &ImageButton::MouseDown, [&](int b, int, float x, float) {
        events.push_back("down " + std::to_string(b) + (Shown(button) == Down ? " drawn" : " not drawn"));
        EXPECT_GT(x, 0.0f) << "position in twips";
    });
    QObject::connect(button, &ImageButton::Click, [&] { events.push_back("click"); });

    QTest::mousePress(button, Qt::LeftButton, {}, {5, 5});
    EXPECT_EQ(Shown(button), Down);
    QTest::mouseRelease(button, Qt::LeftButton, {}, {5, 5});
    EXPECT_EQ(Shown(button), Up) << "up face while the pointer is still over it";
    EXPECT_EQ(events, (std::vector<std::string>{"down 1 drawn", "click"}));
    EXPECT_FALSE(button->Checked()) << "a normal-mode click does not toggle";
}

TEST_F(ButtonWindow, OtherButtonsRaiseMouseDownOnlyAndKeepTheFace)
{
    ImageButton* button = AddButton("stop");
    QSignalSpy downs(button, &ImageButton::MouseDown);
    QSignalSpy clicks(button, &ImageButton::Click);
    button->SetImage(button->OverImage());
    QTest::mousePress(button, Qt::RightButton, {}, {5, 5});
    EXPECT_EQ(Shown(button), Over);
    ASSERT_EQ(downs.count(), 1);
    EXPECT_EQ(downs.at(0).at(0).toInt(), 2);
    QTest::mouseRelease(button, Qt::RightButton, {}, {5, 5});
    EXPECT_EQ(Shown(button), Up) << "any release shows the up face in normal mode";
    QTest::mouseClick(button, Qt::MiddleButton, {}, {5, 5});
    EXPECT_EQ(downs.at(1).at(0).toInt(), 4);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(ButtonWindow, RadioClickChecksItselfAndUnchecksTheOthersButAPressReleasedOutsideChangesNothing)
{
    ImageButton* low = AddButton("low", true, true);
    ImageButton* high = AddButton("high", true, false);
    bool checkedSeenByClick = true, lowCheckedAtClick = true;
    QObject::connect(high, &ImageButton::Click, [&] {
        checkedSeenByClick = high->Checked();
        lowCheckedAtClick = low->Checked();
    });

    QTest::mousePress(high, Qt::LeftButton, {}, {5, 5});
    EXPECT_EQ(Shown(high), Down);
    EXPECT_TRUE(low->Checked()) << "a press alone un-checks nobody";
    QTest::mouseRelease(high, Qt::LeftButton, {}, {25, 5});
    EXPECT_TRUE(low->Checked());
    EXPECT_EQ(Shown(low), Down);
    EXPECT_FALSE(high->Checked());
    EXPECT_EQ(Shown(high), Up) << "released outside: the face is back";

    QTest::mousePress(high, Qt::LeftButton, {}, {5, 5});
    QTest::mouseRelease(high, Qt::LeftButton, {}, {5, 5});
    EXPECT_FALSE(low->Checked());
    EXPECT_EQ(Shown(low), Up);
    EXPECT_FALSE(lowCheckedAtClick) << "the sibling is un-checked before Click, as before it at a press";
    EXPECT_EQ(Shown(high), Down) << "radio buttons do not pop up";
    EXPECT_FALSE(checkedSeenByClick) << "Click sees Checked from before the click";
    EXPECT_TRUE(high->Checked());
}

TEST_F(ButtonWindow, ADoubleClickIsOneClick)
{
    ImageButton* button = AddButton("play");
    QSignalSpy clicks(button, &ImageButton::Click);
    QSignalSpy downs(button, &ImageButton::MouseDown);
    // As a display delivers it: press, release, double-click, release.
    QTest::mouseClick(button, Qt::LeftButton, {}, {5, 5});
    QMouseEvent second(QEvent::MouseButtonDblClick, QPointF(5, 5), button->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
        Qt::LeftButton, {});
    QCoreApplication::sendEvent(button, &second);
    QTest::mouseRelease(button, Qt::LeftButton, {}, {5, 5});
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(downs.count(), 1);
    EXPECT_EQ(Shown(button), Up);
}

TEST_F(ButtonWindow, ClickOnTheCheckedRadioButtonKeepsItChecked)
{
    ImageButton* low = AddButton("low", true, true);
    AddButton("high", true, false);
    bool checkedSeenByClick = false;
    QObject::connect(low, &ImageButton::Click, [&] { checkedSeenByClick = low->Checked(); });
    QTest::mouseClick(low, Qt::LeftButton, {}, {5, 5});
    EXPECT_TRUE(checkedSeenByClick);
    EXPECT_TRUE(low->Checked());
    low->DrawNormal();
    EXPECT_EQ(Shown(low), Down);
}

TEST_F(ButtonWindow, SiblingDeselectionSkipsSameNameUncheckedNonRadioAndOtherControls)
{
    ImageButton* twin = AddButton("twin", true, true);
    ImageButton* plainChecked = AddButton("plain", false, false);
    plainChecked->SetChecked(true);
    ImageButton* radioUnchecked = AddButton("other", true, false);
    auto* label = new QWidget(&window);
    label->setObjectName("label");
    radioUnchecked->DrawHover();

    ImageButton* sameName = AddButton("twin", true, false);
    sameName->SetChecked(true);
    EXPECT_TRUE(twin->Checked()) << "buttons sharing a Name never un-check each other";
    EXPECT_TRUE(plainChecked->Checked()) << "buttons not in radio mode are left alone";
    EXPECT_EQ(Shown(radioUnchecked), Over) << "an unchecked button is not deselected again";

    ImageButton* another = AddButton("another", true, false);
    another->SetChecked(true);
    EXPECT_FALSE(twin->Checked());
    EXPECT_FALSE(sameName->Checked());
    EXPECT_TRUE(plainChecked->Checked());

    another->SetChecked(false);
    EXPECT_EQ(Shown(another), Up);
    plainChecked->SetChecked(false);
    EXPECT_FALSE(plainChecked->Checked());
}

TEST_F(ButtonWindow, LoadingACheckedRadioButtonUnchecksTheOnesLoadedBefore)
{
    ImageButton* first = AddButton("first", true, true);
    ImageButton* second = AddButton("second", true, true);
    EXPECT_FALSE(first->Checked());
    EXPECT_EQ(Shown(first), Up);
    EXPECT_TRUE(second->Checked());
    EXPECT_EQ(Shown(second), Down);
}

TEST_F(ButtonWindow, HoverShowsOverFaceAndLeavingRestoresUpOrDown)
{
    ImageButton* button = AddButton("stop");
    ImageButton* radio = AddButton("low", true, true);
    QTest::mouseMove(button, {5, 5});
    EXPECT_EQ(Shown(button), Over);
    QTest::mouseMove(radio, {5, 5});
    EXPECT_EQ(Shown(button), Up) << "moving straight to the next button leaves the first";
    EXPECT_EQ(Shown(radio), Over);
    QTest::mouseMove(&window, {190, 50});
    EXPECT_EQ(Shown(radio), Down) << "a checked button shows its down face after the pointer leaves";
}

TEST_F(ButtonWindow, DisablingShowsTheDisabledFaceAndStopsMouseInput)
{
    ImageButton* button = AddButton("stop", true, true);
    QSignalSpy downs(button, &ImageButton::MouseDown);
    button->setEnabled(false);
    EXPECT_EQ(Shown(button), Disabled);
    QTest::mouseMove(button, {5, 5});
    QTest::mouseClick(button, Qt::LeftButton, {}, {5, 5});
    EXPECT_EQ(Shown(button), Disabled);
    EXPECT_EQ(downs.count(), 0);
    button->setEnabled(true);
    EXPECT_EQ(Shown(button), Up) << "enabling shows the up face even when checked";
}

TEST_F(ButtonWindow, OnlyUpImageRedraws)
{
    ImageButton* button = AddButton("play");
    button->SetOverImage(Face(Qt::red));
    button->SetDownImage(Face(Qt::red));
    button->SetDisabledImage(Face(Qt::red));
    button->SetRadioButtonMode(false);
    EXPECT_EQ(Shown(button), Up);
    const QPixmap green = Face(Qt::green);
    button->SetUpImage(green);
    EXPECT_EQ(button->Face().cacheKey(), green.cacheKey()) << "the same picture, not a copy";
}

TEST(ImageButtonDesign, LoadsWhatIsStoredWithKeysInAnyCase)
{
    QWidget window;
    PropertyBag stored;
    stored.WriteProperty("upimage", PngBytes(Qt::blue));
    stored.WriteProperty("DOWNIMAGE", PngBytes(Qt::red));
    stored.WriteProperty("radiobuttonmode", -1);
    stored.WriteProperty("checked", -1);
    stored.WriteProperty("enabled", 0);
    ImageButton button(&window);
    button.ReadProperties(stored, false);
    EXPECT_FALSE(button.isEnabled());
    EXPECT_EQ(button.Face().toImage().pixel(0, 0), QColor(Qt::red).rgb()) << "loaded disabled, still the down face";
    EXPECT_EQ(button.UpImage().toImage().pixel(0, 0), QColor(Qt::blue).rgb());
    EXPECT_TRUE(button.RadioButtonMode());
    EXPECT_TRUE(button.Checked());

    ImageButton plain(&window);
    plain.ReadProperties(PropertyBag(), false);
    EXPECT_TRUE(plain.isEnabled());
    EXPECT_FALSE(plain.RadioButtonMode());
    EXPECT_FALSE(plain.Checked());
}

TEST(ImageButtonDesign, ADamagedPictureIsReportedAndShowsNoFace)
{
    QWidget window;
    ImageButton button(&window);
    PropertyBag stored;
    stored.WriteProperty("UpImage", QByteArray("GIF89a\x10\x00", 8));
    EXPECT_THROW(button.ReadProperties(stored), PictureError);
    EXPECT_TRUE(button.Face().isNull());
}
