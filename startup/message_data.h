// The stub's compressed message table and password dialog template.
//
// The data is produced at build time by tools/gen_messages.py from
// data/messages.txt, data/main_dialog.dlg and data/password_dialog.dlg, into
// gen/message_data.cpp of the build tree.
//
// CompressedMessageTable is one raw DEFLATE stream (no zlib or gzip wrapper).
// Inflated, it holds the 51 message texts (ids 0 to 50) in id order, each
// followed by one NUL, then the MainDialog template (an in-memory Win32
// DLGTEMPLATE) followed by 8 zero bytes: InflatedMessageTableSize bytes in
// all. MessageOffsets[i] is the offset of message i in the inflated table;
// MessageOffsets[51] is the offset of the MainDialog template, which is also
// the length of the text part.
//
// CompressedPasswordDialog is a second raw DEFLATE stream, of the
// PasswordDialog template followed by 8 zero bytes
// (InflatedPasswordDialogSize bytes).
//
// The generator guarantees: the text part plus the template and its 8 zero
// bytes fit in 5566 bytes, the text part plus 1024 bytes fits in 5568 bytes,
// the inflated password template is at most 600 bytes, and none of these
// arrays holds a four-byte ZIP signature.
#pragma once

#include <stdint.h>

extern "C" const uint32_t MessageOffsets[52];

extern "C" const uint8_t CompressedMessageTable[];
extern "C" const uint32_t CompressedMessageTableSize;
extern "C" const uint32_t InflatedMessageTableSize;

extern "C" const uint8_t CompressedPasswordDialog[];
extern "C" const uint32_t CompressedPasswordDialogSize;
extern "C" const uint32_t InflatedPasswordDialogSize;
