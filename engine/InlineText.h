#pragma once
// Text that keeps up to N bytes inside its holder and goes to the heap only
// beyond that. A long listing builds a hundred thousand items at once, and
// std::string keeps only 15 bytes in place, in 32: half the names of a
// typical folder are longer, so each of those costs a heap block of its own,
// while an item's short fields (permissions, owner, group) need less room.
// Sized to what an item holds, building a list asks the heap for nothing.
//
// It reads like a const std::string: it converts to std::string_view and to
// std::string, compares with either and with C strings, and joins with them
// through +. The size is kept in 32 bits.
#include <compare>
#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

template <size_t N> class InlineText {
    static_assert(N + 1 >= sizeof(char*), "the heap pointer is kept in the inline bytes");

public:
    static constexpr size_t kInline = N;
    static constexpr size_t npos = std::string_view::npos;

    InlineText() noexcept { mInline[0] = '\0'; }
    InlineText(std::string_view text) { Assign(text); }
    InlineText(const std::string& text) : InlineText(std::string_view(text)) {}
    InlineText(const char* text) : InlineText(std::string_view(text)) {}
    InlineText(const InlineText& other) : InlineText(other.view()) {}
    InlineText(InlineText&& other) noexcept : mSize(other.mSize) {
        // Either form moves as bytes: the heap pointer travels in mInline.
        std::memcpy(mInline, other.mInline, OnHeap() ? sizeof(char*) : mSize + 1);
        other.mSize = 0;
        other.mInline[0] = '\0';
    }
    ~InlineText() { Release(); }

    InlineText& operator=(const InlineText& other) {
        if (this != &other)
            *this = other.view();
        return *this;
    }
    InlineText& operator=(InlineText&& other) noexcept {
        if (this != &other) {
            Release();
            new (this) InlineText(std::move(other));
        }
        return *this;
    }
    InlineText& operator=(std::string_view text) {
        // The text may be a part of this one; build the new one first.
        InlineText fresh(text);
        return *this = std::move(fresh);
    }
    InlineText& operator=(const std::string& text) { return *this = std::string_view(text); }
    InlineText& operator=(const char* text) { return *this = std::string_view(text); }

    const char* data() const noexcept { return OnHeap() ? HeapPointer() : mInline; }
    const char* c_str() const noexcept { return data(); }
    size_t size() const noexcept { return mSize; }
    size_t length() const noexcept { return mSize; }
    bool empty() const noexcept { return mSize == 0; }
    std::string_view view() const noexcept { return {data(), mSize}; }
    std::string str() const { return std::string(view()); }
    operator std::string_view() const noexcept { return view(); }
    operator std::string() const { return str(); }

    char operator[](size_t i) const noexcept { return data()[i]; }
    char front() const noexcept { return data()[0]; }
    char back() const noexcept { return data()[mSize - 1]; }
    const char* begin() const noexcept { return data(); }
    const char* end() const noexcept { return data() + mSize; }

    size_t find(std::string_view s, size_t pos = 0) const noexcept { return view().find(s, pos); }
    size_t find(char c, size_t pos = 0) const noexcept { return view().find(c, pos); }
    size_t rfind(std::string_view s, size_t pos = npos) const noexcept {
        return view().rfind(s, pos);
    }
    size_t rfind(char c, size_t pos = npos) const noexcept { return view().rfind(c, pos); }
    size_t find_first_of(std::string_view s, size_t pos = 0) const noexcept {
        return view().find_first_of(s, pos);
    }
    size_t find_last_of(std::string_view s, size_t pos = npos) const noexcept {
        return view().find_last_of(s, pos);
    }
    bool starts_with(std::string_view s) const noexcept { return view().starts_with(s); }
    bool starts_with(char c) const noexcept { return view().starts_with(c); }
    bool ends_with(std::string_view s) const noexcept { return view().ends_with(s); }
    bool ends_with(char c) const noexcept { return view().ends_with(c); }
    int compare(std::string_view s) const noexcept { return view().compare(s); }
    // Like std::string::substr: a copy, and std::out_of_range past the end.
    std::string substr(size_t pos = 0, size_t count = npos) const {
        return std::string(view().substr(pos, count));
    }

    void clear() noexcept {
        Release();
        mSize = 0;
        mInline[0] = '\0';
    }
    InlineText& append(std::string_view text) {
        if (text.empty()) // its data may be null, which memcpy must not see
            return *this;
        const size_t total = CheckedSize(mSize + text.size());
        if (total <= N) {
            // Still in place; the text may be a part of this one.
            std::memmove(mInline + mSize, text.data(), text.size());
            mInline[total] = '\0';
            mSize = static_cast<uint32_t>(total);
            return *this;
        }
        // The old text is freed only once both parts are in the new block.
        char* p = new char[total + 1];
        std::memcpy(p, data(), mSize);
        std::memcpy(p + mSize, text.data(), text.size());
        p[total] = '\0';
        Release();
        SetHeapPointer(p);
        mSize = static_cast<uint32_t>(total);
        return *this;
    }
    InlineText& operator+=(std::string_view text) { return append(text); }
    InlineText& operator+=(char c) { return append(std::string_view(&c, 1)); }
    void push_back(char c) { append(std::string_view(&c, 1)); }
    void pop_back() noexcept { resize(mSize - 1); }
    // Shortens only; a longer size keeps the text as it is.
    void resize(size_t size) noexcept {
        if (size >= mSize)
            return;
        if (!OnHeap() || size > N) {
            const_cast<char*>(data())[size] = '\0';
            mSize = static_cast<uint32_t>(size);
            return;
        }
        // Back in place: the heap block is no longer needed.
        char* p = HeapPointer();
        std::memcpy(mInline, p, size);
        mInline[size] = '\0';
        mSize = static_cast<uint32_t>(size);
        delete[] p;
    }

    friend bool operator==(const InlineText& a, const InlineText& b) noexcept {
        return a.view() == b.view();
    }
    friend bool operator==(const InlineText& a, std::string_view b) noexcept {
        return a.view() == b;
    }
    friend bool operator==(const InlineText& a, const std::string& b) noexcept {
        return a.view() == b;
    }
    friend bool operator==(const InlineText& a, const char* b) noexcept { return a.view() == b; }
    friend std::strong_ordering operator<=>(const InlineText& a, const InlineText& b) noexcept {
        return a.view() <=> b.view();
    }
    friend std::strong_ordering operator<=>(const InlineText& a, std::string_view b) noexcept {
        return a.view() <=> b;
    }
    friend std::strong_ordering operator<=>(const InlineText& a, const std::string& b) noexcept {
        return a.view() <=> std::string_view(b);
    }
    friend std::strong_ordering operator<=>(const InlineText& a, const char* b) noexcept {
        return a.view() <=> std::string_view(b);
    }

    friend std::string operator+(const InlineText& a, const InlineText& b) { return Join(a, b); }
    friend std::string operator+(const InlineText& a, std::string_view b) { return Join(a, b); }
    friend std::string operator+(const InlineText& a, const std::string& b) { return Join(a, b); }
    friend std::string operator+(const InlineText& a, const char* b) { return Join(a, b); }
    friend std::string operator+(const InlineText& a, char b) {
        return Join(a, std::string_view(&b, 1));
    }
    friend std::string operator+(std::string_view a, const InlineText& b) { return Join(a, b); }
    friend std::string operator+(const std::string& a, const InlineText& b) { return Join(a, b); }
    friend std::string operator+(std::string&& a, const InlineText& b) {
        return std::move(a.append(b.view()));
    }
    friend std::string operator+(const char* a, const InlineText& b) { return Join(a, b); }
    friend std::string operator+(char a, const InlineText& b) {
        return Join(std::string_view(&a, 1), b);
    }
    friend std::ostream& operator<<(std::ostream& out, const InlineText& text) {
        return out << text.view();
    }

private:
    bool OnHeap() const noexcept { return mSize > N; }
    // The heap pointer is kept in the first bytes of mInline, so the holder
    // needs no union and the text stays at 4-byte alignment.
    char* HeapPointer() const noexcept {
        char* p;
        std::memcpy(&p, mInline, sizeof(p));
        return p;
    }
    void SetHeapPointer(char* p) noexcept { std::memcpy(mInline, &p, sizeof(p)); }
    // The size is kept in 32 bits; a longer text is refused, never cut.
    static size_t CheckedSize(size_t size) {
        if (size > UINT32_MAX)
            throw std::length_error("InlineText: text too long");
        return size;
    }
    void Assign(std::string_view text) {
        if (CheckedSize(text.size()) > N) {
            char* p = new char[text.size() + 1];
            std::memcpy(p, text.data(), text.size());
            p[text.size()] = '\0';
            SetHeapPointer(p);
        } else {
            if (!text.empty()) // its data may be null, which memcpy must not see
                std::memcpy(mInline, text.data(), text.size());
            mInline[text.size()] = '\0';
        }
        mSize = static_cast<uint32_t>(text.size());
    }
    void Release() noexcept {
        if (OnHeap())
            delete[] HeapPointer();
    }
    static std::string Join(std::string_view a, std::string_view b) {
        std::string joined;
        joined.reserve(a.size() + b.size());
        joined.append(a).append(b);
        return joined;
    }

    char mInline[N + 1];
    uint32_t mSize = 0;
};

template <size_t N> struct std::hash<InlineText<N>> {
    size_t operator()(const InlineText<N>& text) const noexcept {
        return std::hash<std::string_view>()(text.view());
    }
};
