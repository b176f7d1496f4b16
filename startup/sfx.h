// The package's own layout: the SfxHeader record inside the stub image, its
// option word, and the limits of the configuration trailer that follows the
// image. The package builder (tools/) fills the header in the package file;
// the stub only reads it.
#pragma once

#include <stdint.h>

// "QVD", 0x01, "sfx", 0x02: how the header is found in the file.
#define SFX_SIGNATURE_BYTES 'Q', 'V', 'D', 0x01, 's', 'f', 'x', 0x02
#define SFX_SIGNATURE_SIZE 8

#pragma pack(push, 1)
struct SfxHeader {
    uint8_t signature[SFX_SIGNATURE_SIZE];
    uint32_t stubCrc;         // CRC-32 of stub image and trailer, this field as 0; 0 = none
    uint32_t archiveOffset;   // first byte of the archive; end of the trailer
    uint32_t trailerOffset;   // start of the trailer; 0 = no trailer
    uint32_t endRecordOffset; // end-of-central-directory record in the package; 0 = no probe
    uint32_t totalSize;       // sum of the members' uncompressed sizes
    uint32_t options;         // SfxOptions
    uint8_t reserved1[10];
    uint16_t completeMarker; // 0 = incomplete package
    uint32_t reserved2;
};
#pragma pack(pop)

static_assert(sizeof(SfxHeader) == 48, "the header record is 48 bytes in the file");

// SfxOptions bits that the stub tests.
enum : uint32_t {
    OPT_OVERWRITE = 0x00000002,
    OPT_CUSTOM_TITLE = 0x00000010,
    OPT_ENCRYPTED = 0x00000100,
    OPT_AUTO = 0x00000200,
    OPT_CRC_SKIP_HEADERS = 0x00000800,
    OPT_SPANNED = 0x00001000,
    OPT_EXE_VOLUMES = 0x00008000,
    OPT_INSTALL_VERB = 0x00020000,
    OPT_TITLE_CAPTION = 0x00040000,
    OPT_STARTUP_QUERY = 0x00080000,
    OPT_STARTUP_OKCANCEL = 0x00100000,
};

// Limits of the trailer: five NUL-terminated strings, 1256 bytes in all.
enum {
    TRAILER_MAX_SIZE = 1256,
    TRAILER_FOLDER_MAX = 260,
    TRAILER_STARTUP_MESSAGE_MAX = 513,
    TRAILER_TITLE_MAX = 64,
    TRAILER_INFO_MAX = 511,
};

// The stub's own header. Defined in its own unit so that the compiler cannot
// fold its fields into constants: the builder changes them in the file.
extern "C" SfxHeader sfxHeader;
