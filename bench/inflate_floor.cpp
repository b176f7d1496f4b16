// inflate-floor [--design] ARCHIVE.zip [PASSWORD]
//
// Reads a ZIP archive front to back by its local headers and inflates (or,
// for stored members, touches) every member's data into memory with zlib,
// writing nothing: the least work any extractor must do, so the floor that
// the benchmarks compare with. Encrypted members are decrypted first when a
// password is given. Prints the total of decoded bytes.
//
// --design does the same work with the stub's own buffer sizes and
// checksum, still writing nothing: member data read 2048 bytes at a time,
// inflated into a 32768-byte window, the output summed with zlib's crc32 in
// 2048-byte pieces. What the stub spends beyond this goes to files, folders,
// system calls and its window host.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <vector>

static uint32_t crcTable[256];

static void Advance(uint32_t keys[3], uint8_t plain) {
    keys[0] = crcTable[(keys[0] ^ plain) & 0xFF] ^ (keys[0] >> 8);
    keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1;
    keys[2] = crcTable[(keys[2] ^ (keys[1] >> 24)) & 0xFF] ^ (keys[2] >> 8);
}

static void Decrypt(uint32_t keys[3], uint8_t *data, size_t count) {
    for (size_t i = 0; i < count; i++) {
        uint32_t t = (keys[2] & 0xFFFF) | 2;
        uint8_t plain = data[i] ^ (uint8_t)(((t * (t ^ 1)) & 0xFFFF) >> 8);
        Advance(keys, plain);
        data[i] = plain;
    }
}

int main(int argc, char **argv) {
    bool design = argc > 1 && !strcmp(argv[1], "--design");
    if (design) {
        argv++;
        argc--;
    }
    if (argc < 2) {
        fprintf(stderr, "usage: inflate-floor [--design] ARCHIVE.zip [PASSWORD]\n");
        return 2;
    }
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crcTable[n] = c;
    }
    FILE *file = fopen(argv[1], "rb");
    if (!file) {
        perror(argv[1]);
        return 1;
    }
    std::vector<uint8_t> input(design ? 2048 : 1 << 16), output(design ? 32768 : 1 << 16);
    uLong crc = 0;
    unsigned long long total = 0;
    for (;;) {
        uint8_t header[30];
        if (fread(header, 1, 30, file) != 30 || memcmp(header, "PK\x03\x04", 4) != 0)
            break;
        uint16_t flags = header[6] | header[7] << 8, method = header[8] | header[9] << 8;
        uint32_t size = header[18] | header[19] << 8 | header[20] << 16 | (uint32_t)header[21] << 24;
        uint16_t nameLength = header[26] | header[27] << 8, extra = header[28] | header[29] << 8;
        fseek(file, nameLength + extra, SEEK_CUR);
        uint32_t keys[3] = {0x12345678u, 0x23456789u, 0x34567890u};
        bool encrypted = (flags & 1) && argc > 2;
        if (encrypted) {
            for (const char *p = argv[2]; *p; p++)
                Advance(keys, (uint8_t)*p);
            uint8_t encryptionHeader[12];
            if (fread(encryptionHeader, 1, 12, file) != 12)
                return 1;
            Decrypt(keys, encryptionHeader, 12);
            size -= 12;
        }
        z_stream stream;
        memset(&stream, 0, sizeof stream);
        inflateInit2(&stream, -15);
        uint32_t left = size;
        int status = Z_OK;
        while (left > 0) {
            size_t want = left < input.size() ? left : input.size();
            size_t got = fread(input.data(), 1, want, file);
            if (got == 0)
                break;
            left -= (uint32_t)got;
            if (encrypted)
                Decrypt(keys, input.data(), got);
            if (method == 0) {
                total += got;
                if (design)
                    crc = crc32(crc, input.data(), (uInt)got);
                continue;
            }
            stream.next_in = input.data();
            stream.avail_in = (uInt)got;
            while (stream.avail_in > 0 && status == Z_OK) {
                stream.next_out = output.data();
                stream.avail_out = (uInt)output.size();
                status = inflate(&stream, Z_NO_FLUSH);
                size_t produced = output.size() - stream.avail_out;
                total += produced;
                for (size_t at = 0; design && at < produced; at += 2048)
                    crc = crc32(crc, output.data() + at,
                                (uInt)(produced - at < 2048 ? produced - at : 2048));
            }
        }
        inflateEnd(&stream);
        if (flags & 8)
            fseek(file, 16, SEEK_CUR);
    }
    fclose(file);
    printf("%llu\n", total);
    if (design)
        printf("crc %08lx\n", crc);
    return 0;
}
