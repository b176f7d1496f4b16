// The stub's own header record, in initialized data so that it is part of
// the stub image in the file. The package builder finds it by its signature
// and fills in the fields; the stub only reads them.
#include "startup/sfx.h"

extern "C" {
#if defined(__GNUC__)
__attribute__((used))
#endif
SfxHeader sfxHeader = {
    {SFX_SIGNATURE_BYTES}, 0, 0, 0, 0, 0, 0, {0}, 0, 0,
};
}
