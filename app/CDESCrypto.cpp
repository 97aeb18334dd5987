#include "app/CDESCrypto.h"

#include "platform/core/Errors.h"

#include <algorithm>
#include <cstring>
#include <new>

const unsigned char kBookMarkDESKey[7] = {0x5e, 0x31, 0xa8, 0xc4, 0x0b, 0x97, 0xf2};

namespace {

// The standard's tables, 1-based values as the standard writes them.
constexpr int kStdIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                            62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                            57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                            61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr int kStdIPInv[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                               38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                               36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                               34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr int kStdE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                           12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                           22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr int kStdP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                           2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr int kStdPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                             10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                             63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                             14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr int kStdPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                             26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                             51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr int kStdS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// 1-based position in TABLE of VALUE.
int PositionOf(const int* table, int size, int value) {
    for (int k = 0; k < size; ++k)
        if (table[k] == value)
            return k + 1;
    return 0;
}

// The standard's tables re-expressed in the bit-reversed frame.
DESTables Derive() {
    DESTables t{};
    for (int i = 0; i < 56; ++i) {
        int bit = 8 * ((55 - i) / 7) + ((55 - i) % 7) + 1;
        t.PC1[i] = 56 - PositionOf(kStdPC1, 56, bit);
    }
    for (int j = 0; j < 64; ++j) {
        t.IP[j] = 64 - kStdIPInv[64 - j - 1];
        t.FP[j] = 64 - kStdIP[64 - j - 1];
    }
    for (int i = 0; i < 48; ++i) {
        t.E[i] = 32 - kStdE[48 - i - 1];
        t.PC2[i] = 56 - kStdPC2[48 - i - 1];
    }
    for (int box = 0; box < 8; ++box)
        for (int n = 0; n < 64; ++n) {
            int row = 2 * ((n >> 5) & 1) + (n & 1);
            int column = (n >> 1) & 15;
            t.S[64 * box + n] = kStdS[7 - box][16 * row + column];
        }
    for (int i = 0; i < 32; ++i)
        t.P[i] = 32 - PositionOf(kStdP, 32, 32 - i);
    return t;
}

// Rotates positions FIRST..FIRST+27 one place towards higher positions.
void RotateUp(bool* reg, int first) {
    bool last = reg[first + 27];
    std::memmove(reg + first + 1, reg + first, 27 * sizeof(bool));
    reg[first] = last;
}

void RotateDown(bool* reg, int first) {
    bool head = reg[first];
    std::memmove(reg + first, reg + first + 1, 27 * sizeof(bool));
    reg[first + 27] = head;
}

void Transform(std::vector<uint8_t>& data, bool decipher) {
    CDESCrypto cipher(const_cast<unsigned char*>(kBookMarkDESKey));
    const size_t length = data.size();
    const size_t blocks = (length + 7) / 8;
    std::vector<uint8_t> plain, done;
    try {
        plain.assign(8 * blocks, 0);
        done.assign(8 * blocks, 0);
    } catch (const std::bad_alloc&) {
        throw PPx::OSError(PPx::memFullErr, "NewHandleClear failed");
    }
    std::copy(data.begin(), data.end(), plain.begin());
    for (size_t i = 0; i < blocks; ++i) {
        if (decipher)
            cipher.Decrypt(done.data() + 8 * i, plain.data() + 8 * i);
        else
            cipher.Encrypt(done.data() + 8 * i, plain.data() + 8 * i);
    }
    data.swap(done);
}

} // namespace

const DESTables& GetDESTables() {
    static const DESTables tables = Derive();
    return tables;
}

CDESCrypto::CDESCrypto(unsigned char* key) {
    SetKey(key);
}

void CDESCrypto::SetKey(unsigned char* key) {
    ExpandKey56(key, mKey);
}

void CDESCrypto::ExpandKey56(unsigned char* in, bool* out) {
    for (int i = 0; i < 56; ++i)
        out[i] = (in[i / 8] >> (7 - i % 8)) & 1;
}

void CDESCrypto::CompressKey56(bool* in, unsigned char* out) {
    unsigned char bytes[7] = {};
    for (int i = 0; i < 56; ++i)
        if (in[i])
            bytes[i / 8] |= static_cast<unsigned char>(1 << (7 - i % 8));
    std::memcpy(out, bytes, 7);
}

void CDESCrypto::ExpandBlock(unsigned char* in, bool* out) {
    bool bits[64];
    for (int i = 0; i < 64; ++i)
        bits[i] = (in[i / 8] >> (7 - i % 8)) & 1;
    std::memcpy(out, bits, sizeof bits);
}

void CDESCrypto::CompressBlock(bool* in, unsigned char* out) {
    unsigned char bytes[8] = {};
    for (int i = 0; i < 64; ++i)
        if (in[i])
            bytes[i / 8] |= static_cast<unsigned char>(1 << (7 - i % 8));
    std::memcpy(out, bytes, 8);
}

void CDESCrypto::Encrypt(bool* out, bool* in) {
    Run(out, in, false);
}

void CDESCrypto::Decrypt(bool* out, bool* in) {
    Run(out, in, true);
}

void CDESCrypto::Encrypt(unsigned char* out, unsigned char* in) {
    bool bits[64];
    ExpandBlock(in, bits);
    Encrypt(bits, bits);
    CompressBlock(bits, out);
}

void CDESCrypto::Decrypt(unsigned char* out, unsigned char* in) {
    bool bits[64];
    ExpandBlock(in, bits);
    Decrypt(bits, bits);
    CompressBlock(bits, out);
}

void CDESCrypto::Run(bool* out, const bool* in, bool decipher) {
    const DESTables& t = GetDESTables();
    bool reg[56];
    for (int i = 0; i < 56; ++i)
        reg[t.PC1[i]] = mKey[i];
    bool block[64];
    for (int j = 0; j < 64; ++j)
        block[t.IP[j]] = in[j] != 0;
    bool lower[32], upper[32];
    std::memcpy(lower, block, 32);
    std::memcpy(upper, block + 32, 32);

    for (int round = 0; round < 16; ++round) {
        const bool single = decipher ? (round == 0 || round == 7 || round == 14 || round == 15)
                                     : (round == 0 || round == 1 || round == 8 || round == 15);
        if (!decipher)
            for (int k = single ? 1 : 2; k > 0; --k) {
                RotateUp(reg, 0);
                RotateUp(reg, 28);
            }
        bool x[48];
        for (int i = 0; i < 48; ++i)
            x[i] = lower[t.E[i]] ^ reg[t.PC2[i]];
        bool y[32];
        for (int box = 0; box < 8; ++box) {
            const bool* six = x + 6 * box;
            int n = six[0] + 2 * six[1] + 4 * six[2] + 8 * six[3] + 16 * six[4] + 32 * six[5];
            int v = t.S[64 * box + n];
            for (int b = 0; b < 4; ++b)
                y[4 * box + b] = (v >> b) & 1;
        }
        bool z[32];
        for (int i = 0; i < 32; ++i)
            z[t.P[i]] = y[i];
        for (int i = 0; i < 32; ++i)
            upper[i] = upper[i] ^ z[i];
        bool swap[32];
        std::memcpy(swap, lower, 32);
        std::memcpy(lower, upper, 32);
        std::memcpy(upper, swap, 32);
        if (decipher)
            for (int k = single ? 1 : 2; k > 0; --k) {
                RotateDown(reg, 0);
                RotateDown(reg, 28);
            }
    }
    std::memcpy(block, upper, 32);
    std::memcpy(block + 32, lower, 32);
    bool result[64];
    for (int j = 0; j < 64; ++j)
        result[t.FP[j]] = block[j];
    std::memcpy(out, result, 64);
}

void EncryptBookmarkData(std::vector<uint8_t>& data) {
    Transform(data, false);
}

void DecryptBookmarkData(std::vector<uint8_t>& data) {
    Transform(data, true);
}
