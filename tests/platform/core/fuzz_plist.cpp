// libFuzzer target: the property-list reader never crashes, and whatever it
// accepts writes out in a form that reads back to the same text.
#include "platform/core/PropertyList.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    PPx::PropertyList value;
    if (!PPx::TryReadPropertyList(text, value))
        return 0;
    std::string first = PPx::WritePropertyList(value);
    PPx::PropertyList again;
    if (!PPx::TryReadPropertyList(first, again))
        __builtin_trap();
    if (PPx::WritePropertyList(again) != first)
        __builtin_trap();
    return 0;
}
