#include "FailureWords.h"

#include "Identity.h"

QString FailureWords(const PlayFailure& failure)
{
    using Kind = PlayFailure::Kind;
    const QString station = QString::fromUtf8(Identity::StationName);
    switch (failure.kind) {
    case Kind::None:
        return {};
    case Kind::Unreachable:
        break;
    case Kind::HttpStatus:
        if (failure.httpStatus == 403 || failure.httpStatus == 503 || failure.httpStatus == 429)
            return QStringLiteral("%1 is full or busy right now (HTTP %2).").arg(station).arg(failure.httpStatus);
        return QStringLiteral("%1 answered with an error (HTTP %2).").arg(station).arg(failure.httpStatus);
    case Kind::Certificate:
        return QStringLiteral("%1's certificate is not trusted.").arg(station);
    case Kind::NotAudio:
        return QStringLiteral("%1's reply was not audio.").arg(station);
    case Kind::NoStream:
        return QStringLiteral("%1's playlist names no stream.").arg(station);
    case Kind::NoDecoder:
        return failure.format.isEmpty()
            ? QStringLiteral("No decoder for the station's format is installed.")
            : QStringLiteral("No decoder for the station's format (%1) is installed.").arg(failure.format);
    case Kind::NoOutput:
        return QStringLiteral("The sound output is missing.");
    case Kind::Proxy:
        return failure.httpStatus > 0
            ? QStringLiteral("The network's proxy refused the connection (HTTP %1).").arg(failure.httpStatus)
            : QStringLiteral("The network's proxy can't be reached.");
    }
    return QStringLiteral("%1 can't be reached right now.").arg(station);
}
