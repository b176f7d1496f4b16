// The decompression stream: the byte source over member data or an embedded
// block, zlib's raw inflate into the 32768-byte window, the 2048-byte output
// buffer, and the flush that counts progress, sums the CRC-32, writes, and
// gives the user a chance to abort.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>
#include <zlib.h>

static z_stream inflater;
// The inflater that is open: none, zlib's call-back inflater, or inflate().
enum InflaterKind { NO_INFLATER, CALL_BACK_INFLATER, STREAM_INFLATER };
static InflaterKind inflaterOpen;
// Set when a read of member data failed while the call-back inflater ran;
// the read error comes once the inflater has handed over its window.
static BOOL heldReadError;

// While inflating into memory, output never goes past the caller's block;
// anything beyond it is dropped and remembered here.
static uint8_t *memoryTargetEnd;
BOOL memoryTargetOverflow;

void BuildCrcTable() {
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        session.crcTable[n] = c;
    }
}

void UpdateCrc(const uint8_t *bytes, uint32_t count) {
    // The same CRC as a byte-wise walk of crcTable, many times faster.
    session.runningCrc = CrcFold(session.runningCrc, bytes, count);
}

int NextByte() {
    if (session.inputAvail > 0) {
        session.inputAvail--;
        return *session.inputPtr++;
    }
    if (session.inflatingToMemory)
        return END_OF_INPUT; // the embedded block is the whole input
    if (RefillInput() == 0)
        return END_OF_INPUT; // the member's compressed data is used up
    return *session.inputPtr++;
}

void ReleaseInflater() {
    if (inflaterOpen == CALL_BACK_INFLATER)
        inflateBackEnd(&inflater);
    else if (inflaterOpen == STREAM_INFLATER)
        inflateEnd(&inflater);
    inflaterOpen = NO_INFLATER;
}

// The inflater's input: what is left at inputPtr, else the next block of
// member data. It asks only once it has used everything it had, so a block
// is loaded only when the decoder needs another byte, and it never gets
// bytes beyond the member's compressed data or the embedded block.
//
// The inflater may ask for input while its window is full and not yet
// handed over. A read that succeeds shows nothing, so its place before the
// window's writes is not seen; a read that fails must come after them, so
// its error is held and the inflater is stopped: as it leaves it hands over
// the full window, which goes out first.
static unsigned PullInput(void *, z_const unsigned char **buffer) {
    uint32_t count;
    if (session.inputAvail > 0) {
        count = (uint32_t)session.inputAvail;
    } else if (session.inflatingToMemory) {
        return 0; // the embedded block is used up
    } else {
        int loaded = LoadInputBlock(TRUE);
        if (loaded == READ_FAILED) {
            heldReadError = TRUE;
            return 0;
        }
        if (loaded == 0)
            return 0;             // the member's compressed data is used up
        count = (uint32_t)loaded; // the whole block, its first byte included
    }
    *buffer = (unsigned char *)session.inputPtr;
    session.inputPtr += count;
    session.inputAvail = 0;
    return count;
}

// The inflater's output: a full window goes out at once. A part of one
// comes only as the inflater leaves, whether the stream ended or not; it is
// held in windowPos, and flushed when the final block ended (or, for an
// embedded block, however it ended).
static int PushOutput(void *, unsigned char *, unsigned count) {
    if (count == WINDOW_SIZE)
        FlushWindow(WINDOW_SIZE);
    else
        session.windowPos = count;
    return 0;
}

// A spanned set: a refill may ask for the next disk, which must come after
// a full window has gone out, and the decoder must go on afterwards. So the
// window is handed over by inflate(), whose every call ends when the window
// is full, before more input is loaded.
static int InflateAcrossDisks() {
    ReleaseInflater();
    memset(&inflater, 0, sizeof inflater);
    if (inflateInit2(&inflater, -MAX_WBITS) != Z_OK)
        ErrorExit(notEnoughMemoryText);
    inflaterOpen = STREAM_INFLATER;
    session.windowPos = 0;
    int result = 1;
    for (;;) {
        // Input: more only once the inflater has used all it had, and never
        // beyond the member's compressed size.
        if (inflater.avail_in == 0) {
            if (session.inputAvail > 0) {
                inflater.next_in = (Bytef *)session.inputPtr;
                inflater.avail_in = (uInt)session.inputAvail;
            } else {
                int loaded = RefillInput();
                if (loaded == 0)
                    break; // member data used up before the final block ended
                inflater.next_in = (Bytef *)session.inputPtr;
                inflater.avail_in = (uInt)loaded;
            }
        }
        inflater.next_out = session.window + session.windowPos;
        inflater.avail_out = WINDOW_SIZE - session.windowPos;
        int status = inflate(&inflater, Z_NO_FLUSH);
        session.inputPtr = inflater.next_in;
        session.inputAvail = (int32_t)inflater.avail_in;
        session.windowPos = WINDOW_SIZE - inflater.avail_out;
        if (status == Z_STREAM_END) {
            FlushWindow(session.windowPos);
            result = 0;
            break;
        }
        if (session.windowPos == WINDOW_SIZE) {
            FlushWindow(WINDOW_SIZE);
            session.windowPos = 0;
        }
        if (status == Z_MEM_ERROR)
            ErrorExit(notEnoughMemoryText);
        if (status != Z_OK && !(status == Z_BUF_ERROR && inflater.avail_in == 0))
            break; // invalid data: what the window holds since its last flush is dropped
    }
    ReleaseInflater();
    return result;
}

int InflateStream() {
    if (session.spanned && !session.inflatingToMemory)
        return InflateAcrossDisks();
    // zlib's call-back inflater decodes straight into the window, which is
    // its own sliding window too: no copy of the output is kept elsewhere.
    ReleaseInflater();
    memset(&inflater, 0, sizeof inflater);
    if (inflateBackInit(&inflater, MAX_WBITS, session.window) != Z_OK)
        ErrorExit(notEnoughMemoryText);
    inflaterOpen = CALL_BACK_INFLATER;
    session.windowPos = 0;
    heldReadError = FALSE;
    inflater.next_in = Z_NULL; // input comes from PullInput from the start

    int status = inflateBack(&inflater, PullInput, NULL, PushOutput, NULL);
    // What the inflater did not consume of the last input it pulled.
    if (inflater.next_in != Z_NULL) {
        session.inputPtr = inflater.next_in;
        session.inputAvail = (int32_t)inflater.avail_in;
    }
    ReleaseInflater();
    if (heldReadError)
        ReportReadError(READ_ERROR_MEMBER_DATA); // the window as it stood is out
    if (status == Z_STREAM_END) {
        FlushWindow(session.windowPos);
        return 0;
    }
    if (status == Z_MEM_ERROR)
        ErrorExit(notEnoughMemoryText);
    // Invalid data, or input used up before the final block ended. A member
    // drops what the window holds since its last flush; an embedded block
    // keeps what was decoded before the damage, so that the texts before it
    // stay and those past it are left empty.
    if (session.inflatingToMemory)
        FlushWindow(session.windowPos);
    return 1;
}

void FlushWindow(uint32_t count) {
    const uint8_t *from = session.window;
    while (count > 0) {
        // A whole block with nothing held before it is counted, summed and
        // written straight from the window: the same bytes, writes and polls
        // as through the output buffer, without copying them there first.
        if (!session.inflatingToMemory && session.outputCount == 0 && count >= OUTPUT_BLOCK) {
            FlushBlock(from);
            from += OUTPUT_BLOCK;
            count -= OUTPUT_BLOCK;
            continue;
        }
        uint32_t piece = OUTPUT_BLOCK - (uint32_t)session.outputCount;
        if (piece > count)
            piece = count;
        if (session.inflatingToMemory) {
            uint32_t room = (uint32_t)(memoryTargetEnd - session.outputPtr);
            if (piece > room) {
                memoryTargetOverflow = TRUE;
                memcpy(session.outputPtr, from, room);
                session.outputPtr += room;
                return;
            }
        }
        memcpy(session.outputPtr, from, piece);
        session.outputPtr += piece;
        session.outputCount += (int32_t)piece;
        if (session.outputCount == OUTPUT_BLOCK)
            FlushOutput();
        from += piece;
        count -= piece;
    }
}

unsigned MeterPercent() {
    uint32_t total = sfxHeader.totalSize;
    if (total == 0)
        return 0; // no total recorded: the meter stays at 0
    return (unsigned)(((uint64_t)session.bytesDecoded * 100 / total) & 0xFFFF);
}

void FlushOutput() {
    if (session.inflatingToMemory) {
        // The caller's target receives the bytes one after another; nothing is
        // counted, summed or written, and the user is not polled.
        session.outputCount = 0;
        return;
    }
    FlushBlock(session.outputBuffer);
}

// The flush of a full block that lies at `block`: the output buffer, or a
// piece of the window.
void FlushBlock(const uint8_t *block) {
    session.outputCount = OUTPUT_BLOCK;
    session.bytesDecoded += (uint32_t)session.outputCount;
    if (session.bytesDecoded >= session.meterMark + 65536u) {
        session.meterMark = session.bytesDecoded;
        if (session.mainWindow) {
            if (session.meterVisible)
                SendDlgItemMessageA(session.mainWindow, CTL_METER, METER_SETPOS, MeterPercent(), 0);
            RefreshMeter(GetDlgItem(session.mainWindow, CTL_METER));
            UpdateWindow(session.mainWindow);
        }
    }
    UpdateCrc(block, (uint32_t)session.outputCount);
    CheckWrite(_lwrite(session.outputFile, (LPCSTR)block, (UINT)session.outputCount));
    session.outputPtr = session.outputBuffer;
    session.outputCount = 0;
}

void CheckWrite(UINT written) {
    if (written == (UINT)HFILE_ERROR || written != (UINT)session.outputCount)
        ReportWriteError();
    if (PollAbort())
        FatalExit(FATAL_ERROR);
}

void ReportWriteError() {
    wsprintfA(session.messageBuffer, MessageText(MSG_WRITE_ERROR), session.outputPath);
    ErrorExit(session.messageBuffer);
}

// A stored member: its bytes go from the input block to the output buffer a
// run at a time, which is what taking them one by one would give.
void CopyStoredMember() {
    for (;;) {
        if (session.inputAvail <= 0) {
            int loaded = RefillInput();
            if (loaded == 0)
                return;
            session.inputAvail = loaded; // the whole block, its first byte included
        }
        if (session.outputCount == 0 && session.inputAvail >= OUTPUT_BLOCK) {
            // A whole block goes out straight from the input block.
            FlushBlock(session.inputPtr);
            session.inputPtr += OUTPUT_BLOCK;
            session.inputAvail -= OUTPUT_BLOCK;
            continue;
        }
        uint32_t piece = OUTPUT_BLOCK - (uint32_t)session.outputCount;
        if (piece > (uint32_t)session.inputAvail)
            piece = (uint32_t)session.inputAvail;
        memcpy(session.outputPtr, session.inputPtr, piece);
        session.inputPtr += piece;
        session.inputAvail -= (int32_t)piece;
        session.outputPtr += piece;
        session.outputCount += (int32_t)piece;
        if (session.outputCount == OUTPUT_BLOCK)
            FlushOutput();
    }
}

void InflateToMemory(const uint8_t *block, uint32_t length, uint8_t *target, uint32_t targetSize) {
    session.inputPtr = block;
    session.inputAvail = (int32_t)length;
    session.inflatingToMemory = TRUE;
    session.outputPtr = target;
    session.outputCount = 0;
    memoryTargetEnd = target + targetSize;
    memoryTargetOverflow = FALSE;
    InflateStream();
    session.inflatingToMemory = FALSE;
    session.inputPtr = NULL;
    session.inputAvail = 0;
}
