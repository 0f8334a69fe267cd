#include "Picture.h"

#include <QFile>
#include <cstring>
#include <gif_lib.h>
#include <memory>

namespace {

// Pictures larger than this are refused before anything is allocated.
constexpr qint64 MaxPixels = 64LL * 1024 * 1024;

struct MemoryReader {
    const QByteArray* data;
    qsizetype position;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length)
{
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const qsizetype available = reader->data->size() - reader->position;
    const int count = static_cast<int>(std::min<qsizetype>(available, length));
    if (count <= 0)
        return 0;
    std::memcpy(buffer, reader->data->constData() + reader->position, count);
    reader->position += count;
    return count;
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

// Destination row of source row `row` in an interlaced frame of `height` rows.
int InterlacedRow(int row, int height)
{
    const int starts[] = {0, 4, 2, 1};
    const int steps[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rowsInPass = height > starts[pass] ? (height - starts[pass] + steps[pass] - 1) / steps[pass] : 0;
        if (row < rowsInPass)
            return starts[pass] + row * steps[pass];
        row -= rowsInPass;
    }
    return height - 1;
}

QVector<QRgb> ColourTable(const ColorMapObject& map, int transparentIndex)
{
    QVector<QRgb> table(256, qRgb(0, 0, 0));
    for (int i = 0; i < map.ColorCount && i < 256; ++i)
        table[i] = qRgb(map.Colors[i].Red, map.Colors[i].Green, map.Colors[i].Blue);
    if (transparentIndex >= 0 && transparentIndex < 256)
        table[transparentIndex] &= 0x00ffffff;
    return table;
}

} // namespace

QImage DecodeGif8(const QByteArray& data)
{
    MemoryReader reader{&data, 0};
    int error = 0;
    GifHandle gif(DGifOpen(&reader, ReadFromMemory, &error));
    if (!gif)
        throw PictureError("Invalid picture: not a GIF");
    if (qint64(gif->SWidth) * gif->SHeight > MaxPixels || gif->SWidth <= 0 || gif->SHeight <= 0)
        throw PictureError("Invalid picture: GIF size out of range");
    if (DGifSlurp(gif.get()) != GIF_OK || gif->ImageCount < 1)
        throw PictureError("Invalid picture: truncated or corrupt GIF");

    const SavedImage& frame = gif->SavedImages[0];
    const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
    if (!map || map->ColorCount <= 0)
        throw PictureError("Invalid picture: GIF without a palette");

    GraphicsControlBlock control{};
    int transparentIndex = NO_TRANSPARENT_COLOR;
    if (DGifSavedExtensionToGCB(gif.get(), 0, &control) == GIF_OK)
        transparentIndex = control.TransparentColor;

    QImage image(gif->SWidth, gif->SHeight, QImage::Format_Indexed8);
    if (image.isNull())
        throw PictureError("Invalid picture: out of memory");
    std::memset(image.bits(), 0, image.sizeInBytes());
    const int background = transparentIndex >= 0 ? transparentIndex : gif->SBackGroundColor;
    for (int y = 0; y < image.height(); ++y)
        std::memset(image.scanLine(y), background, image.width());

    const GifImageDesc& desc = frame.ImageDesc;
    for (int row = 0; row < desc.Height; ++row) {
        const int y = desc.Top + (desc.Interlace ? InterlacedRow(row, desc.Height) : row);
        if (y < 0 || y >= image.height())
            continue;
        uchar* line = image.scanLine(y);
        for (int col = 0; col < desc.Width; ++col) {
            const int x = desc.Left + col;
            if (x >= 0 && x < image.width())
                line[x] = frame.RasterBits[qsizetype(row) * desc.Width + col];
        }
    }
    image.setColorTable(ColourTable(*map, transparentIndex));
    return image;
}

QImage LoadPicture(const QByteArray& data)
{
    if (data.startsWith("GIF8"))
        return DecodeGif8(data);
    QImage image = QImage::fromData(data);
    if (image.isNull())
        throw PictureError("Invalid picture");
    return image;
}

QImage LoadPictureFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(QStringLiteral("File not found: %1").arg(path).toStdString());
    return LoadPicture(file.readAll());
}
