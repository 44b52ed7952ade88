#include "password.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "os.h"

namespace password {

namespace {
std::string gPasswordFile;
bool gRecording = false;
struct Answer {
    Asked outcome;
    std::string value;
};
Asked gAsked = Asked::Not;
std::vector<Answer> gAnswers;  // recorded, or still to be replayed
size_t gReplayed = 0;

// First line of the file without its line end; false when it cannot be read.
bool readFirstLine(const std::string& path, std::string& line) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    line.clear();
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return !in.bad();
}

Asked answer(const char* prompt, bool masked, std::string& value) {
    if (!gRecording && gReplayed < gAnswers.size()) {
        const Answer& again = gAnswers[gReplayed++];
        value = again.value;
        return again.outcome;
    }
    if (!gPasswordFile.empty()) {
        if (readFirstLine(gPasswordFile, value)) return Asked::Answered;
        std::fprintf(stderr, "wcxhost: cannot read password file '%s'\n", gPasswordFile.c_str());
        return Asked::Cancelled;
    }
    if (const char* env = std::getenv("KIV_PASSWORD")) {
        value = env;
        return Asked::Answered;
    }
    std::string text = prompt && *prompt ? prompt : "Password:";
    if (!text.empty() && text.back() != ' ') text += ' ';
    switch (os::readTerminalLine(text, masked, value)) {
        case os::TerminalRead::Line:
            return Asked::Answered;
        case os::TerminalRead::Ended:
            return Asked::Cancelled;
        default:
            return Asked::NoSource;
    }
}
}  // namespace

Replay::Replay() {
    gRecording = true;
    gAnswers.clear();
    gReplayed = 0;
}

Replay::~Replay() { gRecording = false; }

void setPasswordFile(const std::string& path) { gPasswordFile = path; }

void forgetAsked() { gAsked = Asked::Not; }

Asked asked() { return gAsked; }

int inputBox(char*, char* prompt, int maskInput, char* value, int valueMaxLen) {
    std::string text;
    if (!value || valueMaxLen < 0) return 0;
    gAsked = answer(prompt, maskInput != 0, text);
    if (gRecording) gAnswers.push_back(Answer{gAsked, text});
    if (gAsked != Asked::Answered) return 0;
    size_t n = text.size() < static_cast<size_t>(valueMaxLen) ? text.size() : static_cast<size_t>(valueMaxLen);
    std::memcpy(value, text.data(), n);
    value[n] = '\0';
    return 1;
}

}  // namespace password
