// libFuzzer target: whatever a playlist address answers.
#include "Playlist.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    Playlist::IsAudio(QString::fromLatin1(body.left(40)), body);
    if (const auto entry = Playlist::FirstStreamEntry(body)) {
        const QString scheme = entry->scheme();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            std::abort(); // only web streams are ever played
    }
    return 0;
}
