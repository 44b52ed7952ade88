#!/bin/bash
# Real-host test: the Linux kiv.wcx in Double Commander itself, on an Xvfb
# display. The plug-in is registered with scripts/install-doublecmd.sh in a
# throw-away configuration; two archives from the test writer (folders
# nested three deep, an empty folder, zlib data, and the same scrambled,
# its password typed into the plug-in's input box) are opened in the left
# panel, every entry is copied out with F5 into an empty folder, and the
# tree written is compared with the entries: folders are folders, names are
# split on '/', contents and modification times are the entries'. Two
# archives of format version 3 follow, whose names are code-page bytes
# (1252 with the default settings, 1251 with legacyCodePage=1251): the
# names written must be UTF-8. Then two copy-outs run at once, each from its
# own archive into its own folder, while a third archive is listed in the
# panel.
#
#   tests/realhost/run.sh        after scripts/build.sh (KIV_BUILD_DIR picks the build)
#
# Screenshots of the panels and the logs go to $KIV_BUILD_DIR/realhost/.
# Exit status 0 only when every check passed.
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${KIV_BUILD_DIR:-$root/build}" 2>/dev/null && pwd)" || build="${KIV_BUILD_DIR:-$root/build}"
work="$build/realhost"
plugin="$build/kiv.wcx"
maker="$build/tests/realhost/kivmkrealhost"
password="open sesame"
start_time=$(date +%s)

passed=0
failed=0
failures=()
ok() { echo "PASS  $1"; passed=$((passed + 1)); }
bad() { echo "FAIL  $1"; failed=$((failed + 1)); failures+=("$1"); }
note() { echo "--    $*"; }
summary() {
  echo "realhost: $passed passed, $failed failed ($(( $(date +%s) - start_time )) s)"
  for f in "${failures[@]}"; do echo "   failed: $f"; done
}

# Double Commander, Xvfb, xdotool and import come from the project's installer.
"$root/scripts/install-deps.sh" || { bad "scripts/install-deps.sh"; summary; exit 1; }
if [[ ! -f "$plugin" || ! -x "$maker" ]]; then
  bad "built plug-in and archive maker ($plugin, $maker): run scripts/build.sh first"
  summary; exit 1
fi

rm -rf "$work"
mkdir -p "$work"/{cfg,home,runtime,arc-plain,arc-scrambled,out-plain,out-scrambled}
chmod 700 "$work/runtime"
# A zone off UTC by a half hour: any mix of local and universal time shows.
export TZ=Asia/Kolkata
export LANG=C.UTF-8
unset LC_ALL

xvfb_pid=""
dc_pid=""
stop_dc() {  # ends the running Double Commander; leaves its status in dc_status
  dc_status=""
  [[ -n "$dc_pid" ]] || return 0
  kill -TERM "$dc_pid" 2>/dev/null
  local i
  for i in $(seq 50); do kill -0 "$dc_pid" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$dc_pid" 2>/dev/null; then
    kill -KILL "$dc_pid" 2>/dev/null
    dc_status="killed"
  fi
  wait "$dc_pid" 2>/dev/null
  local st=$?
  [[ -n "$dc_status" ]] || dc_status=$st
  dc_pid=""
}
overlap_pids=()
sampler_pid=""
cleanup() {
  stop_dc
  local p
  for p in "${overlap_pids[@]}"; do kill "$p" 2>/dev/null; done
  [[ -n "$sampler_pid" ]] && kill "$sampler_pid" 2>/dev/null
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -f "$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 100); do
  display="$(head -n1 "$work/display" 2>/dev/null)"
  [[ -n "$display" ]] && break
  sleep 0.1
done
if [[ -z "$display" ]]; then
  bad "Xvfb starts"; cat "$work/xvfb.log"; summary; exit 1
fi
export DISPLAY=":$display"

# --- archives and registration ----------------------------------------------
if ! "$maker" "$work/arc-plain/plain.kiv" "$work/arc-scrambled/scrambled.kiv" \
    "$work/expected.txt" "$password"; then
  bad "kivmkrealhost writes the test archives"; summary; exit 1
fi
note "$(wc -l <"$work/expected.txt") entries per archive; Double Commander $(dpkg-query -W -f='${Version}' doublecmd-qt 2>/dev/null)"
# The archives of the overlapping copy-outs take a while to write: they are
# written while the first stages run. Both copy-outs are paused early, so
# each must still have seconds of writing left when they are resumed
# (256 and 96 MiB of bzip2 data, after their small files).
overlap_arcs="$work/arc-overlap"
overlap_out="$work/out-overlap"
mkdir -p "$overlap_arcs" "$overlap_out"/{first,second,third}
"$maker" --many "$overlap_arcs/first.kiv" "$work/expected-first.txt" 4 50 256 1 >"$work/maker-first.log" 2>&1 &
overlap_pids+=($!)
"$maker" --many "$overlap_arcs/second.kiv" "$work/expected-second.txt" 20 100 96 2 >"$work/maker-second.log" 2>&1 &
overlap_pids+=($!)

cfg="$work/cfg"
register() {
  "$root/scripts/install-doublecmd.sh" --user --plugin "$plugin" --config-dir "$cfg" \
    --dest "$work/plugins/kiv" >>"$work/install.log" 2>&1
}
kiv_entries() {  # prints "count path flags" of the kiv registrations in the configuration
  python3 - "$cfg/doublecmd.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
try:
    root = ET.parse(sys.argv[1]).getroot()
except (OSError, ET.ParseError):
    print("0 - - 0"); sys.exit()
all_ = root.findall("./Plugins/WcxPlugins/WcxPlugin")
ours = [p for p in all_ if (p.findtext("ArchiveExt") or "").strip() == "kiv"]
first = ours[0] if ours else None
print(len(ours), first.findtext("Path") if first is not None else "-",
      first.findtext("Flags") if first is not None else "-", len(all_))
PY
}
if register && register; then
  read -r n path flags _ <<<"$(kiv_entries)"
  if [[ "$n" == 1 && "$path" == "$work/plugins/kiv/kiv.wcx" && "$flags" == 132 ]] &&
     grep -q '^already registered' "$work/install.log" && cmp -s "$plugin" "$path"; then
    ok "install-doublecmd.sh installs and registers the plug-in once, run twice"
  else
    bad "install-doublecmd.sh registration ($n entries, path $path, flags $flags)"; cat "$work/install.log"
  fi
else
  bad "install-doublecmd.sh runs"; cat "$work/install.log"; summary; exit 1
fi

# --- driving Double Commander -------------------------------------------------
visible_windows() {  # "id<TAB>name" of every named visible window
  local w name
  for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    name="$(xdotool getwindowname "$w" 2>/dev/null)" || continue
    [[ -n "$name" ]] && printf '%s\t%s\n' "$w" "$name"
  done
}
find_window() {  # prints the id of a visible window whose name matches $1 (ERE)
  visible_windows | awk -F'\t' -v re="$1" '$2 ~ re { print $1; exit }'
}
other_windows() {  # names of visible windows besides the main one
  visible_windows | awk -F'\t' -v main="$main_win" '$1 != main { print $2 }'
}
alive() { [[ -n "$dc_pid" ]] && kill -0 "$dc_pid" 2>/dev/null; }
shot() { import -window root "$work/$1.png" 2>/dev/null && note "screenshot: $work/$1.png"; }
crashed() {  # stage: reports a Double Commander that died under us
  wait "$dc_pid" 2>/dev/null
  local st=$?
  dc_pid=""
  bad "Double Commander crashed during $1 (exit status $st)"
  note "last lines of its log ($dc_log):"
  tail -n 25 "$dc_log" | sed 's/^/        /'
}

main_win=""
start_dc() {  # label archive outdir: starts with the archive's folder left and outdir right
  local label="$1" archive="$2" outdir="$3" attempt i
  for attempt in 1 2 3; do
    dc_log="$work/doublecmd-$label-$attempt.log"
    HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
      doublecmd --no-splash --config-dir="$cfg" -L "$archive" -R "$outdir" >"$dc_log" 2>&1 &
    dc_pid=$!
    main_win=""
    for i in $(seq 150); do
      main_win="$(find_window '^Double Commander')"
      [[ -n "$main_win" ]] && break
      alive || break
      sleep 0.2
    done
    if [[ -n "$main_win" ]]; then
      # A start that dies just after showing its window is a start, not the listing.
      sleep 1
      alive && return 0
    elif alive; then
      bad "Double Commander shows its window within 30 s ($label)"
      shot "failure-$label-start"
      stop_dc
      return 1
    fi
    # The first start sometimes dies while it writes its configuration; the
    # registration is made again in case it went with it.
    wait "$dc_pid" 2>/dev/null
    note "Double Commander exited during its start (attempt $attempt, status $?); starting again"
    tail -n 5 "$dc_log" | sed 's/^/        /'
    dc_pid=""
    # A configuration left half-written is thrown away: it is ours.
    register || { rm -f "$cfg/doublecmd.xml"; register; }
  done
  bad "Double Commander starts ($label, 3 attempts)"
  return 1
}

password_prompts=0
answer_password() {  # types the password into the plug-in's input box
  local win="$1"
  password_prompts=$((password_prompts + 1))
  xdotool windowfocus --sync "$win" 2>/dev/null
  sleep 0.3
  xdotool type --delay 15 "$password"
  xdotool key Return
}

open_archive() {  # label scrambled(0/1): opens the only file of the left panel
  local label="$1" scrambled="$2" i pw
  xdotool windowmove "$main_win" 0 0 windowsize "$main_win" 1260 780 2>/dev/null
  sleep 0.7
  # Focus the file list (below its rows), then the archive under the cursor.
  xdotool mousemove 300 620 click 1
  sleep 0.3
  xdotool key End Return
  if ((scrambled)); then
    pw=""
    for i in $(seq 75); do
      pw="$(find_window '^Password required!$')"
      [[ -n "$pw" ]] && break
      alive || { crashed "the listing ($label)"; return 1; }
      sleep 0.2
    done
    if [[ -z "$pw" ]]; then
      bad "the plug-in's input box asks for the password ($label; windows open: $(other_windows | paste -sd'|'))"
      shot "failure-$label-password"
      return 1
    fi
    ok "the plug-in's input box asks for the password ($label)"
    answer_password "$pw"
  fi
  # The listing itself gives no signal outside the window: let it settle.
  sleep 1.5
  alive || { crashed "the listing ($label)"; return 1; }
  shot "panel-$label"
  # Double Commander catches a fault inside a plug-in and shows it in a
  # message box of its own, so any window left open here is a failure.
  local others
  others="$(other_windows)"
  if [[ -n "$others" ]]; then
    bad "the listing leaves no message open ($label): window \"$(paste -sd'|' <<<"$others")\" (panel-$label.png)"
    return 1
  fi
  ok "Double Commander lists the archive without a message ($label)"
  return 0
}

tree_state() { find "$1" -printf '%y %s %T@ %p\n' 2>/dev/null | sort | md5sum; }

start_copy() {  # label: selects everything, F5, Start (into the other panel's folder)
  local label="$1" i dlg
  xdotool key ctrl+a
  sleep 0.3
  xdotool key F5
  dlg=""
  for i in $(seq 75); do
    dlg="$(find_window '^Copy file[(]s[)]$')"
    [[ -n "$dlg" ]] && break
    alive || { crashed "the copy ($label)"; return 1; }
    sleep 0.2
  done
  if [[ -z "$dlg" ]]; then
    bad "F5 opens the copy dialog ($label)"; shot "failure-$label-copy"; return 1
  fi
  xdotool windowfocus --sync "$dlg" 2>/dev/null
  sleep 0.2
  xdotool key Return
}

copy_all() {  # label outdir: selects everything, F5, Start, waits until done
  local label="$1" outdir="$2" i pw others state last stable=0
  start_copy "$label" || return 1
  # Done when no window but the main one is left and the tree has stopped
  # changing for two seconds; a window that stays while nothing changes is
  # a question or an error (a fault in the plug-in among them).
  last=""
  for i in $(seq 300); do
    sleep 0.2
    alive || { crashed "the copy ($label)"; return 1; }
    pw="$(find_window '^Password required!$')"
    if [[ -n "$pw" ]]; then
      note "the input box asks for the password again during the copy"
      answer_password "$pw"
      continue
    fi
    others="$(other_windows)"
    state="$(tree_state "$outdir")"
    if [[ "$state" == "$last" ]]; then
      stable=$((stable + 1))
    else
      stable=0
    fi
    last="$state"
    if [[ -z "$others" ]]; then
      ((stable >= 10)) && return 0
    elif ((stable >= 25)); then
      bad "the copy finishes without a message ($label): window \"$(paste -sd'|' <<<"$others")\" (failure-$label-copy.png)"
      shot "failure-$label-copy"
      return 1
    fi
  done
  bad "the copy finishes within 60 s ($label)"
  [[ -n "$others" ]] && note "windows still open: $(echo "$others" | paste -sd'|')"
  shot "failure-$label-copy"
  return 1
}

check_tree() {  # label outdir [expected list]
  local out
  out="$(python3 "$root/tests/realhost/check_tree.py" "${3:-$work/expected.txt}" "$2" "$1")"
  echo "$out"
  passed=$((passed + $(grep -c '^PASS' <<<"$out")))
  local f
  while IFS= read -r f; do
    failed=$((failed + 1)); failures+=("${f#FAIL  }")
  done < <(grep '^FAIL' <<<"$out")
  if (($(find "$2" -mindepth 1 | wc -l) > 100)); then
    note "written by the copy ($1): $(find "$2" -mindepth 1 -type f | wc -l) files, $(du -sm "$2" | cut -f1) MiB"
    return
  fi
  note "written by the copy ($1):"
  (cd "$2" && find . -mindepth 1 -printf '%y %TY-%Tm-%Td %TH:%TM:%.2TS %8s  %P\n' | sort -k5) |
    sed 's/^/        /'
}

run_stage() {  # label archive outdir scrambled [expected list]
  local label="$1" archive="$2" outdir="$3" scrambled="$4" expected="${5:-}"
  echo "== $label archive in Double Commander"
  start_dc "$label" "$archive" "$outdir" || return 1
  open_archive "$label" "$scrambled" || { stop_dc; return 1; }
  copy_all "$label" "$outdir" || { stop_dc; return 1; }
  if ((scrambled)); then
    # Double Commander rewrites its configuration on exit: the script must not touch it now.
    local before after
    before="$(md5sum <"$cfg/doublecmd.xml")"
    if "$root/scripts/install-doublecmd.sh" --plugin "$plugin" --config-dir "$cfg" \
        --dest "$work/plugins/kiv" >"$work/install-running.log" 2>&1; then
      bad "install-doublecmd.sh refuses while Double Commander runs"; cat "$work/install-running.log"
    else
      after="$(md5sum <"$cfg/doublecmd.xml")"
      if [[ "$before" == "$after" ]] && grep -q 'is running' "$work/install-running.log"; then
        ok "install-doublecmd.sh refuses while Double Commander runs"
      else
        bad "install-doublecmd.sh refuses while Double Commander runs (message or file changed)"
        cat "$work/install-running.log"
      fi
    fi
    if "$root/scripts/install-doublecmd.sh" --uninstall --config-dir "$cfg" \
        --dest "$work/plugins/kiv" >"$work/uninstall-running.log" 2>&1; then
      bad "install-doublecmd.sh --uninstall refuses while Double Commander runs"; cat "$work/uninstall-running.log"
    elif [[ "$before" == "$(md5sum <"$cfg/doublecmd.xml")" && -f "$work/plugins/kiv/kiv.wcx" ]] &&
         grep -q 'is running' "$work/uninstall-running.log"; then
      ok "install-doublecmd.sh --uninstall refuses while Double Commander runs"
    else
      bad "install-doublecmd.sh --uninstall refuses while Double Commander runs (message, file or plug-in changed)"
      cat "$work/uninstall-running.log"
    fi
  fi
  stop_dc
  case "$dc_status" in
    134|136|139) bad "Double Commander exits cleanly after the copy ($label, status $dc_status)" ;;
    killed) bad "Double Commander exits on SIGTERM within 10 s ($label)" ;;
  esac
  check_tree "$label" "$outdir" "$expected"
}

run_stage plain "$work/arc-plain/plain.kiv" "$work/out-plain" 0
run_stage scrambled "$work/arc-scrambled/scrambled.kiv" "$work/out-scrambled" 1
if ((password_prompts == 1)); then
  ok "the password is asked once for the scrambled archive"
elif ((password_prompts > 1)); then
  bad "the password is asked once for the scrambled archive (asked $password_prompts times)"
fi

# Double Commander rewrote its configuration on exit: the registration stays,
# beside the packer plug-ins it adds by itself.
read -r n path flags total <<<"$(kiv_entries)"
if [[ "$n" == 1 && "$path" == "$work/plugins/kiv/kiv.wcx" && "$flags" == 132 && "$total" -gt 1 ]]; then
  ok "Double Commander keeps the registration when it rewrites its configuration ($total packer plug-ins)"
else
  bad "Double Commander keeps the registration ($n kiv entries of $total, path $path, flags $flags)"
fi

# Nothing is written beside an installed plug-in: the default settings go to
# the configuration folder Double Commander names.
if [[ -f "$cfg/kiv.ini" && ! -e "$work/plugins/kiv/kiv.ini" ]]; then
  ok "the default kiv.ini is written into Double Commander's configuration folder"
else
  bad "the default kiv.ini is written into Double Commander's configuration folder, not beside the plug-in"
  ls -la "$cfg" "$work/plugins/kiv" | sed 's/^/        /'
fi

# --- names of older archives ---------------------------------------------------
# Archives of format version 3 store names in the code page of the Windows
# machine that made them. One made in code page 1252 is copied out with the
# default settings, one made in 1251 with legacyCodePage=1251 in a kiv.ini
# beside the plug-in (which wins over the configuration folder's); the names
# written must be the UTF-8 ones, and the panels show them whole
# (panel-legacy1252.png, panel-legacy1251.png).
legacy_stages() {
  local cp ini="$work/plugins/kiv/kiv.ini"
  for cp in 1252 1251; do
    mkdir -p "$work/arc-legacy$cp" "$work/out-legacy$cp"
    if ! "$maker" --legacy "$cp" "$work/arc-legacy$cp/legacy$cp.kiv" "$work/expected-legacy$cp.txt"; then
      bad "kivmkrealhost writes the code page $cp archive"; continue
    fi
    [[ "$cp" == 1251 ]] && printf 'legacyCodePage=1251\n' >"$ini"
    run_stage "legacy$cp" "$work/arc-legacy$cp/legacy$cp.kiv" "$work/out-legacy$cp" 0 \
      "$work/expected-legacy$cp.txt"
  done
  if [[ "$(cat "$ini" 2>/dev/null)" == "legacyCodePage=1251" ]]; then
    ok "the kiv.ini beside the plug-in is read and left as it was"
  else
    bad "the kiv.ini beside the plug-in is read and left as it was (now: $(cat "$ini" 2>&1 | head -c 200))"
  fi
  rm -f "$ini"
}
legacy_stages

# --- two copy-outs at once, and a third archive listed meanwhile ------------
# The plug-in says it unpacks in the background (GetBackgroundFlags), so
# Double Commander runs each copy-out on a thread of its own, each with its
# own progress window "N% Extracting". The first copy-out (first.kiv) is
# paused from its progress window in the middle of its archive, which holds
# its thread inside the plug-in; the second (second.kiv, into a folder of its
# own) must write meanwhile: a host that ran plug-in copy-outs one after the
# other would keep it waiting. The second is paused too, third.kiv is listed
# in the panel (three archives open at once, more than the plug-in's two
# slots), and both copy-outs are resumed together. Pausing makes the overlap
# independent of how fast the machine is.
extracting() {  # ids of the visible progress windows of copy-outs
  visible_windows | awk -F'\t' '$2 ~ /Extracting/ { print $1 }'
}
messages() {  # names of visible windows besides the main one and progress windows
  visible_windows | awk -F'\t' -v main="$main_win" '$1 != main && $2 !~ /Extracting/ { print $2 }'
}
keys() {  # presses the keys in turn, in the main window
  xdotool windowactivate --sync "$main_win" 2>/dev/null || xdotool windowfocus --sync "$main_win" 2>/dev/null
  local k
  for k in "$@"; do xdotool key "$k"; sleep 0.3; done
}
entries() { find "$1" -mindepth 1 2>/dev/null | wc -l; }
bytes() { du -sb "$1" 2>/dev/null | cut -f1; }
ms() { echo $(($(date +%s%N) / 1000000)); }
mib() { echo $(($1 / 1048576)); }
# The progress windows open one over the other, and Double Commander keeps
# them where it put them: the one to click is raised first.
click_in() {  # window dx dy
  local X Y
  xdotool windowraise "$1" 2>/dev/null
  sleep 0.2
  eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)" || return 1
  xdotool mousemove $((X + $2)) $((Y + $3)) click 1
}
pause_button() {  # window paused(1/0): clicks the progress window's pause button until it says so
  local w="$1" want="$2" i
  for i in 1 2 3; do
    click_in "$w" 491 131 || return 1
    sleep 0.4
    if ((want)); then
      [[ "$(xdotool getwindowname "$w" 2>/dev/null)" == *Paused* ]] && return 0
    else
      [[ "$(xdotool getwindowname "$w" 2>/dev/null)" != *Paused* ]] && return 0
    fi
  done
  return 1
}
wait_for() {  # tenths command...: runs the command every 0.1 s until it succeeds
  local n="$1" i
  shift
  for ((i = 0; i < n; i++)); do
    "$@" && return 0
    alive || return 1
    sleep 0.1
  done
  return 1
}
has_entries() { (($(entries "$1") > 0)); }
wrote_since() { (($(bytes "$1") >= $2 + 4194304)); }
first_window() { w1="$(extracting | head -n1)"; [[ -n "$w1" ]]; }
second_window() { w2="$(extracting | grep -vx "$w1" | head -n1)"; [[ -n "$w2" ]]; }
sample_sizes() {  # dir1 dir2 log: "ms bytes1 bytes2" every 0.1 s until killed
  while :; do
    printf '%s %s %s\n' "$(ms)" "$(bytes "$1")" "$(bytes "$2")" >>"$3"
    sleep 0.1
  done
}
overlap_stage() {
  echo "== two copy-outs at once in Double Commander, a third archive listed meanwhile"
  local p st=0 i w1="" w2="" s1 s2 together=0 stable=0 others="" total1 total2
  local state1 state2 last1="" last2="" samples="$work/overlap-sizes.log"
  for p in "${overlap_pids[@]}"; do wait "$p" || st=1; done
  overlap_pids=()
  "$maker" --many "$overlap_arcs/third.kiv" "$work/expected-third.txt" 3 10 0 3 >"$work/maker-third.log" 2>&1 || st=1
  if ((st)); then
    bad "kivmkrealhost writes the archives of the overlapping copy-outs"; cat "$work"/maker-*.log; return 1
  fi
  total1=$(wc -l <"$work/expected-first.txt")
  total2=$(wc -l <"$work/expected-second.txt")
  note "first.kiv: $total1 entries, $(du -m "$overlap_arcs/first.kiv" | cut -f1) MiB; second.kiv: $total2 entries, $(du -m "$overlap_arcs/second.kiv" | cut -f1) MiB"
  start_dc overlap "$overlap_arcs" "$overlap_out/first" || return 1
  xdotool windowmove "$main_win" 0 0 windowsize "$main_win" 1260 780 2>/dev/null
  sleep 0.7
  xdotool mousemove 300 620 click 1
  sleep 0.3
  # The folder lists "..", first.kiv, second.kiv, third.kiv.
  keys Home Down Return
  sleep 1.5
  alive || { crashed "the listing (first)"; return 1; }
  start_copy first || { stop_dc; return 1; }
  # Its folders can be there before the progress window has its title.
  if ! wait_for 150 has_entries "$overlap_out/first" || ! wait_for 100 first_window; then
    alive || { crashed "the copy (first)"; return 1; }
    bad "the first copy-out starts with a progress window ($(entries "$overlap_out/first") entries written; windows \"$(visible_windows | cut -f2 | paste -sd'|')\")"
    shot "failure-overlap"; stop_dc; return 1
  fi
  if ! pause_button "$w1" 1; then
    bad "the first copy-out pauses from its progress window"; shot "failure-overlap"; stop_dc; return 1
  fi
  s1=$(bytes "$overlap_out/first")
  # The other panel into out-overlap/second; this panel out of first.kiv
  # and into second.kiv; its copy-out goes into the other panel's folder.
  keys Tab BackSpace Down Return Tab BackSpace Down Return
  sleep 1.5
  alive || { crashed "the listing (second)"; return 1; }
  start_copy second || { stop_dc; return 1; }
  s2=0
  if wait_for 300 wrote_since "$overlap_out/second" 0 && second_window; then
    s2=$(bytes "$overlap_out/second")
    if (($(bytes "$overlap_out/first") == s1)); then
      ok "the second copy-out writes while the first is paused inside the plug-in ($(mib "$s2") MiB, the first at $(mib "$s1") MiB)"
    else
      bad "the first copy-out stays paused ($(mib "$s1") MiB, now $(mib "$(bytes "$overlap_out/first")") MiB)"
    fi
  else
    alive || { crashed "the overlapping copy-outs"; return 1; }
    bad "the second copy-out writes while the first is paused ($(entries "$overlap_out/second") of $total2 entries in 30 s; windows: $(visible_windows | cut -f2 | paste -sd'|'))"
    shot "failure-overlap"; stop_dc; return 1
  fi
  if ! pause_button "$w2" 1; then
    bad "the second copy-out pauses from its progress window"; shot "failure-overlap"; stop_dc; return 1
  fi
  # This panel out of second.kiv and into third.kiv, with both copy-outs
  # holding their archives open.
  keys BackSpace End Return
  sleep 1.5
  alive || { crashed "the listing (third)"; return 1; }
  shot "panel-third"
  others="$(messages)"
  if [[ -n "$others" ]]; then
    bad "third.kiv is listed while both copy-outs hold their archives: window \"$(paste -sd'|' <<<"$others")\" (panel-third.png)"
  else
    ok "third.kiv is listed without a message while both copy-outs hold their archives (panel-third.png)"
  fi
  # Both resumed at once; their sizes are sampled on the side, so that
  # driving the windows and taking the screenshot leave no gap.
  : >"$samples"
  sample_sizes "$overlap_out/first" "$overlap_out/second" "$samples" &
  sampler_pid=$!
  pause_button "$w1" 0 && pause_button "$w2" 0 ||
    bad "both copy-outs resume from their progress windows"
  note "both resumed: $(visible_windows | awk -F'\t' '$2 ~ /Extracting/ { print $2 }' | paste -sd'|')"
  # "To panel" docks the first in the main window, where it shows beside the
  # second's window.
  click_in "$w1" 35 131
  sleep 0.5
  shot "copy-overlap"
  for i in $(seq 600); do
    sleep 0.2
    alive || { crashed "the overlapping copy-outs"; return 1; }
    state1="$(tree_state "$overlap_out/first")"
    state2="$(tree_state "$overlap_out/second")"
    if [[ "$state1" == "$last1" && "$state2" == "$last2" ]]; then
      stable=$((stable + 1))
    else
      stable=0
    fi
    last1="$state1" last2="$state2"
    others="$(messages)"
    # A window left while nothing changes is a question or an error.
    [[ -n "$others" ]] && ((stable >= 25)) && break
    ((stable >= 10)) && [[ -z "$others$(extracting)" ]] &&
      (($(entries "$overlap_out/first") >= total1 && $(entries "$overlap_out/second") >= total2)) && break
  done
  kill "$sampler_pid" 2>/dev/null
  wait "$sampler_pid" 2>/dev/null
  sampler_pid=""
  # Time in which both folders grew from one sample to the next, counting at
  # most half a second for a gap between samples.
  together=$(awk 'NR > 1 && $2 > b1 && $3 > b2 { d = $1 - t; together += d < 500 ? d : 500 }
                  { t = $1; b1 = $2; b2 = $3 } END { print together + 0 }' "$samples")
  note "after the resume both folders grew at the same time for $(awk -v t="$together" 'BEGIN { printf "%.1f", t / 1000 }') s ($(wc -l <"$samples") samples)"
  if ((together >= 1000)); then
    ok "two copy-outs run at the same time, each from its own archive into its own folder (copy-overlap.png)"
  else
    bad "two copy-outs run at the same time (both folders growing for $together ms after the resume)"
  fi
  if [[ -n "$others" ]]; then
    bad "the overlapping copy-outs end without a message: window \"$(paste -sd'|' <<<"$others")\" (failure-overlap.png)"
    shot "failure-overlap"
  elif ((stable < 10)) || [[ -n "$(extracting)" ]]; then
    bad "the overlapping copy-outs finish within 120 s"; shot "failure-overlap"
  else
    ok "the overlapping copy-outs end without a message"
  fi
  # What the panel listed of third.kiv is copied out too.
  keys Tab BackSpace End Return Tab
  copy_all third "$overlap_out/third" || { stop_dc; return 1; }
  stop_dc
  case "$dc_status" in
    134|136|139) bad "Double Commander exits cleanly after the copy (overlap, status $dc_status)" ;;
    killed) bad "Double Commander exits on SIGTERM within 10 s (overlap)" ;;
  esac
  local label
  for label in first second third; do
    check_tree "$label.kiv" "$overlap_out/$label" "$work/expected-$label.txt"
  done
}
overlap_stage

# --- uninstalling -----------------------------------------------------------------
# Last, once Double Commander is closed: the registration and the installed
# file go, the previous configuration is kept as a backup, and the
# configuration folder's kiv.ini (the user's settings) stays.
uninstall_stage() {
  local backups_before backups_after n
  backups_before=$(ls "$cfg"/doublecmd.xml.kiv-backup-* 2>/dev/null | wc -l)
  if ! "$root/scripts/install-doublecmd.sh" --uninstall --config-dir "$cfg" \
      --dest "$work/plugins/kiv" >"$work/uninstall.log" 2>&1; then
    bad "install-doublecmd.sh --uninstall runs"; cat "$work/uninstall.log"; return
  fi
  backups_after=$(ls "$cfg"/doublecmd.xml.kiv-backup-* 2>/dev/null | wc -l)
  read -r n _ _ _ <<<"$(kiv_entries)"
  if [[ "$n" == 0 && ! -e "$work/plugins/kiv/kiv.wcx" && -f "$cfg/kiv.ini" ]] &&
     ((backups_after == backups_before + 1)); then
    ok "install-doublecmd.sh --uninstall removes the registration and the plug-in, keeping a backup"
  else
    bad "install-doublecmd.sh --uninstall ($n kiv entries left, backups $backups_before -> $backups_after)"
    cat "$work/uninstall.log"; ls -la "$work/plugins/kiv" "$cfg" 2>&1 | sed 's/^/        /'
  fi
}
uninstall_stage

summary
((failed == 0))
