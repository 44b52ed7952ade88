// wcxhost: loads a packer plug-in and drives it the way the file manager
// does, to list, test or extract an archive from the command line.
#include <cstdio>
#include <string>

#include "commands.h"
#include "kiv_version.h"
#include "os.h"
#include "password.h"
#include "plugin.h"
#include "progress.h"
#include "settings_folder.h"

// The file manager's 64-bit edition loads the .wcx64 build of a plug-in.
#if defined(_WIN64)
static const char kDefaultPlugin[] = "kiv.wcx64";
#else
static const char kDefaultPlugin[] = "kiv.wcx";
#endif

namespace {

// What differs in the usage text: how paths are shown, and where the
// plug-in's settings come from (only POSIX hosts name a folder for them).
#if defined(_WIN32)
#define WCXHOST_SHOWN_PATHS "'\\'-separated"
#define WCXHOST_SETTINGS \
    "settings: the kiv plug-in reads kiv.ini beside itself and writes the\n" \
    "default file there when there is none (wcxhost names it no other folder).\n"
#else
#define WCXHOST_SHOWN_PATHS "'/'-separated"
#define WCXHOST_SETTINGS \
    "settings: the kiv plug-in reads kiv.ini beside itself when that exists.\n" \
    "Otherwise it reads the kiv.ini in the configuration folder wcxhost hands\n" \
    "it: --config-dir, else the folder Double Commander uses when it exists\n" \
    "($XDG_CONFIG_HOME/doublecmd or ~/.config/doublecmd), so that both read the\n" \
    "same settings, else $XDG_CONFIG_HOME/kiv (~/.config/kiv), made when needed.\n" \
    "The plug-in writes the default file there when there is none.\n"
#endif

const char kUsage[] =
    "usage: wcxhost [options] list ARCHIVE\n"
    "       wcxhost [options] test ARCHIVE [PATTERN...]\n"
    "       wcxhost [options] extract ARCHIVE DEST [PATTERN...]\n"
    "       wcxhost --version | -h | --help\n"
    "\n"
    "options:\n"
    "  --plugin PATH         plug-in to load (default: kiv.wcx beside wcxhost,\n"
    "                        kiv.wcx64 for the 64-bit Windows build)\n"
    "  --password-file FILE  answer password prompts with the file's first line\n"
    "                        (else KIV_PASSWORD, else a prompt on the terminal)\n"
    "  --config-dir DIR      the configuration folder handed to a plug-in that\n"
    "                        exports ExtensionInitialize (see settings below)\n"
    "  --raw                 list: numeric header fields, one entry per line,\n"
    "                        as the plug-in filled them: FileTime FileAttr\n"
    "                        UnpSize PackSize Flags HostOS FileCRC UnpVer\n"
    "                        Method<TAB>FileName\n"
    "  --split               extract: pass folder and name separately\n"
    "  --ansi                call only the seven functions every plug-in has\n"
    "                        (default: the newest it offers: the wide ones,\n"
    "                        then ReadHeaderEx; names and sizes then come whole)\n"
    "  --conventions unix|windows\n"
    "                        how the plug-in fills the header record: '/' paths,\n"
    "                        Unix modes and seconds (the Linux file manager's),\n"
    "                        or '\\' paths, attribute bytes and MS-DOS times\n"
    "                        (default: the platform's; the table and extraction\n"
    "                        read both alike, --raw shows the record as filled)\n"
    "  -h, --help            this text\n"
    "\n"
    "The table and the messages show paths " WCXHOST_SHOWN_PATHS ",\n"
    "whichever separator the plug-in reports. PATTERN is a glob against that\n"
    "path: * ? [...]; '/' and '\\' in a pattern both match either separator.\n"
    "Names are read and shown in UTF-8.\n"
    "\n" WCXHOST_SETTINGS
    "\n"
    "exit status: 0 success, 1 some entries failed or a PATTERN matched no\n"
    "entry, 2 the plug-in or the archive could not be used (or bad usage),\n"
    "130 interrupted.\n";

int usageError(const char* message) {
    std::fprintf(stderr, "wcxhost: %s\n\n%s", message, kUsage);
    return kExitError;
}

enum class Action { Run, Help, Version };

// Options may stand anywhere; "--" ends them. -h, --help and --version end
// the parsing where they stand, as the first of them wins.
bool parse(const std::vector<std::string>& argv, Options& options, std::string& error, Action& action) {
    const int argc = static_cast<int>(argv.size());
    std::vector<std::string> words;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!optionsDone && (arg == "-h" || arg == "--help" || arg == "--version")) {
            action = arg == "--version" ? Action::Version : Action::Help;
            return true;
        } else if (optionsDone || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            words.push_back(arg);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--ansi") {
            options.ansi = true;
        } else if (arg == "--split") {
            options.split = true;
        } else if (arg == "--plugin" || arg == "--password-file" || arg == "--conventions" || arg == "--config-dir") {
            if (i + 1 >= argc || argv[i + 1].empty()) {
                error = arg + " needs a value";
                return false;
            }
            (arg == "--plugin"        ? options.pluginPath
             : arg == "--conventions" ? options.conventions
             : arg == "--config-dir"  ? options.configDir
                                      : options.passwordFile) = argv[++i];
            if (arg == "--conventions" && options.conventions != "unix" && options.conventions != "windows") {
                error = "--conventions takes unix or windows";
                return false;
            }
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (words.empty()) {
        error = "no command given";
        return false;
    }
    options.command = words[0];
    size_t needed = options.command == "extract" ? 3 : 2;
    if (options.command != "list" && options.command != "test" && options.command != "extract") {
        error = "unknown command " + options.command;
        return false;
    }
    if (words.size() < needed || (options.command == "list" && words.size() > 2)) {
        error = "wrong number of arguments for " + options.command;
        return false;
    }
    options.archive = words[1];
    if (options.command == "extract") options.dest = words[2];
    options.patterns.assign(words.begin() + static_cast<long>(needed), words.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    Action action = Action::Run;
    if (!parse(os::arguments(argc, argv), options, error, action)) return usageError(error.c_str());
    if (action == Action::Version) {
        std::printf("wcxhost %s\n", KIV_VERSION);
        return kExitOk;
    }
    if (action == Action::Help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (options.pluginPath.empty()) options.pluginPath = os::executableDir() + kDefaultPlugin;

    std::unique_ptr<Plugin> plugin = Plugin::load(options.pluginPath, error);
    if (!plugin) {
        std::fprintf(stderr, "wcxhost: %s\n", error.c_str());
        return kExitError;
    }
    if (!options.conventions.empty()) plugin->unixConventions = options.conventions == "unix";
    plugin->forceSeven = options.ansi;
    password::setPasswordFile(options.passwordFile);
    if (plugin->takesStartupInfo()) {
        std::string warning;
        const std::string configFolder = settings::folderFor(plugin->folder(), options.configDir, warning);
        if (!warning.empty()) std::fprintf(stderr, "wcxhost: %s\n", warning.c_str());
        plugin->initializeExtension(password::inputBox, configFolder);
    }
    progress::catchInterrupt();

    if (options.command == "list") return runList(*plugin, options);
    if (options.command == "test") return runTest(*plugin, options);
    return runExtract(*plugin, options);
}
