// Draws the player's skin and writes it in the formats the window loads:
// 8-bit GIFs (palette indices chosen here, white = index 0 on the background,
// index 255 = transparent on faces), uncompressed 24-bit BMPs and ICOs.
// Usage: sonvale-skingen OUTPUT_DIR [PREVIEW_PNG]
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gif_lib.h>
#include <vector>

namespace {

constexpr int Width = 380;
constexpr int Height = 72;
constexpr int LargerIconSizes[] = {22, 24, 32, 48};
const QColor PanelTop(0x34, 0x3c, 0x4d);
const QColor PanelBottom(0x16, 0x1a, 0x23);
const QColor Rim(0x55, 0x5f, 0x74);
const QColor Amber(0xf0, 0xa8, 0x30);
const QColor AmberBright(0xff, 0xc8, 0x60);
const QColor Ink(0xec, 0xef, 0xf4);
const QColor Dim(0x8a, 0x93, 0xa4);

QString OutputDir;

[[noreturn]] void Fail(const QString& message)
{
    std::fprintf(stderr, "skingen: %s\n", qPrintable(message));
    std::exit(1);
}

// ---- the panel's outline -------------------------------------------------

// First opaque column of a picture row: a soft rounding of about 20 px at the
// left corners (rows 1-26 and 51-70).
int LeftEdge(int y)
{
    if (y >= 1 && y <= 26)
        return int(std::lround(20.0 * std::pow((26.0 - y) / 25.0, 1.756)));
    if (y >= 51 && y <= 70)
        return int(std::lround(20.0 * std::pow((y - 51.0) / 19.0, 1.756)));
    return 0;
}

// Last opaque column: a small rounding at the right (rows 1-3 and 69-70).
int RightEdge(int y)
{
    switch (y) {
    case 1: return 376;
    case 2: return 377;
    case 3: return 378;
    case 69: return 378;
    case 70: return 377;
    default: return 379;
    }
}

bool InPanel(int x, int y)
{
    return y >= 1 && y <= 70 && x >= LeftEdge(y) && x <= RightEdge(y);
}

// ---- palettes ------------------------------------------------------------

int Distance(QRgb a, QRgb b)
{
    const int r = qRed(a) - qRed(b), g = qGreen(a) - qGreen(b), bl = qBlue(a) - qBlue(b);
    return r * r + g * g + bl * bl;
}

std::vector<QRgb> MedianCut(std::vector<QRgb> colours, int count)
{
    std::vector<QRgb> unique = colours;
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    if (int(unique.size()) <= count)
        return unique;

    struct Box { std::size_t begin, end; };
    const auto channel = [](QRgb c, int ch) { return ch == 0 ? qRed(c) : ch == 1 ? qGreen(c) : qBlue(c); };
    const auto widest = [&](const Box& box, int& which) {
        int best = -1;
        for (int ch = 0; ch < 3; ++ch) {
            int lo = 255, hi = 0;
            for (std::size_t i = box.begin; i < box.end; ++i) {
                lo = std::min(lo, channel(colours[i], ch));
                hi = std::max(hi, channel(colours[i], ch));
            }
            if (hi - lo > best) { best = hi - lo; which = ch; }
        }
        return best;
    };
    std::vector<Box> boxes{{0, colours.size()}};
    while (int(boxes.size()) < count) {
        int chosen = -1, chosenChannel = 0;
        double chosenScore = 0;
        for (std::size_t b = 0; b < boxes.size(); ++b) {
            if (boxes[b].end - boxes[b].begin < 2)
                continue;
            int ch = 0;
            const double score = widest(boxes[b], ch) * std::sqrt(double(boxes[b].end - boxes[b].begin));
            if (score > chosenScore) { chosenScore = score; chosen = int(b); chosenChannel = ch; }
        }
        if (chosen < 0)
            break;
        Box box = boxes[chosen];
        std::sort(colours.begin() + box.begin, colours.begin() + box.end,
            [&](QRgb a, QRgb b) { return channel(a, chosenChannel) < channel(b, chosenChannel); });
        const std::size_t middle = box.begin + (box.end - box.begin) / 2;
        boxes[chosen] = {box.begin, middle};
        boxes.push_back({middle, box.end});
    }
    std::vector<QRgb> palette;
    for (const Box& box : boxes) {
        long r = 0, g = 0, b = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) {
            r += qRed(colours[i]); g += qGreen(colours[i]); b += qBlue(colours[i]);
        }
        const long n = long(box.end - box.begin);
        palette.push_back(qRgb(int(r / n), int(g / n), int(b / n)));
    }
    return palette;
}

int Nearest(const std::vector<QRgb>& palette, int first, QRgb colour)
{
    int best = first, bestDistance = INT32_MAX;
    for (int i = first; i < int(palette.size()); ++i) {
        const int d = Distance(palette[i], colour);
        if (d < bestDistance) { bestDistance = d; best = i; }
    }
    return best;
}

// ---- writers -------------------------------------------------------------

void WriteGif(const QString& name, const QImage& indexed, const std::vector<QRgb>& palette, int transparent)
{
    int error = 0;
    const QByteArray path = QFile::encodeName(OutputDir + '/' + name);
    GifFileType* gif = EGifOpenFileName(path.constData(), false, &error);
    if (!gif)
        Fail("cannot write " + name);
    EGifSetGifVersion(gif, true);
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < int(palette.size()) ? palette[i] : qRgb(0, 0, 0);
        map->Colors[i] = {GifByteType(qRed(c)), GifByteType(qGreen(c)), GifByteType(qBlue(c))};
    }
    bool ok = EGifPutScreenDesc(gif, indexed.width(), indexed.height(), 8, 0, map) == GIF_OK;
    if (transparent >= 0) {
        GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, transparent};
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, indexed.width(), indexed.height(), false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < indexed.height(); ++y)
        ok = EGifPutLine(gif, const_cast<GifPixelType*>(indexed.constScanLine(y)), indexed.width()) == GIF_OK;
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    GifFreeMapObject(map);
    if (!ok)
        Fail("cannot write " + name);
}

void WriteFile(const QString& name, const QByteArray& bytes)
{
    QFile file(OutputDir + '/' + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        Fail("cannot write " + name);
}

template <typename T> void Put(QByteArray& out, T value)
{
    const T le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

QByteArray Bitmap24Rows(const QImage& image)
{
    QByteArray rows;
    const int pad = (4 - (image.width() * 3) % 4) % 4;
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            rows.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        }
        rows.append(pad, '\0');
    }
    return rows;
}

void PutInfoHeader(QByteArray& out, int width, int height, int bits, quint32 imageSize, int colours)
{
    Put<quint32>(out, 40);
    Put<qint32>(out, width);
    Put<qint32>(out, height);
    Put<quint16>(out, 1);
    Put<quint16>(out, quint16(bits));
    Put<quint32>(out, 0);
    Put<quint32>(out, imageSize);
    Put<qint32>(out, 2835);
    Put<qint32>(out, 2835);
    Put<quint32>(out, quint32(colours));
    Put<quint32>(out, 0);
}

void WriteBmp24(const QString& name, const QImage& image)
{
    const QByteArray rows = Bitmap24Rows(image);
    QByteArray out("BM");
    Put<quint32>(out, quint32(14 + 40 + rows.size()));
    Put<quint32>(out, 0);
    Put<quint32>(out, 14 + 40);
    PutInfoHeader(out, image.width(), image.height(), 24, quint32(rows.size()), 0);
    WriteFile(name, out + rows);
}

// One image of an icon file: its DIB (header, palette, XOR rows, AND mask).
QByteArray IconImage(const QImage& argb, int bits)
{
    const int w = argb.width(), h = argb.height();
    QByteArray palette, xorRows, andRows;
    std::vector<QRgb> colours;
    if (bits <= 8) {
        std::vector<QRgb> opaque;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (qAlpha(argb.pixel(x, y)) >= 128)
                    opaque.push_back(argb.pixel(x, y) | 0xff000000);
        colours = MedianCut(opaque, 1 << bits);
        if (colours.empty())
            colours.push_back(qRgb(0, 0, 0));
        for (int i = 0; i < (1 << bits); ++i) {
            const QRgb c = i < int(colours.size()) ? colours[i] : qRgb(0, 0, 0);
            palette.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append('\0');
        }
    }
    const int xorStride = ((w * bits + 31) / 32) * 4;
    const int andStride = ((w + 31) / 32) * 4;
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(xorStride, '\0'), mask(andStride, '\0');
        for (int x = 0; x < w; ++x) {
            const QRgb c = argb.pixel(x, y);
            const bool transparent = qAlpha(c) < 128;
            if (transparent)
                mask[x / 8] = char(mask[x / 8] | (0x80 >> (x % 8)));
            if (bits == 32) {
                row[x * 4] = char(qBlue(c)); row[x * 4 + 1] = char(qGreen(c));
                row[x * 4 + 2] = char(qRed(c)); row[x * 4 + 3] = char(qAlpha(c));
            } else {
                const int index = transparent ? 0 : Nearest(colours, 0, c | 0xff000000);
                if (bits == 8)
                    row[x] = char(index);
                else
                    row[x / 2] = char(row[x / 2] | (x % 2 ? index : index << 4));
            }
        }
        xorRows += row;
        andRows += mask;
    }
    QByteArray out;
    PutInfoHeader(out, w, h * 2, bits, quint32(xorRows.size() + andRows.size()), bits <= 8 ? 1 << bits : 0);
    return out + palette + xorRows + andRows;
}

struct IconEntry {
    QImage image;
    int bits;
};

void WriteIco(const QString& name, const std::vector<IconEntry>& entries)
{
    QByteArray directory, images;
    Put<quint16>(directory, 0);
    Put<quint16>(directory, 1);
    Put<quint16>(directory, quint16(entries.size()));
    quint32 offset = 6 + 16 * quint32(entries.size());
    for (const IconEntry& entry : entries) {
        const QByteArray dib = IconImage(entry.image, entry.bits);
        directory.append(char(entry.image.width() >= 256 ? 0 : entry.image.width()));
        directory.append(char(entry.image.height() >= 256 ? 0 : entry.image.height()));
        directory.append(char(entry.bits == 4 ? 16 : 0)).append('\0');
        Put<quint16>(directory, 1);
        Put<quint16>(directory, quint16(entry.bits));
        Put<quint32>(directory, quint32(dib.size()));
        Put<quint32>(directory, offset);
        offset += quint32(dib.size());
        images += dib;
    }
    WriteFile(name, directory + images);
}

// ---- drawing -------------------------------------------------------------

QColor Mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
        float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QFont TitleFont(int pixelSize, double spacing)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// Coverage of the station's name, its ink placed with the top-left corner of
// its first stem at (176, 16).
QImage TitleCoverage()
{
    QImage ink(Width, Height, QImage::Format_ARGB32_Premultiplied);
    ink.fill(Qt::transparent);
    {
        QPainter p(&ink);
        p.setFont(TitleFont(15, 1.5));
        p.setPen(Qt::white);
        p.drawText(40, 40, QStringLiteral("RADIO VELMORA"));
    }
    int left = Width, top = Height;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            if (qAlpha(ink.pixel(x, y)) > 140) { left = std::min(left, x); top = std::min(top, y); }
    QImage placed(Width, Height, QImage::Format_ARGB32_Premultiplied);
    placed.fill(Qt::transparent);
    QPainter p(&placed);
    p.drawImage(176 - left, 16 - top, ink);
    return placed;
}

struct Background {
    QImage rgb;          // what the listener sees
    std::vector<bool> white; // pixels that must be the transparent white
};

// What the panel carries besides its name: a thin accent under the name,
// fading out at both ends, and a level meter at the right.
void DrawAccents(QPainter& p)
{
    QLinearGradient line(176, 0, 338, 0);
    line.setColorAt(0, Amber);
    line.setColorAt(0.7, Mix(Amber, PanelTop, 0.4));
    line.setColorAt(1, Mix(Amber, PanelTop, 0.9));
    p.fillRect(QRectF(176, 29, 162, 1.5), line);
    const int heights[] = {9, 17, 12, 22, 15, 19, 8};
    for (int i = 0; i < 7; ++i) {
        const QRectF bar(292 + i * 10, 64 - heights[i], 6, heights[i]);
        QLinearGradient fill(0, 42, 0, 64);
        fill.setColorAt(0, AmberBright);
        fill.setColorAt(1, Mix(Amber, PanelBottom, 0.55));
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(bar, 1.5, 1.5);
    }
}

Background DrawBackground()
{
    QImage panel(Width, Height, QImage::Format_RGB32);
    panel.fill(Qt::white);
    for (int y = 1; y <= 70; ++y) {
        const QColor colour = y == 2 ? Rim : y == 70 ? Rim : Mix(PanelTop, PanelBottom, (y - 1) / 69.0);
        for (int x = LeftEdge(y); x <= RightEdge(y); ++x)
            panel.setPixel(x, y, colour.rgb());
    }
    {
        QPainter p(&panel);
        p.setRenderHint(QPainter::Antialiasing);
        DrawAccents(p);
    }
    Background result{panel, std::vector<bool>(Width * Height, false)};
    const QImage title = TitleCoverage();
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            const bool outside = !InPanel(x, y);
            const double coverage = qAlpha(title.pixel(x, y)) / 255.0;
            if (outside || coverage >= 0.55) {
                result.white[y * Width + x] = true;
                result.rgb.setPixel(x, y, qRgb(255, 255, 255));
            } else if (coverage > 0) {
                result.rgb.setPixel(x, y, Mix(QColor(result.rgb.pixel(x, y)), Qt::white, coverage).rgb());
            }
        }
    }
    return result;
}

// A row of the window's outline as the window cuts it: the panel's columns,
// of which the last stored one (379) never belongs to the window.
bool InOutline(int x, int y)
{
    return InPanel(x, y) && x <= Width - 2;
}

// Coverage of the station's name at twice the size, placed as TitleCoverage
// places it (first stem's top-left corner at (352, 32)).
QImage TitleCoverage2x()
{
    QImage ink(2 * Width, 2 * Height, QImage::Format_ARGB32_Premultiplied);
    ink.fill(Qt::transparent);
    {
        QPainter p(&ink);
        p.setFont(TitleFont(30, 3.0));
        p.setPen(Qt::white);
        p.drawText(80, 80, QStringLiteral("RADIO VELMORA"));
    }
    int left = 2 * Width, top = 2 * Height;
    for (int y = 0; y < 2 * Height; ++y)
        for (int x = 0; x < 2 * Width; ++x)
            if (qAlpha(ink.pixel(x, y)) > 140) { left = std::min(left, x); top = std::min(top, y); }
    QImage placed(2 * Width, 2 * Height, QImage::Format_ARGB32_Premultiplied);
    placed.fill(Qt::transparent);
    QPainter p(&placed);
    p.drawImage(352 - left, 32 - top, ink);
    return placed;
}

// The background at twice the size, for HiDPI screens: the same panel drawn
// with twice the detail. Its opaque area is exactly the window's outline
// doubled, so the outline cut from the 1x picture holds at every scale.
QImage DrawBackground2x()
{
    QImage panel(2 * Width, 2 * Height, QImage::Format_ARGB32);
    panel.fill(Qt::transparent);
    for (int y2 = 0; y2 < 2 * Height; ++y2) {
        const int y = y2 / 2;
        const double row = y2 / 2.0 + 0.25; // the middle of the half row
        const QColor colour = y == 2 || y == 70 ? Rim : Mix(PanelTop, PanelBottom, std::clamp((row - 1) / 69.0, 0.0, 1.0));
        for (int x2 = 0; x2 < 2 * Width; ++x2)
            if (InOutline(x2 / 2, y))
                panel.setPixel(x2, y2, colour.rgb());
    }
    QImage art(panel.size(), QImage::Format_ARGB32_Premultiplied);
    art.fill(Qt::transparent);
    {
        QPainter p(&art);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(2, 2);
        DrawAccents(p);
        p.resetTransform();
        p.drawImage(0, 0, TitleCoverage2x());
    }
    for (int y = 0; y < panel.height(); ++y)
        for (int x = 0; x < panel.width(); ++x)
            if (qAlpha(panel.pixel(x, y)) == 255) {
                const QColor over = QColor::fromRgba(art.pixel(x, y));
                const double a = over.alphaF();
                if (a > 0) // premultiplied: the colour is already scaled by its alpha
                    panel.setPixel(x, y, qRgb(int(over.red() + qRed(panel.pixel(x, y)) * (1 - a)),
                                             int(over.green() + qGreen(panel.pixel(x, y)) * (1 - a)),
                                             int(over.blue() + qBlue(panel.pixel(x, y)) * (1 - a))));
            }
    return panel;
}

// The background as indices: white is index 0, the panel's colours 1-255,
// and no panel pixel may become index 0.
QImage IndexBackground(const Background& bg, std::vector<QRgb>& palette)
{
    std::vector<QRgb> colours;
    for (int i = 0; i < Width * Height; ++i)
        if (!bg.white[i])
            colours.push_back(bg.rgb.pixel(i % Width, i / Width));
    palette = {qRgb(255, 255, 255)};
    for (QRgb c : MedianCut(colours, 255))
        palette.push_back(c);
    QImage indexed(Width, Height, QImage::Format_Indexed8);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            indexed.scanLine(y)[x] = bg.white[y * Width + x] ? 0 : uchar(Nearest(palette, 1, bg.rgb.pixel(x, y)));
    return indexed;
}

void CheckBackground(const QImage& indexed)
{
    const auto white = [&](int x, int y) { return indexed.constScanLine(y)[x] == 0; };
    const auto require = [](bool fact, const char* what) { if (!fact) Fail(QString("background: ") + what); };
    require(white(0, 0), "top-left pixel must be white");
    for (int x = 0; x < Width; ++x)
        require(white(x, 0) && white(x, 71), "rows 0 and 71 must be white");
    for (int x = 0; x < Width; ++x)
        require(white(x, 1) == (x < 20 || x > 376), "row 1 must be opaque from column 20 to 376");
    for (int x = 0; x < 176; ++x)
        require(white(x, 16) == (x < 4), "row 16 must be opaque from column 4");
    require(white(176, 16), "row 16 must meet a white letter at column 176");
    for (int y = 1; y <= 70; ++y)
        for (int x = LeftEdge(y); x <= RightEdge(y); ++x)
            if (white(x, y))
                require(y >= 16 && y <= 26 && x >= 176 && x <= 337, "white lettering only in rows 16-26, columns 176-337");
}

// A face drawn over its patch of the background. Pixels the drawing leaves
// untouched become the transparent index 255 where the format has one.
// The twice-size background the faces' @2x art is drawn over.
QImage Background2x;

// A face's @2x art (NAME@2x.png): the same drawing at twice the detail over
// the @2x background, clear where the 1x face is clear.
void WriteFace2x(const QString& name, QPoint at, QSize size, bool transparent, const std::function<void(QPainter&)>& draw)
{
    QImage art(size * 2, QImage::Format_ARGB32_Premultiplied);
    art.fill(Qt::transparent);
    {
        QPainter p(&art);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(2, 2);
        draw(p);
    }
    QImage face = Background2x.copy(QRect(at * 2, size * 2)).convertToFormat(QImage::Format_RGB32)
                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&face);
        p.drawImage(0, 0, art);
    }
    if (transparent)
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x)
                if (qAlpha(art.pixel(x, y)) == 0)
                    face.setPixel(x, y, qRgba(0, 0, 0, 0));
    face.save(OutputDir + '/' + name.section(QLatin1Char('.'), 0, 0) + QStringLiteral("@2x.png"));
}

void WriteFace(const QString& name, const QImage& background, QPoint at, QSize size, bool transparent,
    const std::function<void(QPainter&)>& draw)
{
    WriteFace2x(name, at, size, transparent, draw);
    QImage art(size, QImage::Format_ARGB32_Premultiplied);
    art.fill(Qt::transparent);
    {
        QPainter p(&art);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        draw(p);
    }
    QImage composite = background.copy(QRect(at, size)).convertToFormat(QImage::Format_RGB32);
    {
        QPainter p(&composite);
        p.drawImage(0, 0, art);
    }
    if (name.endsWith(".bmp")) {
        WriteBmp24(name, composite);
        return;
    }
    std::vector<QRgb> colours;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            if (!transparent || qAlpha(art.pixel(x, y)) > 0)
                colours.push_back(composite.pixel(x, y));
    std::vector<QRgb> palette = MedianCut(colours, 255);
    palette.resize(256, PanelBottom.rgb());
    QImage indexed(size, QImage::Format_Indexed8);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const bool clear = transparent && qAlpha(art.pixel(x, y)) == 0;
            indexed.scanLine(y)[x] = clear ? 255 : uchar(Nearest({palette.begin(), palette.begin() + 255}, 0, composite.pixel(x, y)));
        }
    WriteGif(name, indexed, palette, transparent ? 255 : -1);
}

enum class Look { Up, Over, Down, Disabled };

struct RoundLook {
    QColor fillTop, fillBottom, ring, glyph;
};

RoundLook LookOf(Look look)
{
    switch (look) {
    case Look::Over: return {QColor(0x56, 0x62, 0x7c), QColor(0x36, 0x3f, 0x52), AmberBright, Qt::white};
    case Look::Down: return {QColor(0x1c, 0x21, 0x2b), QColor(0x26, 0x2c, 0x38), Amber, QColor(0xff, 0xd9, 0x90)};
    case Look::Disabled: return {QColor(0x2c, 0x32, 0x3e), QColor(0x22, 0x27, 0x31), QColor(0x4a, 0x51, 0x5f), QColor(0x5c, 0x63, 0x70)};
    case Look::Up: break;
    }
    return {QColor(0x44, 0x4e, 0x63), QColor(0x2a, 0x31, 0x3f), Amber, Ink};
}

void DrawRoundButton(QPainter& p, QPointF centre, double radius, Look look)
{
    const RoundLook l = LookOf(look);
    // A soft shadow below the button.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawEllipse(centre + QPointF(0, 1.5), radius + 1.2, radius + 1.2);
    QLinearGradient fill(0, centre.y() - radius, 0, centre.y() + radius);
    fill.setColorAt(0, l.fillTop);
    fill.setColorAt(1, l.fillBottom);
    p.setBrush(fill);
    p.setPen(QPen(l.ring, radius > 20 ? 2.4 : 1.8));
    p.drawEllipse(centre, radius, radius);
}

void PlayGlyph(QPainter& p, QPointF c, double s, const QColor& colour)
{
    QPainterPath triangle;
    triangle.moveTo(c.x() - s * 0.42, c.y() - s * 0.6);
    triangle.lineTo(c.x() + s * 0.62, c.y());
    triangle.lineTo(c.x() - s * 0.42, c.y() + s * 0.6);
    triangle.closeSubpath();
    p.setPen(QPen(colour, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(colour);
    p.drawPath(triangle);
}

void PauseGlyph(QPainter& p, QPointF c, double s, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(c.x() - s * 0.5, c.y() - s * 0.55, s * 0.34, s * 1.1), 1.5, 1.5);
    p.drawRoundedRect(QRectF(c.x() + s * 0.16, c.y() - s * 0.55, s * 0.34, s * 1.1), 1.5, 1.5);
}

void WriteQualityFace(const QString& name, const QImage& background, QPoint at, int width, const QString& label,
    bool pressed)
{
    WriteFace(name, background, at, QSize(width, 38), false, [&](QPainter& p) {
        const QRectF pill(2.5, 7.5, 43, 22);
        p.setPen(QPen(pressed ? Amber : QColor(0x5c, 0x66, 0x7a), 1.4));
        p.setBrush(pressed ? QBrush(Amber) : QBrush(QColor(0x23, 0x29, 0x34)));
        p.drawRoundedRect(pill, 11, 11);
        QFont font = TitleFont(12, 1.0);
        p.setFont(font);
        p.setPen(pressed ? QColor(0x1a, 0x1d, 0x24) : QColor(0xb4, 0xbc, 0xc9));
        p.drawText(pill.translated(0.5, 0), Qt::AlignCenter, label);
    });
}

QImage StatusIcon(const QColor& colour, int size)
{
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    {
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        if (size != 16)
            p.scale(size / 16.0, size / 16.0);
        QRadialGradient fill(QPointF(6, 5.5), 9);
        fill.setColorAt(0, colour.lighter(150));
        fill.setColorAt(1, colour);
        p.setPen(QPen(colour.darker(220), 1.2));
        p.setBrush(fill);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    }
    return icon;
}

// The tray's 16 px icon, and the sizes trays and HiDPI screens ask for
// beside it (NAME-SIZE.png).
void WriteStatusIcon(const QString& name, const QColor& colour)
{
    WriteIco(name, {{StatusIcon(colour, 16), 8}});
    const QString base = name.chopped(4);
    for (int size : LargerIconSizes)
        StatusIcon(colour, size).save(OutputDir + '/' + base + QStringLiteral("-%1.png").arg(size));
}

QImage AppIcon(int size)
{
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 128.0, size / 128.0);
    QLinearGradient fill(0, 0, 0, 128);
    fill.setColorAt(0, PanelTop.lighter(115));
    fill.setColorAt(1, PanelBottom);
    p.setPen(QPen(QColor(0x0c, 0x0e, 0x13), 3));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(4, 4, 120, 120), 26, 26);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(i == 0 ? AmberBright : Amber, 9, Qt::SolidLine, Qt::RoundCap));
        const double r = 22 + i * 16;
        p.drawArc(QRectF(50 - r, 64 - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(Ink);
    p.drawEllipse(QPointF(46, 64), 10, 10);
    return icon;
}

// The updater's icon: the player's icon with a download arrow.
QImage UpdaterIcon(int size)
{
    QImage icon = AppIcon(size);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 128.0, size / 128.0);
    p.setPen(QPen(QColor(0x0c, 0x0e, 0x13), 4));
    p.setBrush(Ink);
    p.drawEllipse(QPointF(96, 96), 28, 28);
    QPainterPath arrow;
    arrow.moveTo(89, 78);
    arrow.lineTo(103, 78);
    arrow.lineTo(103, 94);
    arrow.lineTo(112, 94);
    arrow.lineTo(96, 112);
    arrow.lineTo(80, 94);
    arrow.lineTo(89, 94);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Amber.darker(115));
    p.drawPath(arrow);
    return icon;
}

void Preview(const QString& path, const QImage& background)
{
    const auto load = [](const QString& name) { return QImage(OutputDir + '/' + name); };
    QImage view = background.convertToFormat(QImage::Format_ARGB32);
    QPainter p(&view);
    p.drawImage(0, 1, load("play.gif"));
    p.drawImage(64, 1, load("stop.gif"));
    p.drawImage(179, 33, load("low_pressed.bmp"), 0, 0, 50, 38);
    p.drawImage(232, 33, load("high.bmp"));
    p.drawImage(354, 2, load("minimise.gif"), 0, 0, 11, 25);
    p.drawImage(365, 2, load("close.gif"), 0, 0, 14, 25);
    p.end();
    view.scaled(view.size() * 3).save(path);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2)
        Fail("usage: sonvale-skingen OUTPUT_DIR [PREVIEW_PNG]");
    OutputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(OutputDir);

    const Background bg = DrawBackground();
    std::vector<QRgb> palette;
    const QImage indexed = IndexBackground(bg, palette);
    CheckBackground(indexed);
    WriteGif("background.gif", indexed, palette, -1);
    Background2x = DrawBackground2x();
    Background2x.save(OutputDir + QStringLiteral("/background@2x.png"));
    QImage shown(Width, Height, QImage::Format_RGB32);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            shown.setPixel(x, y, palette[indexed.constScanLine(y)[x]]);

    const QPointF playCentre(36, 35);
    const struct { const char* name; Look look; bool pause; } playFaces[] = {
        {"play.gif", Look::Up, false}, {"play_pressed.gif", Look::Down, false},
        {"play_disabled.gif", Look::Disabled, false}, {"play_hover.gif", Look::Over, false},
        {"pause.gif", Look::Up, true}, {"pause_hover.gif", Look::Over, true},
    };
    for (const auto& face : playFaces)
        WriteFace(face.name, shown, {0, 1}, {64, 70}, true, [&](QPainter& p) {
            const QPointF c = playCentre + (face.look == Look::Down ? QPointF(0, 1) : QPointF());
            DrawRoundButton(p, c, 25, face.look);
            const QColor glyph = LookOf(face.look).glyph;
            face.pause ? PauseGlyph(p, c, 20, glyph) : PlayGlyph(p, c + QPointF(1.5, 0), 20, glyph);
        });

    const struct { const char* name; Look look; } stopFaces[] = {
        {"stop.gif", Look::Up}, {"stop_pressed.gif", Look::Down},
        {"stop_disabled.gif", Look::Disabled}, {"stop_hover.gif", Look::Over},
    };
    for (const auto& face : stopFaces)
        WriteFace(face.name, shown, {64, 1}, {39, 70}, false, [&](QPainter& p) {
            const QPointF c = QPointF(20, 35) + (face.look == Look::Down ? QPointF(0, 1) : QPointF());
            DrawRoundButton(p, c, 15, face.look);
            p.setPen(Qt::NoPen);
            p.setBrush(LookOf(face.look).glyph);
            p.drawRoundedRect(QRectF(c.x() - 5.5, c.y() - 5.5, 11, 11), 1.5, 1.5);
        });

    WriteQualityFace("low.bmp", shown, {179, 33}, 54, "LQ", false);
    WriteQualityFace("low_pressed.bmp", shown, {179, 33}, 54, "LQ", true);
    WriteQualityFace("high.bmp", shown, {232, 33}, 45, "HQ", false);
    WriteQualityFace("high_pressed.bmp", shown, {232, 33}, 45, "HQ", true);

    WriteFace("close.gif", shown, {365, 2}, {14, 70}, true, [](QPainter& p) {
        p.setPen(QPen(Dim.lighter(130), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 7.5), QPointF(10.5, 14.5));
        p.drawLine(QPointF(10.5, 7.5), QPointF(3.5, 14.5));
    });
    WriteFace("minimise.gif", shown, {354, 2}, {11, 70}, false, [](QPainter& p) {
        p.setPen(QPen(Dim.lighter(130), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(2, 13.5), QPointF(9, 13.5));
    });

    WriteStatusIcon("green.ico", QColor(0x34, 0xc7, 0x6a));
    WriteStatusIcon("red.ico", QColor(0xe0, 0x46, 0x3c));
    std::vector<IconEntry> app10;
    for (int bits : {4, 8})
        for (int size : {48, 32, 16})
            app10.push_back({AppIcon(size), bits});
    for (int size : {128, 48, 32, 16})
        app10.push_back({AppIcon(size), 32});
    WriteIco("sonvale.ico", app10);
    for (int size : {22, 24})
        AppIcon(size).save(OutputDir + QStringLiteral("/sonvale-%1.png").arg(size));
    std::vector<IconEntry> updater10;
    for (int bits : {4, 8, 32})
        for (int size : {48, 32, 16})
            updater10.push_back({UpdaterIcon(size), bits});
    updater10.push_back({UpdaterIcon(256), 32});
    WriteIco("../Updater/updater.ico", updater10);

    if (argc > 2)
        Preview(QString::fromLocal8Bit(argv[2]), shown);
    return 0;
}
