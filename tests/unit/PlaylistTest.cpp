#include "Playlist.h"
#include "StreamTitle.h"

#include <gtest/gtest.h>

namespace {

const QUrl Base("http://radio.test:8000/velmora.m3u");

QUrl FirstStreamEntry(const QByteArray& body)
{
    return Playlist::StreamEntries(body, Base).value(0);
}

} // namespace

TEST(PlaylistParsing, FirstHttpEntryOfM3uExtendedM3uAndPls)
{
    EXPECT_EQ(FirstStreamEntry("http://host:8000/velmora\n"), QUrl("http://host:8000/velmora"));
    EXPECT_EQ(Playlist::StreamEntries("#EXTM3U\r\n#EXTINF:-1,Radio Velmora\r\nHTTPS://b/x\r\nhttp://c/y\r\nhttps://b/x\n", Base),
        (QList<QUrl>{QUrl("https://b/x"), QUrl("http://c/y")})) << "every entry in order, each once";
    EXPECT_EQ(FirstStreamEntry("[playlist]\nNumberOfEntries=2\nFile1=ftp://a/b\nTitle1=x\nfile2= http://c:8000/z \n"),
        QUrl("http://c:8000/z"));
    EXPECT_EQ(FirstStreamEntry("[Playlist]\rFileX=http://not/numbered\r  FILE10 = http://d/w\r"), QUrl("http://d/w"))
        << "old line ends, a key without its number, spaces around the key";
    EXPECT_EQ(FirstStreamEntry("\xef\xbb\xbfhttp://bom/stream\n"), QUrl("http://bom/stream"))
        << "playlists saved with a byte-order mark";
}

TEST(PlaylistParsing, AnHlsPlaylistIsTheStreamItselfAnExtendedM3uIsAList)
{
    EXPECT_TRUE(Playlist::IsLiveStreamingPlaylist("#EXTM3U\r\n#EXT-X-VERSION:3\r\n#EXT-X-TARGETDURATION:1\r\n"
                                                  "#EXTINF:1.0,\r\nseg00001.ts\r\n"));
    EXPECT_TRUE(Playlist::IsLiveStreamingPlaylist("\n#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=40000\nlive.m3u8\n"))
        << "a master playlist of variants";
    EXPECT_FALSE(Playlist::IsLiveStreamingPlaylist("#EXTM3U\n#EXTINF:-1,Radio Velmora\nhttp://relay/velmora\n"))
        << "a station's extended M3U names streams";
    EXPECT_FALSE(Playlist::IsLiveStreamingPlaylist("http://relay/velmora\n#EXT-X-ENDLIST\n"));
}

TEST(PlaylistParsing, RelativeEntriesResolveAgainstThePlaylistAndOnlyWebStreamsCount)
{
    EXPECT_EQ(Playlist::StreamEntries("stream.mp3\n/abs/path\nfile:///etc/passwd\nftp://x/y\nhttp://\n", Base),
        (QList<QUrl>{QUrl("http://radio.test:8000/stream.mp3"), QUrl("http://radio.test:8000/abs/path")}));
    EXPECT_TRUE(Playlist::StreamEntries("stream.mp3\n", QUrl("file:///tmp/list.m3u")).isEmpty())
        << "relative to a playlist that is not on the web: nothing";
    // A huge reply read only up to the bound: the entries of its whole lines.
    const QByteArray huge = "#EXTM3U\n#a\nhttp://relay/one\n" + QByteArray(Playlist::MaxBytes, '#') + "\nhttp://relay/two\n";
    EXPECT_EQ(Playlist::StreamEntries(huge.left(Playlist::MaxBytes), Base, false), QList<QUrl>{QUrl("http://relay/one")});
    EXPECT_EQ(Playlist::StreamEntries("http://relay/one\nhttp://relay/tw", Base, false), QList<QUrl>{QUrl("http://relay/one")})
        << "a line cut off by the bound is no entry";
}

TEST(PlaylistParsing, RepliesThatAreNotPlaylistsGiveNothing)
{
    EXPECT_EQ(FirstStreamEntry(""), QUrl());
    EXPECT_EQ(FirstStreamEntry("  \n\n"), QUrl());
    EXPECT_EQ(FirstStreamEntry("<!DOCTYPE html><html><a href=\"http://x/y\">x</a></html>"), QUrl());
    EXPECT_EQ(FirstStreamEntry(QByteArray("http://x/y\n\0\0\0", 14)), QUrl()) << "binary";
    EXPECT_EQ(FirstStreamEntry(QByteArray(Playlist::MaxBytes + 1, 'a')), QUrl()) << "no whole line within the bound";
}

TEST(PlaylistParsing, AudioIsRecognisedByTypeOrByItsFirstBytes)
{
    EXPECT_TRUE(Playlist::IsAudio("audio/mpeg", ""));
    EXPECT_TRUE(Playlist::IsAudio("application/ogg", ""));
    EXPECT_FALSE(Playlist::IsAudio("audio/x-mpegurl", "")) << "a playlist type is not audio";
    EXPECT_FALSE(Playlist::IsAudio("audio/x-scpls; charset=utf-8", ""));
    EXPECT_TRUE(Playlist::IsAudio("application/octet-stream", QByteArray::fromHex("fffb9064")));
    EXPECT_TRUE(Playlist::IsAudio("", "ID3\x03"));
    EXPECT_FALSE(Playlist::IsAudio("text/plain", "http://x"));
}

TEST(StreamTitles, DecodedLenientlyCleanedAndCut)
{
    EXPECT_EQ(StreamTitle("Caf\xc3\xa9 Nocturne"), QString::fromUtf8("Café Nocturne"));
    EXPECT_EQ(StreamTitle("Caf\xe9 Nocturne"), QString::fromUtf8("Café Nocturne")) << "not UTF-8: Latin-1";
    EXPECT_EQ(StreamTitle(" Morning\nShow\x01 "), "Morning Show") << "control characters become spaces";
    const QString longest = StreamTitle(QByteArray(1 << 20, '\xe9'));
    EXPECT_EQ(longest, QString(MaxStreamTitleChars, QChar(0xe9))) << "a megabyte of title is cut";
    const QString notes = StreamTitle(QByteArray("\xf0\x9f\x8e\xb5").repeated(300));
    EXPECT_EQ(notes.size(), MaxStreamTitleChars) << "cut between characters, never inside one";
    EXPECT_FALSE(notes.back().isHighSurrogate());
}
