#include "Picture.h"
#include "TransparencyHelper.h"

#include <QFile>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <stdexcept>

using TransparencyHelper::ComputeWindowShape;
using TransparencyHelper::RowRect;

namespace {

constexpr std::uint8_t Clear = 9;
constexpr std::uint8_t Solid = 3;

// A top-down picture as rows of indices, handed over bottom-up as stored.
struct Picture8 {
    int stride;
    std::vector<std::vector<std::uint8_t>> rows;

    std::vector<std::uint8_t> BottomUp() const
    {
        std::vector<std::uint8_t> bits;
        for (auto row = rows.rbegin(); row != rows.rend(); ++row)
            bits.insert(bits.end(), row->begin(), row->end());
        return bits;
    }
    std::vector<RowRect> Shape(int transparent = Clear) const
    {
        const auto bits = BottomUp();
        return ComputeWindowShape(stride, int(rows.size()), bits, transparent);
    }
};

// One row of `stride` transparent pixels with the given columns opaque.
std::vector<std::uint8_t> Row(int stride, std::initializer_list<std::pair<int, int>> opaqueRuns)
{
    std::vector<std::uint8_t> row(stride, Clear);
    for (auto [from, to] : opaqueRuns)
        for (int x = from; x <= to; ++x)
            row[x] = Solid;
    return row;
}

QImage Background()
{
    return LoadPictureFile(QStringLiteral(":/skin/background.gif"));
}

std::vector<std::uint8_t> BottomUpOf(const QImage& image)
{
    std::vector<std::uint8_t> bits;
    for (int y = image.height() - 1; y >= 0; --y)
        bits.insert(bits.end(), image.constScanLine(y), image.constScanLine(y) + image.bytesPerLine());
    return bits;
}

} // namespace

TEST(WindowShapeOfTheSkin, FollowsTheBackgroundsOutlineAndKeepsTheLettering)
{
    const QImage picture = Background();
    ASSERT_EQ(picture.depth(), 8);
    ASSERT_EQ(picture.size(), QSize(380, 72));
    int transparent = 0;
    const auto rects = ComputeWindowShape(int(picture.bytesPerLine()), picture.height(), BottomUpOf(picture), transparent);
    EXPECT_EQ(transparent, picture.constScanLine(0)[0]);

    std::map<int, std::vector<RowRect>> byRow;
    for (const RowRect& r : rects)
        byRow[r.top].push_back(r);
    EXPECT_EQ(byRow.begin()->first, 1) << "picture row 0 adds nothing";
    EXPECT_EQ(byRow.rbegin()->first, 70) << "picture row 71 adds nothing";
    EXPECT_EQ(byRow.size(), 70u);
    EXPECT_EQ(byRow[1], (std::vector<RowRect>{{20, 1, 377, 2}}));
    EXPECT_EQ(byRow[16], (std::vector<RowRect>{{4, 16, 379, 17}}));
    for (int row = 16; row <= 26; ++row)
        EXPECT_EQ(byRow[row].size(), 1u) << "the lettering cut a hole into row " << row;
}

TEST(WindowShapeOfTheSkin, ShowsExactlyThePicturesNonMarginPixels)
{
    // Each row shows what lies between its outermost opaque pixels (the last
    // stored column excepted), and nothing of the white margin around them.
    const QImage picture = Background();
    int transparent = 0;
    const QRegion shape = TransparencyHelper::PictureShape(picture, transparent);
    for (int y = 0; y < picture.height(); ++y) {
        const uchar* row = picture.constScanLine(y);
        const int scanned = int(picture.bytesPerLine()) - 1;
        int first = 0, last = scanned - 1;
        while (first < scanned && row[first] == transparent)
            ++first;
        while (last >= 0 && row[last] == transparent)
            --last;
        for (int x = 0; x < picture.width(); ++x)
            ASSERT_EQ(shape.contains(QPoint(x, y)), x >= first && x <= last) << x << "," << y;
    }
}

TEST(WindowShapeOfTheSkin, BecomesTheWindowsMaskWhileTheWindowIsHidden)
{
    QWidget form;
    form.resize(380, 72);
    form.show();
    form.winId();
    bool hiddenWhileShaped = false;
    QObject::connect(form.windowHandle(), &QWindow::visibleChanged, [&](bool visible) { hiddenWhileShaped |= !visible; });
    int transparent = 0;
    TransparencyHelper::ShapeWindow(form, Background(), transparent);
    EXPECT_TRUE(hiddenWhileShaped);
    EXPECT_TRUE(form.isVisible());

    const QRegion mask = form.mask();
    EXPECT_EQ(mask.boundingRect().top(), 1);
    EXPECT_EQ(mask.boundingRect().bottom(), 70);
    EXPECT_TRUE(mask.contains(QPoint(20, 1)));
    EXPECT_FALSE(mask.contains(QPoint(19, 1)));
    EXPECT_FALSE(mask.contains(QPoint(377, 1)));
    EXPECT_TRUE(mask.contains(QPoint(250, 20))) << "inside the lettering";
    EXPECT_FALSE(mask.contains(QPoint(379, 40))) << "the last stored column is never part of the shape";
}

TEST(WindowShapeComputation, RowsWithoutAndFullOfTransparentPixels)
{
    const Picture8 picture{40, {Row(40, {}), Row(40, {{0, 39}})}};
    EXPECT_EQ(picture.Shape(), (std::vector<RowRect>{{0, 1, 39, 2}}));
}

TEST(WindowShapeComputation, MiddleZoneCarriesRunsToTheEndOfTheScan)
{
    // Stride 380: W = 379; a run ending at 26 .. 368 is carried to 379.
    const Picture8 endsAt25{380, {Row(380, {{3, 24}, {30, 300}})}};
    EXPECT_EQ(endsAt25.Shape(), (std::vector<RowRect>{{3, 0, 25, 1}, {30, 0, 379, 1}}));
    const Picture8 endsAt26{380, {Row(380, {{3, 25}, {30, 300}})}};
    EXPECT_EQ(endsAt26.Shape(), (std::vector<RowRect>{{3, 0, 379, 1}}));
    const Picture8 endsAt368{380, {Row(380, {{50, 367}})}};
    EXPECT_EQ(endsAt368.Shape(), (std::vector<RowRect>{{50, 0, 379, 1}}));
    const Picture8 endsAt369{380, {Row(380, {{50, 368}, {372, 375}})}};
    EXPECT_EQ(endsAt369.Shape(), (std::vector<RowRect>{{50, 0, 369, 1}, {372, 0, 376, 1}}));
}

TEST(WindowShapeComputation, RunsOfOneAndTwoPixels)
{
    const Picture8 picture{40, {Row(40, {{5, 5}}), Row(40, {{7, 8}})}};
    EXPECT_EQ(picture.Shape(), (std::vector<RowRect>{{5, 0, 6, 1}, {7, 1, 9, 2}}));
}

TEST(WindowShapeComputation, TransparentIndexBelowOneIsTheTopLeftPixelAndIsHandedBack)
{
    Picture8 picture{8, {Row(8, {{0, 3}}), Row(8, {})}};
    picture.rows[0][0] = 7;
    for (int given : {0, -5}) {
        int transparent = given;
        const auto bits = picture.BottomUp();
        ComputeWindowShape(8, 2, bits, transparent);
        EXPECT_EQ(transparent, 7);
    }
    int transparent = Clear;
    const auto bits = picture.BottomUp();
    ComputeWindowShape(8, 2, bits, transparent);
    EXPECT_EQ(transparent, Clear);
}

TEST(WindowShapeComputation, RefusesPicturesBeyond32767PixelsAndKeepsTheShape)
{
    int transparent = 1;
    EXPECT_THROW(ComputeWindowShape(32768, 1, std::vector<std::uint8_t>(32768), transparent), std::overflow_error);

    QWidget form;
    int index = 0;
    TransparencyHelper::ShapeWindow(form, Background(), index);
    QImage huge(32768, 1, QImage::Format_Indexed8);
    huge.fill(1);
    EXPECT_THROW(TransparencyHelper::ShapeWindow(form, huge, index), std::overflow_error);
    EXPECT_EQ(form.mask().boundingRect(), QRect(QPoint(0, 1), QPoint(378, 70)));
}

TEST(WindowShapeComputation, PicturesThatAreNotEightBitAddNothing)
{
    QImage colour(40, 10, QImage::Format_RGB32);
    colour.fill(Qt::red);
    for (const QImage& picture : {colour, QImage()}) {
        QWidget form;
        int transparent = 0;
        TransparencyHelper::ShapeWindow(form, picture, transparent);
        EXPECT_EQ(transparent, 0);
        EXPECT_TRUE(form.isVisible());
        EXPECT_FALSE(form.mask().intersects(form.rect())) << "an outline of nothing shows nothing";
    }
}

namespace {
QByteArray SkinFile(const char* name)
{
    QFile file(QStringLiteral(":/skin/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

TEST(Pictures, DamagedFilesAreRefusedWithAnError)
{
    const QByteArray gif = SkinFile("background.gif");
    ASSERT_FALSE(gif.isEmpty());
    EXPECT_THROW(LoadPicture(gif.left(gif.size() / 2)), PictureError) << "truncated";
    // A 1 x 1 GIF with neither a global nor a local palette.
    const QByteArray noPalette = QByteArray::fromHex("474946383961010001000000002c0000000001000100000202440100" "3b");
    EXPECT_THROW(LoadPicture(noPalette), PictureError);
    QByteArray bmp = SkinFile("low.bmp");
    ASSERT_EQ(bmp.size(), 54 + 38 * 164);
    bmp[28] = 13; // bits per pixel
    EXPECT_THROW(LoadPicture(bmp), PictureError);
    EXPECT_THROW(LoadPictureFile(QStringLiteral(":/skin/missing.gif")), PictureError);
}

TEST(Pictures, SkinAssetsHaveTheirSizesAndFormats)
{
    const struct { const char* name; QSize size; int depth; } assets[] = {
        {"background.gif", {380, 72}, 8}, {"play.gif", {64, 70}, 8}, {"pause_hover.gif", {64, 70}, 8},
        {"stop.gif", {39, 70}, 8}, {"low.bmp", {54, 38}, 32}, {"high_pressed.bmp", {45, 38}, 32},
        {"close.gif", {14, 70}, 8}, {"minimise.gif", {11, 70}, 8}, {"green.ico", {16, 16}, 32},
    };
    for (const auto& asset : assets) {
        const QImage image = LoadPicture(SkinFile(asset.name));
        EXPECT_EQ(image.size(), asset.size) << asset.name;
        EXPECT_EQ(image.depth(), asset.depth) << asset.name;
    }
    EXPECT_EQ(LoadPicture(SkinFile("background.gif")).colorCount(), 256);
    EXPECT_EQ(qAlpha(LoadPicture(SkinFile("play.gif")).color(255)), 0) << "index 255 is transparent";
    EXPECT_EQ(SkinFile("high.bmp").at(28), 24) << "quality faces are 24-bit";
}
