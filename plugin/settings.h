// kiv.ini: seven on/off switches that shape new listings, and the code page
// of names in older archives.
//
// Where it is: the kiv.ini beside the plug-in when that file exists;
// otherwise the one in the folder the host keeps its plug-ins' settings in,
// when that file exists. When neither exists, the default file is written
// beside the plug-in on Windows, and in the host's folder only when it
// cannot be created there; on Linux, where a plug-in usually sits in a
// folder the user cannot write, into the host's folder when the host named
// one, else beside the plug-in.
#pragma once

#include "archive/context.h"

namespace kiv {

// Sets the context's display flags and legacy code page from the file; a
// missing file leaves them at their defaults.
void readSettings(ArchiveContext& context);
// Writes the file with every switch off unless one of the two exists.
void writeDefaultSettings();

// The host's settings folder, from the two calls that name it: the folder
// of the Linux file manager's start-up call (ExtensionInitialize; null or
// "" clears it), and the folder of the ini file PackSetDefaultParams
// suggests. The first, when set, is the one used. Any thread.
void setStartupSettingsFolder(const char* folder);
void setDefaultIniName(const char* iniName);

}  // namespace kiv
