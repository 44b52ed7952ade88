#include "settings_folder.h"

#include <cstdint>
#include <vector>

#include "os.h"
#include "target_path.h"

namespace settings {

std::string folderFor(const std::string& pluginFolder, const std::string& chosen, std::string& warning) {
    std::string folder = chosen;
    if (folder.empty()) {
        const std::vector<std::string> homes = os::configHomes();
        if (homes.empty()) return "";
        // Double Commander 1.0 keeps its folder in ~/.config whatever
        // XDG_CONFIG_HOME says, so every home is looked at before a new
        // folder is made in the first.
        for (const std::string& home : homes) {
            if (os::isFolder(home + os::separator() + "doublecmd")) {
                folder = home + os::separator() + "doublecmd";
                break;
            }
        }
        if (folder.empty()) folder = homes.front() + os::separator() + "kiv";
    }
    // The plug-in reads a kiv.ini beside itself whenever that is a file it
    // can read; only then is the folder not needed.
    uint64_t size = 0;
    const bool besideWins = os::whyUnreadable(pluginFolder + "kiv.ini", size).empty();
    std::string why;
    if (!besideWins && !os::isFolder(folder) && !target::makePath(folder, why))
        warning = why + " (the plug-in's settings keep their defaults)";
    if (!os::isSeparator(folder.back())) folder += os::separator();
    return folder;
}

}  // namespace settings
