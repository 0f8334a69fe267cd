#pragma once

#include "PlayFailure.h"

#include <QList>
#include <QString>
#include <QUrl>

// What a connection to the station says happened, in the order it happened:
// the pipeline's messages translated, nothing decided. The connection policy
// decides what each means.
struct ConnectionEvent {
    enum class Kind {
        EntriesFound,    // the playlist was read (entries), or the address is the stream itself
        Answered,        // the entry's server sent its first bytes
        FirstAudio,      // the first audio reached the sink (realOutput: a sound card or server, not nothing)
        PipelinePlaying,
        BufferLevel,     // percent
        SourceEnded,     // the server ended the stream; the buffer still plays
        Broke,           // failure
        SinkFailed,      // the audio output failed; the stream behind it waits
        Title,           // the stream's title changed (title; empty: none)
    };

    Kind kind = Kind::Broke;
    int percent = 0;
    bool realOutput = true;
    PlayFailure failure;
    QString title;
    QList<QUrl> entries;

    static ConnectionEvent Of(Kind kind)
    {
        ConnectionEvent event;
        event.kind = kind;
        return event;
    }
    static ConnectionEvent Level(int percent)
    {
        ConnectionEvent event = Of(Kind::BufferLevel);
        event.percent = percent;
        return event;
    }
    static ConnectionEvent Audio(bool realOutput)
    {
        ConnectionEvent event = Of(Kind::FirstAudio);
        event.realOutput = realOutput;
        return event;
    }
    static ConnectionEvent Failed(PlayFailure why)
    {
        ConnectionEvent event = Of(Kind::Broke);
        event.failure = std::move(why);
        return event;
    }
    static ConnectionEvent TitleOf(QString title)
    {
        ConnectionEvent event = Of(Kind::Title);
        event.title = std::move(title);
        return event;
    }
    static ConnectionEvent Found(QList<QUrl> entries)
    {
        ConnectionEvent event = Of(Kind::EntriesFound);
        event.entries = std::move(entries);
        return event;
    }
};
