#include "Playlist.h"

#include <QList>
#include <algorithm>
#include <optional>

namespace Playlist {
namespace {

bool IsPlaylistType(const QString& type)
{
    static const QStringList playlistTypes = {"audio/x-mpegurl", "audio/mpegurl", "audio/x-scpls",
        "application/vnd.apple.mpegurl", "application/x-mpegurl", "application/pls+xml"};
    return playlistTypes.contains(type);
}

bool LooksBinary(const QByteArray& body)
{
    const qsizetype sample = std::min<qsizetype>(body.size(), 4096);
    qsizetype control = 0;
    for (qsizetype i = 0; i < sample; ++i) {
        const auto c = static_cast<unsigned char>(body[i]);
        if (c == 0)
            return true;
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t')
            ++control;
    }
    return control * 20 > sample;
}

// The value of a PLS "FileN=" line, or nothing for any other line.
std::optional<QString> PlsFileValue(const QString& line)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith("file", Qt::CaseInsensitive))
        return std::nullopt;
    qsizetype at = 4;
    while (at < trimmed.size() && trimmed[at].isDigit())
        ++at;
    if (at == 4)
        return std::nullopt;
    while (at < trimmed.size() && trimmed[at].isSpace())
        ++at;
    if (at == trimmed.size() || trimmed[at] != '=')
        return std::nullopt;
    return trimmed.mid(at + 1);
}

std::optional<QUrl> HttpUrl(QString entry, const QUrl& base)
{
    entry = entry.trimmed();
    if (entry.isEmpty())
        return std::nullopt;
    const QUrl url = base.resolved(QUrl(entry, QUrl::StrictMode));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return url;
}

} // namespace

bool IsAudio(const QString& contentType, const QByteArray& head)
{
    const QString type = contentType.section(';', 0, 0).trimmed().toLower();
    if (IsPlaylistType(type))
        return false;
    if (type.startsWith("audio/") || type == "application/ogg")
        return true;
    if (head.startsWith("ID3") || head.startsWith("OggS") || head.startsWith("fLaC"))
        return true;
    // An MPEG audio frame header: eleven set sync bits.
    return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xff
        && (static_cast<unsigned char>(head[1]) & 0xe0) == 0xe0;
}

bool IsLiveStreamingPlaylist(const QByteArray& body)
{
    // Its own tags (#EXT-X-TARGETDURATION, #EXT-X-STREAM-INF, ...) follow the header.
    const QByteArray text = body.trimmed();
    return text.startsWith("#EXTM3U") && text.contains("\n#EXT-X-");
}

bool IsPlaylistText(const QString& contentType, const QByteArray& body)
{
    const QString type = contentType.section(';', 0, 0).trimmed().toLower();
    return type != QLatin1String("text/html") && !LooksBinary(body) && !body.trimmed().startsWith('<');
}

QList<QUrl> StreamEntries(const QByteArray& body, const QUrl& base, bool complete)
{
    if (body.isEmpty() || LooksBinary(body))
        return {};
    QString text = QString::fromUtf8(body.left(MaxBytes));
    text.replace('\r', '\n');
    if (!complete || body.size() > MaxBytes)
        text.truncate(text.lastIndexOf('\n') + 1); // a line cut off is no entry
    const QString start = text.trimmed().left(64).toLower();
    if (start.startsWith('<'))
        return {}; // HTML or XML, not a playlist
    const bool pls = start.startsWith("[playlist]");
    // Relative entries only where the playlist came from the web.
    const QUrl from = base.scheme() == QLatin1String("http") || base.scheme() == QLatin1String("https") ? base : QUrl();
    QList<QUrl> entries;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        QString entry = line;
        if (pls) {
            const auto value = PlsFileValue(line);
            if (!value)
                continue;
            entry = *value;
        } else if (line.trimmed().startsWith('#')) {
            continue;
        }
        if (auto url = HttpUrl(entry, from); url && !entries.contains(*url))
            entries << *url;
    }
    return entries;
}

} // namespace Playlist
