#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// Reading what a station's playlist address answers.
namespace Playlist {

// The largest playlist that is read; a longer reply is not a playlist.
constexpr qsizetype MaxBytes = 64 * 1024;

// True when the reply is the audio stream itself rather than a playlist,
// judged by its content type or its first bytes.
bool IsAudio(const QString& contentType, const QByteArray& head);

// The first http(s) entry of an M3U, extended M3U or PLS playlist. Empty,
// binary or HTML replies and playlists without such an entry give nothing.
std::optional<QUrl> FirstStreamEntry(const QByteArray& body);

} // namespace Playlist
