// The input box the host lends to plug-ins that ask for a password.
// Answers come from, in this order: the file given with --password-file
// (its first line), the KIV_PASSWORD environment variable, a prompt on the
// terminal. With none of them available the answer is Cancel.
#pragma once

#include <string>

namespace password {

// Set once at start-up; "" means no password file was given.
void setPasswordFile(const std::string& path);

// tInputBoxProc: copies at most ValueMaxLen characters plus a terminator
// into Value; returns non-zero for OK and 0 for Cancel.
int inputBox(char* caption, char* prompt, int maskInput, char* value, int valueMaxLen);

// How the prompts since the last forgetAsked() were answered (the last
// one counts), so that a failed open can tell a wrong password from none.
enum class Asked { Not, Answered, Cancelled, NoSource };
void forgetAsked();
Asked asked();

// Records the answers (Cancel included) given while it lives; once it is
// gone they are given again, in order, to the next prompts before anything
// is asked anew. For a second pass over the same archive.
class Replay {
public:
    Replay();
    ~Replay();
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;
};

}  // namespace password
