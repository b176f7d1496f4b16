// The extraction engine: walking the archive, writing members, spanned disks,
// traditional decryption and the decompression stream. Everything works on
// the global ExtractSession; failures leave through FatalExit and never
// return to the caller.
#pragma once

#include "extract/session.h"

// ---- decompression stream and CRC-32 ----------------------------------------
enum { END_OF_INPUT = -1 };
void BuildCrcTable();
void UpdateCrc(const uint8_t *bytes, uint32_t count);
// The raw CRC-32 register (no preset, no complement) carried over `count`
// bytes; carry-less multiplication where the processor has it.
uint32_t CrcFold(uint32_t crc, const uint8_t *bytes, uint32_t count);
int NextByte();
int InflateStream();
// Inflates an embedded raw DEFLATE block into target, never writing past
// targetSize bytes; output that would go further sets memoryTargetOverflow.
void InflateToMemory(const uint8_t *block, uint32_t length, uint8_t *target, uint32_t targetSize);
extern BOOL memoryTargetOverflow;
void FlushWindow(uint32_t count);
void FlushOutput();
// Counts, sums, writes and polls one whole block that lies at `block`: the
// output buffer, or a piece of the window or the input block.
void FlushBlock(const uint8_t *block);
void CheckWrite(UINT written);
// Ends the extraction with the write-error message naming outputPath.
void ReportWriteError();
unsigned MeterPercent();
void CopyStoredMember();
// Ends an inflater that a FatalExit left behind; harmless when none is open.
void ReleaseInflater();

// ---- disk spanning -----------------------------------------------------------
enum : uint16_t { NO_VOLUME_NUMBER = 0xFFFF };
uint16_t ReadVolumeNumber(const char *drive);
void RequestDisk(uint16_t wantedDisk, BOOL exeNames);
int RefillInput();
// Reads `count` bytes of member data past the input block (an AES member's salt
// and verifier, and its authentication code); in a spanned set the read goes on
// at the start of the next volume file when this one ends among them.
void ReadMemberBytes(uint8_t *bytes, UINT count, int readErrorCode);
// RefillInput, except that outside a spanned set a read that fails is not
// reported when `holdReadError` is set: READ_FAILED comes back instead, and
// nothing is loaded.
enum { READ_FAILED = -1 };
int LoadInputBlock(BOOL holdReadError);

// ---- traditional decryption --------------------------------------------------
void InitKeys(const char *password);
void UpdateKeys(uint8_t plain);
uint8_t DecryptByte();
BOOL CheckEncryptionHeader(const uint8_t *encryptionHeader);
void DecryptBlock(uint8_t *block, uint32_t count);
BOOL VerifyPassword();

// ---- AES members (WinZip AE-1 and AE-2) -------------------------------------
// Reads the salt and verifier in front of an AES member's data and checks the
// password; on success the member's cipher and authentication keys are ready.
// Ends the run with a message when the system offers no AES.
BOOL VerifyAesPassword();
// Decrypts a block of member data in place, adding it to the authentication code.
void AesDecryptBlock(uint8_t *block, uint32_t count);
// Reads the rest of the member's data and its authentication code, and ends
// the run with a message naming the member when they do not match.
void FinishAesMember();
void EndAesMember(); // releases the member's keys, if any
void ReleaseAes();   // releases the system's AES, at the end of the program

// ---- member output -------------------------------------------------------------
BOOL IsUnsafeMemberName(const char *name, BOOL folderMember);
void BuildOutputPath();
void MakeFolders();
BOOL ConfirmOverwrite(); // TRUE: write, FALSE: skip
void ExtractMember();
BOOL IsValidDrive(const char *root);

// ---- archive walker --------------------------------------------------------------
int RunExtraction();
void WalkArchive();
void HandleLocalHeader();
void SkipCentralEntry();
void ReadEndRecord();
void ReadMemberName(uint16_t length);
BOOL ConvertMemberName();
