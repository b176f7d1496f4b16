// AES members in the WinZip form (AE-1 and AE-2): a salt and a two-byte
// password verifier in front of the data, AES in counter mode over it, and a
// ten-byte HMAC-SHA1 authentication code behind it, with the keys derived
// from the password by PBKDF2-HMAC-SHA1. The cryptography is the system's:
// CNG (bcrypt.dll), loaded at run time from the system folder only, so the
// stub still starts where it is missing and says so at the first AES member.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum {
    AES_BLOCK = 16,
    AES_VERIFIER_SIZE = 2,
    AES_AUTH_CODE_SIZE = 10,
    SHA1_SIZE = 20,
    PBKDF2_ITERATIONS = 1000,
    MAX_AES_KEY = 32,
    KEY_STREAM_SIZE = INPUT_BLOCK, // one input block's worth of counter blocks
};

// The CNG calls, looked up by name, and the two algorithms every AES member
// uses: AES with the chaining mode ECB (each counter block encrypted on its
// own gives the key stream) and SHA-1 keyed as HMAC.
struct Cng {
    BOOL tried;
    HMODULE library;
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider;
    decltype(&BCryptSetProperty) setProperty;
    decltype(&BCryptGenerateSymmetricKey) generateSymmetricKey;
    decltype(&BCryptDestroyKey) destroyKey;
    decltype(&BCryptEncrypt) encrypt;
    decltype(&BCryptDeriveKeyPBKDF2) deriveKeyPbkdf2;
    decltype(&BCryptCreateHash) createHash;
    decltype(&BCryptHashData) hashData;
    decltype(&BCryptFinishHash) finishHash;
    decltype(&BCryptDestroyHash) destroyHash;
    BCRYPT_ALG_HANDLE aes;
    BCRYPT_ALG_HANDLE hmacSha1;
};
static Cng cng;

static uint8_t keyStream[KEY_STREAM_SIZE];

template <typename Proc> static BOOL LookUp(Proc *proc, const char *name) {
    *proc = (Proc)(void *)GetProcAddress(cng.library, name);
    return *proc != NULL;
}

// The size in bytes of a wide string with its NUL, as properties are passed.
static ULONG WideSize(LPCWSTR text) {
    ULONG length = 0;
    while (text[length])
        length++;
    return (length + 1) * (ULONG)sizeof(WCHAR);
}

static BOOL LoadCng() {
    if (cng.tried)
        return cng.aes != NULL && cng.hmacSha1 != NULL;
    cng.tried = TRUE;
    // The full path in the system folder: a library of the same name planted
    // beside the package is never loaded.
    char path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    AppendBackslash(path);
    lstrcatA(path, "bcrypt.dll");
    cng.library = LoadLibraryA(path);
    if (!cng.library)
        return FALSE;
    if (!LookUp(&cng.openAlgorithmProvider, "BCryptOpenAlgorithmProvider") ||
        !LookUp(&cng.closeAlgorithmProvider, "BCryptCloseAlgorithmProvider") ||
        !LookUp(&cng.setProperty, "BCryptSetProperty") ||
        !LookUp(&cng.generateSymmetricKey, "BCryptGenerateSymmetricKey") ||
        !LookUp(&cng.destroyKey, "BCryptDestroyKey") || !LookUp(&cng.encrypt, "BCryptEncrypt") ||
        !LookUp(&cng.deriveKeyPbkdf2, "BCryptDeriveKeyPBKDF2") ||
        !LookUp(&cng.createHash, "BCryptCreateHash") || !LookUp(&cng.hashData, "BCryptHashData") ||
        !LookUp(&cng.finishHash, "BCryptFinishHash") ||
        !LookUp(&cng.destroyHash, "BCryptDestroyHash"))
        return FALSE;
    BCRYPT_ALG_HANDLE aes = NULL, hmacSha1 = NULL;
    if (!BCRYPT_SUCCESS(cng.openAlgorithmProvider(&aes, BCRYPT_AES_ALGORITHM, NULL, 0)))
        return FALSE;
    if (!BCRYPT_SUCCESS(cng.setProperty(aes, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_ECB,
                                        WideSize(BCRYPT_CHAIN_MODE_ECB), 0)) ||
        !BCRYPT_SUCCESS(cng.openAlgorithmProvider(&hmacSha1, BCRYPT_SHA1_ALGORITHM, NULL,
                                                  BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
        cng.closeAlgorithmProvider(aes, 0);
        return FALSE;
    }
    cng.aes = aes;
    cng.hmacSha1 = hmacSha1;
    return TRUE;
}

// Ends the run: AES members cannot be opened on this system.
[[noreturn]] static void AesUnavailableExit() {
    wsprintfA(session.messageBuffer, MessageText(MSG_AES_UNAVAILABLE), session.memberName);
    ErrorExit(session.messageBuffer);
}

// Ends the run: the member's data does not match its authentication code.
[[noreturn]] static void AuthenticationFailedExit() {
    wsprintfA(session.messageBuffer, MessageText(MSG_AUTHENTICATION_FAILED), session.memberName);
    ErrorExit(session.messageBuffer);
}

void EndAesMember() {
    if (session.aesKey)
        cng.destroyKey(session.aesKey);
    if (session.aesMac)
        cng.destroyHash(session.aesMac);
    session.aesKey = NULL;
    session.aesMac = NULL;
}

void ReleaseAes() {
    EndAesMember();
    if (cng.aes)
        cng.closeAlgorithmProvider(cng.aes, 0);
    if (cng.hmacSha1)
        cng.closeAlgorithmProvider(cng.hmacSha1, 0);
    if (cng.library)
        FreeLibrary(cng.library);
    memset(&cng, 0, sizeof cng);
}

BOOL VerifyAesPassword() {
    EndAesMember();
    if (!LoadCng())
        AesUnavailableExit();
    if (!session.password)
        return FALSE;
    uint32_t keySize = 8 + 8 * (uint32_t)session.aesStrength; // 16, 24 or 32 bytes
    uint32_t saltSize = keySize / 2;
    LocalHeader &header = session.header;
    uint32_t overhead = saltSize + AES_VERIFIER_SIZE + AES_AUTH_CODE_SIZE;
    if (header.compressedSize < overhead)
        AuthenticationFailedExit(); // too short to hold what every AES member holds

    uint8_t preamble[MAX_AES_KEY / 2 + AES_VERIFIER_SIZE];
    ReadMemberBytes(preamble, saltSize + AES_VERIFIER_SIZE, READ_ERROR_ENCRYPTION_HEADER);
    // The authentication code behind the data is read after it, not through
    // the input block.
    header.compressedSize -= overhead;

    // Cipher key, authentication key and verifier, in that order.
    uint8_t derived[2 * MAX_AES_KEY + AES_VERIFIER_SIZE];
    uint32_t derivedSize = 2 * keySize + AES_VERIFIER_SIZE;
    if (!BCRYPT_SUCCESS(cng.deriveKeyPbkdf2(cng.hmacSha1, (PUCHAR)session.password,
                                            (ULONG)strlen(session.password), preamble, saltSize,
                                            PBKDF2_ITERATIONS, derived, derivedSize, 0)))
        AesUnavailableExit();
    BOOL matches = memcmp(derived + 2 * keySize, preamble + saltSize, AES_VERIFIER_SIZE) == 0;
    if (matches) {
        BCRYPT_KEY_HANDLE key = NULL;
        BCRYPT_HASH_HANDLE mac = NULL;
        if (!BCRYPT_SUCCESS(cng.generateSymmetricKey(cng.aes, &key, NULL, 0, derived, keySize, 0)))
            AesUnavailableExit();
        session.aesKey = key;
        if (!BCRYPT_SUCCESS(
                cng.createHash(cng.hmacSha1, &mac, NULL, 0, derived + keySize, keySize, 0)))
            AesUnavailableExit();
        session.aesMac = mac;
        session.aesCounter = 0;
        session.aesStreamPos = session.aesStreamEnd = 0;
    }
    memset(derived, 0, sizeof derived);
    return matches;
}

// The next key stream: the counter blocks that `wanted` more bytes need (at
// most one input block's worth), each the block number counted from 1 as a
// little-endian integer, encrypted.
static void RefillKeyStream(uint32_t wanted) {
    uint32_t blocks = (wanted + AES_BLOCK - 1) / AES_BLOCK;
    if (blocks > KEY_STREAM_SIZE / AES_BLOCK)
        blocks = KEY_STREAM_SIZE / AES_BLOCK;
    uint8_t *block = keyStream;
    for (uint32_t i = 0; i < blocks; i++, block += AES_BLOCK) {
        uint64_t counter = ++session.aesCounter;
        for (int b = 0; b < 8; b++)
            block[b] = (uint8_t)(counter >> (8 * b));
        memset(block + 8, 0, 8);
    }
    ULONG size = blocks * AES_BLOCK, done = 0;
    if (!BCRYPT_SUCCESS(cng.encrypt(session.aesKey, keyStream, size, NULL, NULL, 0, keyStream, size,
                                    &done, 0)) ||
        done != size)
        AesUnavailableExit();
    session.aesStreamPos = 0;
    session.aesStreamEnd = size;
}

void AesDecryptBlock(uint8_t *block, uint32_t count) {
    // The authentication code covers the data as stored.
    if (!BCRYPT_SUCCESS(cng.hashData(session.aesMac, block, count, 0)))
        AesUnavailableExit();
    while (count > 0) {
        if (session.aesStreamPos == session.aesStreamEnd)
            RefillKeyStream(count);
        uint32_t piece = session.aesStreamEnd - session.aesStreamPos;
        if (piece > count)
            piece = count;
        const uint8_t *stream = keyStream + session.aesStreamPos;
        for (uint32_t i = 0; i < piece; i++)
            block[i] ^= stream[i];
        session.aesStreamPos += piece;
        block += piece;
        count -= piece;
    }
}

void FinishAesMember() {
    // Data the decoder left unread still counts for the code: it is read, and
    // authenticated, up to the member's end.
    session.inputAvail = 0;
    while (RefillInput() > 0)
        session.inputAvail = 0;
    uint8_t code[AES_AUTH_CODE_SIZE];
    ReadMemberBytes(code, sizeof code, READ_ERROR_MEMBER_DATA);
    uint8_t mac[SHA1_SIZE];
    BOOL finished = BCRYPT_SUCCESS(cng.finishHash(session.aesMac, mac, sizeof mac, 0));
    EndAesMember();
    if (!finished)
        AesUnavailableExit();
    if (memcmp(mac, code, sizeof code) != 0)
        AuthenticationFailedExit();
}
