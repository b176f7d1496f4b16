// The message table: the 51 texts and the main dialog's template, carried in
// the stub as one raw DEFLATE stream and inflated once at start-up into a
// block that lives until the program ends.
#include "extract/extract.h"
#include "startup/message_data.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

uint8_t *messageTable;
uint32_t messageOffsets[MSG_MAIN_DIALOG + 1];

// The stream to inflate; tests point it at a damaged copy.
const uint8_t *messageTableSource = CompressedMessageTable;
uint32_t messageTableSourceSize = CompressedMessageTableSize;

// Where the process code page is UTF-8, the texts are read in the system's
// own OEM code page and put into UTF-8. A text may grow, so the table is
// laid out anew: each text at its new offset, then the template and the
// zero-filled tail behind it, moved along unchanged. Returns the new table.
static uint8_t *TextsToUtf8(const uint8_t *work) {
    const uint32_t textLength = MessageOffsets[MSG_MAIN_DIALOG];
    const UINT oem = LegacyOemCodePage();
    char text[TRAILER_MAX_SIZE + 1];
    uint32_t length = 0;
    for (int id = 0; id < MSG_MAIN_DIALOG; id++) {
        int span = (int)(MessageOffsets[id + 1] - MessageOffsets[id]);
        length += (uint32_t)RecodeText(oem, CP_UTF8, (const char *)work + MessageOffsets[id],
                                       span - 1, text, sizeof text, NULL) +
                  1;
    }
    uint32_t size = length + (MESSAGE_TABLE_BLOCK - textLength);
    uint8_t *table = (uint8_t *)AllocGlobalBlock(size);
    if (!table)
        return NULL;
    uint32_t at = 0;
    for (int id = 0; id < MSG_MAIN_DIALOG; id++) {
        int span = (int)(MessageOffsets[id + 1] - MessageOffsets[id]);
        int converted = RecodeText(oem, CP_UTF8, (const char *)work + MessageOffsets[id], span - 1,
                                   text, sizeof text, NULL);
        messageOffsets[id] = at;
        memcpy(table + at, text, (size_t)converted + 1);
        at += (uint32_t)converted + 1;
    }
    messageOffsets[MSG_MAIN_DIALOG] = at;
    memcpy(table + at, work + textLength, MESSAGE_TABLE_BLOCK - textLength);
    return table;
}

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
    memcpy(messageOffsets, MessageOffsets, sizeof messageOffsets);
    if (Utf8CodePage()) {
        messageTable = TextsToUtf8(work);
    } else {
        // The texts are stored in the OEM character set; the template behind
        // them is left as it is.
        OemToCharBuffA((LPCSTR)work, (LPSTR)work, MessageOffsets[MSG_MAIN_DIALOG]);
        messageTable = (uint8_t *)AllocGlobalBlock(MESSAGE_TABLE_BLOCK);
        if (messageTable)
            memcpy(messageTable, work, MESSAGE_TABLE_BLOCK);
    }
    LocalFree(work);
    if (!messageTable)
        HeaderCorruptExit();
}

char *MessageText(int id) {
    return (char *)messageTable + messageOffsets[id];
}
