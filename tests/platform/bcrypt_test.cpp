// The system's CNG library as the native host offers it: found only by its
// full path in the system folder, absent with MORVIK_NO_BCRYPT, and its calls
// giving the published test vectors of AES, HMAC-SHA1 and PBKDF2-HMAC-SHA1.
#include "host_test_support.h"

#include <string.h>

#include <string>
#include <vector>

namespace {

std::vector<UCHAR> FromHex(const std::string &hex) {
    std::vector<UCHAR> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(UCHAR(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const UCHAR *bytes, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; i++) {
        char two[3];
        snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

class CngTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        SetEnv("MORVIK_WINDIR", windows_.path().c_str());
    }
    std::string SystemPath(const char *name) {
        char folder[MAX_PATH];
        UINT length = GetSystemDirectoryA(folder, sizeof folder);
        EXPECT_GT(length, 0u);
        EXPECT_LT(length, sizeof folder);
        return std::string(folder) + "\\" + name;
    }
    TempFolder windows_;
};

TEST_F(CngTest, SystemFolderIsInTheWindowsFolder) {
    char folder[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(folder, sizeof folder), 0u);
    EXPECT_EQ(std::string(folder), windows_.path() + "/system32");
    char small[4];
    EXPECT_EQ(GetSystemDirectoryA(small, sizeof small), windows_.path().size() + 10);
}

TEST_F(CngTest, FoundOnlyByItsFullPathInTheSystemFolder) {
    EXPECT_EQ(LoadLibraryA("bcrypt.dll"), nullptr);
    EXPECT_EQ(LoadLibraryA((windows_.path() + "/bcrypt.dll").c_str()), nullptr);
    EXPECT_EQ(LoadLibraryA(SystemPath("shell32.dll").c_str()), nullptr);
    HMODULE cng = LoadLibraryA(SystemPath("BCrypt.DLL").c_str());
    ASSERT_NE(cng, nullptr);
    EXPECT_EQ(GetProcAddress(cng, "BCryptEncrypt"),
              reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&BCryptEncrypt)));
    EXPECT_EQ(GetProcAddress(cng, "BCryptDecrypt"), nullptr);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA(nullptr), "BCryptEncrypt"), nullptr);
    EXPECT_TRUE(FreeLibrary(cng));
    EXPECT_FALSE(FreeLibrary(cng));
    EXPECT_EQ(GetProcAddress(cng, "BCryptEncrypt"), nullptr); // no longer loaded
}

TEST_F(CngTest, AbsentWhenTheSystemHasNone) {
    SetEnv("MORVIK_NO_BCRYPT", "1");
    EXPECT_EQ(LoadLibraryA(SystemPath("bcrypt.dll").c_str()), nullptr);
}

// FIPS-197, appendix C: one block with 128-, 192- and 256-bit keys.
TEST_F(CngTest, AesEcbGivesTheFips197Blocks) {
    HMODULE cng = LoadLibraryA(SystemPath("bcrypt.dll").c_str());
    ASSERT_NE(cng, nullptr);
    BCRYPT_ALG_HANDLE aes = nullptr;
    ASSERT_EQ(BCryptOpenAlgorithmProvider(&aes, BCRYPT_AES_ALGORITHM, nullptr, 0), STATUS_SUCCESS);
    std::vector<UCHAR> key = FromHex("000102030405060708090a0b0c0d0e0f1011121314151617"
                                     "18191a1b1c1d1e1f");
    BCRYPT_KEY_HANDLE handle = nullptr;
    // Only the chaining mode ECB is offered, and it must be set first.
    EXPECT_LT(BCryptGenerateSymmetricKey(aes, &handle, nullptr, 0, key.data(), 16, 0), 0);
    const char16_t ecb[] = u"ChainingModeECB"; // a wide string with its NUL
    ASSERT_EQ(BCryptSetProperty(aes, BCRYPT_CHAINING_MODE, (PUCHAR)ecb, sizeof ecb, 0),
              STATUS_SUCCESS);
    const struct {
        ULONG keySize;
        const char *cipher;
    } cases[] = {{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
                 {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
                 {32, "8ea2b7ca516745bfeafc49904b496089"}};
    for (const auto &c : cases) {
        ASSERT_EQ(BCryptGenerateSymmetricKey(aes, &handle, nullptr, 0, key.data(), c.keySize, 0),
                  STATUS_SUCCESS);
        // Two blocks, encrypted in place: each on its own.
        std::vector<UCHAR> blocks = FromHex("00112233445566778899aabbccddeeff"
                                            "00112233445566778899aabbccddeeff");
        ULONG done = 0;
        ASSERT_EQ(BCryptEncrypt(handle, blocks.data(), 32, nullptr, nullptr, 0, blocks.data(), 32,
                                &done, 0),
                  STATUS_SUCCESS);
        EXPECT_EQ(done, 32u);
        EXPECT_EQ(ToHex(blocks.data(), 32), std::string(c.cipher) + c.cipher) << c.keySize;
        // A part of a block is refused.
        EXPECT_LT(BCryptEncrypt(handle, blocks.data(), 15, nullptr, nullptr, 0, blocks.data(), 15,
                                &done, 0),
                  0);
        EXPECT_EQ(BCryptDestroyKey(handle), STATUS_SUCCESS);
    }
    EXPECT_LT(BCryptGenerateSymmetricKey(aes, &handle, nullptr, 0, key.data(), 20, 0), 0);
    EXPECT_EQ(BCryptCloseAlgorithmProvider(aes, 0), STATUS_SUCCESS);
    FreeLibrary(cng);
}

// RFC 2202, test case 2, fed in two pieces.
TEST_F(CngTest, HmacSha1GivesTheRfc2202Code) {
    HMODULE cng = LoadLibraryA(SystemPath("bcrypt.dll").c_str());
    ASSERT_NE(cng, nullptr);
    BCRYPT_ALG_HANDLE sha1 = nullptr;
    ASSERT_EQ(BCryptOpenAlgorithmProvider(&sha1, BCRYPT_SHA1_ALGORITHM, nullptr,
                                          BCRYPT_ALG_HANDLE_HMAC_FLAG),
              STATUS_SUCCESS);
    BCRYPT_HASH_HANDLE hash = nullptr;
    UCHAR key[] = "Jefe";
    ASSERT_EQ(BCryptCreateHash(sha1, &hash, nullptr, 0, key, 4, 0), STATUS_SUCCESS);
    UCHAR data[] = "what do ya want for nothing?";
    ASSERT_EQ(BCryptHashData(hash, data, 10, 0), STATUS_SUCCESS);
    ASSERT_EQ(BCryptHashData(hash, data + 10, 18, 0), STATUS_SUCCESS);
    UCHAR code[20];
    EXPECT_LT(BCryptFinishHash(hash, code, 10, 0), 0); // the whole code or nothing
    ASSERT_EQ(BCryptFinishHash(hash, code, 20, 0), STATUS_SUCCESS);
    EXPECT_EQ(ToHex(code, 20), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    EXPECT_EQ(BCryptDestroyHash(hash), STATUS_SUCCESS);
    EXPECT_EQ(BCryptCloseAlgorithmProvider(sha1, 0), STATUS_SUCCESS);
    FreeLibrary(cng);
}

// RFC 6070: PBKDF2-HMAC-SHA1 with 1, 2 and 4096 iterations, and a key longer
// than one SHA-1 output.
TEST_F(CngTest, Pbkdf2GivesTheRfc6070Keys) {
    HMODULE cng = LoadLibraryA(SystemPath("bcrypt.dll").c_str());
    ASSERT_NE(cng, nullptr);
    BCRYPT_ALG_HANDLE prf = nullptr;
    ASSERT_EQ(BCryptOpenAlgorithmProvider(&prf, BCRYPT_SHA1_ALGORITHM, nullptr,
                                          BCRYPT_ALG_HANDLE_HMAC_FLAG),
              STATUS_SUCCESS);
    UCHAR password[] = "password", salt[] = "salt";
    const struct {
        ULONGLONG iterations;
        const char *key;
    } cases[] = {{1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
                 {2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
                 {4096, "4b007901b765489abead49d926f721d065a429c1"}};
    for (const auto &c : cases) {
        UCHAR key[20];
        ASSERT_EQ(BCryptDeriveKeyPBKDF2(prf, password, 8, salt, 4, c.iterations, key, 20, 0),
                  STATUS_SUCCESS);
        EXPECT_EQ(ToHex(key, 20), c.key) << c.iterations;
    }
    UCHAR longPassword[] = "passwordPASSWORDpassword";
    UCHAR longSalt[] = "saltSALTsaltSALTsaltSALTsaltSALTsalt";
    UCHAR key[25];
    ASSERT_EQ(BCryptDeriveKeyPBKDF2(prf, longPassword, 24, longSalt, 36, 4096, key, 25, 0),
              STATUS_SUCCESS);
    EXPECT_EQ(ToHex(key, 25), "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
    // PBKDF2 takes the keyed hash only.
    BCRYPT_ALG_HANDLE plain = nullptr;
    ASSERT_EQ(BCryptOpenAlgorithmProvider(&plain, BCRYPT_SHA1_ALGORITHM, nullptr, 0),
              STATUS_SUCCESS);
    EXPECT_LT(BCryptDeriveKeyPBKDF2(plain, password, 8, salt, 4, 1, key, 20, 0), 0);
    BCryptCloseAlgorithmProvider(plain, 0);
    BCryptCloseAlgorithmProvider(prf, 0);
    FreeLibrary(cng);
}

} // namespace
