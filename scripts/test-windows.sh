#!/bin/bash
# Tests the Windows plug-ins built by scripts/build-windows.sh:
#   1. build-win32/kiv.wcx and build-win64/kiv.wcx64 are inspected: PE32 for
#      i386 and PE32+ for x86-64, the fifteen plain exports, system DLL imports
#      only, and the password dialog resource.
#   2. For each file, in its own build tree, its own Wine prefix (win32 or
#      win64) and on an Xvfb display of its own:
#      a. ctest runs the Windows test programs under Wine: the end-to-end
#         tests answer the plug-in's password dialog from a thread of their
#         own;
#      b. wcxhost.exe lists and extracts the sample archive, and names what
#         went wrong (a missing archive, a folder, a pattern that matched
#         nothing) with the right exit status;
#      c. the password dialog is answered for real with xdotool: first the
#         platform layer's dialog alone, then through the plug-in opening
#         scrambled archives.
#      The two files are tested at the same time; their logs are printed in
#      turn. The 32-bit suites first check that this kernel runs 32-bit code,
#      and are skipped, saying so, when 32-bit Wine could not be installed.
#   scripts/test-windows.sh [--no-ctest] [--no-dialog]
# Exit status 0 only when every check passed.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
b32="$root/build-win32"
b64="$root/build-win64"
run_ctest=1
run_dialog=1
for arg in "$@"; do
  case "$arg" in
    --no-ctest) run_ctest=0 ;;
    --no-dialog) run_dialog=0 ;;
    *) echo "usage: $0 [--no-ctest] [--no-dialog]" >&2; exit 2 ;;
  esac
done

export TZ=UTC
export WINEDEBUG=-all
wine_run="$root/tests/windows/wine-run.sh"

# One line per check, appended by both suites as they run (short appends do
# not interleave); the summary counts them.
results="$(mktemp "${TMPDIR:-/tmp}/kiv-wintest.XXXXXX")"
label=""
ok() { echo "PASS  $label$1"; echo "PASS $label$1" >>"$results"; }
bad() { echo "FAIL  $label$1"; echo "FAIL $label$1" >>"$results"; }
check() {  # name, then a command that must succeed
  local name="$1"; shift
  if "$@"; then ok "$name"; else bad "$name"; fi
}

# --- 1. inspection ---------------------------------------------------------
echo "== inspection"
for item in "$b32/kiv.wcx:i386:PE32 executable \\(DLL\\).*Intel 80386" \
            "$b64/kiv.wcx64:x86-64:PE32\\+ executable \\(DLL\\).*x86-64"; do
  IFS=: read -r file arch pattern <<<"$item"
  if [[ ! -f "$file" ]]; then bad "$(basename "$file") exists"; continue; fi
  echo "-- $(file -b "$file")"
  check "$(basename "$file"): file(1) says $pattern" grep -qE "$pattern" <(file -b "$file")
  check "$(basename "$file"): headers, exports, imports, dialog 101" \
    python3 "$root/tests/windows/check_pe.py" "$file" --arch "$arch"
done
if [[ -f "$b32/kiv.wcx" ]]; then
  echo "-- export table of kiv.wcx (objdump):"
  i686-w64-mingw32-objdump -p "$b32/kiv.wcx" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p'
  echo "-- DLLs imported by kiv.wcx (objdump):"
  i686-w64-mingw32-objdump -p "$b32/kiv.wcx" | grep 'DLL Name'
  echo "-- resource 101 as the resource compiler reads it back:"
  i686-w64-mingw32-windres -i "$b32/kiv.wcx" -O rc 2>/dev/null | sed -n '/DIALOG/,/^END/p'
fi

# --- can this kernel run 32-bit code? ----------------------------------------
# A 32-bit Linux program that exits with 42 through the i386 system call.
# Building it is checked; only a kernel that refuses to execute it skips the
# 32-bit suites.
can_run32() {
  local dir="$b32/ia32-probe"
  mkdir -p "$dir"
  printf '%s\n' '.globl _start' '_start:' 'movl $1, %eax' 'movl $42, %ebx' 'int $0x80' \
    >"$dir/exit42.s"
  if ! { as --32 -o "$dir/exit42.o" "$dir/exit42.s" && ld -m elf_i386 -o "$dir/exit42" "$dir/exit42.o"; }; then
    bad "kiv.wcx: the 32-bit probe program is built (as --32, ld -m elf_i386)"
    return 0   # not known to be impossible: the 32-bit suites run and show it
  fi
  "$dir/exit42" 2>/dev/null
  local rc=$?
  [[ $rc == 42 ]] && return 0
  echo "-- the 32-bit probe program ended with $rc, not 42"
  return 1
}

# --- 2. one file's suites ------------------------------------------------------
long80="abcdefghij0123456789ABCDEFGHIJklmnopqrst9876543210KLMNOPQRSTuvwxyzabcd5432167890"
long79="${long80:0:79}"

value() { tr -d '\r' <"$1" | sed -n "s/^$2=//p" | head -n1; }   # file key (Wine prints CRLF)
expect_value() {  # name file key expected
  local got
  got="$(value "$2" "$3")"
  if [[ "$got" == "$4" ]]; then ok "$1"; else bad "$1 ($3=$got, expected $4)"; cat "$2"; fi
}

# Runs a Windows program in the background, waits for the password dialog,
# sends the given xdotool actions, and leaves the program's output in $out.
#   answer OUTFILE "ACTIONS" program.exe args...
# ACTIONS: words "type:TEXT" and "key:NAME", applied in order; "none" when
# no dialog is expected (the program must finish without one).
answer() {
  local outfile="$1" actions="$2"; shift 2
  "$wine_run" "${wine_args[@]}" "$@" >"$outfile" 2>"$outfile.err" &
  local pid=$!
  if [[ "$actions" != none ]]; then
    local win
    win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Password required!$' 2>/dev/null | head -n1)
    if [[ -z "$win" ]]; then
      echo "   no dialog appeared" >>"$outfile"
      kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
      return 1
    fi
    sleep 0.5   # let the dialog finish placing and focusing
    local a
    for a in $actions; do
      case "$a" in
        type:*) xdotool type --delay 15 "${a#type:}" ;;
        key:*) xdotool key "${a#key:}" ;;
      esac
    done
  fi
  # A dialog that is not closed by the actions hangs the program: give up.
  local waited=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.2; waited=$((waited + 1))
    if ((waited > 300)); then
      echo "   program did not finish" >>"$outfile"
      kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
      return 1
    fi
  done
  wait "$pid"
  return 0
}

# Runs wcxhost.exe of the build in hand ($b) with the given arguments; the
# check passes when it exits with STATUS and a line of its output matches
# the extended regular expression LINE.
#   host_says NAME STATUS LINE args...
host_says() {
  local name="$1" status="$2" line="$3"; shift 3
  local out="$work/host-says.txt" rc
  "$wine_run" "${wine_args[@]}" "$b/wcxhost.exe" "$@" >"$out" 2>&1
  rc=$?
  if [[ $rc == "$status" ]] && tr -d '\r' <"$out" | grep -qE "$line"; then
    ok "$name (exit $rc)"
  else
    bad "$name (exit $rc, expected $status)"
    cat "$out"
  fi
}

# Runs in a subshell of its own: the prefix, the display and the label are
# this file's.
#   suites BUILD_DIR PLUGIN_FILE WINE_ARCH
suites() {
  local b="$1" plugin="$1/$2" arch="$3"
  label="$2: "
  export WINEPREFIX="$b/wineprefix"
  wine_args=(--arch "$arch" --prefix "$WINEPREFIX")
  local work="$b/wintest"
  mkdir -p "$work"

  # Not local: the exit trap runs after this function has returned.
  xvfb_pid="" foreign_pid=""
  trap '[[ -n "$foreign_pid" ]] && kill "$foreign_pid" 2>/dev/null
        [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
        /usr/lib/wine/wineserver -k 2>/dev/null' EXIT

  local display=""
  if ((run_ctest || run_dialog)); then
    rm -f "$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      display="$(head -n1 "$work/display" 2>/dev/null)"
      [[ -n "$display" ]] && break
      sleep 0.1
    done
    [[ -n "$display" ]] && export DISPLAY=":$display"
  fi

  # Created once here, before ctest's parallel tests would wait for it.
  local start
  start=$(date +%s)
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    "$wine_run" "${wine_args[@]}" cmd /c exit 0 >/dev/null 2>&1
    echo "-- $arch Wine prefix created in $(( $(date +%s) - start )) s"
  else
    # Start Wine's server before the first timed wait.
    "$wine_run" "${wine_args[@]}" cmd /c exit 0 >/dev/null 2>&1
  fi

  # a. programs under Wine through ctest
  if ((run_ctest)); then
    echo "== ctest under Wine ($arch)"
    [[ -n "$display" ]] || echo "-- no X display: the end-to-end password tests cannot show the dialog"
    check "ctest ($(basename "$b"))" ctest --test-dir "$b" --output-on-failure -j2 --timeout 600
  fi

  # b. The host stand-in as a Windows program: wcxhost.exe loads the plug-in
  # with LoadLibrary and lists and extracts the sample archive; the files
  # must equal what the Linux build extracts.
  if ((run_ctest)); then
    echo "== wcxhost.exe under Wine ($arch)"
    local sample="$work/sample.kiv"
    rm -rf "$work/host-out" "$work/host-out-linux"
    mkdir -p "$work/host-out"
    if "$wine_run" "${wine_args[@]}" "$b/tests/writer/kivmksample.exe" "$sample" >/dev/null 2>&1; then
      "$wine_run" "${wine_args[@]}" "$b/wcxhost.exe" list "$sample" >"$work/host-list.txt" 2>&1
      check "wcxhost.exe lists the sample (19 entries, backslash paths)" \
        grep -q 'src\\include\\beds.h' "$work/host-list.txt"
      check "wcxhost.exe list ends with the entry count" grep -q '^19 entries' "$work/host-list.txt"
      "$wine_run" "${wine_args[@]}" "$b/wcxhost.exe" extract "$sample" "$work/host-out" \
        >"$work/host-extract.txt" 2>&1
      check "wcxhost.exe extracts the sample" grep -q ': 0 failed' "$work/host-extract.txt"
      # Messages and exit statuses: the system's reason for an archive that
      # cannot be read, a pattern that matches nothing, -h anywhere.
      host_says "wcxhost.exe names a missing archive and the system's reason" 2 \
        "^wcxhost: cannot open '.*missing\\.kiv': [^ ]" list "$work/missing.kiv"
      host_says "wcxhost.exe says a folder is a directory" 2 "^wcxhost: cannot open '.*': Is a directory$" test "$work"
      host_says "wcxhost.exe names a pattern that matches nothing" 1 "^wcxhost: no entry matches 'nope\\*'$" \
        test "$sample" 'src/*.h' 'nope*'
      host_says "wcxhost.exe -h after the command: the usage, with '\\' paths" 0 "show paths '\\\\'-separated" \
        list "$sample" -h
      if [[ -x "$root/build/wcxhost" ]]; then
        mkdir -p "$work/host-out-linux"
        # Its own settings folder: the user's kiv.ini must not shape the files.
        "$root/build/wcxhost" --config-dir "$work/linux-config" extract "$sample" "$work/host-out-linux" \
          >/dev/null 2>&1
        check "wcxhost.exe extracts the same files as the Linux build" \
          diff -r "$work/host-out" "$work/host-out-linux"
      fi
    else
      bad "kivmksample.exe makes the sample archive"
    fi
  fi

  # c. the dialog under Xvfb
  ((run_dialog)) || return 0
  echo "== password dialog under Xvfb ($arch)"
  local probe="$b/tests/windows/dialog_probe.exe"
  local open_probe="$b/tests/windows/kiv_open_probe.exe"
  local maker="$b/tests/windows/kiv_make_scrambled.exe"
  local o w h
  if [[ -z "$display" ]]; then
    bad "Xvfb started"
    return 0
  fi

  if [[ -f "$probe" ]]; then
    o="$work/dlg-enter.out"
    if answer "$o" "type:secret key:Return" "$probe" --prefill old; then
      expect_value "dialog: OK by Enter gives result 1" "$o" result 1
      expect_value "dialog: the typed password is returned" "$o" password secret
      expect_value "dialog: caption" "$o" caption "Password required!"
      w=$(value "$o" screen_w); h=$(value "$o" screen_h)
      expect_value "dialog: placed at screen width / 2 - 185" "$o" x $((w / 2 - 185))
      expect_value "dialog: placed at screen height / 2 - 100" "$o" y $((h / 2 - 100))
      expect_value "dialog: focus starts in the password field" "$o" focus_on_edit 1
      expect_value "dialog: no owner without a host window" "$o" owner none
    else bad "dialog: OK by Enter"; cat "$o"; fi

    o="$work/dlg-escape.out"
    if answer "$o" "type:typed key:Escape" "$probe" --prefill kept; then
      expect_value "dialog: Escape gives result 2" "$o" result 2
      expect_value "dialog: Escape leaves the buffer untouched" "$o" password kept
    else bad "dialog: Escape"; cat "$o"; fi

    o="$work/dlg-empty.out"
    if answer "$o" "key:Return" "$probe" --prefill kept; then
      expect_value "dialog: OK on an empty field gives result 1" "$o" result 1
      expect_value "dialog: OK on an empty field empties the buffer" "$o" password_length 0
    else bad "dialog: empty OK"; cat "$o"; fi

    o="$work/dlg-80.out"
    if answer "$o" "type:$long80 key:Return" "$probe"; then
      expect_value "dialog: 80 typed characters give 79" "$o" password "$long79"
    else bad "dialog: 80 characters"; cat "$o"; fi

    o="$work/dlg-owner.out"
    if answer "$o" "key:Escape" "$probe" --owner; then
      expect_value "dialog: owned by the host window of this process" "$o" owner host
    else bad "dialog: owner"; cat "$o"; fi

    # Another process's window with the title is never the owner.
    "$wine_run" "${wine_args[@]}" "$probe" --foreign-window 60 >"$work/foreign.out" 2>&1 &
    foreign_pid=$!
    for _ in $(seq 100); do grep -q foreign=up "$work/foreign.out" 2>/dev/null && break; sleep 0.1; done
    o="$work/dlg-foreign.out"
    if answer "$o" "key:Escape" "$probe"; then
      expect_value "dialog: another process's window is not the owner" "$o" owner none
    else bad "dialog: foreign window"; cat "$o"; fi
    kill "$foreign_pid" 2>/dev/null; wait "$foreign_pid" 2>/dev/null; foreign_pid=""
  else
    bad "dialog probe built ($probe)"
  fi

  # Through the plug-in, with scrambled archives from the test writer.
  if [[ -f "$maker" && -f "$open_probe" && -f "$plugin" ]]; then
    local arc="$work/scrambled.kiv" arc79="$work/scrambled79.kiv"
    "$wine_run" "${wine_args[@]}" "$maker" "$arc" "open sesame" >/dev/null 2>&1
    "$wine_run" "${wine_args[@]}" "$maker" "$arc79" "$long79" >/dev/null 2>&1
    if [[ -s "$arc" && -s "$arc79" ]]; then
      o="$work/plug-enter.out"
      if answer "$o" "type:open key:space type:sesame key:Return" "$open_probe" "$plugin" "$arc" --twice; then
        expect_value "plug-in: the right password opens the archive" "$o" open 0
        expect_value "plug-in: the archive lists its file" "$o" entry secret.txt
        expect_value "plug-in: the file tests clean" "$o" test 0
        check "plug-in: reopening the unchanged archive asks no second time" \
          test "$(tr -d '\r' <"$o" | grep -c '^open=0')" = 2
      else bad "plug-in: password by Enter"; cat "$o"; fi

      o="$work/plug-escape.out"
      if answer "$o" "key:Escape" "$open_probe" "$plugin" "$arc"; then
        expect_value "plug-in: Escape ends the open with 14" "$o" open 14
      else bad "plug-in: Escape"; cat "$o"; fi

      o="$work/plug-wrong.out"
      if answer "$o" "type:wrong key:Return" "$open_probe" "$plugin" "$arc"; then
        expect_value "plug-in: a wrong password ends the open with 14" "$o" open 14
      else bad "plug-in: wrong password"; cat "$o"; fi

      o="$work/plug-80.out"
      if answer "$o" "type:$long80 key:Return" "$open_probe" "$plugin" "$arc79"; then
        expect_value "plug-in: of 80 typed characters the first 79 open the archive" "$o" open 0
      else bad "plug-in: 80 characters"; cat "$o"; fi
    else
      bad "scrambled test archives written"
    fi
  else
    echo "SKIP  plug-in dialog tests: need $(basename "$maker"), $(basename "$open_probe") and $(basename "$plugin")"
    bad "plug-in dialog tests built"
  fi
}

# --- both files at once, each in its own prefix and on its own display ---------
note32=""
pids=()
if [[ ! -x /usr/lib/wine/wine ]]; then
  # Only the installer's own failure leaves it missing (it says why).
  note32="32-bit suites not run: 32-bit Wine (wine32:i386) is not installed"
  echo "SKIP  kiv.wcx: $note32"
  logs=()
elif can_run32; then
  (suites "$b32" kiv.wcx win32) >"$b32/wintest.log" 2>&1 &
  pids+=($!)
  logs=("$b32/wintest.log")
else
  note32="32-bit suites not run: this kernel cannot execute 32-bit code"
  logs=()
fi
(suites "$b64" kiv.wcx64 win64) >"$b64/wintest.log" 2>&1 &
pids+=($!)
logs+=("$b64/wintest.log")
trap 'kill "${pids[@]}" 2>/dev/null' INT TERM
wait "${pids[@]}"
for log in "${logs[@]}"; do
  echo "== log of $(basename "$(dirname "$log")")"
  cat "$log"
done

# --- summary ---------------------------------------------------------------------
for f in kiv.wcx kiv.wcx64; do
  echo "$f: $(grep -c "^PASS $f: " "$results") passed, $(grep -c "^FAIL $f: " "$results") failed"
done
[[ -n "$note32" ]] && echo "$note32"
passed=$(grep -c '^PASS ' "$results")
failed=$(grep -c '^FAIL ' "$results")
echo "windows: $passed passed, $failed failed"
sed -n 's/^FAIL /   failed: /p' "$results"
rm -f "$results"
((failed == 0))
