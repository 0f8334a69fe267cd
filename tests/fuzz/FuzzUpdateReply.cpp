// libFuzzer target: the update service's check reply.
#include "MainModule.h"

#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        MainModule::IsLatestReply(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    } catch (const std::runtime_error&) {
        // not well-formed, or no html/body: the updater ends silently
    }
    return 0;
}
