// The message table: the 51 texts and the main dialog's template, carried in
// the stub as one raw DEFLATE stream and inflated once at start-up into a
// block that lives until the program ends.
#include "extract/extract.h"
#include "startup/message_data.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

uint8_t *messageTable;

// The stream to inflate; tests point it at a damaged copy.
const uint8_t *messageTableSource = CompressedMessageTable;
uint32_t messageTableSourceSize = CompressedMessageTableSize;

void InflateMessageTable() {
    uint8_t *work = (uint8_t *)LocalAlloc(LMEM_ZEROINIT, MESSAGE_TABLE_BLOCK);
    if (!work)
        HeaderCorruptExit();
    // Guard bytes: output that reaches them means the table is not ours.
    work[MESSAGE_GUARD_OFFSET] = 0xDE;
    work[MESSAGE_GUARD_OFFSET + 1] = 0xAD;
    InflateToMemory(messageTableSource, messageTableSourceSize, work, MESSAGE_TABLE_BLOCK);
    if (memoryTargetOverflow || work[MESSAGE_GUARD_OFFSET] != 0xDE ||
        work[MESSAGE_GUARD_OFFSET + 1] != 0xAD) {
        LocalFree(work);
        HeaderCorruptExit();
    }
    // The texts are stored in the OEM character set; the template behind them
    // is left as it is.
    OemToCharBuffA((LPCSTR)work, (LPSTR)work, MessageOffsets[MSG_MAIN_DIALOG]);

    messageTable = (uint8_t *)AllocGlobalBlock(MESSAGE_TABLE_BLOCK);
    if (!messageTable) {
        LocalFree(work);
        HeaderCorruptExit();
    }
    memcpy(messageTable, work, MESSAGE_TABLE_BLOCK);
    LocalFree(work);
}

char *MessageText(int id) {
    return (char *)messageTable + MessageOffsets[id];
}
