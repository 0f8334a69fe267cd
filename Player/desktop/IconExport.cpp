// sonvale-icon-export ICO OUT_DIR NAME: writes the application icon as
// OUT_DIR/hicolor/<n>x<n>/apps/NAME.png for the sizes desktops look for,
// each from the icon's own image of that size where it has one (the
// sharpest at 32 bits a pixel), else scaled down from its largest.
#include <QDir>
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>
#include <map>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: sonvale-icon-export ICO OUT_DIR NAME\n");
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    std::map<int, QImage> bySize;
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        QImage& kept = bySize[image.width()];
        if (!image.isNull() && image.width() == image.height() && (kept.isNull() || image.depth() >= kept.depth()))
            kept = image;
    }
    if (bySize.empty() || bySize.rbegin()->second.isNull()) {
        std::fprintf(stderr, "sonvale-icon-export: no image in %s\n", argv[1]);
        return 1;
    }
    const QImage& largest = bySize.rbegin()->second;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const auto own = bySize.find(size);
        const QImage image = own != bySize.end() && !own->second.isNull()
            ? own->second
            : largest.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        if (!QDir().mkpath(dir) || !image.save(QStringLiteral("%1/%2.png").arg(dir, QString::fromLocal8Bit(argv[3])))) {
            std::fprintf(stderr, "sonvale-icon-export: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
