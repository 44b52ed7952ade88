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

// GetBackgroundFlags bits: what the host may run on worker threads
// (this plug-in only unpacks).
enum { BACKGROUND_UNPACK = 1, BACKGROUND_PACK = 2, BACKGROUND_MEMPACK = 4 };

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

// The newer records: whole 64-bit sizes (low and high halves), paths of
// up to 1023 characters, and UTF-16 texts for the wide functions. WCHAR is
// the host's 16-bit WideChar on every platform.
#if defined(_WIN32)
typedef wchar_t WCHAR;
#else
typedef char16_t WCHAR;
#endif

typedef struct {
    WCHAR* ArcName;
    int OpenMode;
    int OpenResult;
    WCHAR* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tOpenArchiveDataW;

typedef struct {
    char ArcName[1024];
    char FileName[1024];
    int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
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
    char Reserved[1024];
} tHeaderDataEx;

typedef struct {
    WCHAR ArcName[1024];
    WCHAR FileName[1024];
    int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
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
    char Reserved[1024];
} tHeaderDataExW;

// Answers 0 to ask for an abort, anything else to go on.
typedef int(WCX_CALL* tProcessDataProc)(char* FileName, int Size);
typedef int(WCX_CALL* tChangeVolProc)(char* ArcName, int Mode);
typedef int(WCX_CALL* tProcessDataProcW)(WCHAR* FileName, int Size);
typedef int(WCX_CALL* tChangeVolProcW)(WCHAR* ArcName, int Mode);

// Signatures of the seven exports, for hosts that look them up by name.
typedef void*(WCX_CALL* tOpenArchiveProc)(tOpenArchiveData* ArchiveData);
typedef int(WCX_CALL* tReadHeaderProc)(void* hArcData, tHeaderData* HeaderData);
typedef int(WCX_CALL* tProcessFileProc)(void* hArcData, int Operation, char* DestPath, char* DestName);
typedef int(WCX_CALL* tCloseArchiveProc)(void* hArcData);
typedef void(WCX_CALL* tSetChangeVolProcProc)(void* hArcData, tChangeVolProc pChangeVolProc);
typedef void(WCX_CALL* tSetProcessDataProcProc)(void* hArcData, tProcessDataProc pProcessDataProc);
typedef int(WCX_CALL* tGetPackerCapsProc)(void);
// The newer functions a host prefers when a plug-in offers them.
typedef int(WCX_CALL* tReadHeaderExProc)(void* hArcData, tHeaderDataEx* HeaderData);
typedef void*(WCX_CALL* tOpenArchiveWProc)(tOpenArchiveDataW* ArchiveData);
typedef int(WCX_CALL* tReadHeaderExWProc)(void* hArcData, tHeaderDataExW* HeaderData);
typedef int(WCX_CALL* tProcessFileWProc)(void* hArcData, int Operation, WCHAR* DestPath, WCHAR* DestName);
typedef void(WCX_CALL* tSetChangeVolProcWProc)(void* hArcData, tChangeVolProcW pChangeVolProc);
typedef void(WCX_CALL* tSetProcessDataProcWProc)(void* hArcData, tProcessDataProcW pProcessDataProc);
typedef int(WCX_CALL* tGetBackgroundFlagsProc)(void);

// The hosts' suggestion of where plug-ins keep their settings, passed
// right after loading to a plug-in that exports PackSetDefaultParams.
// DefaultIniName is the host's ini file for plug-ins (its own code page).
typedef struct {
    int size;  // of this record
    uint32_t PluginInterfaceVersionLow;
    uint32_t PluginInterfaceVersionHi;
    char DefaultIniName[260];
} PackDefaultParamStruct;
typedef void(WCX_CALL* tPackSetDefaultParamsProc)(PackDefaultParamStruct* dps);

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
static_assert(offsetof(PackDefaultParamStruct, DefaultIniName) == 12 && sizeof(PackDefaultParamStruct) == 272,
              "PackDefaultParamStruct layout");

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

static_assert(sizeof(WCHAR) == 2, "WCHAR is 16-bit");
#if defined(_WIN32)
// The published layouts of the newer records, for both Windows targets:
// pointers are 4 bytes on one and 8 on the other, ints 4 on both.
constexpr size_t kWcxPtr = sizeof(void*);
static_assert(kWcxPtr == 4 || kWcxPtr == 8, "a Windows target");
static_assert(offsetof(tOpenArchiveDataW, ArcName) == 0, "ArcName");
static_assert(offsetof(tOpenArchiveDataW, OpenMode) == kWcxPtr, "OpenMode");
static_assert(offsetof(tOpenArchiveDataW, OpenResult) == kWcxPtr + 4, "OpenResult");
static_assert(offsetof(tOpenArchiveDataW, CmtBuf) == kWcxPtr + 8, "CmtBuf");
static_assert(offsetof(tOpenArchiveDataW, CmtBufSize) == 2 * kWcxPtr + 8, "CmtBufSize");
static_assert(offsetof(tOpenArchiveDataW, CmtState) == 2 * kWcxPtr + 16, "CmtState");
static_assert(sizeof(tOpenArchiveDataW) == (kWcxPtr == 4 ? 28 : 40), "tOpenArchiveDataW size");
static_assert(offsetof(tHeaderDataEx, ArcName) == 0, "ArcName");
static_assert(offsetof(tHeaderDataEx, FileName) == 1024, "FileName");
static_assert(offsetof(tHeaderDataEx, Flags) == 2048, "Flags");
static_assert(offsetof(tHeaderDataEx, PackSize) == 2052, "PackSize");
static_assert(offsetof(tHeaderDataEx, PackSizeHigh) == 2056, "PackSizeHigh");
static_assert(offsetof(tHeaderDataEx, UnpSize) == 2060, "UnpSize");
static_assert(offsetof(tHeaderDataEx, UnpSizeHigh) == 2064, "UnpSizeHigh");
static_assert(offsetof(tHeaderDataEx, HostOS) == 2068, "HostOS");
static_assert(offsetof(tHeaderDataEx, FileCRC) == 2072, "FileCRC");
static_assert(offsetof(tHeaderDataEx, FileTime) == 2076, "FileTime");
static_assert(offsetof(tHeaderDataEx, UnpVer) == 2080, "UnpVer");
static_assert(offsetof(tHeaderDataEx, Method) == 2084, "Method");
static_assert(offsetof(tHeaderDataEx, FileAttr) == 2088, "FileAttr");
static_assert(offsetof(tHeaderDataEx, CmtBuf) == (kWcxPtr == 4 ? 2092 : 2096), "CmtBuf");
static_assert(offsetof(tHeaderDataEx, CmtBufSize) == (kWcxPtr == 4 ? 2096 : 2104), "CmtBufSize");
static_assert(offsetof(tHeaderDataEx, CmtState) == (kWcxPtr == 4 ? 2104 : 2112), "CmtState");
static_assert(offsetof(tHeaderDataEx, Reserved) == (kWcxPtr == 4 ? 2108 : 2116), "Reserved");
static_assert(sizeof(tHeaderDataEx) == (kWcxPtr == 4 ? 3132 : 3144), "tHeaderDataEx size");
static_assert(offsetof(tHeaderDataExW, ArcName) == 0, "ArcName");
static_assert(offsetof(tHeaderDataExW, FileName) == 2048, "FileName");
static_assert(offsetof(tHeaderDataExW, Flags) == 4096, "Flags");
static_assert(offsetof(tHeaderDataExW, PackSize) == 4100, "PackSize");
static_assert(offsetof(tHeaderDataExW, PackSizeHigh) == 4104, "PackSizeHigh");
static_assert(offsetof(tHeaderDataExW, UnpSize) == 4108, "UnpSize");
static_assert(offsetof(tHeaderDataExW, UnpSizeHigh) == 4112, "UnpSizeHigh");
static_assert(offsetof(tHeaderDataExW, FileTime) == 4124, "FileTime");
static_assert(offsetof(tHeaderDataExW, FileAttr) == 4136, "FileAttr");
static_assert(offsetof(tHeaderDataExW, CmtBuf) == (kWcxPtr == 4 ? 4140 : 4144), "CmtBuf");
static_assert(offsetof(tHeaderDataExW, CmtState) == (kWcxPtr == 4 ? 4152 : 4160), "CmtState");
static_assert(offsetof(tHeaderDataExW, Reserved) == (kWcxPtr == 4 ? 4156 : 4164), "Reserved");
static_assert(sizeof(tHeaderDataExW) == (kWcxPtr == 4 ? 5180 : 5192), "tHeaderDataExW size");
#endif
