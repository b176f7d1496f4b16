// The transcript, script failures, the record of message boxes, the current
// user and the reset between tests.
#include "window_internal.h"

#include <stdio.h>
#include <unistd.h>

namespace {

struct Records {
    std::vector<std::string> transcript;
    FILE *file = nullptr;
    std::vector<std::string> failures;
    std::function<void(const std::string &)> hook;
    bool fatal = false;
};

Records &R() {
    static Records records;
    return records;
}

} // namespace

void HostTranscriptLine(const std::string &line) {
    Records &r = R();
    r.transcript.push_back(line);
    if (r.file != nullptr) {
        fprintf(r.file, "%s\n", line.c_str());
        fflush(r.file);
    }
}

void HostTranscriptNote(const std::string &line) {
    HostTranscriptLine(line);
}

const std::vector<std::string> &HostTranscript() {
    return R().transcript;
}

void HostSetTranscriptFile(const std::string &path) {
    Records &r = R();
    if (r.file != nullptr)
        fclose(r.file);
    r.file = nullptr;
    if (path.empty())
        return;
    r.file = fopen(path.c_str(), "w");
    if (r.file == nullptr)
        fprintf(stderr, "morvik-host: cannot write the transcript to %s\n", path.c_str());
    else
        for (const std::string &line : r.transcript)
            fprintf(r.file, "%s\n", line.c_str());
}

void HostScriptFail(const std::string &why) {
    Records &r = R();
    fprintf(stderr, "morvik-script: FAIL: %s\n", why.c_str());
    fflush(stderr);
    HostTranscriptLine("FAIL: " + why);
    r.failures.push_back(why);
    if (r.fatal)
        _exit(97);
    if (r.hook)
        r.hook(why);
}

bool HostScriptFailed() {
    return !R().failures.empty();
}

const std::vector<std::string> &HostScriptFailures() {
    return R().failures;
}

void HostSetFailureHook(std::function<void(const std::string &)> hook) {
    R().hook = std::move(hook);
}

void HostSetFailuresFatal(bool fatal) {
    R().fatal = fatal;
}

void HostRecordBox(const HostBoxRecord &record) {
    Ui().boxes.push_back(record);
}

const std::vector<HostBoxRecord> &HostBoxes() {
    return Ui().boxes;
}

void HostResetRecords() {
    Records &r = R();
    r.transcript.clear();
    r.failures.clear();
    r.hook = nullptr;
    r.fatal = false;
}

void HostSetUser(std::unique_ptr<HostUser> user) {
    Ui().user = user ? std::move(user) : HostMakeNoTerminalUser();
}

HostUser &HostCurrentUser() {
    if (!Ui().user)
        Ui().user = HostMakeNoTerminalUser();
    return *Ui().user;
}

void HostUiReset() {
    HostUiState &ui = Ui();
    ui.modal.clear();
    ui.live.clear();
    ui.windows.clear();
    ui.classes.clear();
    ui.queue.clear();
    ui.timers.clear();
    ui.now = 0;
    ui.screenX = 1024;
    ui.screenY = 768;
    ui.dpi = 96;
    ui.keysDown.clear();
    ui.cursor = nullptr;
    ui.timerFails = false;
    ui.polls = 0;
    ui.boxSerial = 0;
    ui.boxes.clear();
    ui.templateError.clear();
    ui.user = HostMakeNoTerminalUser();
    HostSetTemplateExtentQuery(nullptr);
    HostResetRecords();
    HostSetTranscriptFile("");
    HostResetGdi();
}
