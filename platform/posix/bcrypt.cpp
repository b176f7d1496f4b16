// The system's CNG library, bcrypt.dll, on the native host: the calls the stub
// makes of it, answered with OpenSSL's libcrypto. As on Windows, the library
// is looked up at run time: libcrypto is loaded only when the stub loads
// bcrypt.dll, so a package without AES members never maps it, and a host
// without libcrypto is a system without CNG.
// PBKDF2 below is built on SHA-1's own calls, which OpenSSL 3 marks as
// deprecated in favour of its EVP interface.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "posix/host_internal.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <openssl/params.h>
#include <openssl/sha.h>

namespace host {
namespace {

#define STRINGIFY_(x) #x
#define STRINGIFY(x) STRINGIFY_(x)
const char libcryptoName[] = "libcrypto.so." STRINGIFY(OPENSSL_VERSION_MAJOR);

// The libcrypto calls used, looked up by name.
#define LIBCRYPTO_CALLS(X)                                                                         \
    X(EVP_CIPHER_CTX_new)                                                                          \
    X(EVP_CIPHER_CTX_free)                                                                         \
    X(EVP_CIPHER_CTX_set_padding)                                                                  \
    X(EVP_EncryptInit_ex)                                                                          \
    X(EVP_EncryptUpdate)                                                                           \
    X(EVP_aes_128_ecb)                                                                             \
    X(EVP_aes_192_ecb)                                                                             \
    X(EVP_aes_256_ecb)                                                                             \
    X(SHA1_Init)                                                                                   \
    X(SHA1_Update)                                                                                 \
    X(SHA1_Final)                                                                                  \
    X(EVP_MAC_fetch)                                                                               \
    X(EVP_MAC_free)                                                                                \
    X(EVP_MAC_CTX_new)                                                                             \
    X(EVP_MAC_CTX_free)                                                                            \
    X(EVP_MAC_init)                                                                                \
    X(EVP_MAC_update)                                                                              \
    X(EVP_MAC_final)                                                                               \
    X(OSSL_PARAM_construct_utf8_string)                                                            \
    X(OSSL_PARAM_construct_end)

struct Libcrypto {
    void *handle = nullptr;
    EVP_MAC *hmac = nullptr;
#define DECLARE_CALL(name) decltype(&::name) name = nullptr;
    LIBCRYPTO_CALLS(DECLARE_CALL)
#undef DECLARE_CALL
};
Libcrypto crypto;
int loadCount = 0;

char bcryptMarker; // its address is the module handle of bcrypt.dll

bool LoadLibcrypto() {
    if (crypto.handle)
        return true;
    void *handle = dlopen(libcryptoName, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return false;
    Libcrypto loaded;
    loaded.handle = handle;
    bool complete = true;
#define LOOK_UP(name)                                                                              \
    loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                       \
    complete = complete && loaded.name != nullptr;
    LIBCRYPTO_CALLS(LOOK_UP)
#undef LOOK_UP
    if (complete)
        loaded.hmac = loaded.EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!complete || !loaded.hmac) {
        dlclose(handle);
        return false;
    }
    crypto = loaded;
    return true;
}

bool SameWide(const WCHAR *a, const char *b) {
    if (!a)
        return false;
    for (; *b; ++a, ++b)
        if (*a != static_cast<unsigned char>(*b))
            return false;
    return *a == 0;
}

// PBKDF2-HMAC-SHA1 (RFC 8018) with the two keyed SHA-1 states worked out
// once: each iteration then costs two SHA-1 blocks and no allocation, where
// libcrypto's own PKCS5_PBKDF2_HMAC copies whole contexts every time.
void Pbkdf2HmacSha1(const UCHAR *password, size_t passwordSize, const UCHAR *salt, size_t saltSize,
                    uint64_t iterations, UCHAR *out, size_t outSize) {
    UCHAR key[SHA_CBLOCK] = {0};
    if (passwordSize > SHA_CBLOCK) {
        SHA_CTX hashed;
        crypto.SHA1_Init(&hashed);
        crypto.SHA1_Update(&hashed, password, passwordSize);
        crypto.SHA1_Final(key, &hashed);
    } else if (passwordSize) {
        memcpy(key, password, passwordSize);
    }
    UCHAR pad[SHA_CBLOCK];
    SHA_CTX inner, outer;
    for (size_t i = 0; i < SHA_CBLOCK; i++)
        pad[i] = key[i] ^ 0x36;
    crypto.SHA1_Init(&inner);
    crypto.SHA1_Update(&inner, pad, SHA_CBLOCK);
    for (size_t i = 0; i < SHA_CBLOCK; i++)
        pad[i] = key[i] ^ 0x5c;
    crypto.SHA1_Init(&outer);
    crypto.SHA1_Update(&outer, pad, SHA_CBLOCK);

    for (uint32_t block = 1; outSize > 0; block++) {
        UCHAR u[SHA_DIGEST_LENGTH], sum[SHA_DIGEST_LENGTH];
        const UCHAR index[4] = {UCHAR(block >> 24), UCHAR(block >> 16), UCHAR(block >> 8),
                                UCHAR(block)};
        SHA_CTX context = inner;
        crypto.SHA1_Update(&context, salt, saltSize);
        crypto.SHA1_Update(&context, index, sizeof index);
        crypto.SHA1_Final(u, &context);
        context = outer;
        crypto.SHA1_Update(&context, u, sizeof u);
        crypto.SHA1_Final(u, &context);
        memcpy(sum, u, sizeof sum);
        for (uint64_t n = 1; n < iterations; n++) {
            context = inner;
            crypto.SHA1_Update(&context, u, sizeof u);
            crypto.SHA1_Final(u, &context);
            context = outer;
            crypto.SHA1_Update(&context, u, sizeof u);
            crypto.SHA1_Final(u, &context);
            for (size_t i = 0; i < sizeof sum; i++)
                sum[i] ^= u[i];
        }
        size_t piece = outSize < sizeof sum ? outSize : sizeof sum;
        memcpy(out, sum, piece);
        out += piece;
        outSize -= piece;
    }
    memset(key, 0, sizeof key);
    memset(pad, 0, sizeof pad);
}

enum class Kind { Aes, Sha1 };

struct Algorithm {
    Kind kind;
    bool hmac;
    bool ecb; // AES: the chaining mode; CBC, Windows' default, is not offered
};

struct Key {
    EVP_CIPHER_CTX *context;
};

struct Hash {
    EVP_MAC_CTX *context;
};

// bcrypt.dll's calls, named as the stub looks them up.
struct Export {
    const char *name;
    FARPROC proc;
};
#define EXPORT(name)                                                                               \
    { #name, reinterpret_cast < FARPROC>(reinterpret_cast <void *>(&::name)) }
const Export exports[] = {
    EXPORT(BCryptOpenAlgorithmProvider),
    EXPORT(BCryptCloseAlgorithmProvider),
    EXPORT(BCryptSetProperty),
    EXPORT(BCryptGenerateSymmetricKey),
    EXPORT(BCryptDestroyKey),
    EXPORT(BCryptEncrypt),
    EXPORT(BCryptDeriveKeyPBKDF2),
    EXPORT(BCryptCreateHash),
    EXPORT(BCryptHashData),
    EXPORT(BCryptFinishHash),
    EXPORT(BCryptDestroyHash),
};
#undef EXPORT

} // namespace

HMODULE LoadSystemLibrary(const char *ansiPath) {
    // Only the full path in the system folder finds it: the program's own
    // folder and the current folder are never searched for a system library.
    std::string path = ToHostPath(ansiPath);
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.substr(0, slash) != SystemFolder() ||
        strcasecmp(path.c_str() + slash + 1, "bcrypt.dll") != 0)
        return nullptr;
    const char *absent = getenv("MORVIK_NO_BCRYPT");
    if ((absent && *absent) || !LoadLibcrypto())
        return nullptr;
    ++loadCount;
    return static_cast<HMODULE>(&bcryptMarker);
}

FARPROC SystemLibraryProc(HMODULE module, const char *name) {
    if (module != static_cast<HMODULE>(&bcryptMarker) || loadCount == 0)
        return nullptr;
    for (const Export &entry : exports)
        if (!strcmp(entry.name, name))
            return entry.proc;
    return nullptr;
}

bool FreeSystemLibrary(HMODULE module) {
    if (module != static_cast<HMODULE>(&bcryptMarker) || loadCount == 0)
        return false;
    --loadCount; // libcrypto stays mapped, as a system DLL other code uses would
    return true;
}

} // namespace host

using host::crypto;

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE *algorithm, LPCWSTR algorithmId,
                                            LPCWSTR implementation, ULONG flags) {
    if (!algorithm || implementation || (flags & ~BCRYPT_ALG_HANDLE_HMAC_FLAG))
        return STATUS_INVALID_PARAMETER;
    host::Algorithm made{};
    if (host::SameWide(algorithmId, "AES") && flags == 0)
        made.kind = host::Kind::Aes;
    else if (host::SameWide(algorithmId, "SHA1"))
        made.kind = host::Kind::Sha1;
    else
        return STATUS_NOT_FOUND;
    made.hmac = (flags & BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0;
    *algorithm = new host::Algorithm(made);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG) {
    if (!algorithm)
        return STATUS_INVALID_PARAMETER;
    delete static_cast<host::Algorithm *>(algorithm);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptSetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR input,
                                  ULONG inputSize, ULONG) {
    host::Algorithm *algorithm = static_cast<host::Algorithm *>(object);
    if (!algorithm || !input)
        return STATUS_INVALID_PARAMETER;
    if (algorithm->kind != host::Kind::Aes || !host::SameWide(property, "ChainingMode"))
        return STATUS_NOT_SUPPORTED;
    // The value is a wide string with its NUL, as Windows takes it.
    const WCHAR *mode = reinterpret_cast<const WCHAR *>(input);
    if (inputSize != sizeof(u"ChainingModeECB") || !host::SameWide(mode, "ChainingModeECB"))
        return STATUS_NOT_SUPPORTED;
    algorithm->ecb = true;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptGenerateSymmetricKey(BCRYPT_ALG_HANDLE algorithmHandle,
                                           BCRYPT_KEY_HANDLE *key, PUCHAR, ULONG, PUCHAR secret,
                                           ULONG secretSize, ULONG) {
    host::Algorithm *algorithm = static_cast<host::Algorithm *>(algorithmHandle);
    if (!algorithm || !key || !secret || algorithm->kind != host::Kind::Aes)
        return STATUS_INVALID_PARAMETER;
    if (!algorithm->ecb)
        return STATUS_NOT_SUPPORTED;
    const EVP_CIPHER *cipher = secretSize == 16   ? crypto.EVP_aes_128_ecb()
                               : secretSize == 24 ? crypto.EVP_aes_192_ecb()
                               : secretSize == 32 ? crypto.EVP_aes_256_ecb()
                                                  : nullptr;
    if (!cipher)
        return STATUS_INVALID_PARAMETER;
    EVP_CIPHER_CTX *context = crypto.EVP_CIPHER_CTX_new();
    if (!context)
        return STATUS_NO_MEMORY;
    if (crypto.EVP_EncryptInit_ex(context, cipher, nullptr, secret, nullptr) != 1) {
        crypto.EVP_CIPHER_CTX_free(context);
        return STATUS_INVALID_PARAMETER;
    }
    crypto.EVP_CIPHER_CTX_set_padding(context, 0);
    *key = new host::Key{context};
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptDestroyKey(BCRYPT_KEY_HANDLE keyHandle) {
    host::Key *key = static_cast<host::Key *>(keyHandle);
    if (!key)
        return STATUS_INVALID_PARAMETER;
    crypto.EVP_CIPHER_CTX_free(key->context);
    delete key;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptEncrypt(BCRYPT_KEY_HANDLE keyHandle, PUCHAR input, ULONG inputSize,
                              PVOID paddingInfo, PUCHAR iv, ULONG, PUCHAR output, ULONG outputSize,
                              ULONG *result, ULONG flags) {
    host::Key *key = static_cast<host::Key *>(keyHandle);
    const NTSTATUS invalidBufferSize = static_cast<NTSTATUS>(0xC0000206L);
    if (!key || !result || paddingInfo || iv || flags)
        return STATUS_INVALID_PARAMETER;
    if (inputSize % 16)
        return invalidBufferSize; // a block cipher without padding takes whole blocks
    *result = inputSize;
    if (!output)
        return STATUS_SUCCESS; // the size asked for
    if (outputSize < inputSize)
        return STATUS_BUFFER_TOO_SMALL;
    int produced = 0;
    if (inputSize && (crypto.EVP_EncryptUpdate(key->context, output, &produced, input,
                                               static_cast<int>(inputSize)) != 1 ||
                      static_cast<ULONG>(produced) != inputSize))
        return STATUS_INVALID_PARAMETER;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptDeriveKeyPBKDF2(BCRYPT_ALG_HANDLE prfHandle, PUCHAR password,
                                      ULONG passwordSize, PUCHAR salt, ULONG saltSize,
                                      ULONGLONG iterations, PUCHAR derivedKey, ULONG derivedKeySize,
                                      ULONG flags) {
    host::Algorithm *prf = static_cast<host::Algorithm *>(prfHandle);
    if (!prf || prf->kind != host::Kind::Sha1 || !prf->hmac || !derivedKey || iterations == 0 ||
        flags)
        return STATUS_INVALID_PARAMETER;
    if ((passwordSize && !password) || (saltSize && !salt))
        return STATUS_INVALID_PARAMETER;
    host::Pbkdf2HmacSha1(password, passwordSize, salt, saltSize, iterations, derivedKey,
                         derivedKeySize);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithmHandle, BCRYPT_HASH_HANDLE *hash,
                                 PUCHAR, ULONG, PUCHAR secret, ULONG secretSize, ULONG flags) {
    host::Algorithm *algorithm = static_cast<host::Algorithm *>(algorithmHandle);
    if (!algorithm || !hash || algorithm->kind != host::Kind::Sha1 || flags)
        return STATUS_INVALID_PARAMETER;
    if (!algorithm->hmac)
        return STATUS_NOT_SUPPORTED; // only the keyed hash is offered
    EVP_MAC_CTX *context = crypto.EVP_MAC_CTX_new(crypto.hmac);
    if (!context)
        return STATUS_NO_MEMORY;
    char digest[] = "SHA1";
    OSSL_PARAM parameters[] = {
        crypto.OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
        crypto.OSSL_PARAM_construct_end(),
    };
    static const unsigned char noKey[1] = {0};
    if (crypto.EVP_MAC_init(context, secretSize ? secret : noKey, secretSize, parameters) != 1) {
        crypto.EVP_MAC_CTX_free(context);
        return STATUS_INVALID_PARAMETER;
    }
    *hash = new host::Hash{context};
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hashHandle, PUCHAR input, ULONG inputSize,
                               ULONG flags) {
    host::Hash *hash = static_cast<host::Hash *>(hashHandle);
    if (!hash || (inputSize && !input) || flags)
        return STATUS_INVALID_PARAMETER;
    if (inputSize && crypto.EVP_MAC_update(hash->context, input, inputSize) != 1)
        return STATUS_INVALID_PARAMETER;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hashHandle, PUCHAR output, ULONG outputSize,
                                 ULONG flags) {
    host::Hash *hash = static_cast<host::Hash *>(hashHandle);
    // Windows wants a buffer of exactly the hash's length.
    if (!hash || !output || outputSize != 20 || flags)
        return STATUS_INVALID_PARAMETER;
    size_t produced = 0;
    if (crypto.EVP_MAC_final(hash->context, output, &produced, outputSize) != 1 || produced != 20)
        return STATUS_INVALID_PARAMETER;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hashHandle) {
    host::Hash *hash = static_cast<host::Hash *>(hashHandle);
    if (!hash)
        return STATUS_INVALID_PARAMETER;
    crypto.EVP_MAC_CTX_free(hash->context);
    delete hash;
    return STATUS_SUCCESS;
}
