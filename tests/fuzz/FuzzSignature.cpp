// libFuzzer target: the patch's signature file, as the update service sends it.
#include "PatchSignature.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const PatchSignature signature = PatchSignature::Parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
        SignedVersion(signature.trustedComment);
    } catch (const SignatureError&) {
        // not a signature file: the updater ends silently
    }
    return 0;
}
