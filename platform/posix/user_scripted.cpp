// The scripted user: a test's (or a test harness's) script of what the user
// sees and does. The language is described in window_host.h.
#include "window_internal.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <regex>

namespace {

enum class Op {
    Box,
    Answer,
    Dialog,
    Type,
    Check,
    Uncheck,
    Press,
    Enter,
    Escape,
    Shift,
    Advance,
    Polls,
    Click,
    Key,
    Char,
    Command,
    Post,
    Expect,
    Relink,
    Note,
    Browse,
};

struct Match {
    bool regex = false;
    std::string pattern;
    std::regex re;

    bool Test(const std::string &text) const {
        return regex ? std::regex_search(text, re) : text.find(pattern) != std::string::npos;
    }
    std::string Show() const { return regex ? "/" + pattern + "/" : HostQuote(pattern); }
};

struct Step {
    int line = 0;
    std::string source;
    Op op = Op::Note;
    Match match;
    int id = 0;
    bool toDialog = false; // target `dialog`
    std::string text;      // type, relink target, note, expect kind, cursor name
    std::string drive;     // relink
    long buttons = -1;     // box: MB_ type, -1 any
    long icon = -2;        // box: MB_ICON value, -2 unchecked
    int defaultButton = 0; // box: expected default, 0 unchecked
    int answer = 0;        // box: 0 hold open, -1 default; answer: same
    long long number = 0;  // advance, polls
    bool down = false;     // shift
    int vk = 0;            // key
    int ch = 0;            // char
    UINT message = 0;      // post
    WPARAM wParam = 0;     // post
    bool hasLparam = false;
    LPARAM lparam = 0;
};

bool IsInstant(Op op) {
    switch (op) {
    case Op::Expect:
    case Op::Shift:
    case Op::Relink:
    case Op::Note:
    case Op::Advance:
        return true;
    default:
        return false;
    }
}

bool IsIdleStep(Op op) {
    switch (op) {
    case Op::Dialog:
    case Op::Type:
    case Op::Check:
    case Op::Uncheck:
    case Op::Press:
    case Op::Enter:
    case Op::Escape:
        return true;
    default:
        return false;
    }
}

bool IsPollStep(Op op) {
    switch (op) {
    case Op::Polls:
    case Op::Click:
    case Op::Key:
    case Op::Char:
    case Op::Command:
    case Op::Post:
        return true;
    default:
        return false;
    }
}

// ---- the parser ----------------------------------------------------------------------------

class Lexer {
  public:
    explicit Lexer(const std::string &text) : s_(text) {}

    bool AtEnd() {
        Blanks();
        return pos_ >= s_.size();
    }
    const std::string &Error() const { return error_; }
    bool Fail(const std::string &why) {
        if (error_.empty())
            error_ = why;
        return false;
    }
    std::string Rest() {
        Blanks();
        std::string rest = s_.substr(pos_);
        pos_ = s_.size();
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t'))
            rest.pop_back();
        return rest;
    }
    bool Peek(char c) {
        Blanks();
        return pos_ < s_.size() && s_[pos_] == c;
    }

    bool Word(std::string *out, const char *what) {
        Blanks();
        std::string raw;
        while (pos_ < s_.size() && s_[pos_] != ' ' && s_[pos_] != '\t')
            raw += s_[pos_++];
        if (raw.empty())
            return Fail(std::string("missing ") + what);
        return Expand(raw, out);
    }

    // A quoted string, or a bare word; "x"*N repeats.
    bool Text(std::string *out, const char *what) {
        if (!Peek('"'))
            return Word(out, what);
        std::string raw;
        if (!Quoted(&raw, what) || !Expand(raw, out))
            return false;
        if (pos_ < s_.size() && s_[pos_] == '*') {
            ++pos_;
            std::string count;
            while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_])))
                count += s_[pos_++];
            if (count.empty())
                return Fail("a repeat count must follow '*'");
            long n = strtol(count.c_str(), nullptr, 10);
            if (n < 0 || n > 100000)
                return Fail("repeat count out of range");
            std::string once = *out;
            out->clear();
            for (long i = 0; i < n; ++i)
                *out += once;
        }
        return true;
    }

    bool MatchArg(Match *m, const char *what) {
        Blanks();
        if (Peek('"')) {
            std::string raw;
            if (!Quoted(&raw, what) || !Expand(raw, &m->pattern))
                return false;
            m->regex = false;
            return true;
        }
        if (Peek('/')) {
            ++pos_;
            std::string pattern;
            for (;;) {
                if (pos_ >= s_.size())
                    return Fail(std::string("unterminated regular expression in ") + what);
                char c = s_[pos_++];
                if (c == '/')
                    break;
                if (c == '\\' && pos_ < s_.size() && s_[pos_] == '/') {
                    pattern += '/';
                    ++pos_;
                    continue;
                }
                pattern += c;
            }
            try {
                m->re = std::regex(pattern, std::regex::ECMAScript);
            } catch (const std::regex_error &e) {
                return Fail("bad regular expression /" + pattern + "/: " + e.what());
            }
            m->regex = true;
            m->pattern = pattern;
            return true;
        }
        return Fail(std::string("expected a \"text\" or /regex/ for ") + what);
    }

    bool Number(long long *out, const char *what) {
        std::string word;
        if (!Word(&word, what))
            return false;
        return ParseNumber(word, out) ? true : Fail(std::string("bad number for ") + what);
    }

    static bool ParseNumber(const std::string &word, long long *out) {
        if (word.empty())
            return false;
        char *end = nullptr;
        errno = 0;
        long long v = strtoll(word.c_str(), &end, 0);
        if (errno != 0 || *end != '\0')
            return false;
        *out = v;
        return true;
    }

  private:
    void Blanks() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t'))
            ++pos_;
    }
    bool Quoted(std::string *out, const char *what) {
        ++pos_; // the opening quote
        for (;;) {
            if (pos_ >= s_.size())
                return Fail(std::string("unterminated string in ") + what);
            char c = s_[pos_++];
            if (c == '"')
                return true;
            if (c != '\\' || pos_ >= s_.size()) {
                *out += c;
                continue;
            }
            char e = s_[pos_++];
            switch (e) {
            case 'n':
                *out += '\n';
                break;
            case 't':
                *out += '\t';
                break;
            case '"':
                *out += '"';
                break;
            case '\\':
                *out += '\\';
                break;
            case 'x': {
                std::string hex = s_.substr(pos_, 2);
                if (hex.size() != 2 || !isxdigit(static_cast<unsigned char>(hex[0])) ||
                    !isxdigit(static_cast<unsigned char>(hex[1])))
                    return Fail("\\x needs two hex digits");
                *out += static_cast<char>(strtol(hex.c_str(), nullptr, 16));
                pos_ += 2;
                break;
            }
            default: // any other backslash stands for itself
                *out += '\\';
                *out += e;
                break;
            }
        }
    }
    bool Expand(const std::string &raw, std::string *out) {
        out->clear();
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '$' && i + 1 < raw.size() && raw[i + 1] == '{') {
                size_t close = raw.find('}', i + 2);
                if (close == std::string::npos)
                    return Fail("unterminated ${...}");
                std::string name = raw.substr(i + 2, close - i - 2);
                const char *value = getenv(name.c_str());
                if (value == nullptr)
                    return Fail("environment variable " + name + " is not set");
                *out += value;
                i = close;
                continue;
            }
            *out += raw[i];
        }
        return true;
    }

    const std::string &s_;
    size_t pos_ = 0;
    std::string error_;
};

bool ButtonWord(const std::string &w, int *id) {
    static const std::map<std::string, int> names = {
        {"ok", IDOK},         {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
        {"ignore", IDIGNORE}, {"yes", IDYES},       {"no", IDNO},       {"default", -1}};
    auto it = names.find(w);
    if (it == names.end())
        return false;
    *id = it->second;
    return true;
}

bool Target(Lexer &lx, Step *s) {
    std::string word;
    if (!lx.Word(&word, "target (a control id or `dialog`)"))
        return false;
    if (word == "dialog") {
        s->toDialog = true;
        return true;
    }
    long long id;
    if (!Lexer::ParseNumber(word, &id))
        return lx.Fail("bad target " + word + " (a control id or `dialog`)");
    s->id = static_cast<int>(id);
    return true;
}

bool Id(Lexer &lx, Step *s) {
    long long id;
    if (!lx.Number(&id, "control id"))
        return false;
    s->id = static_cast<int>(id);
    return true;
}

// Optional `lparam=N` at the end of an input step.
bool OptionalLparam(Lexer &lx, Step *s) {
    if (lx.AtEnd())
        return true;
    std::string word;
    if (!lx.Word(&word, "lparam"))
        return false;
    long long v;
    if (word.compare(0, 7, "lparam=") != 0 || !Lexer::ParseNumber(word.substr(7), &v))
        return lx.Fail("expected lparam=<number>, found " + word);
    s->hasLparam = true;
    s->lparam = static_cast<LPARAM>(static_cast<int32_t>(static_cast<uint32_t>(v)));
    return true;
}

bool ParseBox(Lexer &lx, Step *s) {
    static const std::map<std::string, long> sets = {{"ok", MB_OK},
                                                     {"okcancel", MB_OKCANCEL},
                                                     {"abortretryignore", MB_ABORTRETRYIGNORE},
                                                     {"yesno", MB_YESNO},
                                                     {"yesnocancel", MB_YESNOCANCEL},
                                                     {"retrycancel", MB_RETRYCANCEL},
                                                     {"any", -1}};
    static const std::map<std::string, long> icons = {{"none", 0},
                                                      {"error", MB_ICONERROR},
                                                      {"question", MB_ICONQUESTION},
                                                      {"warning", MB_ICONWARNING},
                                                      {"information", MB_ICONINFORMATION}};
    std::string set;
    if (!lx.Word(&set, "button set"))
        return false;
    auto it = sets.find(set);
    if (it == sets.end())
        return lx.Fail("unknown button set " + set);
    s->buttons = it->second;
    if (!lx.MatchArg(&s->match, "box text"))
        return false;
    while (!lx.AtEnd()) {
        std::string word;
        lx.Word(&word, "option");
        if (word == "->") {
            std::string answer;
            if (!lx.Word(&answer, "answer") || !ButtonWord(answer, &s->answer))
                return lx.Fail("expected a button after ->");
            continue;
        }
        if (word.compare(0, 5, "icon=") == 0) {
            auto icon = icons.find(word.substr(5));
            if (icon == icons.end())
                return lx.Fail("unknown icon " + word.substr(5));
            s->icon = icon->second;
            continue;
        }
        if (word.compare(0, 8, "default=") == 0) {
            if (!ButtonWord(word.substr(8), &s->defaultButton) || s->defaultButton < 0)
                return lx.Fail("unknown button " + word.substr(8));
            continue;
        }
        return lx.Fail("unexpected " + word);
    }
    return true;
}

bool ParseVk(const std::string &w, int *vk) {
    static const std::map<std::string, int> names = {
        {"enter", VK_RETURN},       {"return", VK_RETURN},    {"escape", VK_ESCAPE},
        {"esc", VK_ESCAPE},         {"space", HOST_VK_SPACE}, {"tab", HOST_VK_TAB},
        {"backspace", HOST_VK_BACK}};
    auto it = names.find(w);
    if (it != names.end()) {
        *vk = it->second;
        return true;
    }
    if (w.size() == 1 && isalnum(static_cast<unsigned char>(w[0]))) {
        *vk = toupper(static_cast<unsigned char>(w[0]));
        return true;
    }
    long long v;
    if (Lexer::ParseNumber(w, &v) && v > 0 && v < 256) {
        *vk = static_cast<int>(v);
        return true;
    }
    return false;
}

bool ParseExpect(Lexer &lx, Step *s) {
    if (!lx.Word(&s->text, "what to expect"))
        return false;
    const std::string &what = s->text;
    if (what == "text")
        return Id(lx, s) && lx.MatchArg(&s->match, "control text");
    if (what == "caption")
        return lx.MatchArg(&s->match, "caption");
    if (what == "cursor") {
        std::string name;
        if (!lx.Word(&name, "cursor") || (name != "wait" && name != "arrow"))
            return lx.Fail("expect cursor wait|arrow");
        s->match.pattern = name;
        return true;
    }
    static const char *const kinds[] = {"visible",   "hidden", "enabled", "disabled", "checked",
                                        "unchecked", "exists", "missing", "default"};
    for (const char *k : kinds)
        if (what == k)
            return Id(lx, s);
    return lx.Fail("unknown expectation " + what);
}

bool ParseStep(const std::string &line, Step *s) {
    Lexer lx(line);
    std::string op;
    lx.Word(&op, "step");
    bool ok = true;
    if (op == "box") {
        s->op = Op::Box;
        ok = ParseBox(lx, s);
    } else if (op == "answer") {
        s->op = Op::Answer;
        std::string w;
        ok = lx.Word(&w, "answer") && (ButtonWord(w, &s->answer) || lx.Fail("unknown button " + w));
    } else if (op == "dialog") {
        s->op = Op::Dialog;
        ok = lx.MatchArg(&s->match, "dialog caption");
    } else if (op == "type") {
        s->op = Op::Type;
        ok = Id(lx, s) && lx.Text(&s->text, "text to type");
    } else if (op == "check" || op == "uncheck" || op == "press") {
        s->op = op == "check" ? Op::Check : op == "uncheck" ? Op::Uncheck : Op::Press;
        ok = Id(lx, s);
    } else if (op == "enter") {
        s->op = Op::Enter;
    } else if (op == "escape") {
        s->op = Op::Escape;
    } else if (op == "shift") {
        s->op = Op::Shift;
        std::string w;
        ok = lx.Word(&w, "down or up") && (w == "down" || w == "up" || lx.Fail("shift down|up"));
        s->down = w == "down";
    } else if (op == "advance") {
        s->op = Op::Advance;
        ok = lx.Number(&s->number, "milliseconds") &&
             (s->number >= 0 || lx.Fail("advance needs a positive time"));
    } else if (op == "polls") {
        s->op = Op::Polls;
        ok = lx.Number(&s->number, "poll count") &&
             (s->number >= 1 || lx.Fail("polls needs a count of at least 1"));
    } else if (op == "click") {
        s->op = Op::Click;
        ok = Target(lx, s) && OptionalLparam(lx, s);
    } else if (op == "key") {
        s->op = Op::Key;
        std::string w;
        ok = Target(lx, s) && lx.Word(&w, "key") &&
             (ParseVk(w, &s->vk) || lx.Fail("unknown key " + w)) && OptionalLparam(lx, s);
    } else if (op == "char") {
        s->op = Op::Char;
        std::string w;
        long long v = 0;
        ok = Target(lx, s) && lx.Text(&w, "character");
        if (ok) {
            if (w.size() == 1)
                s->ch = static_cast<unsigned char>(w[0]);
            else if (Lexer::ParseNumber(w, &v) && v >= 0 && v < 256)
                s->ch = static_cast<int>(v);
            else
                ok = lx.Fail("char needs one character or a number");
        }
        ok = ok && OptionalLparam(lx, s);
    } else if (op == "command") {
        s->op = Op::Command;
        ok = Id(lx, s);
    } else if (op == "post") {
        s->op = Op::Post;
        long long message = 0, wParam = 0, lParam = 0;
        ok = Target(lx, s) && lx.Number(&message, "message") &&
             (lx.AtEnd() || lx.Number(&wParam, "wParam")) &&
             (lx.AtEnd() || lx.Number(&lParam, "lParam"));
        s->message = static_cast<UINT>(message);
        s->wParam = static_cast<WPARAM>(wParam);
        s->hasLparam = true;
        s->lparam = static_cast<LPARAM>(static_cast<int32_t>(static_cast<uint32_t>(lParam)));
    } else if (op == "expect") {
        s->op = Op::Expect;
        ok = ParseExpect(lx, s);
    } else if (op == "relink") {
        s->op = Op::Relink;
        ok = lx.Word(&s->drive, "drive") && lx.Text(&s->text, "link target");
        if (ok) {
            std::string d = s->drive;
            if (!d.empty() && d.back() == ':')
                d.pop_back();
            if (d.size() != 1 || !isalpha(static_cast<unsigned char>(d[0])))
                ok = lx.Fail("bad drive " + s->drive + " (a letter and a colon)");
            else
                s->drive = std::string(1, static_cast<char>(tolower(d[0]))) + ":";
        }
    } else if (op == "browse") {
        s->op = Op::Browse;
        if (lx.Peek('"')) {
            ok = lx.Text(&s->text, "folder");
        } else {
            std::string word;
            ok = lx.Word(&word, "folder or cancel");
            s->down = ok && word == "cancel"; // cancels the picker
            s->text = word;
        }
    } else if (op == "note") {
        s->op = Op::Note;
        s->text = lx.Rest();
    } else {
        ok = lx.Fail("unknown step " + op);
    }
    if (ok && !lx.AtEnd())
        ok = lx.Fail("unexpected " + lx.Rest());
    if (!ok)
        s->text = lx.Error();
    return ok;
}

// ---- the user ------------------------------------------------------------------------------

class ScriptedUser : public HostUser {
  public:
    explicit ScriptedUser(std::vector<Step> steps) : steps_(std::move(steps)) {}

    int OnMessageBox(const HostBox &box) override {
        if (failed_)
            return HostBoxNegativeButton(box.type);
        bool held = !held_.empty() && held_.back() == box.window;
        if (RunInstantSteps())
            return failed_ ? HostBoxNegativeButton(box.type) : 0;
        if (held) {
            if (next_ < steps_.size() && steps_[next_].op == Op::Answer) {
                const Step &s = Take();
                held_.pop_back();
                return Resolve(s, box);
            }
            return Failed(At() + " while box " + HostQuote(box.text) + " is held open", box);
        }
        if (next_ >= steps_.size() || steps_[next_].op != Op::Box)
            return Failed("unexpected message box " + HostQuote(box.caption) + ": " +
                              HostQuote(box.text) + " (" + NextStepText() + ")",
                          box);
        const Step &s = Take();
        std::string why;
        if (!BoxMatches(s, box, &why))
            return Failed("box " + HostQuote(box.text) + " does not match line " +
                              std::to_string(s.line) + " `" + s.source + "`: " + why,
                          box);
        if (s.answer == 0) {
            held_.push_back(box.window);
            return 0; // the next steps run while the box stays up
        }
        return Resolve(s, box);
    }

    bool OnDialogIdle(HWND dialog) override {
        for (;;) {
            if (failed_)
                return FailedIdle(dialog);
            if (RunInstantSteps()) {
                if (failed_)
                    return FailedIdle(dialog);
                return true; // the clock moved: let the ticks through
            }
            std::string caption = HostQuote(HostWindowText(dialog));
            if (next_ >= steps_.size()) {
                Fail("the script has ended while dialog " + caption + " waits for input");
                continue;
            }
            const Step &peek = steps_[next_];
            if (!IsIdleStep(peek.op)) {
                Fail("dialog " + caption + " waits for input, but " + At() +
                     (peek.op == Op::Browse                         ? " expects the folder picker"
                      : peek.op == Op::Box || peek.op == Op::Answer ? " expects a message box"
                                                                    : " expects a busy program"));
                continue;
            }
            const Step &s = Take();
            std::string why;
            switch (s.op) {
            case Op::Dialog:
                if (!s.match.Test(HostWindowText(dialog)))
                    Fail("dialog " + caption + " waits for input, line " + std::to_string(s.line) +
                         " expects " + s.match.Show());
                continue; // a check, not an action
            case Op::Type:
                if (HostUiType(dialog, s.id, s.text, &why))
                    return true;
                break;
            case Op::Check:
            case Op::Uncheck:
                if (HostUiSetCheck(dialog, s.id, s.op == Op::Check, &why))
                    return true;
                break;
            case Op::Press:
                if (HostUiPress(dialog, s.id, &why))
                    return true;
                break;
            case Op::Enter:
                HostUiEnter(dialog);
                return true;
            case Op::Escape:
                HostUiEscape(dialog);
                return true;
            default:
                break;
            }
            Fail("line " + std::to_string(s.line) + " `" + s.source + "`: " + why);
        }
    }

    bool OnBrowseForFolder(const HostBrowse &browse, std::string *folder) override {
        if (failed_)
            return false;
        RunInstantSteps();
        if (failed_)
            return false;
        if (next_ >= steps_.size() || steps_[next_].op != Op::Browse) {
            Fail("unexpected folder picker " + HostQuote(browse.title) + " (" + NextStepText() +
                 ")");
            return false;
        }
        const Step &s = Take();
        if (s.down)
            return false;
        *folder = s.text;
        return true;
    }

    void OnPoll(unsigned long poll) override {
        while (!failed_) {
            if (RunInstantSteps() || next_ >= steps_.size())
                return;
            const Step &peek = steps_[next_];
            if (!IsPollStep(peek.op))
                return; // its moment has not come yet
            if (peek.op == Op::Polls) {
                if (poll < advancedAtPoll_ + static_cast<unsigned long>(peek.number))
                    return;
                Take();
                continue;
            }
            const Step &s = Take();
            Inject(s);
        }
    }

    bool Finished() const override { return next_ >= steps_.size() && held_.empty(); }

    void ReportUnfinished() override {
        if (failed_ || Finished())
            return;
        Fail("the program ended before the script did: " + At() + " was never reached");
    }

  private:
    const Step &Take() {
        const Step &s = steps_[next_++];
        advancedAtPoll_ = HostPollCount();
        HostTranscriptLine("step " + std::to_string(next_) + " (line " + std::to_string(s.line) +
                           "): " + s.source);
        return s;
    }

    std::string At() const {
        if (next_ >= steps_.size())
            return "the end of the script";
        return "line " + std::to_string(steps_[next_].line) + " `" + steps_[next_].source + "`";
    }

    std::string NextStepText() const {
        return next_ >= steps_.size() ? "the script has ended" : "next step: " + At();
    }

    void Fail(const std::string &why) {
        failed_ = true;
        HostScriptFail(why);
    }

    int Failed(const std::string &why, const HostBox &box) {
        Fail(why);
        return HostBoxNegativeButton(box.type);
    }

    bool FailedIdle(HWND dialog) {
        int &stage = escapes_[dialog];
        if (stage++ == 0) {
            HostUiEscape(dialog);
            return true;
        }
        return false;
    }

    // Runs the steps that suit any moment; true when the turn is over
    // (the clock moved, or a failure).
    bool RunInstantSteps() {
        while (!failed_ && next_ < steps_.size() && IsInstant(steps_[next_].op)) {
            const Step &s = Take();
            std::string why;
            if (!RunInstant(s, &why)) {
                Fail("line " + std::to_string(s.line) + " `" + s.source + "`: " + why);
                return true;
            }
            if (s.op == Op::Advance)
                return true;
        }
        return failed_;
    }

    bool RunInstant(const Step &s, std::string *why) {
        switch (s.op) {
        case Op::Note:
            HostTranscriptLine("note: " + s.text);
            return true;
        case Op::Shift:
            HostSetKeyDown(VK_SHIFT, s.down);
            return true;
        case Op::Advance:
            HostClockAdvance(static_cast<DWORD>(s.number));
            HostTranscriptLine("clock at " + std::to_string(HostClockNow()) + " ms");
            return true;
        case Op::Relink:
            return Relink(s, why);
        case Op::Expect:
            return Expect(s, why);
        default:
            return true;
        }
    }

    static bool Relink(const Step &s, std::string *why) {
        const char *dir = getenv("MORVIK_DOSDEVICES");
        if (dir == nullptr || dir[0] == '\0') {
            *why = "MORVIK_DOSDEVICES is not set";
            return false;
        }
        std::string link = std::string(dir) + "/" + s.drive;
        struct stat st;
        if (lstat(link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                *why = link + " exists and is not a link";
                return false;
            }
            if (unlink(link.c_str()) != 0) {
                *why = "cannot remove " + link + ": " + strerror(errno);
                return false;
            }
        }
        if (symlink(s.text.c_str(), link.c_str()) != 0) {
            *why = "cannot link " + link + " to " + s.text + ": " + strerror(errno);
            return false;
        }
        HostTranscriptLine("drive " + s.drive + " now links to " + s.text);
        return true;
    }

    static bool Expect(const Step &s, std::string *why) {
        const std::string &what = s.text;
        if (what == "cursor") {
            std::string name = HostCursorName(HostCurrentCursor());
            if (name == s.match.pattern)
                return true;
            *why = "the cursor is " + name;
            return false;
        }
        HWND dialog = HostActiveDialog();
        if (dialog == nullptr) {
            *why = "no dialog is open";
            return false;
        }
        if (what == "caption") {
            if (s.match.Test(HostWindowText(dialog)))
                return true;
            *why = "the caption is " + HostQuote(HostWindowText(dialog));
            return false;
        }
        if (what == "default") {
            int id = HostDialogDefaultId(dialog);
            if (id == s.id)
                return true;
            *why = "the default button is " + std::to_string(id);
            return false;
        }
        HWND c = GetDlgItem(dialog, s.id);
        if (what == "missing" || what == "exists") {
            if ((c == nullptr) == (what == "missing"))
                return true;
            *why = "control " + std::to_string(s.id) + (c ? " exists" : " does not exist");
            return false;
        }
        if (c == nullptr) {
            *why = "control " + std::to_string(s.id) + " does not exist";
            return false;
        }
        bool holds;
        if (what == "text")
            holds = s.match.Test(HostWindowText(c));
        else if (what == "visible" || what == "hidden")
            holds = (IsWindowVisible(c) != FALSE) == (what == "visible");
        else if (what == "enabled" || what == "disabled")
            holds = (IsWindowEnabled(c) != FALSE) == (what == "enabled");
        else
            holds = (HostCheckState(c) == BST_CHECKED) == (what == "checked");
        if (!holds) {
            *why = "control " + std::to_string(s.id) + " is " +
                   (IsWindowVisible(c) ? "visible" : "hidden") + ", " +
                   (IsWindowEnabled(c) ? "enabled" : "disabled") + ", " +
                   (HostCheckState(c) ? "checked" : "unchecked") + ", text " +
                   HostQuote(HostWindowText(c));
            return false;
        }
        return true;
    }

    static bool BoxMatches(const Step &s, const HostBox &box, std::string *why) {
        if (s.buttons >= 0 && static_cast<long>(box.type & MB_TYPEMASK) != s.buttons) {
            std::string names;
            for (int b : box.buttons)
                names += std::string(names.empty() ? "" : "/") + HostButtonName(b);
            *why = "its buttons are " + names;
            return false;
        }
        if (s.icon != -2 && static_cast<long>(box.type & MB_ICONMASK) != s.icon) {
            *why = "its icon bits are " + std::to_string(box.type & MB_ICONMASK);
            return false;
        }
        if (s.defaultButton != 0 && box.defaultButton != s.defaultButton) {
            *why = std::string("its default button is ") + HostButtonName(box.defaultButton);
            return false;
        }
        if (!s.match.Test(box.text)) {
            *why = "its text does not match " + s.match.Show();
            return false;
        }
        return true;
    }

    int Resolve(const Step &s, const HostBox &box) {
        int answer = s.answer == -1 ? box.defaultButton : s.answer;
        for (int b : box.buttons)
            if (b == answer)
                return answer;
        return Failed("line " + std::to_string(s.line) + " answers " + HostButtonName(answer) +
                          ", which box " + HostQuote(box.text) + " does not offer",
                      box);
    }

    void Inject(const Step &s) {
        HWND dialog = HostActiveDialog();
        HWND target = dialog;
        if (dialog != nullptr && !s.toDialog && s.op != Op::Command)
            target = GetDlgItem(dialog, s.id);
        if (target == nullptr) {
            Fail("line " + std::to_string(s.line) + " `" + s.source + "`: " +
                 (dialog ? "control " + std::to_string(s.id) + " does not exist"
                         : std::string("no dialog is open")));
            return;
        }
        switch (s.op) {
        case Op::Click: {
            LPARAM at = s.hasLparam ? s.lparam : 0x00050005;
            PostMessageA(target, WM_LBUTTONDOWN, 1, at);
            PostMessageA(target, WM_LBUTTONUP, 0, at);
            break;
        }
        case Op::Key:
            HostPostKey(target, s.vk, s.hasLparam ? s.lparam : 1);
            break;
        case Op::Char:
            PostMessageA(target, WM_CHAR, static_cast<WPARAM>(s.ch), s.hasLparam ? s.lparam : 1);
            break;
        case Op::Command:
            PostMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(s.id & 0xFFFF), 0);
            break;
        case Op::Post:
            PostMessageA(target, s.message, s.wParam, s.lparam);
            break;
        default:
            break;
        }
        HostTranscriptLine("injected at poll " + std::to_string(HostPollCount()) + ": " + s.source);
    }

    std::vector<Step> steps_;
    size_t next_ = 0;
    bool failed_ = false;
    std::vector<HWND> held_;
    unsigned long advancedAtPoll_ = 0;
    std::map<HWND, int> escapes_;
};

} // namespace

std::unique_ptr<HostUser> HostMakeScriptedUser(const std::string &script, std::string *error) {
    std::vector<Step> steps;
    size_t start = 0;
    int lineNumber = 0;
    while (start <= script.size()) {
        size_t end = script.find('\n', start);
        if (end == std::string::npos)
            end = script.size();
        std::string line = script.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        line = line.substr(first);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        Step s;
        s.line = lineNumber;
        s.source = line;
        if (!ParseStep(line, &s)) {
            if (error != nullptr)
                *error = "line " + std::to_string(lineNumber) + ": " + s.text;
            return nullptr;
        }
        steps.push_back(std::move(s));
    }
    return std::make_unique<ScriptedUser>(std::move(steps));
}
