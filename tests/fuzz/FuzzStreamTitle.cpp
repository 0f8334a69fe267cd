// libFuzzer target: the stream title a station sends.
#include "StreamTitle.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString title = StreamTitle(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (title.size() > MaxStreamTitleChars || (!title.isEmpty() && title.back().isHighSurrogate()))
        std::abort();
    for (const QChar c : title)
        if (c.category() == QChar::Other_Control)
            std::abort();
    return 0;
}
