// The packer plug-in interface as the file manager publishes it: the two
// records it passes, the callbacks it hands over and the result codes.
// Shared by the plug-in and by the host stand-in (tools/wcxhost).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define WCX_CALL __stdcall
#else
#define WCX_CALL
#endif

extern "C" {

// Result codes.
enum {
    WCX_OK = 0,
    E_END_ARCHIVE = 10,
    E_NO_MEMORY = 11,
    E_BAD_DATA = 12,
    E_BAD_ARCHIVE = 13,
    E_UNKNOWN_FORMAT = 14,
    E_EOPEN = 15,
    E_ECREATE = 16,
    E_ECLOSE = 17,
    E_EREAD = 18,
    E_EWRITE = 19,
    E_SMALL_BUF = 20,
    E_EABORTED = 21,
    E_NO_FILES = 22,
    E_TOO_MANY_FILES = 23,
    E_NOT_SUPPORTED = 24
};

// ProcessFile operations.
enum { PK_SKIP = 0, PK_TEST = 1, PK_EXTRACT = 2 };

// OpenArchive modes (not read by this plug-in; listed for hosts).
enum { PK_OM_LIST = 0, PK_OM_EXTRACT = 1 };

// Capability bits.
enum { PK_CAPS_MULTIPLE = 4, PK_CAPS_SEARCHTEXT = 128 };

typedef struct {
    char* ArcName;
    int OpenMode;
    int OpenResult;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tOpenArchiveData;

typedef struct {
    char ArcName[260];
    char FileName[260];
    int Flags;
    int PackSize;
    int UnpSize;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tHeaderData;

// Answers 0 to ask for an abort, anything else to go on.
typedef int(WCX_CALL* tProcessDataProc)(char* FileName, int Size);
typedef int(WCX_CALL* tChangeVolProc)(char* ArcName, int Mode);

// Signatures of the seven exports, for hosts that look them up by name.
typedef void*(WCX_CALL* tOpenArchiveProc)(tOpenArchiveData* ArchiveData);
typedef int(WCX_CALL* tReadHeaderProc)(void* hArcData, tHeaderData* HeaderData);
typedef int(WCX_CALL* tProcessFileProc)(void* hArcData, int Operation, char* DestPath, char* DestName);
typedef int(WCX_CALL* tCloseArchiveProc)(void* hArcData);
typedef void(WCX_CALL* tSetChangeVolProcProc)(void* hArcData, tChangeVolProc pChangeVolProc);
typedef void(WCX_CALL* tSetProcessDataProcProc)(void* hArcData, tProcessDataProc pProcessDataProc);
typedef int(WCX_CALL* tGetPackerCapsProc)(void);

// The optional start-up call of the Linux file manager, which hands its
// plug-ins an input box. The structure is packed; InputBox sits at 32772.
#pragma pack(push, 1)
typedef int (*tInputBoxProc)(char* Caption, char* Prompt, int MaskInput, char* Value, int ValueMaxLen);
typedef struct {
    uint32_t StructSize;
    char PluginDir[16384];
    char PluginConfDir[16384];
    tInputBoxProc InputBox;
    void* OtherProcs[31];  // further host services; this plug-in uses none
} tExtensionStartupInfo;
#pragma pack(pop)
typedef void (*tExtensionInitializeProc)(tExtensionStartupInfo* StartupInfo);
typedef void (*tExtensionFinalizeProc)(void* Reserved);

}  // extern "C"

static_assert(offsetof(tExtensionStartupInfo, InputBox) == 32772, "input box offset");

#if defined(__i386__) || defined(_M_IX86)
// The published 32-bit layout.
static_assert(offsetof(tOpenArchiveData, ArcName) == 0, "ArcName");
static_assert(offsetof(tOpenArchiveData, OpenMode) == 4, "OpenMode");
static_assert(offsetof(tOpenArchiveData, OpenResult) == 8, "OpenResult");
static_assert(offsetof(tOpenArchiveData, CmtBuf) == 12, "CmtBuf");
static_assert(offsetof(tOpenArchiveData, CmtState) == 24, "CmtState");
static_assert(sizeof(tOpenArchiveData) == 28, "tOpenArchiveData size");
static_assert(offsetof(tHeaderData, ArcName) == 0, "ArcName");
static_assert(offsetof(tHeaderData, FileName) == 260, "FileName");
static_assert(offsetof(tHeaderData, Flags) == 520, "Flags");
static_assert(offsetof(tHeaderData, PackSize) == 524, "PackSize");
static_assert(offsetof(tHeaderData, UnpSize) == 528, "UnpSize");
static_assert(offsetof(tHeaderData, HostOS) == 532, "HostOS");
static_assert(offsetof(tHeaderData, FileCRC) == 536, "FileCRC");
static_assert(offsetof(tHeaderData, FileTime) == 540, "FileTime");
static_assert(offsetof(tHeaderData, UnpVer) == 544, "UnpVer");
static_assert(offsetof(tHeaderData, Method) == 548, "Method");
static_assert(offsetof(tHeaderData, FileAttr) == 552, "FileAttr");
static_assert(offsetof(tHeaderData, CmtBuf) == 556, "CmtBuf");
static_assert(sizeof(tHeaderData) == 572, "tHeaderData size");
#endif
