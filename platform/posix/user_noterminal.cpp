// The user of a run without a terminal and without a script: reports every
// box on stderr, takes the default answers, cancels a password dialog (no
// password can be typed), and always lets the program end.
#include "window_internal.h"

#include <stdio.h>

#include <map>

namespace {

class NoTerminalUser : public HostUser {
  public:
    // Nobody is there to choose a folder: the picker is cancelled.
    bool OnBrowseForFolder(const HostBrowse &browse, std::string *) override {
        fprintf(stderr, "folder picker: %s\n  -> cancelled\n", browse.title.c_str());
        return false;
    }

    int OnMessageBox(const HostBox &box) override {
        HostRealTimeFollow(&lastTick_);
        fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
        bool repeated = haveLast_ && box.text == lastText_ && box.caption == lastCaption_ &&
                        box.type == lastType_;
        int answer = repeated ? HostBoxNegativeButton(box.type) : box.defaultButton;
        fprintf(stderr, "  -> %s%s\n", HostButtonName(answer),
                repeated ? " (the same box came back)" : "");
        haveLast_ = true;
        lastText_ = box.text;
        lastCaption_ = box.caption;
        lastType_ = box.type;
        return answer;
    }

    bool OnDialogIdle(HWND dialog) override {
        HostRealTimeFollow(&lastTick_);
        haveLast_ = false;
        if (AsksForPassword(dialog)) {
            // Nobody can type it: say so once and cancel the dialog.
            fprintf(stderr,
                    "%s: no password can be given: standard input is not a terminal; "
                    "pressing Escape\n",
                    HostWindowText(dialog).c_str());
            HostUiEscape(dialog);
            return true;
        }
        DialogState &state = dialogs_[dialog];
        std::string now = HostDialogFingerprint(dialog);
        if (state.actions == 0 || now != state.fingerprint)
            state.stage = 0;
        else
            state.stage++;
        state.fingerprint = now;
        // Something that keeps changing must not keep the dialog open either.
        if (++state.actions > 100)
            state.stage = 2;
        else if (state.actions > 50 && state.stage < 1)
            state.stage = 1;
        std::string caption = HostWindowText(dialog);
        switch (state.stage) {
        case 0: {
            int id = HostDialogDefaultId(dialog);
            HWND button = id ? GetDlgItem(dialog, id) : nullptr;
            std::string name = button ? HostWindowText(button) : "OK";
            std::string plain;
            for (char c : name)
                if (c != '&')
                    plain += c;
            fprintf(stderr, "%s: pressing %s\n", caption.c_str(), plain.c_str());
            HostUiEnter(dialog);
            return true;
        }
        case 1:
            fprintf(stderr, "%s: nothing changed, pressing Escape\n", caption.c_str());
            HostUiEscape(dialog);
            return true;
        default:
            fprintf(stderr, "%s: nothing changed, closing\n", caption.c_str());
            return false;
        }
    }

    void OnPoll(unsigned long poll) override {
        (void)poll;
        HostRealTimeFollow(&lastTick_);
    }

  private:
    // The dialog has an empty password field to fill in.
    static bool AsksForPassword(HWND dialog) {
        for (HWND c : HostChildren(dialog))
            if (HostWindowClass(c) == "EDIT" && IsWindowVisible(c) && IsWindowEnabled(c) &&
                (HostWindowStyle(c) & ES_PASSWORD) && HostWindowText(c).empty())
                return true;
        return false;
    }

    struct DialogState {
        std::string fingerprint;
        int stage = 0;
        int actions = 0;
    };
    std::map<HWND, DialogState> dialogs_;
    bool haveLast_ = false;
    std::string lastText_, lastCaption_;
    UINT lastType_ = 0;
    uint64_t lastTick_ = 0;
};

} // namespace

std::unique_ptr<HostUser> HostMakeNoTerminalUser() {
    return std::make_unique<NoTerminalUser>();
}
