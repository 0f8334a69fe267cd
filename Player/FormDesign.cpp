#include "FormDesign.h"

#include "ImageButton.h"
#include "Picture.h"
#include "PictureBox.h"
#include "PropertyBag.h"
#include "Twips.h"

#include <QFile>
#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QWidget>
#include <functional>

namespace {

QByteArray SkinFile(const QString& name)
{
    QFile file(QStringLiteral(":/skin/") + name);
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(QStringLiteral("File not found: %1").arg(name).toStdString());
    return file.readAll();
}

QImage SkinImage(const QString& file)
{
    return LoadPicture(SkinFile(file));
}

// An icon file of the skin with the larger sizes drawn beside it
// (NAME-SIZE.png), which trays, menus and HiDPI screens ask for.
QIcon SkinIcon(const QString& file)
{
    QIcon icon(QStringLiteral(":/skin/") + file);
    const QString base = file.section(QLatin1Char('.'), 0, 0);
    for (const int size : {22, 24, 32, 48}) {
        const QString larger = QStringLiteral(":/skin/%1-%2.png").arg(base).arg(size);
        if (QFile::exists(larger))
            icon.addFile(larger);
    }
    return icon;
}

// A picture of the skin for a screen of this many device pixels to a pixel:
// above one, its @2x art (NAME@2x.png) where the skin has it, which Qt draws
// at the picture's own size in the layout's pixels.
QPixmap SkinPicture(const QString& file, qreal pixelRatio)
{
    const QString sharp = QStringLiteral(":/skin/") + file.section(QLatin1Char('.'), 0, 0) + QStringLiteral("@2x.png");
    if (pixelRatio > 1 && QFile::exists(sharp)) {
        QPixmap picture(sharp);
        picture.setDevicePixelRatio(2);
        return picture;
    }
    return QPixmap::fromImage(SkinImage(file));
}

QJsonObject Design(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The window's stored design is missing");
    return QJsonDocument::fromJson(file.readAll()).object();
}

QLabel* MakeLabel(const QJsonObject& c, QWidget* parent)
{
    auto* label = new QLabel(parent);
    // The window's status to assistive technologies, known before its first text.
    label->setProperty("AccessibleStatus", c["accessibleRole"].toString() == QLatin1String("status"));
    label->setText(c["caption"].toString());
    const QJsonObject f = c["font"].toObject();
    QFont font(f["name"].toString());
    font.setPointSizeF(f["size"].toDouble());
    font.setWeight(QFont::Weight(f["weight"].toInt()));
    label->setFont(font);
    const QJsonArray rgb = c["color"].toArray();
    label->setStyleSheet(QStringLiteral("color: rgb(%1, %2, %3)").arg(rgb[0].toInt()).arg(rgb[1].toInt()).arg(rgb[2].toInt()));
    return label;
}

} // namespace

FormDesign::FormDesign(const QString& designFile, QWidget& window)
    : m_window(window)
{
    const QJsonObject design = Design(designFile);
    const qreal pixelRatio = window.devicePixelRatioF();
    const int tpp = TwipsPerPixel(&window);
    const auto pixels = [tpp](const QJsonObject& o, const char* key) { return int(RoundHalfEven(o[key].toDouble() / tpp)); };
    const QJsonObject form = design["form"].toObject();
    m_picture = SkinImage(form["picture"].toString());
    window.setFixedSize(pixels(form, "width"), pixels(form, "height"));
    window.move(pixels(form, "left"), pixels(form, "top"));
    window.setWindowIcon(SkinIcon(form["icon"].toString()));

    // Later siblings lie on top: build from the bottom of the stacking order up.
    std::map<int, QWidget*> tabOrder;
    std::function<void(const QJsonArray&, QWidget*)> build = [&](const QJsonArray& controls, QWidget* parent) {
        for (auto it = controls.end(); it != controls.begin();) {
            const QJsonObject c = (--it)->toObject();
            const QString kind = c["kind"].toString();
            const QString name = c["name"].toString();
            m_designed.emplace(name, kind);
            const QRect geometry(pixels(c, "left"), pixels(c, "top"), pixels(c, "width"), pixels(c, "height"));
            QWidget* widget = nullptr;
            if (kind == "ImageButton") {
                auto* button = new ImageButton(parent);
                button->setObjectName(name);
                PropertyBag bag;
                const QJsonObject properties = c["properties"].toObject();
                for (auto p = properties.begin(); p != properties.end(); ++p)
                    bag.WriteProperty(p.key(), p->isString() ? QVariant(SkinPicture(p->toString(), pixelRatio)) : QVariant(p->toInt()));
                button->setGeometry(geometry);
                button->ReadProperties(bag);
                widget = button;
            } else if (kind == "PictureBox") {
                auto* box = new PictureBox(parent);
                if (c.contains("picture"))
                    box->SetPicture(SkinPicture(c["picture"].toString(), pixelRatio));
                widget = box;
            } else if (kind == "ImageHolder") {
                auto* holder = new ImageHolder(parent);
                const QString file = c["picture"].toString();
                holder->SetPicture(SkinPicture(file, pixelRatio));
                if (file.endsWith(".ico"))
                    holder->SetIcon(SkinIcon(file));
                widget = holder;
            } else if (kind == "Label") {
                widget = MakeLabel(c, parent);
            } else {
                continue; // the media engine has no surface of its own
            }
            widget->setObjectName(name);
            widget->setGeometry(geometry);
            if (c.contains("tabIndex"))
                tabOrder.emplace(c["tabIndex"].toInt(), widget);
            build(c["children"].toArray(), widget);
        }
    };
    build(design["controls"].toArray(), &window);
    QWidget* previous = nullptr;
    for (const auto& [index, widget] : tabOrder) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }

    const QJsonObject menu = design["menu"].toObject();
    m_menu = new QMenu(menu["caption"].toString(), &window);
    m_menu->setObjectName(menu["name"].toString());
    for (const QJsonValue value : menu["items"].toArray()) {
        const QJsonObject item = value.toObject();
        const bool separator = item["caption"].toString() == "-";
        QAction* action = separator ? m_menu->addSeparator() : m_menu->addAction(item["caption"].toString());
        action->setObjectName(item["name"].toString());
        m_designed.emplace(action->objectName(), separator ? QStringLiteral("separator") : QStringLiteral("menu item"));
        // A separator is the design's own: the window has no use for it.
        if (separator)
            m_bound.insert(action->objectName());
        if (item.contains("checked")) {
            action->setCheckable(true);
            action->setChecked(item["checked"].toBool());
        }
    }
}

void FormDesign::Finish() const
{
    for (const auto& [name, kind] : m_designed)
        if (!m_bound.contains(name))
            throw std::runtime_error(QStringLiteral("The window's stored design names %1 (%2), which the window does not know")
                    .arg(name, kind).toStdString());
}
