#pragma once

#include <QString>

// Why a play did not reach the listener, from where it was known: the
// playlist fetch, the stream's source, its decoder or the audio output.
struct PlayFailure {
    enum class Kind {
        None,
        Unreachable, // nothing answered: refused, unreachable, unknown host, timed out, cut off
        HttpStatus,  // the station answered with an HTTP error (httpStatus)
        Certificate, // the station could not prove who it is
        NotAudio,    // the reply was neither audio nor a playlist
        NoStream,    // the playlist names no stream
        NoDecoder,   // nothing installed decodes the stream's format (format)
        NoOutput,    // no audio output could be opened
        Proxy,       // the network's proxy could not be reached or refused (httpStatus, if it answered)
    };
    PlayFailure() = default;
    PlayFailure(Kind kind, int httpStatus = 0, QString format = {}, QString detail = {})
        : kind(kind)
        , httpStatus(httpStatus)
        , format(std::move(format))
        , detail(std::move(detail))
    {
    }

    Kind kind = Kind::None;
    int httpStatus = 0;
    QString format;
    QString detail; // for the log: what the failing part said

    bool operator==(const PlayFailure&) const = default;
};

