// libFuzzer target: the resource-file reader never crashes, and a file it
// accepts serializes to bytes that read back and serialize identically.
#include "platform/core/Errors.h"
#include "platform/core/ResourceFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string first;
    try {
        first = PPx::ResourceFile::Parse(bytes).Serialize();
    } catch (const PPx::OSError&) {
        return 0;
    }
    try {
        if (PPx::ResourceFile::Parse(first).Serialize() != first)
            __builtin_trap();
    } catch (const PPx::OSError&) {
        __builtin_trap();
    }
    return 0;
}
