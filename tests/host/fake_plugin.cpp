// A scripted packer plug-in for the host tests. Its "archive" is a text
// file: the first line is "fakearc", then directives and entries:
//
//   open-fail CODE        OpenArchive fails with CODE
//   password TEXT         (extension build) OpenArchive asks for TEXT
//   PATH<TAB>ATTR<TAB>TIME<TAB>CONTENT[<TAB>OPTIONS]
//
// ATTR and TIME are C integers (0x.. allowed). OPTIONS, comma-separated:
// fail=CODE (ProcessFile answers CODE), repeat=N (content N times),
// size=N (reported UnpSize), pack=N (reported PackSize).
//
// Environment: FAKE_LOG (file that every call is appended to), FAKE_CHUNK
// (bytes per progress call, default 4096), FAKE_SIGINT_AFTER=N (raise
// SIGINT before the N-th progress call), FAKE_PW_MAXLEN (ValueMaxLen).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "plugin/wcxapi.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Entry {
    std::string path;
    int attr = 0;
    int time = 0;
    std::string content;
    int fail = 0;
    long long size = -1;
    long long pack = -1;
};

struct FakeArchive {
    std::vector<Entry> entries;
    size_t next = 0;  // index of the entry the next ReadHeader reports
    tProcessDataProc progress = nullptr;
};

std::string gPassword;  // password the current description asks for
tInputBoxProc gInputBox = nullptr;
long gProgressCalls = 0;

void logLine(const std::string& line) {
    const char* path = std::getenv("FAKE_LOG");
    if (!path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

long envNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v ? std::strtol(v, nullptr, 0) : fallback;
}

std::vector<std::string> splitOn(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

// Returns 0 or the code OpenArchive should fail with.
int parse(const char* path, FakeArchive& arc) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return E_EOPEN;
    std::string line;
    if (!std::getline(in, line) || line != "fakearc") return E_UNKNOWN_FORMAT;
    gPassword.clear();
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line.compare(0, 10, "open-fail ") == 0) return std::atoi(line.c_str() + 10);
        if (line.compare(0, 9, "password ") == 0) {
            gPassword = line.substr(9);
            continue;
        }
        std::vector<std::string> f = splitOn(line, '\t');
        if (f.size() < 4) return E_BAD_ARCHIVE;
        Entry e;
        e.path = f[0];
        e.attr = static_cast<int>(std::strtol(f[1].c_str(), nullptr, 0));
        e.time = static_cast<int>(std::strtoul(f[2].c_str(), nullptr, 0));
        e.content = f[3];
        if (f.size() > 4) {
            for (const std::string& opt : splitOn(f[4], ',')) {
                long long v = std::strtoll(opt.c_str() + opt.find('=') + 1, nullptr, 0);
                if (opt.compare(0, 5, "fail=") == 0) e.fail = static_cast<int>(v);
                if (opt.compare(0, 7, "repeat=") == 0) {
                    std::string one = e.content;
                    e.content.clear();
                    for (long long i = 0; i < v; ++i) e.content += one;
                }
                if (opt.compare(0, 5, "size=") == 0) e.size = v;
                if (opt.compare(0, 5, "pack=") == 0) e.pack = v;
            }
        }
        arc.entries.push_back(e);
    }
    return 0;
}

bool allZero(const void* p, size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

int askPassword() {
    if (gPassword.empty()) return 0;
    if (!gInputBox) return E_UNKNOWN_FORMAT;
    char value[256];
    std::memset(value, 'X', sizeof value);
    int maxLen = static_cast<int>(envNumber("FAKE_PW_MAXLEN", 79));
    char caption[] = "Password required!";
    char prompt[] = "Password for the fake archive:";
    int ok = gInputBox(caption, prompt, 1, value, maxLen);
    if (!ok) {
        logLine("password ok=0");
        return E_UNKNOWN_FORMAT;
    }
    // A terminator must follow at most maxLen characters.
    size_t len = strnlen(value, static_cast<size_t>(maxLen) + 1);
    logLine("password ok=1 value=" + std::string(value, len) + (len > static_cast<size_t>(maxLen) ? " OVERRUN" : ""));
    return std::string(value, len) == gPassword ? 0 : E_UNKNOWN_FORMAT;
}

}  // namespace

FAKE_EXPORT void* WCX_CALL OpenArchive(tOpenArchiveData* data) {
    logLine(std::string("open ") + data->ArcName + " mode=" + std::to_string(data->OpenMode));
    FakeArchive* arc = new FakeArchive;
    int rc = parse(data->ArcName, *arc);
    if (rc == 0) rc = askPassword();
    data->OpenResult = rc;
    if (rc != 0) {
        delete arc;
        return nullptr;
    }
    return arc;
}

FAKE_EXPORT int WCX_CALL ReadHeader(void* handle, tHeaderData* h) {
    FakeArchive* arc = static_cast<FakeArchive*>(handle);
    if (!allZero(h, sizeof *h)) logLine("dirty-header");
    if (arc->next >= arc->entries.size()) {
        logLine("read-header END");
        return E_END_ARCHIVE;
    }
    const Entry& e = arc->entries[arc->next++];
    // Only the fields the real plug-in fills; the rest stays as passed.
    std::snprintf(h->FileName, sizeof h->FileName, "%s", e.path.c_str());
    h->FileAttr = e.attr;
    h->FileTime = e.time;
    h->UnpSize = static_cast<int>(e.size >= 0 ? e.size : static_cast<long long>(e.content.size()));
    h->PackSize = static_cast<int>(e.pack >= 0 ? e.pack : h->UnpSize);
    logLine("read-header " + e.path);
    return 0;
}

FAKE_EXPORT int WCX_CALL ProcessFile(void* handle, int op, char* destPath, char* destName) {
    FakeArchive* arc = static_cast<FakeArchive*>(handle);
    std::string call = "process " + std::to_string(op) + " path=" + (destPath ? destPath : "NULL") +
                       " name=" + (destName ? destName : "NULL");
    auto done = [&](int rc) {
        logLine(call + " rc=" + std::to_string(rc));
        return rc;
    };
    if (op != PK_TEST && op != PK_EXTRACT) return done(0);
    const Entry& e = arc->entries[arc->next - 1];
    if (e.fail) return done(e.fail);

    std::string target;
    FILE* out = nullptr;
    if (op == PK_EXTRACT && destName) {
        target = std::string(destPath ? destPath : "") + destName;
        out = std::fopen(target.c_str(), "wb");
        if (!out) return done(E_ECREATE);
    }
    size_t chunk = static_cast<size_t>(envNumber("FAKE_CHUNK", 4096));
    long sigintAfter = envNumber("FAKE_SIGINT_AFTER", 0);
    std::string cbName = out ? target : e.path;
    for (size_t pos = 0; pos < e.content.size(); pos += chunk) {
        size_t n = std::min(chunk, e.content.size() - pos);
        if (out) std::fwrite(e.content.data() + pos, 1, n, out);
        if (!arc->progress) continue;
        if (++gProgressCalls == sigintAfter) std::raise(SIGINT);
        if (arc->progress(&cbName[0], static_cast<int>(n)) == 0) {
            logLine("callback-answered-0");
            if (out) {
                std::fclose(out);
                std::remove(target.c_str());
            }
            return done(E_EABORTED);
        }
    }
    if (out) std::fclose(out);
    return done(0);
}

FAKE_EXPORT int WCX_CALL CloseArchive(void* handle) {
    delete static_cast<FakeArchive*>(handle);
    logLine("close");
    return 0;
}

FAKE_EXPORT void WCX_CALL SetChangeVolProc(void*, tChangeVolProc) { logLine("set-change-vol"); }

FAKE_EXPORT void WCX_CALL SetProcessDataProc(void* handle, tProcessDataProc proc) {
    logLine("set-process-data");
    static_cast<FakeArchive*>(handle)->progress = proc;
}

FAKE_EXPORT int WCX_CALL GetPackerCaps() { return PK_CAPS_MULTIPLE; }

#ifdef FAKE_EXTENSION
FAKE_EXPORT void ExtensionInitialize(tExtensionStartupInfo* info) {
    bool rest = allZero(info->OtherProcs, sizeof info->OtherProcs);
    logLine("init size=" + std::to_string(info->StructSize) + " dir=" + info->PluginDir +
            " confdir=" + info->PluginConfDir + " inputbox=" + (info->InputBox ? "1" : "0") +
            " rest-zero=" + (rest ? "1" : "0"));
    gInputBox = info->InputBox;
}

FAKE_EXPORT void ExtensionFinalize(void*) {
    gInputBox = nullptr;
    logLine("finalize");
}
#endif
