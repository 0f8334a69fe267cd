#pragma once

#include <QByteArray>
#include <QImage>
#include <stdexcept>

// A picture that cannot be decoded: truncated or corrupt data, a GIF without
// a palette, an image format nobody here reads.
class PictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes the first frame of a GIF into an 8-bit indexed image whose pixel
// bytes are the file's palette indices. Qt's own GIF reader hands back 32-bit
// pixels and loses the indices that a window's outline is cut by.
// Row padding bytes are zero. The transparent index, if the file sets one,
// gets a fully transparent colour-table entry. Throws PictureError.
QImage DecodeGif8(const QByteArray& data);

// Decodes a picture file's bytes: GIFs through DecodeGif8 (indices kept),
// everything else (BMP, ICO, PNG) through Qt's readers. Throws PictureError.
QImage LoadPicture(const QByteArray& data);

// Reads a picture file (a path or a Qt resource path) and decodes it.
// Throws PictureError when it cannot be read or decoded.
QImage LoadPictureFile(const QString& path);
