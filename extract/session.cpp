#include "extract/session.h"

#include <string.h>

ExtractSession session;
char unzipFolder[FOLDER_BUFFER_SIZE];
BOOL overwriteWithoutPrompt;

static struct SessionStart {
    SessionStart() { ResetExtractSession(); }
} sessionStart;

void ResetExtractSession() {
    memset(&session, 0, sizeof session);
    session.currentDisk = 1;
    memset(unzipFolder, 0, sizeof unzipFolder);
    overwriteWithoutPrompt = FALSE;
}

void *AllocGlobalBlock(size_t size) {
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!handle)
        return NULL;
    void *block = GlobalLock(handle);
    if (!block)
        GlobalFree(handle);
    return block;
}

void FreeGlobalBlock(void *block) {
    if (!block)
        return;
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    GlobalFree(handle);
}
