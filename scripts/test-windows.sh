#!/bin/bash
# Tests the Windows plug-ins built by scripts/build-windows.sh:
#   1. build-win32/kiv.wcx is inspected (this kernel runs no 32-bit code):
#      PE32 for i386, the thirteen plain exports, system DLL imports only, and
#      the password dialog resource; kiv.wcx64 gets the same inspection.
#   2. ctest in build-win64 runs the Windows test programs under Wine, on an
#      Xvfb display: the end-to-end tests answer the plug-in's password
#      dialog from a thread of their own.
#   3. On the same display, the password dialog is answered for real with xdotool:
#      first the platform layer's dialog alone, then through kiv.wcx64
#      opening scrambled archives.
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
export WINEPREFIX="$b64/wineprefix"
export WINEDEBUG=-all
wine_run="$root/tests/windows/wine-run.sh"
work="$b64/wintest"
mkdir -p "$work"

passed=0
failed=0
failures=()
ok() { echo "PASS  $1"; passed=$((passed + 1)); }
bad() { echo "FAIL  $1"; failed=$((failed + 1)); failures+=("$1"); }
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

# --- an X display for both stages below ------------------------------------
xvfb_pid=""
cleanup() {
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
  [[ -n "${foreign_pid:-}" ]] && kill "$foreign_pid" 2>/dev/null
  WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null
}
trap cleanup EXIT

display=""
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

# --- 2. programs under Wine through ctest ----------------------------------
if ((run_ctest)); then
  echo "== ctest under Wine"
  start=$(date +%s)
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    "$wine_run" --prefix "$WINEPREFIX" cmd /c exit 0 >/dev/null 2>&1
    echo "-- Wine prefix created in $(( $(date +%s) - start )) s"
  fi
  [[ -n "$display" ]] || echo "-- no X display: the end-to-end password tests cannot show the dialog"
  check "ctest (build-win64)" ctest --test-dir "$b64" --output-on-failure -j2 --timeout 600
fi

# --- 2b. the host stand-in as a Windows program ------------------------------
# wcxhost.exe loads kiv.wcx64 with LoadLibrary and lists and extracts the
# sample archive; the files must equal what the Linux build extracts.
if ((run_ctest)); then
  echo "== wcxhost.exe under Wine"
  sample="$work/sample.kiv"
  rm -rf "$work/host-out" "$work/host-out-linux"
  mkdir -p "$work/host-out"
  if "$wine_run" --prefix "$WINEPREFIX" "$b64/tests/writer/kivmksample.exe" "$sample" >/dev/null 2>&1; then
    "$wine_run" --prefix "$WINEPREFIX" "$b64/wcxhost.exe" list "$sample" >"$work/host-list.txt" 2>&1
    check "wcxhost.exe lists the sample (19 entries, backslash paths)" \
      grep -q 'src\\include\\beds.h' "$work/host-list.txt"
    check "wcxhost.exe list ends with the entry count" grep -q '^19 entries' "$work/host-list.txt"
    "$wine_run" --prefix "$WINEPREFIX" "$b64/wcxhost.exe" extract "$sample" "$work/host-out" \
      >"$work/host-extract.txt" 2>&1
    check "wcxhost.exe extracts the sample" grep -q ': 0 failed' "$work/host-extract.txt"
    if [[ -x "$root/build/wcxhost" ]]; then
      mkdir -p "$work/host-out-linux"
      "$root/build/wcxhost" extract "$sample" "$work/host-out-linux" >/dev/null 2>&1
      check "wcxhost.exe extracts the same files as the Linux build" \
        diff -r "$work/host-out" "$work/host-out-linux"
    fi
  else
    bad "kivmksample.exe makes the sample archive"
  fi
fi

# --- 3. the dialog under Xvfb ----------------------------------------------

# Runs a Windows program in the background, waits for the password dialog,
# sends the given xdotool actions, and leaves the program's output in $out.
#   answer OUTFILE "ACTIONS" program.exe args...
# ACTIONS: words "type:TEXT" and "key:NAME", applied in order; "none" when
# no dialog is expected (the program must finish without one).
answer() {
  local outfile="$1" actions="$2"; shift 2
  "$wine_run" --prefix "$WINEPREFIX" "$@" >"$outfile" 2>"$outfile.err" &
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

value() { tr -d '\r' <"$1" | sed -n "s/^$2=//p" | head -n1; }   # file key (Wine prints CRLF)
expect_value() {  # name file key expected
  local got
  got="$(value "$2" "$3")"
  if [[ "$got" == "$4" ]]; then ok "$1"; else bad "$1 ($3=$got, expected $4)"; cat "$2"; fi
}

long80="abcdefghij0123456789ABCDEFGHIJklmnopqrst9876543210KLMNOPQRSTuvwxyzabcd5432167890"
long79="${long80:0:79}"

if ((run_dialog)); then
  echo "== password dialog under Xvfb"
  probe="$b64/tests/windows/dialog_probe.exe"
  open_probe="$b64/tests/windows/kiv_open_probe.exe"
  maker="$b64/tests/windows/kiv_make_scrambled.exe"
  plugin="$b64/kiv.wcx64"

  if [[ -z "$display" ]]; then
    bad "Xvfb started"
  else
    # Start Wine's server before the first timed wait.
    "$wine_run" --prefix "$WINEPREFIX" cmd /c exit 0 >/dev/null 2>&1

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
      "$wine_run" --prefix "$WINEPREFIX" "$probe" --foreign-window 60 >"$work/foreign.out" 2>&1 &
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
      arc="$work/scrambled.kiv"; arc79="$work/scrambled79.kiv"
      "$wine_run" --prefix "$WINEPREFIX" "$maker" "$arc" "open sesame" >/dev/null 2>&1
      "$wine_run" --prefix "$WINEPREFIX" "$maker" "$arc79" "$long79" >/dev/null 2>&1
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
      echo "SKIP  plug-in dialog tests: need $(basename "$maker"), $(basename "$open_probe") and kiv.wcx64"
      bad "plug-in dialog tests built"
    fi
  fi
fi

echo "windows: $passed passed, $failed failed"
for f in "${failures[@]}"; do echo "   failed: $f"; done
((failed == 0))
