#pragma once
// Resource files in the classic layout (header, data, map with type list,
// reference lists and names; every number big-endian) kept in an ordinary file.
// Resources are found by type and id (or name). A file read and written again
// without changes comes out byte for byte the same; malformed files are refused
// with OSError (mapReadErr), never half-read.
#include "platform/core/FourCharCode.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace PPx {

struct Resource {
    FourCharCode type = 0;
    int16_t id = 0;
    std::optional<std::string> name; // at most 255 bytes
    uint8_t attributes = 0;
    std::vector<uint8_t> data;
};

class ResourceFile {
public:
    ResourceFile(); // empty, as a newly created file

    // Throws OSError: errno when the file cannot be read, mapReadErr when malformed.
    static ResourceFile Read(const std::string& path);
    static ResourceFile Parse(std::string_view bytes);

    // The whole file. Throws OSError (addResFailed) when the resources do not
    // fit the layout (data beyond 16 MB, map beyond 64 KB).
    std::string Serialize() const;
    // Serialize and replace the file atomically (AtomicFile.h); throws OSError.
    void Write(const std::string& path) const;

    const Resource* Get(FourCharCode type, int16_t id) const;
    const Resource* GetNamed(FourCharCode type, std::string_view name) const;
    // False when (type, id) is already taken. A name longer than 255 bytes throws OSError.
    bool Add(FourCharCode type, int16_t id, std::optional<std::string> name,
             std::vector<uint8_t> data);
    // New data for an existing resource; false when there is none.
    bool Replace(FourCharCode type, int16_t id, std::vector<uint8_t> data);
    // Replace when present, else Add.
    void Set(FourCharCode type, int16_t id, std::optional<std::string> name,
             std::vector<uint8_t> data);
    bool Remove(FourCharCode type, int16_t id);

    std::vector<FourCharCode> Types() const;
    std::vector<int16_t> Ids(FourCharCode type) const;

private:
    struct Entry {
        Resource res;
        uint64_t dataOrder; // place of the data in the data area
        uint64_t nameOrder; // place of the name in the name list
    };
    struct TypeEntry {
        FourCharCode type;
        std::vector<Entry> entries;
    };
    Entry* Find(FourCharCode type, int16_t id);
    const Entry* Find(FourCharCode type, int16_t id) const;

    std::vector<TypeEntry> mTypes;
    std::string mReserved; // bytes between the header and the data
    uint16_t mMapAttributes = 0;
    bool mMapHeaderCopy = true; // the map starts with a copy of the header (else zeros)
    uint64_t mNextOrder = 1ull << 40;
};

} // namespace PPx
