#include "PlayFailure.h"

QString PlainWords(const PlayFailure& failure)
{
    using Kind = PlayFailure::Kind;
    switch (failure.kind) {
    case Kind::None:
        return {};
    case Kind::Unreachable:
        break;
    case Kind::HttpStatus:
        if (failure.httpStatus == 403 || failure.httpStatus == 503 || failure.httpStatus == 429)
            return QStringLiteral("Radio Velmora is full or busy right now (HTTP %1).").arg(failure.httpStatus);
        return QStringLiteral("Radio Velmora answered with an error (HTTP %1).").arg(failure.httpStatus);
    case Kind::Certificate:
        return QStringLiteral("Radio Velmora's certificate is not trusted.");
    case Kind::NotAudio:
        return QStringLiteral("Radio Velmora's reply was not audio.");
    case Kind::NoStream:
        return QStringLiteral("Radio Velmora's playlist names no stream.");
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
    return QStringLiteral("Radio Velmora can't be reached right now.");
}
