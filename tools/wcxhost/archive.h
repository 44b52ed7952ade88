// One open archive of a loaded plug-in, in the order the file manager uses:
// OpenArchive, SetChangeVolProc, SetProcessDataProc, then ReadHeader and
// ProcessFile per entry; CloseArchive when the object goes away.
#pragma once

#include <string>

#include "plugin.h"

class Archive {
public:
    // Opens `path`; check isOpen(), and openResult() for the reason.
    Archive(Plugin& plugin, const std::string& path, int openMode, tProcessDataProc progress);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool isOpen() const { return handle_ != nullptr; }
    int openResult() const { return openResult_; }

    // Zeroes `header` first, so fields the plug-in leaves alone read as 0.
    // The record comes in the Windows form (entry::toWindowsForm) unless
    // `raw` asks for it exactly as the plug-in filled it.
    int readHeader(tHeaderData& header, bool raw = false);
    int skip();
    int test();
    // Full target path in DestName, DestPath null.
    int extractTo(const std::string& target);
    // Folder (with trailing separator) in DestPath, name in DestName.
    int extractSplit(const std::string& folder, const std::string& name);
    // CloseArchive now; later calls are no-ops. Returns its result.
    int close();

private:
    Plugin& plugin_;
    void* handle_ = nullptr;
    int openResult_ = 0;
};
