#pragma once
// The DES block cipher of the bookmark files. It works on arrays of one-byte
// bit values in a bit-reversed frame: for a block x, Encrypt(x) equals the
// textbook cipher applied to x with all 64 bits reversed, reversed again.
// The bytes must stay exactly so: every stored bookmark file depends on them.
#include <cstdint>
#include <vector>

class CDESCrypto {
public:
    explicit CDESCrypto(unsigned char* key); // 7 bytes
    virtual ~CDESCrypto() = default;

    // Output first, then input; a block may be transformed in place.
    virtual void Encrypt(bool* out, bool* in);
    virtual void Encrypt(unsigned char* out, unsigned char* in);
    virtual void Decrypt(bool* out, bool* in);
    virtual void Decrypt(unsigned char* out, unsigned char* in);
    virtual void SetKey(unsigned char* key);

    // Bytes to bit values, most significant bit first, and back (any
    // non-zero value counts as 1). Input first, then output.
    virtual void ExpandKey56(unsigned char* in, bool* out);
    virtual void CompressKey56(bool* in, unsigned char* out);
    virtual void ExpandBlock(unsigned char* in, bool* out);
    virtual void CompressBlock(bool* in, unsigned char* out);

private:
    void Run(bool* out, const bool* in, bool decipher);
    bool mKey[56] = {};
};

// The key every bookmark file of the program is enciphered under.
extern const unsigned char kBookMarkDESKey[7];

// The program's derived tables, 0-based (exposed for checking them).
struct DESTables {
    int PC1[56];
    int IP[64];
    int E[48];
    int PC2[48];
    int S[512];
    int P[32];
    int FP[64];
};
const DESTables& GetDESTables();

// The whole-buffer transform of bookmark files: each 8-byte block by itself,
// the last one padded with zero bytes; the result is always a multiple of 8
// bytes long.
void EncryptBookmarkData(std::vector<uint8_t>& data);
void DecryptBookmarkData(std::vector<uint8_t>& data);
