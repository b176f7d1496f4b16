// The password dialog, shown before an extraction while the archive is
// known or suspected to be encrypted. Its template is inflated afresh from
// its own compressed block each time.
#include "extract/extract.h"
#include "startup/message_data.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum { PASSWORD_BUFFER = 256, PASSWORD_LIMIT = 255 };

BOOL RunPasswordDialog(HWND owner) {
    if (!session.encrypted)
        return TRUE;
    uint8_t *block = (uint8_t *)LocalAlloc(LMEM_ZEROINIT, PASSWORD_DIALOG_BLOCK);
    if (!block)
        ErrorExit(noMemoryForResourcesText);
    InflateToMemory(CompressedPasswordDialog, CompressedPasswordDialogSize, block,
                    PASSWORD_DIALOG_BLOCK);

    BOOL result = FALSE;
    void *dialogTemplate = AllocGlobalBlock(PASSWORD_DIALOG_BLOCK);
    if (dialogTemplate) {
        memcpy(dialogTemplate, block, PASSWORD_DIALOG_BLOCK);
        INT_PTR answer = DialogBoxIndirectParamA(instance, (LPCDLGTEMPLATEA)dialogTemplate, owner,
                                                 PasswordDialogProc, 0);
        FreeGlobalBlock(dialogTemplate);
        result = (BYTE)answer != 0; // a dialog that could not be made counts as go on
    }
    session.outputPtr = NULL;
    LocalFree(block);
    return result;
}

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CentreWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            char text[PASSWORD_BUFFER];
            UINT length = GetDlgItemTextA(dialog, CTL_PASSWORD, text, PASSWORD_LIMIT);
            if (length == 0)
                return FALSE; // an empty field does nothing
            FreeGlobalBlock(session.password);
            session.password = (char *)AllocGlobalBlock(length + 1);
            if (session.password) {
                memcpy(session.password, text, length);
                EndDialog(dialog, 1);
            }
            return FALSE;
        }
        case IDCANCEL:
            EndDialog(dialog, 0);
            return FALSE;
        }
        return FALSE;
    }
    return FALSE;
}
