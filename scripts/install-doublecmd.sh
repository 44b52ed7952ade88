#!/bin/bash
# Installs kiv.wcx for Double Commander and registers it for the extension
# kiv in the user's configuration (doublecmd.xml, under <WcxPlugins>), or
# with --uninstall removes both again.
#
#   install-doublecmd.sh [--user|--system] [--plugin FILE] [--config-dir DIR] [--dest DIR]
#   install-doublecmd.sh --uninstall [--user|--system] [--config-dir DIR] [--dest DIR]
#
#   --user        copy to ~/.local/share/doublecmd/plugins/wcx/kiv/ (the default)
#   --system      copy to /usr/lib/doublecmd/plugins/wcx/kiv/ (as root, or through sudo);
#                 the registration is still the calling user's own
#   --plugin      the kiv.wcx to install; by default the one beside this script
#                 (a release folder), else the build tree's ($KIV_BUILD_DIR or build/)
#   --config-dir  Double Commander's configuration folder, as its own option of that
#                 name takes it; by default ~/.config/doublecmd
#   --dest        copy into this folder instead
#   --uninstall   remove the kiv registration and the kiv.wcx that --user, --system
#                 or --dest installed (kiv.ini, the settings, stays)
#
# Safe to run again: an existing kiv registration is updated in place, never
# doubled. Each change keeps the previous file as doublecmd.xml.kiv-backup-TIME.
# Refuses while a Double Commander that uses this configuration runs, because
# it rewrites the file when it exits. Under sudo the invoking user's
# configuration is the one registered.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
exec python3 - "$here" "$@" <<'PY'
import filecmp
import os
import pwd
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

EXT = "kiv"
FLAGS = "132"  # what GetPackerCaps answers: several files, text search
SYSTEM_DIR = "/usr/lib/doublecmd/plugins/wcx/kiv"

here, args = sys.argv[1], sys.argv[2:]


def fail(message):
    print("install-doublecmd: " + message, file=sys.stderr)
    sys.exit(1)


USAGE = ("usage: install-doublecmd.sh [--user|--system] [--plugin FILE] [--config-dir DIR] [--dest DIR]\n"
         "       install-doublecmd.sh --uninstall [--user|--system] [--config-dir DIR] [--dest DIR]")


def usage():
    print(USAGE, file=sys.stderr)
    sys.exit(2)


mode, plugin, config_dir, dest, uninstall = "user", None, None, None, False
i = 0
while i < len(args):
    a = args[i]
    if a in ("-h", "--help"):
        print(USAGE)
        sys.exit(0)
    if a in ("--user", "--system"):
        mode = a[2:]
    elif a == "--uninstall":
        uninstall = True
    elif a in ("--plugin", "--config-dir", "--dest") and i + 1 < len(args):
        i += 1
        if a == "--plugin":
            plugin = args[i]
        elif a == "--config-dir":
            config_dir = args[i]
        else:
            dest = args[i]
    elif a.startswith("--config-dir="):
        config_dir = a.split("=", 1)[1]
    else:
        usage()
    i += 1

# Whose configuration: the invoking user's, also under sudo. Double Commander
# finds its folder through the account's home, whatever HOME says.
user = pwd.getpwuid(os.getuid())
sudo_user = os.environ.get("SUDO_USER")
if os.geteuid() == 0 and sudo_user and sudo_user != "root":
    try:
        user = pwd.getpwnam(sudo_user)
    except KeyError:
        pass
default_config = os.path.join(user.pw_dir, ".config", "doublecmd")
config_dir = os.path.abspath(config_dir or default_config)
config = os.path.join(config_dir, "doublecmd.xml")

if uninstall and plugin is not None:
    usage()
if uninstall:
    pass  # nothing to copy
elif plugin is None:
    build = os.environ.get("KIV_BUILD_DIR") or os.path.join(here, "..", "build")
    for candidate in (os.path.join(here, "kiv.wcx"), os.path.join(build, "kiv.wcx")):
        if os.path.isfile(candidate):
            plugin = candidate
            break
    else:
        fail("no kiv.wcx beside this script or in the build tree; build it first "
             "(scripts/build.sh) or name it with --plugin")
if not uninstall:
    plugin = os.path.abspath(plugin)
    if not os.path.isfile(plugin):
        fail("no plug-in at " + plugin)
default_dest = dest is None
if dest is None:
    dest = SYSTEM_DIR if mode == "system" else \
        os.path.join(user.pw_dir, ".local", "share", "doublecmd", "plugins", "wcx", "kiv")
dest = os.path.abspath(dest)
target = os.path.join(dest, "kiv.wcx")


def running_instances():
    """Double Commander processes of this user that use config_dir."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.stat("/proc/" + pid).st_uid != user.pw_uid:
                continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv = [x.decode(errors="replace") for x in f.read().split(b"\0") if x]
        except OSError:
            continue
        if not argv or os.path.basename(argv[0]) != "doublecmd":
            continue
        used = default_config
        for j, x in enumerate(argv):
            if x.startswith("--config-dir="):
                used = x.split("=", 1)[1]
            elif x == "--config-dir" and j + 1 < len(argv):
                used = argv[j + 1]
        if os.path.realpath(used) == os.path.realpath(config_dir):
            found.append(pid)
    return found


def make_dirs(path):
    """os.makedirs that returns the folders it created, outermost first."""
    created = []
    while not os.path.isdir(path):
        created.insert(0, path)
        path = os.path.dirname(path)
    for d in created:
        os.mkdir(d)
    return created


def give_to_user(paths):
    # Files made by root for a sudo user must stay the user's own.
    if os.geteuid() == 0 and user.pw_uid != 0:
        for path in paths:
            os.chown(path, user.pw_uid, user.pw_gid)


running = running_instances()
if running:
    fail("Double Commander is running (pid %s) and rewrites %s when it exits; "
         "close it and run this again" % (", ".join(running), config))


def read_config():
    """The configuration's tree, or None when there is no file."""
    if not os.path.exists(config):
        return None
    parser = ET.XMLParser(target=ET.TreeBuilder(insert_comments=True))
    try:
        tree = ET.parse(config, parser)
    except ET.ParseError as e:
        fail("%s is not readable XML (%s); nothing changed" % (config, e))
    if tree.getroot().tag != "doublecmd":
        fail("%s does not look like Double Commander's configuration (root <%s>)" % (config, tree.getroot().tag))
    return tree


def kiv_registrations(root):
    """The <WcxPlugins> node (or None) and the kiv entries in it."""
    plugins = root.find("Plugins/WcxPlugins")
    if plugins is None:
        return None, []
    return plugins, [p for p in plugins.findall("WcxPlugin")
                     if (p.findtext("ArchiveExt") or "").strip().lower() == EXT]


def write_config(tree, created=()):
    """Keeps a backup of the present file, then replaces it."""
    if os.path.exists(config):
        backup = config + ".kiv-backup-" + time.strftime("%Y%m%d-%H%M%S")
        n = 1
        while os.path.exists(backup):
            n += 1
            backup = "%s.kiv-backup-%s-%d" % (config, time.strftime("%Y%m%d-%H%M%S"), n)
        shutil.copy2(config, backup)
        print("kept the previous configuration as " + backup)
    ET.indent(tree, space="  ")
    tmp = config + ".kiv-new"
    with open(tmp, "w", encoding="utf-8") as f:
        # The declaration as Double Commander writes it.
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        tree.write(f, encoding="unicode")
        f.write("\n")
    if os.path.exists(config):
        shutil.copymode(config, tmp)
    os.replace(tmp, config)
    give_to_user(list(created) + [config])


# --- uninstalling --------------------------------------------------------------
if uninstall:
    tree = read_config()
    plugins, ours = kiv_registrations(tree.getroot()) if tree is not None else (None, [])
    elsewhere = sorted({(p.findtext("Path") or "").strip() for p in ours} - {target, ""})
    did = False
    if ours:
        for p in ours:
            plugins.remove(p)
        if len(plugins) == 0:
            plugins.text = None  # no indentation left over from the removed entries
        write_config(tree)
        print("removed the registration for .%s from %s" % (EXT, config))
        did = True
    if os.path.lexists(target):
        if mode == "system" and os.geteuid() != 0:
            subprocess.run(["sudo", "rm", "-f", target], check=True)
        else:
            os.remove(target)
        print("removed " + target)
        did = True
    # The folder the script made for the plug-in goes with it when nothing
    # else (a kiv.ini of a portable install, say) is left in it.
    if default_dest and os.path.isdir(dest) and not os.listdir(dest):
        if mode == "system" and os.geteuid() != 0:
            subprocess.run(["sudo", "rmdir", dest], check=False)
        else:
            os.rmdir(dest)
    for path in elsewhere:
        if os.path.exists(path):
            print("the registration named %s, which is left in place (--dest picks its folder)" % path)
    if not did:
        print("nothing to uninstall: no registration for .%s in %s and no %s" % (EXT, config, target))
    sys.exit(0)

# --- the plug-in file --------------------------------------------------------
if os.path.isfile(target) and filecmp.cmp(plugin, target, shallow=False):
    print("already installed: " + target)
else:
    if mode == "system" and os.geteuid() != 0:
        subprocess.run(["sudo", "install", "-D", "-m", "0644", plugin, target], check=True)
    else:
        created = make_dirs(dest)
        tmp = target + ".new"
        shutil.copyfile(plugin, tmp)
        os.chmod(tmp, 0o644)
        os.replace(tmp, target)  # a running host keeps its mapping of the old file
        if mode == "user":
            give_to_user(created + [target])
    print("installed " + target)


# --- the registration ----------------------------------------------------------
def child(parent, tag):
    node = parent.find(tag)
    if node is None:
        node = ET.SubElement(parent, tag)
    return node


def set_text(parent, tag, text):
    node = child(parent, tag)
    changed = (node.text or "").strip() != text
    node.text = text
    return changed


tree = read_config()
if tree is None:
    # Double Commander keeps this entry and adds its own defaults on its next start.
    tree = ET.ElementTree(ET.Element("doublecmd"))
root = tree.getroot()

plugins = child(child(root, "Plugins"), "WcxPlugins")
ours = kiv_registrations(root)[1]
changed = not os.path.exists(config)
if not ours:
    ours = [ET.SubElement(plugins, "WcxPlugin")]
    changed = True
entry = ours[0]
for extra in ours[1:]:
    plugins.remove(extra)
    changed = True
if entry.get("Enabled") != "True":
    entry.set("Enabled", "True")
    changed = True
changed |= set_text(entry, "ArchiveExt", EXT)
changed |= set_text(entry, "Path", target)
changed |= set_text(entry, "Flags", FLAGS)

if not changed:
    print("already registered for .%s in %s" % (EXT, config))
    sys.exit(0)

write_config(tree, make_dirs(config_dir))
print("registered %s for .%s in %s" % (target, EXT, config))
PY
