#include "platform/core/ResourceFile.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/Errors.h"

#include <algorithm>
#include <map>
#include <set>

namespace PPx {

namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kReservedSize = 240; // data starts at 256, as the system writes it
constexpr size_t kMapHeaderSize = 28;

[[noreturn]] void Malformed(const std::string& why) {
    throw OSError(mapReadErr, "Malformed resource file: " + why);
}

uint32_t Get32(std::string_view b, size_t at) {
    return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
           uint32_t(uint8_t(b[at + 2])) << 8 | uint32_t(uint8_t(b[at + 3]));
}
uint32_t Get24(std::string_view b, size_t at) {
    return uint32_t(uint8_t(b[at])) << 16 | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2]));
}
uint16_t Get16(std::string_view b, size_t at) {
    return static_cast<uint16_t>(uint8_t(b[at]) << 8 | uint8_t(b[at + 1]));
}

void Put32(std::string& b, uint32_t v) {
    b += char(v >> 24);
    b += char(v >> 16);
    b += char(v >> 8);
    b += char(v);
}
void Put16(std::string& b, uint16_t v) {
    b += char(v >> 8);
    b += char(v);
}

} // namespace

ResourceFile::ResourceFile() : mReserved(kReservedSize, '\0') {}

ResourceFile ResourceFile::Read(const std::string& path) {
    return Parse(ReadWholeFile(path));
}

ResourceFile ResourceFile::Parse(std::string_view b) {
    if (b.size() < kHeaderSize)
        Malformed("too short");
    const uint64_t dataOffset = Get32(b, 0), mapOffset = Get32(b, 4);
    const uint64_t dataLength = Get32(b, 8), mapLength = Get32(b, 12);
    if (dataOffset < kHeaderSize || dataOffset + dataLength > b.size())
        Malformed("data area outside the file");
    if (mapOffset < kHeaderSize || mapLength < kMapHeaderSize || mapOffset + mapLength > b.size())
        Malformed("map outside the file");
    if (mapOffset < dataOffset + dataLength && dataOffset < mapOffset + mapLength)
        Malformed("data and map overlap");

    ResourceFile file;
    // Keep what lies between the header and the data when the data comes first.
    if (dataOffset <= mapOffset)
        file.mReserved.assign(b.substr(kHeaderSize, dataOffset - kHeaderSize));
    std::string_view map = b.substr(mapOffset, mapLength);
    std::string_view data = b.substr(dataOffset, dataLength);
    file.mMapHeaderCopy = map.substr(0, kHeaderSize) != std::string(kHeaderSize, '\0');
    file.mMapAttributes = Get16(map, 22);
    const size_t typeList = Get16(map, 24);
    const size_t nameList = Get16(map, 26);
    if (typeList + 2 > map.size())
        Malformed("type list outside the map");
    if (nameList > map.size())
        Malformed("name list outside the map");
    const size_t typeCount = static_cast<uint16_t>(Get16(map, typeList) + 1); // 0xFFFF: none
    if (typeList + 2 + typeCount * 8 > map.size())
        Malformed("type list outside the map");

    std::set<std::pair<FourCharCode, int16_t>> seen;
    for (size_t t = 0; t < typeCount; ++t) {
        const size_t at = typeList + 2 + t * 8;
        TypeEntry type{Get32(map, at), {}};
        const size_t count = size_t(Get16(map, at + 4)) + 1;
        const size_t refs = typeList + Get16(map, at + 6);
        if (refs + count * 12 > map.size())
            Malformed("reference list outside the map");
        for (size_t r = 0; r < count; ++r) {
            const size_t ref = refs + r * 12;
            Entry e;
            e.res.type = type.type;
            e.res.id = static_cast<int16_t>(Get16(map, ref));
            if (!seen.insert({type.type, e.res.id}).second)
                Malformed("resource '" + FourCharCodeToString(type.type) + "' " +
                          std::to_string(e.res.id) + " appears twice");
            const uint16_t nameOffset = Get16(map, ref + 2);
            e.nameOrder = nameOffset;
            if (nameOffset != 0xFFFF) {
                const size_t name = nameList + nameOffset;
                if (name + 1 > map.size() || name + 1 + uint8_t(map[name]) > map.size())
                    Malformed("name outside the map");
                e.res.name = std::string(map.substr(name + 1, uint8_t(map[name])));
            }
            e.res.attributes = uint8_t(map[ref + 4]);
            const uint64_t offset = Get24(map, ref + 5);
            if (offset + 4 > data.size())
                Malformed("resource data outside the data area");
            const uint64_t length = Get32(data, offset);
            if (offset + 4 + length > data.size())
                Malformed("resource data outside the data area");
            const char* p = data.data() + offset + 4;
            e.res.data.assign(reinterpret_cast<const uint8_t*>(p),
                              reinterpret_cast<const uint8_t*>(p) + length);
            e.dataOrder = offset;
            type.entries.push_back(std::move(e));
        }
        file.mTypes.push_back(std::move(type));
    }
    return file;
}

std::string ResourceFile::Serialize() const {
    // Data, in the order it had in the file it was read from; new data last.
    std::vector<const Entry*> all;
    for (const auto& t : mTypes)
        for (const auto& e : t.entries)
            all.push_back(&e);
    std::vector<const Entry*> byData = all;
    std::stable_sort(byData.begin(), byData.end(),
                     [](auto* a, auto* b) { return a->dataOrder < b->dataOrder; });
    std::string data;
    std::map<const Entry*, uint32_t> dataOffsets;
    for (const Entry* e : byData) {
        if (data.size() > 0xFFFFFF)
            throw OSError(addResFailed, "The resource data does not fit the resource file");
        dataOffsets[e] = static_cast<uint32_t>(data.size());
        Put32(data, static_cast<uint32_t>(e->res.data.size()));
        data.append(reinterpret_cast<const char*>(e->res.data.data()), e->res.data.size());
    }
    if (data.size() > 0xFFFFFFFFull)
        throw OSError(addResFailed, "The resource data does not fit the resource file");
    auto dataOffsetOf = [&](const Entry* e) { return dataOffsets.at(e); };

    // Names, in the order of the original name list; new names last.
    std::vector<const Entry*> byName;
    for (const Entry* e : all)
        if (e->res.name)
            byName.push_back(e);
    std::stable_sort(byName.begin(), byName.end(),
                     [](auto* a, auto* b) { return a->nameOrder < b->nameOrder; });
    std::string names;
    std::map<const Entry*, uint16_t> nameOffsets;
    for (const Entry* e : byName) {
        if (names.size() > 0xFFFE)
            throw OSError(addResFailed, "The resource names do not fit the resource file");
        nameOffsets[e] = static_cast<uint16_t>(names.size());
        names += char(e->res.name->size());
        names += *e->res.name;
    }
    auto nameOffsetOf = [&](const Entry* e) -> uint16_t {
        auto it = nameOffsets.find(e);
        return it == nameOffsets.end() ? 0xFFFF : it->second;
    };

    // Map: header, type list, reference lists, names.
    const size_t typeListSize = 2 + mTypes.size() * 8;
    size_t refsSize = 0;
    for (const auto& t : mTypes)
        refsSize += t.entries.size() * 12;
    const size_t mapSize = kMapHeaderSize + typeListSize + refsSize + names.size();
    if (kMapHeaderSize + typeListSize + refsSize > 0xFFFF || mapSize > 0xFFFFFF)
        throw OSError(addResFailed, "The resource map does not fit the resource file");

    const uint32_t dataOffset = static_cast<uint32_t>(kHeaderSize + mReserved.size());
    const uint32_t mapOffset = static_cast<uint32_t>(dataOffset + data.size());
    std::string header;
    Put32(header, dataOffset);
    Put32(header, mapOffset);
    Put32(header, static_cast<uint32_t>(data.size()));
    Put32(header, static_cast<uint32_t>(mapSize));

    std::string map = mMapHeaderCopy ? header : std::string(kHeaderSize, '\0');
    Put32(map, 0); // next map (in memory only)
    Put16(map, 0); // file reference (in memory only)
    Put16(map, mMapAttributes);
    Put16(map, static_cast<uint16_t>(kMapHeaderSize));
    Put16(map, static_cast<uint16_t>(kMapHeaderSize + typeListSize + refsSize));
    Put16(map, static_cast<uint16_t>(mTypes.size() - 1)); // 0xFFFF when empty
    size_t refAt = typeListSize;
    for (const auto& t : mTypes) {
        Put32(map, t.type);
        Put16(map, static_cast<uint16_t>(t.entries.size() - 1));
        Put16(map, static_cast<uint16_t>(refAt));
        refAt += t.entries.size() * 12;
    }
    for (const auto& t : mTypes) {
        for (const auto& e : t.entries) {
            Put16(map, static_cast<uint16_t>(e.res.id));
            Put16(map, nameOffsetOf(&e));
            const uint32_t off = dataOffsetOf(&e);
            Put32(map, uint32_t(e.res.attributes) << 24 | off);
            Put32(map, 0); // handle (in memory only)
        }
    }
    map += names;

    std::string out = header;
    out += mReserved;
    out += data;
    out += map;
    return out;
}

void ResourceFile::Write(const std::string& path) const {
    WriteFileAtomically(path, Serialize());
}

ResourceFile::Entry* ResourceFile::Find(FourCharCode type, int16_t id) {
    for (auto& t : mTypes)
        if (t.type == type)
            for (auto& e : t.entries)
                if (e.res.id == id)
                    return &e;
    return nullptr;
}

const ResourceFile::Entry* ResourceFile::Find(FourCharCode type, int16_t id) const {
    return const_cast<ResourceFile*>(this)->Find(type, id);
}

const Resource* ResourceFile::Get(FourCharCode type, int16_t id) const {
    const Entry* e = Find(type, id);
    return e ? &e->res : nullptr;
}

const Resource* ResourceFile::GetNamed(FourCharCode type, std::string_view name) const {
    for (const auto& t : mTypes)
        if (t.type == type)
            for (const auto& e : t.entries)
                if (e.res.name && *e.res.name == name)
                    return &e.res;
    return nullptr;
}

bool ResourceFile::Add(FourCharCode type, int16_t id, std::optional<std::string> name,
                       std::vector<uint8_t> data) {
    if (name && name->size() > 255)
        throw OSError(paramErr, "The resource name is longer than 255 bytes");
    if (Find(type, id))
        return false;
    auto t = std::find_if(mTypes.begin(), mTypes.end(), [&](auto& x) { return x.type == type; });
    if (t == mTypes.end()) {
        mTypes.push_back(TypeEntry{type, {}});
        t = mTypes.end() - 1;
    }
    Entry e;
    e.res.type = type;
    e.res.id = id;
    e.res.name = std::move(name);
    e.res.data = std::move(data);
    e.dataOrder = mNextOrder;
    e.nameOrder = mNextOrder;
    ++mNextOrder;
    t->entries.push_back(std::move(e));
    return true;
}

bool ResourceFile::Replace(FourCharCode type, int16_t id, std::vector<uint8_t> data) {
    Entry* e = Find(type, id);
    if (!e)
        return false;
    e->res.data = std::move(data);
    return true;
}

void ResourceFile::Set(FourCharCode type, int16_t id, std::optional<std::string> name,
                       std::vector<uint8_t> data) {
    if (!Replace(type, id, data))
        Add(type, id, std::move(name), std::move(data));
}

bool ResourceFile::Remove(FourCharCode type, int16_t id) {
    for (auto t = mTypes.begin(); t != mTypes.end(); ++t) {
        if (t->type != type)
            continue;
        for (auto e = t->entries.begin(); e != t->entries.end(); ++e) {
            if (e->res.id == id) {
                t->entries.erase(e);
                if (t->entries.empty())
                    mTypes.erase(t);
                return true;
            }
        }
    }
    return false;
}

std::vector<FourCharCode> ResourceFile::Types() const {
    std::vector<FourCharCode> out;
    for (const auto& t : mTypes)
        out.push_back(t.type);
    return out;
}

std::vector<int16_t> ResourceFile::Ids(FourCharCode type) const {
    std::vector<int16_t> out;
    for (const auto& t : mTypes)
        if (t.type == type)
            for (const auto& e : t.entries)
                out.push_back(e.res.id);
    return out;
}

} // namespace PPx
