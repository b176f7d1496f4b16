// The terminal user: a person answering the program's dialogs and boxes as
// text. Dialogs are drawn as lines of text with the accelerator letters of
// their controls in brackets; the person types a letter (or just Enter) and
// presses Enter. Time passes for the program's timers while it waits.
#include "window_internal.h"

#include <ctype.h>
#include <poll.h>
#include <stdio.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Lines from a file descriptor, with a timeout.
class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd) {}
    // 1 with a line, 0 on timeout, -1 at the end of input.
    int Read(std::string *line, int timeoutMs) {
        for (;;) {
            size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                *line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                if (!line->empty() && line->back() == '\r')
                    line->pop_back();
                return 1;
            }
            if (eof_) {
                if (buffer_.empty())
                    return -1;
                *line = buffer_;
                buffer_.clear();
                return 1;
            }
            pollfd p{fd_, POLLIN, 0};
            int ready = poll(&p, 1, timeoutMs);
            if (ready <= 0)
                return 0;
            char chunk[512];
            ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n <= 0)
                eof_ = true;
            else
                buffer_.append(chunk, static_cast<size_t>(n));
            timeoutMs = 0;
        }
    }

  private:
    int fd_;
    std::string buffer_;
    bool eof_ = false;
};

// The label of a control without its '&' marks, and its accelerator letter.
std::string Plain(const std::string &text, char *accelerator) {
    std::string out;
    if (accelerator != nullptr)
        *accelerator = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != '&' && accelerator != nullptr && *accelerator == 0)
                *accelerator = static_cast<char>(tolower(static_cast<unsigned char>(text[i])));
        }
        out += text[i];
    }
    return out;
}

// The label with its accelerator letter in brackets: "Run [M]orvik".
std::string Marked(const std::string &text) {
    std::string out;
    bool marked = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != '&' && !marked) {
                out += '[';
                out += text[i];
                out += ']';
                marked = true;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return std::string();
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

bool IsMeter(HWND control) {
    std::string cls = HostWindowClass(control);
    for (char &c : cls)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return cls == "meter";
}

class TerminalUser : public HostUser {
  public:
    TerminalUser(int in, FILE *out) : in_(in), out_(out), reader_(in) {}

    ~TerminalUser() override { Echo(true); }

    // The picker asks for the folder as a line; an empty line (or the end of
    // input) cancels it.
    bool OnBrowseForFolder(const HostBrowse &browse, std::string *folder) override {
        EndProgress();
        fprintf(out_, "\n--- %s ---\nType a folder and press Enter (an empty line cancels)\n> ",
                browse.title.c_str());
        fflush(out_);
        shownBox_ = 0;
        shownDialog_.clear();
        std::string line;
        int r = 0;
        while (!eof_ && (r = reader_.Read(&line, 200)) == 0) {
        }
        if (eof_ || r < 0) {
            eof_ = true;
            return false;
        }
        line = Trim(line);
        if (line.empty())
            return false;
        *folder = line;
        return true;
    }

    int OnMessageBox(const HostBox &box) override {
        HostRealTimeFollow(&lastTick_);
        if (shownBox_ != box.serial) {
            EndProgress();
            shownBox_ = box.serial;
            fprintf(out_, "\n--- %s ---\n%s\n", box.caption.c_str(), box.text.c_str());
            std::string choices;
            for (int b : box.buttons) {
                std::string name = HostButtonName(b);
                choices += "[" + name.substr(0, 1) + "]" + name.substr(1);
                if (b == box.defaultButton)
                    choices += " (Enter)";
                choices += "  ";
            }
            fprintf(out_, "%s\n> ", choices.c_str());
            fflush(out_);
        }
        shownDialog_.clear();
        std::string line;
        int r = eof_ ? -1 : reader_.Read(&line, 200);
        if (r == 0)
            return 0; // time passes; timer ticks get through
        if (r < 0) {
            eof_ = true;
            fprintf(out_, "(end of input)\n");
            return HostBoxNegativeButton(box.type);
        }
        line = Trim(line);
        if (line.empty())
            return box.defaultButton;
        if (line[0] == 0x1B || line == "esc") {
            for (int b : box.buttons)
                if (b == IDCANCEL)
                    return IDCANCEL;
            if (box.buttons.size() == 1)
                return box.buttons[0];
        } else {
            char c = static_cast<char>(tolower(static_cast<unsigned char>(line[0])));
            for (int b : box.buttons)
                if (tolower(static_cast<unsigned char>(HostButtonName(b)[0])) == c)
                    return b;
        }
        fprintf(out_, "Please type one of the letters in brackets, or just Enter.\n> ");
        fflush(out_);
        return 0;
    }

    bool OnDialogIdle(HWND dialog) override {
        HostRealTimeFollow(&lastTick_);
        EndProgress();
        if (eof_)
            return GiveUp(dialog);
        std::string fp = HostDialogFingerprint(dialog);
        if (fp != shownDialog_ || dialog != shownHandle_) {
            if (pendingEdit_ == 0) {
                Render(dialog);
                AskPasswordAtOnce(dialog);
            }
            shownDialog_ = fp;
            shownHandle_ = dialog;
        }
        std::string line;
        int r = reader_.Read(&line, 200);
        if (r == 0)
            return true; // time passes
        if (r < 0) {
            eof_ = true;
            Echo(true);
            fprintf(out_, "(end of input: closing)\n");
            return GiveUp(dialog);
        }
        if (pendingEdit_ != 0) {
            int id = pendingEdit_;
            pendingEdit_ = 0;
            Echo(true);
            if (passwordPending_)
                fprintf(out_, "\n");
            passwordPending_ = false;
            std::string why;
            if (!line.empty() && line[0] == 0x1B)
                line.clear(); // Esc: leave the field as it is
            if (!line.empty() && !HostUiType(dialog, id, line, &why))
                fprintf(out_, "%s\n", why.c_str());
            shownDialog_.clear();
            return true;
        }
        Handle(dialog, Trim(line));
        shownDialog_.clear(); // show the outcome, also when nothing changed
        return true;
    }

    void OnPoll(unsigned long poll) override {
        (void)poll;
        HostRealTimeFollow(&lastTick_);
        HWND dialog = HostActiveDialog();
        if (dialog == nullptr)
            return;
        if (!progress_) {
            progress_ = true;
            shownDialog_.clear();
            fprintf(out_, "\nWorking... (press Enter to stop)\n");
        }
        std::string text = ProgressText(dialog);
        if (text != lastProgress_ && lastTick_ >= progressAt_ + 100) {
            progressAt_ = lastTick_;
            lastProgress_ = text;
            fprintf(out_, "\r%-78.78s", text.c_str());
            fflush(out_);
        }
        std::string line;
        if (!eof_ && reader_.Read(&line, 0) == 1)
            HostPostKey(dialog, VK_RETURN, 0x001C0001); // asks to stop
    }

    void OnDialogEnded(HWND dialog, INT_PTR result) override {
        (void)dialog;
        (void)result;
        EndProgress();
        shownDialog_.clear();
    }

  private:
    bool GiveUp(HWND dialog) {
        if (giveUpStage_++ % 2 == 0) {
            HostUiEscape(dialog);
            return true;
        }
        return false;
    }

    void Echo(bool on) {
        if (!isatty(in_))
            return;
        termios t;
        if (tcgetattr(in_, &t) != 0)
            return;
        if (on)
            t.c_lflag |= ECHO;
        else
            t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(in_, TCSANOW, &t);
    }

    void EndProgress() {
        if (progress_) {
            fprintf(out_, "\n");
            fflush(out_);
        }
        progress_ = false;
        lastProgress_.clear();
    }

    static std::string Bar(HWND meter) {
        unsigned range = GetWindowWord(meter, 0), position = GetWindowWord(meter, 2);
        if (range == 0)
            position = 0, range = 1;
        const unsigned width = 30;
        unsigned filled = position >= range ? width : position * width / range;
        std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
        return bar + HostLastPaintedText(meter);
    }

    // The meter when it shows, else the status line (the lowest static).
    static std::string ProgressText(HWND dialog) {
        HWND status = nullptr;
        RECT best{0, 0, 0, 0};
        for (HWND c : HostChildren(dialog)) {
            if (!IsWindowVisible(c))
                continue;
            if (IsMeter(c))
                return Bar(c);
            RECT r;
            if (HostWindowClass(c) == "STATIC" && GetWindowRect(c, &r) &&
                (status == nullptr || r.top >= best.top)) {
                status = c;
                best = r;
            }
        }
        return status ? HostWindowText(status) : std::string();
    }

    void Render(HWND dialog) {
        std::string caption = HostWindowText(dialog);
        fprintf(out_, "\n== %s ==\n", caption.empty() ? "(untitled)" : caption.c_str());
        std::vector<HWND> controls = HostChildren(dialog);
        std::string buttons, keys;
        int defId = HostDialogDefaultId(dialog);
        for (size_t i = 0; i < controls.size(); ++i) {
            HWND c = controls[i];
            if (!IsWindowVisible(c))
                continue;
            std::string cls = HostWindowClass(c);
            DWORD style = HostWindowStyle(c);
            std::string text = HostWindowText(c);
            bool enabled = IsWindowEnabled(c) != FALSE;
            char accel = 0;
            std::string plain = Plain(text, &accel);
            if (IsMeter(c)) {
                fprintf(out_, "%s\n", Bar(c).c_str());
            } else if (cls == "STATIC") {
                HWND edit = EditAfter(controls, i);
                if (edit != nullptr && !(style & SS_NOPREFIX)) {
                    bool secret = (HostWindowStyle(edit) & ES_PASSWORD) != 0;
                    std::string value = HostWindowText(edit);
                    if (secret)
                        value = std::string(value.size(), '*');
                    fprintf(out_, "%s%s%s\n", Trim(Marked(text)).c_str(),
                            text.find('\n') != std::string::npos ? "\n  " : " ", value.c_str());
                    if (accel)
                        keys += std::string(keys.empty() ? "" : ", ") + accel + " = edit \"" +
                                Trim(LastLine(plain)) + "\"";
                } else if (!text.empty()) {
                    fprintf(out_, "%s\n", (style & SS_NOPREFIX) ? text.c_str() : plain.c_str());
                }
            } else if (cls == "EDIT") {
                bool labelled = i > 0 && HostWindowClass(controls[i - 1]) == "STATIC" &&
                                IsWindowVisible(controls[i - 1]);
                if (!labelled)
                    fprintf(out_, "[%s]\n", text.c_str());
            } else if (cls == "BUTTON" && HostIsCheckBox(c)) {
                fprintf(out_, "(%c) %s%s\n", HostCheckState(c) ? 'x' : ' ', Marked(text).c_str(),
                        enabled ? "" : " (not available)");
                if (accel && enabled)
                    keys += std::string(keys.empty() ? "" : ", ") + accel + " = tick/untick \"" +
                            Trim(plain) + "\"";
            } else if (cls == "BUTTON") {
                std::string label = Marked(text);
                if (HostControlId(c) == defId)
                    label += " (Enter)";
                if (HostControlId(c) == IDCANCEL)
                    label += " (Esc)";
                if (!enabled)
                    label = "(" + Plain(text, nullptr) + ": not available)";
                buttons += "  <" + label + ">";
            }
        }
        if (!buttons.empty())
            fprintf(out_, "%s\n", buttons.c_str());
        fprintf(out_, "Type the letter in brackets and press Enter%s%s%s.\n> ",
                keys.empty() ? "" : "; ", keys.c_str(),
                OnlyPlainField(dialog) ? " (or just type the new text)" : "");
        fflush(out_);
    }

    // A dialog whose one field is an empty password field asks for it at
    // once, the way password prompts do (once per dialog).
    void AskPasswordAtOnce(HWND dialog) {
        std::vector<HWND> controls = HostChildren(dialog);
        HWND field = nullptr;
        size_t at = 0;
        for (size_t i = 0; i < controls.size(); ++i) {
            if (HostWindowClass(controls[i]) != "EDIT" || !IsWindowVisible(controls[i]))
                continue;
            if (field != nullptr)
                return;
            field = controls[i];
            at = i;
        }
        if (field == nullptr || !(HostWindowStyle(field) & ES_PASSWORD) ||
            !HostWindowText(field).empty() || !IsWindowEnabled(field) || asked_ == dialog)
            return;
        asked_ = dialog;
        std::string label = "Password";
        if (at > 0 && HostWindowClass(controls[at - 1]) == "STATIC")
            label = Trim(LastLine(Plain(HostWindowText(controls[at - 1]), nullptr)));
        pendingEdit_ = HostControlId(field);
        passwordPending_ = true;
        fprintf(out_, "\n%s (not shown while you type): ", label.c_str());
        fflush(out_);
        Echo(false);
    }

    // The dialog's one visible, enabled, plain (not password) edit field.
    static HWND OnlyPlainField(HWND dialog) {
        HWND field = nullptr;
        for (HWND c : HostChildren(dialog)) {
            if (HostWindowClass(c) != "EDIT" || !IsWindowVisible(c))
                continue;
            if (field != nullptr)
                return nullptr;
            field = c;
        }
        if (field == nullptr || !IsWindowEnabled(field) || (HostWindowStyle(field) & ES_PASSWORD))
            return nullptr;
        return field;
    }

    static std::string LastLine(const std::string &text) {
        size_t nl = text.rfind('\n');
        std::string last = nl == std::string::npos ? text : text.substr(nl + 1);
        while (!last.empty() && (last.back() == ':' || last.back() == ' '))
            last.pop_back();
        return last;
    }

    static HWND EditAfter(const std::vector<HWND> &controls, size_t i) {
        if (i + 1 < controls.size() && HostWindowClass(controls[i + 1]) == "EDIT" &&
            IsWindowVisible(controls[i + 1]))
            return controls[i + 1];
        return nullptr;
    }

    void Handle(HWND dialog, const std::string &line) {
        if (line.empty()) {
            HostUiEnter(dialog);
            return;
        }
        if (line[0] == 0x1B || line == "esc") {
            HostUiEscape(dialog);
            return;
        }
        std::vector<HWND> controls = HostChildren(dialog);
        for (size_t i = 0; i < controls.size(); ++i) {
            HWND c = controls[i];
            char accel = 0;
            std::string plain = Plain(HostWindowText(c), &accel);
            bool hit = line.size() == 1
                           ? accel != 0 && accel == tolower(static_cast<unsigned char>(line[0]))
                           : strcasecmp(Trim(plain).c_str(), line.c_str()) == 0;
            if (!hit || !IsWindowVisible(c))
                continue;
            std::string cls = HostWindowClass(c);
            std::string why;
            if (cls == "STATIC") {
                HWND edit = EditAfter(controls, i);
                if (edit == nullptr)
                    continue;
                if (!IsWindowEnabled(edit)) {
                    fprintf(out_, "That field cannot be changed now.\n");
                    fflush(out_);
                    return;
                }
                pendingEdit_ = HostControlId(edit);
                passwordPending_ = (HostWindowStyle(edit) & ES_PASSWORD) != 0;
                fprintf(out_, "%s (Enter alone keeps %s): ", Trim(LastLine(plain)).c_str(),
                        passwordPending_ ? "it" : ("\"" + HostWindowText(edit) + "\"").c_str());
                fflush(out_);
                if (passwordPending_)
                    Echo(false);
                return;
            }
            if (cls != "BUTTON")
                continue;
            bool ok = HostIsCheckBox(c)
                          ? HostUiSetCheck(dialog, HostControlId(c), HostCheckState(c) == 0, &why)
                          : HostUiPress(dialog, HostControlId(c), &why);
            if (!ok) {
                fprintf(out_, "%s is not available now.\n", Trim(plain).c_str());
                fflush(out_);
            }
            return;
        }
        HWND field = line.size() > 1 ? OnlyPlainField(dialog) : nullptr;
        if (field != nullptr) {
            std::string why;
            HostUiType(dialog, HostControlId(field), line, &why);
            fprintf(out_, "(typed into the field)\n");
            return;
        }
        fprintf(out_, "Unknown choice \"%s\": type one of the letters in brackets.\n",
                line.c_str());
        fflush(out_);
    }

    int in_;
    FILE *out_;
    LineReader reader_;
    uint64_t lastTick_ = 0;
    bool eof_ = false;
    int giveUpStage_ = 0;
    int shownBox_ = 0;
    std::string shownDialog_;
    HWND shownHandle_ = nullptr;
    HWND asked_ = nullptr;
    int pendingEdit_ = 0;
    bool passwordPending_ = false;
    bool progress_ = false;
    std::string lastProgress_;
    uint64_t progressAt_ = 0;
};

} // namespace

std::unique_ptr<HostUser> HostMakeTerminalUser(int in, FILE *out) {
    return std::make_unique<TerminalUser>(in, out);
}
