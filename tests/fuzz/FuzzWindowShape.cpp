// libFuzzer target: the outline scan of an 8-bit picture. The first five
// bytes give the stride (2), the height (2) and the transparent index (1);
// the rest are the bottom-up pixel bytes.
#include "TransparencyHelper.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    const int stride = data[0] | data[1] << 8;
    const int height = data[2] | data[3] << 8;
    int transparent = data[4] - 1; // 0 and below: the top-left pixel's index
    const std::span<const std::uint8_t> bits(data + 5, size - 5);
    try {
        for (const auto& r : TransparencyHelper::ComputeWindowShape(stride, height, bits, transparent))
            if (r.left < 0 || r.left >= r.right || r.right > stride - 1 || r.top < 0 || r.bottom != r.top + 1
                || r.bottom > height)
                std::abort(); // every rectangle lies inside the scanned picture
    } catch (const std::overflow_error&) {
        if (stride <= 32767 && height <= 32767)
            std::abort();
    }
    return 0;
}
