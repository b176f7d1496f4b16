// The terminal user: a person answering the program's dialogs and boxes as
// text. Dialogs are drawn as lines of text with the accelerator letters of
// their controls in brackets, wrapped at blanks to the terminal's width, with
// paths as the host writes them. On a terminal a letter, Enter or Escape acts
// as it is pressed (raw mode); text for a field is typed as a line. Time
// passes for the program's timers while it waits.
#include "window_internal.h"

#include <ctype.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal's settings as the program found them, put back when it ends
// however it ends: normally, at exit, or by a signal.
struct SavedTerminal {
    int fd = -1;
    termios settings{};
};
SavedTerminal savedTerminal;

void RestoreTerminal() {
    if (savedTerminal.fd >= 0)
        tcsetattr(savedTerminal.fd, TCSANOW, &savedTerminal.settings);
}

void RestoreAndRaise(int signal) {
    RestoreTerminal();
    ::signal(signal, SIG_DFL);
    raise(signal);
}

// False when the settings cannot be read: the input is then read line by
// line.
bool SaveTerminal(int fd) {
    if (savedTerminal.fd >= 0)
        return savedTerminal.fd == fd;
    if (tcgetattr(fd, &savedTerminal.settings) != 0)
        return false;
    savedTerminal.fd = fd;
    atexit(RestoreTerminal);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        signal(s, RestoreAndRaise);
    return true;
}

// What the person typed: "" for Enter, "\x1b" for Escape, a letter, or (when
// the input is not a terminal) the whole line.
class Input {
  public:
    explicit Input(int fd) : fd_(fd), terminal_(isatty(fd) != 0 && SaveTerminal(fd)) {
        if (terminal_)
            KeyMode();
    }
    ~Input() {
        if (terminal_)
            RestoreTerminal();
    }

    bool Raw() const { return terminal_; }

    // 1 with a key (or a line), 0 on timeout, -1 at the end of input.
    int ReadKey(std::string *key, int timeoutMs) {
        if (!terminal_)
            return ReadLine(key, timeoutMs);
        for (;;) {
            int r = Fill(timeoutMs);
            if (r <= 0)
                return r;
            unsigned char c = static_cast<unsigned char>(buffer_[0]);
            buffer_.erase(0, 1);
            timeoutMs = 0;
            if (c == '\r' || c == '\n') {
                key->clear();
                return 1;
            }
            if (c == 0x04) { // Ctrl+D
                eof_ = true;
                return -1;
            }
            if (c == 0x1B) {
                // Escape alone, or the start of a function key's sequence,
                // which is read whole and ignored.
                if (Fill(30) <= 0 || (buffer_[0] != '[' && buffer_[0] != 'O')) {
                    *key = "\x1b";
                    return 1;
                }
                buffer_.erase(0, 1);
                while (Fill(30) > 0) {
                    unsigned char f = static_cast<unsigned char>(buffer_[0]);
                    buffer_.erase(0, 1);
                    if (f >= 0x40 && f <= 0x7E)
                        break;
                }
                continue;
            }
            if (c < 0x20 || c == 0x7F)
                continue; // other control keys do nothing
            *key = std::string(1, static_cast<char>(c));
            return 1;
        }
    }

    // A line of text, typed with the terminal in line mode (echoed unless
    // secret). 1 with a line, 0 on timeout, -1 at the end of input.
    int ReadLine(std::string *line, int timeoutMs) {
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
            if (Fill(timeoutMs, true) <= 0 && !eof_)
                return 0;
            timeoutMs = 0;
        }
    }

    // Line mode for typing a field's text; key mode again afterwards.
    void LineMode(bool echo) { Set(true, echo); }
    void KeyMode() { Set(false, false); }

  private:
    void Set(bool canonical, bool echo) {
        if (!terminal_)
            return;
        termios t = savedTerminal.settings;
        if (canonical)
            t.c_lflag |= ICANON;
        else
            t.c_lflag &= ~static_cast<tcflag_t>(ICANON);
        if (echo)
            t.c_lflag |= ECHO;
        else
            t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd_, TCSANOW, &t);
    }

    // Makes sure the buffer holds a byte (or, with `more`, reads what is
    // there). 1 when it holds one, 0 on timeout, -1 at the end of input.
    int Fill(int timeoutMs, bool more = false) {
        if (!buffer_.empty() && !more)
            return 1;
        if (eof_)
            return buffer_.empty() ? -1 : 1;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return 0;
        char chunk[512];
        ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n <= 0) {
            eof_ = true;
            return buffer_.empty() ? -1 : 1;
        }
        buffer_.append(chunk, static_cast<size_t>(n));
        return 1;
    }

    int fd_;
    bool terminal_;
    std::string buffer_;
    bool eof_ = false;
};

// The longest line for the terminal that `out` writes to: one short of its
// columns, so that the terminal never wraps a line by itself.
int TerminalWidth(FILE *out) {
    winsize size{};
    int columns = 0;
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0)
        columns = size.ws_col;
    if (columns < 20) {
        const char *variable = getenv("COLUMNS");
        columns = variable ? atoi(variable) : 0;
    }
    return (columns >= 20 ? columns : 80) - 1;
}

// A blank that Wrap does not break at ("f = edit" stays on one line).
const char kKeptBlank = '\x01';

// The text with its blanks kept by Wrap.
std::string Kept(std::string text) {
    for (char &c : text)
        if (c == ' ')
            c = kKeptBlank;
    return text;
}

// The text with every line cut at blanks to at most `width` columns; a word
// longer than a line keeps a line of its own. Lines after the first start
// with `indent`.
std::string Wrap(const std::string &text, int width, const std::string &indent = "") {
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? nl : nl - start);
        while (static_cast<int>(line.size()) > width) {
            size_t cut = line.rfind(' ', static_cast<size_t>(width));
            if (cut == std::string::npos || line.find_first_not_of(' ') >= cut)
                cut = line.find(' ', static_cast<size_t>(width));
            if (cut == std::string::npos)
                break;
            size_t end = line.find_last_not_of(' ', cut);
            out += line.substr(0, end == std::string::npos ? 0 : end + 1) + "\n";
            size_t next = line.find_first_not_of(' ', cut);
            line = next == std::string::npos ? std::string() : indent + line.substr(next);
        }
        out += line;
        if (nl == std::string::npos)
            return out;
        out += "\n";
        start = nl + 1;
    }
}

// The text with the paths in it as this host writes them: the separators
// the program wrote ("\\") become "/". A path in drive form ("A:\\SETUP.EXE",
// a package started through a drive link) keeps them to the end of its line,
// and so does text in double quotes (a member's name as stored).
std::string HostPaths(const std::string &text) {
    std::string out = text;
    bool quoted = false, drivePath = false;
    for (size_t i = 0; i < out.size(); ++i) {
        char c = out[i];
        if (c == '\n') {
            quoted = drivePath = false;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ':' && i > 0 && isalpha(static_cast<unsigned char>(out[i - 1])) &&
                   (i < 2 || !isalnum(static_cast<unsigned char>(out[i - 2]))) &&
                   i + 1 < out.size() && out[i + 1] == '\\') {
            drivePath = true;
        } else if (c == '\\' && !quoted && !drivePath) {
            out[i] = '/';
        }
    }
    return out;
}

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

// The name of a key as the screen echoes it.
std::string KeyName(const std::string &key) {
    if (key.empty())
        return "Enter";
    if (key[0] == 0x1B)
        return "Esc";
    return key;
}

class TerminalUser : public HostUser {
  public:
    TerminalUser(int in, FILE *out) : out_(out), input_(in) {}

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
        input_.LineMode(true);
        while (!eof_ && (r = input_.ReadLine(&line, 200)) == 0) {
        }
        input_.KeyMode();
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
            int width = TerminalWidth(out_);
            fprintf(out_, "\n--- %s ---\n%s\n", box.caption.c_str(),
                    Wrap(HostPaths(box.text), width).c_str());
            std::string choices;
            for (int b : box.buttons) {
                std::string name = HostButtonName(b);
                choices += "[" + name.substr(0, 1) + "]" + name.substr(1);
                if (b == box.defaultButton)
                    choices += " (Enter)";
                choices += "  ";
            }
            fprintf(out_, "%s\n> ", Wrap(Trim(choices), width).c_str());
            fflush(out_);
        }
        shownDialog_.clear();
        std::string key;
        int r = eof_ ? -1 : input_.ReadKey(&key, 200);
        if (r == 0)
            return 0; // time passes; timer ticks get through
        if (r < 0) {
            eof_ = true;
            fprintf(out_, "(end of input)\n");
            return HostBoxNegativeButton(box.type);
        }
        key = Typed(key);
        if (key.empty())
            return box.defaultButton;
        if (key[0] == 0x1B || key == "esc") {
            for (int b : box.buttons)
                if (b == IDCANCEL)
                    return IDCANCEL;
            if (box.buttons.size() == 1)
                return box.buttons[0];
        } else {
            char c = static_cast<char>(tolower(static_cast<unsigned char>(key[0])));
            for (int b : box.buttons)
                if (tolower(static_cast<unsigned char>(HostButtonName(b)[0])) == c)
                    return b;
        }
        fprintf(out_, "%s\n> ",
                input_.Raw() ? "Press one of the letters in brackets, or Enter."
                             : "Please type one of the letters in brackets, or just Enter.");
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
        int r = pendingEdit_ != 0 ? input_.ReadLine(&line, 200) : input_.ReadKey(&line, 200);
        if (r == 0)
            return true; // time passes
        if (r < 0) {
            eof_ = true;
            input_.KeyMode();
            fprintf(out_, "(end of input: closing)\n");
            return GiveUp(dialog);
        }
        if (pendingEdit_ != 0) {
            int id = pendingEdit_;
            pendingEdit_ = 0;
            input_.KeyMode();
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
        unknown_ = false;
        Handle(dialog, Typed(line));
        if (!unknown_)
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
            fprintf(out_, "\nWorking... (press %s to stop)\n", input_.Raw() ? "a key" : "Enter");
        }
        ShowProgress(ProgressText(dialog));
        std::string key;
        if (!eof_ && input_.ReadKey(&key, 0) == 1)
            HostPostKey(dialog, VK_RETURN, 0x001C0001); // asks to stop
    }

    // The meter on the screen moves as the program's meter paints.
    void OnPainted(HWND window) override {
        if (!progress_ || !IsMeter(window) || !IsWindowVisible(window))
            return;
        HostRealTimeFollow(&lastTick_);
        ShowProgress(Bar(window));
    }

    void OnDialogOpened(HWND dialog) override {
        (void)dialog;
        depth_++;
    }

    // When the program's own dialog ends, its status line says how: the
    // result of the run, or that it was aborted, unless it was on the screen.
    void OnDialogEnded(HWND dialog, INT_PTR result) override {
        (void)result;
        EndProgress();
        if (depth_ > 0 && --depth_ == 0) {
            std::string status = StatusText(dialog);
            if (!status.empty() && status != renderedStatus_) {
                fprintf(out_, "\n%s\n", Wrap(HostPaths(status), TerminalWidth(out_)).c_str());
                fflush(out_);
            }
        }
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

    // What a key (or a line) asks for; the key is echoed after the prompt.
    std::string Typed(const std::string &key) {
        if (!input_.Raw())
            return Trim(key);
        fprintf(out_, "%s\n", KeyName(key).c_str());
        fflush(out_);
        return key;
    }

    // Shows `text` on the progress line at most every 100 ms; what comes in
    // between waits for the next chance or the end of the run.
    void ShowProgress(const std::string &text) {
        if (text == lastProgress_) {
            pendingProgress_.clear();
            return;
        }
        if (!lastProgress_.empty() && lastTick_ < progressAt_ + 100) {
            pendingProgress_ = text;
            return;
        }
        PrintProgress(text);
    }

    void PrintProgress(std::string text) { // a copy: it may be the pending text
        int width = TerminalWidth(out_);
        progressAt_ = lastTick_;
        lastProgress_ = text;
        pendingProgress_.clear();
        fprintf(out_, "\r%-*.*s", width, width, HostPaths(text).c_str());
        fflush(out_);
    }

    void EndProgress() {
        if (progress_) {
            if (!pendingProgress_.empty())
                PrintProgress(pendingProgress_);
            fprintf(out_, "\n");
            fflush(out_);
        }
        progress_ = false;
        lastProgress_.clear();
        pendingProgress_.clear();
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

    // The status line: the lowest static that shows (also in a dialog that
    // has just ended and is hidden).
    static std::string StatusText(HWND dialog) {
        HWND status = nullptr;
        RECT best{0, 0, 0, 0};
        for (HWND c : HostChildren(dialog)) {
            RECT r;
            if ((HostWindowStyle(c) & WS_VISIBLE) && HostWindowClass(c) == "STATIC" &&
                GetWindowRect(c, &r) && (status == nullptr || r.top >= best.top)) {
                status = c;
                best = r;
            }
        }
        return status ? HostWindowText(status) : std::string();
    }

    // The meter when it shows, else the status line.
    static std::string ProgressText(HWND dialog) {
        for (HWND c : HostChildren(dialog))
            if (IsWindowVisible(c) && IsMeter(c))
                return Bar(c);
        return StatusText(dialog);
    }

    void Render(HWND dialog) {
        int width = TerminalWidth(out_);
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
                    value = secret ? std::string(value.size(), '*') : HostPaths(value);
                    fprintf(out_, "%s\n",
                            Wrap(Trim(Marked(text)) +
                                     (text.find('\n') != std::string::npos ? "\n  " : " ") + value,
                                 width, "  ")
                                .c_str());
                    if (accel)
                        keys += std::string(keys.empty() ? "" : ", ") + accel + kKeptBlank + "=" +
                                kKeptBlank + "edit \"" + Trim(LastLine(plain)) + "\"";
                } else if (!text.empty()) {
                    std::string shown = (style & SS_NOPREFIX) ? text : plain;
                    fprintf(out_, "%s\n", Wrap(HostPaths(shown), width).c_str());
                }
            } else if (cls == "EDIT") {
                bool labelled = i > 0 && HostWindowClass(controls[i - 1]) == "STATIC" &&
                                IsWindowVisible(controls[i - 1]);
                if (!labelled)
                    fprintf(out_, "[%s]\n", HostPaths(text).c_str());
            } else if (cls == "BUTTON" && HostIsCheckBox(c)) {
                fprintf(out_, "%s\n",
                        Wrap(std::string("(") + (HostCheckState(c) ? 'x' : ' ') + ") " +
                                 Marked(text) + (enabled ? "" : " (not available)"),
                             width, "    ")
                            .c_str());
                if (accel && enabled)
                    keys += std::string(keys.empty() ? "" : ", ") + accel + kKeptBlank + "=" +
                            kKeptBlank + "tick/untick \"" + Trim(plain) + "\"";
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
        renderedStatus_ = StatusText(dialog);
        if (!buttons.empty())
            fprintf(out_, "%s\n", Wrap(buttons, width, "  ").c_str());
        std::string hint;
        if (input_.Raw())
            hint = "Press the letter in brackets" + (keys.empty() ? "" : "; " + keys) + ".";
        else
            hint = "Type the letter in brackets and press Enter" +
                   (keys.empty() ? "" : "; " + keys) +
                   (OnlyPlainField(dialog) ? " " + Kept("(or just type the new text)") : "") + ".";
        std::string wrapped = Wrap(hint, width);
        for (char &c : wrapped)
            if (c == kKeptBlank)
                c = ' ';
        fprintf(out_, "%s\n> ", wrapped.c_str());
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
        input_.LineMode(false);
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
                        passwordPending_ ? "it"
                                         : ("\"" + HostPaths(HostWindowText(edit)) + "\"").c_str());
                fflush(out_);
                input_.LineMode(!passwordPending_);
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
        fprintf(out_, "Unknown choice \"%s\": %s one of the letters in brackets.\n> ", line.c_str(),
                input_.Raw() ? "press" : "type");
        fflush(out_);
        unknown_ = true;
    }

    FILE *out_;
    Input input_;
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
    std::string lastProgress_, pendingProgress_;
    uint64_t progressAt_ = 0;
    bool unknown_ = false;       // the last key asked for nothing
    int depth_ = 0;              // modal dialogs open
    std::string renderedStatus_; // the status line as the screen last showed it
};

} // namespace

std::unique_ptr<HostUser> HostMakeTerminalUser(int in, FILE *out) {
    return std::make_unique<TerminalUser>(in, out);
}
