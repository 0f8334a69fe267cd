#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QList>

// Reading what a station's playlist address answers.
namespace Playlist {

// The largest playlist that is read; a longer reply is not a playlist.
constexpr qsizetype MaxBytes = 64 * 1024;

// True when the reply is the audio stream itself rather than a playlist,
// judged by its content type or its first bytes.
bool IsAudio(const QString& contentType, const QByteArray& head);

// The http(s) entries of an M3U, extended M3U or PLS playlist, in order;
// relative entries are resolved against `base`, the playlist's own address.
// Empty, binary or HTML replies and playlists without such an entry give
// none. A body cut off by the reading bound (`complete` false) gives the
// entries of its whole lines.
QList<QUrl> StreamEntries(const QByteArray& body, const QUrl& base, bool complete = true);

// Whether the reply is an HTTP Live Streaming playlist (of a stream's
// segments, or of its variants): not a list of streams but the stream itself,
// which GStreamer's adaptive demuxer plays from its address.
bool IsLiveStreamingPlaylist(const QByteArray& body);

// Whether a reply could be a playlist at all: text, and no web page.
bool IsPlaylistText(const QString& contentType, const QByteArray& body);

} // namespace Playlist
