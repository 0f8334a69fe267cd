// libFuzzer target: whatever a playlist address answers.
#include "Playlist.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    Playlist::IsAudio(QString::fromLatin1(body.left(40)), body);
    for (const bool complete : {true, false}) {
        for (const QUrl& entry : Playlist::StreamEntries(body, QUrl(QStringLiteral("http://radio.test:8000/list.m3u")), complete)) {
            const QString scheme = entry.scheme();
            if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || entry.host().isEmpty())
                std::abort(); // only web streams are ever played
        }
    }
    return 0;
}
