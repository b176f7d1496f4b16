// Choosing the user of a standalone run from its environment.
#include "window_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

bool &ExitCheckRegistered() {
    static bool registered = false;
    return registered;
}

void CheckAtExit() {
    HostFinishUser();
}

} // namespace

bool HostFinishUser() {
    HostUser &user = HostCurrentUser();
    if (!user.Finished())
        user.ReportUnfinished();
    return !HostScriptFailed();
}

void HostInitUserFromEnvironment() {
    const char *transcript = getenv("MORVIK_TRANSCRIPT");
    if (transcript != nullptr && transcript[0] != '\0')
        HostSetTranscriptFile(transcript);

    const char *path = getenv("MORVIK_SCRIPT");
    const char *inline_text = getenv("MORVIK_SCRIPT_TEXT");
    if ((path != nullptr && path[0] != '\0') ||
        (inline_text != nullptr && inline_text[0] != '\0')) {
        HostSetFailuresFatal(true);
        std::string text, source;
        if (path != nullptr && path[0] != '\0') {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                HostScriptFail(std::string("cannot read the script ") + path);
                return;
            }
            std::ostringstream content;
            content << in.rdbuf();
            text = content.str();
            source = path;
        } else {
            text = inline_text;
            source = "MORVIK_SCRIPT_TEXT";
        }
        std::string error;
        std::unique_ptr<HostUser> user = HostMakeScriptedUser(text, &error);
        if (!user) {
            HostScriptFail(source + ": " + error);
            return;
        }
        HostTranscriptLine("user: script " + source);
        HostSetUser(std::move(user));
        if (!ExitCheckRegistered()) {
            ExitCheckRegistered() = true;
            atexit(CheckAtExit);
        }
        return;
    }
    if (isatty(STDIN_FILENO)) {
        HostTranscriptLine("user: terminal");
        HostSetUser(HostMakeTerminalUser(STDIN_FILENO, isatty(STDOUT_FILENO) ? stdout : stderr));
        return;
    }
    HostTranscriptLine("user: no terminal");
    HostSetUser(HostMakeNoTerminalUser());
}
