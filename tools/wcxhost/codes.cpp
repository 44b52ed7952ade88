#include "codes.h"

#include "plugin/wcxapi.h"

namespace codes {

namespace {
struct CodeInfo {
    int code;
    const char* name;
    const char* text;
};

const CodeInfo kCodes[] = {
    {WCX_OK, "WCX_OK", "success"},
    {E_END_ARCHIVE, "E_END_ARCHIVE", "no more entries"},
    {E_NO_MEMORY, "E_NO_MEMORY", "out of memory"},
    {E_BAD_DATA, "E_BAD_DATA", "bad data"},
    {E_BAD_ARCHIVE, "E_BAD_ARCHIVE", "bad archive"},
    {E_UNKNOWN_FORMAT, "E_UNKNOWN_FORMAT", "unknown format"},
    {E_EOPEN, "E_EOPEN", "cannot open"},
    {E_ECREATE, "E_ECREATE", "cannot create file"},
    {E_ECLOSE, "E_ECLOSE", "cannot close"},
    {E_EREAD, "E_EREAD", "read error"},
    {E_EWRITE, "E_EWRITE", "write error"},
    {E_SMALL_BUF, "E_SMALL_BUF", "buffer too small"},
    {E_EABORTED, "E_EABORTED", "aborted"},
    {E_NO_FILES, "E_NO_FILES", "no files"},
    {E_TOO_MANY_FILES, "E_TOO_MANY_FILES", "too many files"},
    {E_NOT_SUPPORTED, "E_NOT_SUPPORTED", "not supported"},
};

const CodeInfo* find(int code) {
    for (const CodeInfo& info : kCodes)
        if (info.code == code) return &info;
    return nullptr;
}
}  // namespace

const char* name(int code) {
    const CodeInfo* info = find(code);
    return info ? info->name : nullptr;
}

std::string tag(int code) {
    const CodeInfo* info = find(code);
    return std::string("(") + (info ? std::string(info->name) + ", " : std::string()) + std::to_string(code) + ")";
}

std::string describe(int code) {
    const CodeInfo* info = find(code);
    return std::string(info ? info->text : "unrecognised result") + " " + tag(code);
}

}  // namespace codes
