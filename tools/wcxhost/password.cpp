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
    bool ok;
    std::string value;
};
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

bool answer(const char* prompt, bool masked, std::string& value) {
    if (!gRecording && gReplayed < gAnswers.size()) {
        const Answer& again = gAnswers[gReplayed++];
        value = again.value;
        return again.ok;
    }
    if (!gPasswordFile.empty()) {
        if (readFirstLine(gPasswordFile, value)) return true;
        std::fprintf(stderr, "cannot read password file %s\n", gPasswordFile.c_str());
        return false;
    }
    if (const char* env = std::getenv("KIV_PASSWORD")) {
        value = env;
        return true;
    }
    std::string text = prompt && *prompt ? prompt : "Password:";
    if (!text.empty() && text.back() != ' ') text += ' ';
    return os::readTerminalLine(text, masked, value);
}
}  // namespace

Replay::Replay() {
    gRecording = true;
    gAnswers.clear();
    gReplayed = 0;
}

Replay::~Replay() { gRecording = false; }

void setPasswordFile(const std::string& path) { gPasswordFile = path; }

int inputBox(char*, char* prompt, int maskInput, char* value, int valueMaxLen) {
    std::string text;
    if (!value || valueMaxLen < 0) return 0;
    bool ok = answer(prompt, maskInput != 0, text);
    if (gRecording) gAnswers.push_back(Answer{ok, text});
    if (!ok) return 0;
    size_t n = text.size() < static_cast<size_t>(valueMaxLen) ? text.size() : static_cast<size_t>(valueMaxLen);
    std::memcpy(value, text.data(), n);
    value[n] = '\0';
    return 1;
}

}  // namespace password
