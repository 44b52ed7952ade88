// One open archive of a loaded plug-in, in the order the file manager uses:
// OpenArchive, SetChangeVolProc, SetProcessDataProc, then ReadHeader and
// ProcessFile per entry; CloseArchive when the object goes away.
#pragma once

#include <string>

#include <memory>

#include "entry_format.h"
#include "plugin.h"

class Archive {
public:
    // Opens `path`; check isOpen(), and openResult() for the reason.
    // Opens `path` (UTF-8) with the plug-in's newest functions.
    Archive(Plugin& plugin, const std::string& path, int openMode, tProcessDataProc progress,
            tProcessDataProcW progressW);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool isOpen() const { return handle_ != nullptr; }
    int openResult() const { return openResult_; }

    // Through the newest header function. Fields the plug-in leaves alone
    // read as 0. The record comes in the Windows form (entry::toWindowsForm)
    // with the platform's separator in the name, unless `raw` asks for it
    // exactly as the plug-in filled it.
    int readHeader(entry::Header& header, bool raw = false);
    int skip();
    int test();
    // Full target path in DestName, DestPath null.
    int extractTo(const std::string& target);
    // Folder (with trailing separator) in DestPath, name in DestName.
    int extractSplit(const std::string& folder, const std::string& name);
    // CloseArchive now; later calls are no-ops. Returns its result.
    int close();

private:
    int extract(const std::string* folder, const std::string& name);

    Plugin& plugin_;
    const Plugin::Family family_;
    // Kept across calls: the Ex records are kilobytes, and clearing them
    // whole for every entry of a large archive would cost more than listing.
    std::unique_ptr<tHeaderData> seven_;
    std::unique_ptr<tHeaderDataEx> ex_;
    std::unique_ptr<tHeaderDataExW> wide_;
    void* handle_ = nullptr;
    int openResult_ = 0;
};
