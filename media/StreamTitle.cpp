#include "StreamTitle.h"

#include <QStringDecoder>

QString StreamTitle(const QByteArray& raw)
{
    // Only as many bytes as the longest title can take are decoded, cut at
    // a character boundary, so a megabyte of title costs nothing.
    qsizetype end = std::min(raw.size(), MaxStreamTitleChars * 4);
    if (end < raw.size())
        while (end > 0 && (uchar(raw[end]) & 0xc0) == 0x80)
            --end;
    const QByteArray bytes = raw.left(end);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString title = utf8(bytes);
    if (utf8.hasError())
        title = QString::fromLatin1(bytes);
    for (QChar& c : title)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    title = title.trimmed();
    if (title.size() > MaxStreamTitleChars) {
        title.truncate(MaxStreamTitleChars);
        if (title.back().isHighSurrogate())
            title.chop(1);
    }
    return title;
}
