// The configuration folder wcxhost hands a plug-in at start-up
// (PluginConfDir of ExtensionInitialize), where the plug-in keeps its
// settings file unless one lies beside the library itself.
#pragma once

#include <string>

namespace settings {

// The folder, with a trailing separator, or "" to hand none:
//   1. `chosen` (--config-dir) when given;
//   2. else Double Commander's configuration folder, "doublecmd" under the
//      first of os::configHomes() that has one, so that the terminal and the
//      file manager read the same settings;
//   3. else "kiv" under the first of os::configHomes().
// The folder is created when it is missing and the plug-in will use it,
// that is unless `pluginFolder` holds a readable kiv.ini file (a folder of
// that name does not count). A failure to create it
// leaves the reason in `warning` (and the folder is still handed over, so
// that nothing is written beside the plug-in).
std::string folderFor(const std::string& pluginFolder, const std::string& chosen, std::string& warning);

}  // namespace settings
