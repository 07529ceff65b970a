#!/usr/bin/env bash
# quenbrook.exe under wine32 as scripts and players use it: the command line on each
# civ.ini the game may read, then the window on an X display, main road and failures.
#   e2e.sh QUENBROOK_EXE WINDOW_PROBE_EXE   (with WINEPREFIX, 32-bit and initialised, and DISPLAY)
# prints "ok - ..." or "not ok - ..." per check and exits non-zero when any failed.
set -uo pipefail
exe=$1 helper=$2
ini=$WINEPREFIX/drive_c/windows/civ.ini
app=
work=$(mktemp -d) && trap '[ -n "$app" ] && kill "$app" 2>/dev/null; rm -rf "$work"' EXIT
lad=$work/lad && store=$lad/VirtualStore/Windows/civ.ini && mkdir -p "$lad"
win_store="Z:${store//\//\\}"
failed=0
check() { if "${@:2}"; then echo "ok - $1"; else echo "not ok - $1" && failed=1; fi; }
wait_for() { for _ in $(seq "${tries:-100}"); do "$@" && return 0; sleep 0.2; done; return 1; }
has() { tr -d '\r' 2>/dev/null <"$1" | grep -qxF "$2"; }
writable() { [ -n "$(find "$1" -perm -u=w)" ]; }
cli() { out=$(timeout 120 wine "$exe" "$@" </dev/null 2>&1 | tr -d '\r'); }
probe() { timeout 30 wine "$helper" "$@" </dev/null | tr -d '\r'; }
# Wine ships with UAC off (EnableLUA=0); a player's Windows has it on. Local app data
# goes to our temporary folder.   setup_prefix LOCAL_APP_DATA [RUNNER]
setup_prefix() {
  ${2:-} timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\System' /v EnableLUA /t REG_DWORD /d 1 /f
  ${2:-} timeout 60 wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' /v 'Local AppData' \
    /t REG_EXPAND_SZ /d "Z:${1//\//\\}" /f
} </dev/null >/dev/null 2>&1
setup_prefix "$lad"
printf '; the original\r\n[Civ2]\r\nPath=C:\\Nowhere\\civ2.exe\r\n' >"$work/original"
# The stand-in game records how it was started.
game_dir=$WINEPREFIX/drive_c/Civ2 && mkdir -p "$game_dir" && cp "$helper" "$game_dir/Civ2.exe"

# --- No copy: the original is civ.ini, and writing it makes no copy.
cp "$work/original" "$ini" && cli --enable
check "--enable writes a writable original and makes no copy" eval 'has "$ini" Simultaneous=1 && [ ! -e "$store" ]'

# --- A VirtualStore copy exists: it is civ.ini, for every operation.
mkdir -p "${store%/*}" && printf '[Civ2]\r\nPath=C:\\Civ2\\Civ2.exe\r\n' >"$store"
cli --enable --lock && cli --status
check "--enable --lock sets the key in the copy and locks it, as --status reads" test "$out" = "civ.ini: $win_store
Simultaneous=1: yes
read-only: yes
game path: C:\\Civ2\\Civ2.exe"

# --- The game set to "Run this program as an administrator": Windows keeps that as the
# RUNASADMIN layer under the game's path (its letter case does not matter), and an
# elevated game is never redirected: the original is its civ.ini, even beside a copy.
layers='HKCU\Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Layers'
reg() { ${runner:-} timeout 60 wine reg "$@" /f </dev/null >/dev/null 2>&1; }
reg add "$layers" /v 'c:\CIV2\civ2.EXE' /t REG_SZ /d '~ RUNASADMIN'
cli --status
check "a game run as administrator reads the original, which --status names, beside a copy" test "$out" = "civ.ini: C:\\Windows\\civ.ini
Simultaneous=1: yes
read-only: no
game path: C:\\Nowhere\\civ2.exe"
reg delete "$layers" /v 'C:\Civ2\Civ2.exe'
# So is a game whose manifest asks for an execution level: quenbrook.exe's own will do.
cp "$exe" "$game_dir/Manifested.exe" && sed -i 's/^Path=.*/Path=C:\\Civ2\\Manifested.exe\r/' "$ini"
cli --status
check "a game with a manifest reads the original beside a copy" test "${out%%$'\n'*}" = "civ.ini: C:\\Windows\\civ.ini"
cp "$work/original" "$ini"

# --- An original this account may not write: as Windows does for the game, a copy is
# made from its bytes. Root's Wine is never denied, so this runs as nobody.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  nobody() {
    setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/home" WINEPREFIX="$work/prefix" \
      WINEARCH="${WINEARCH:-win32}" timeout 300 "$@" </dev/null
  }
  as_nobody() { nobody "$@" >/dev/null 2>&1; }
  mkdir -p "$work/home" "$work/lad2" && cp "$exe" "$work/q.exe" && chown -R 65534:65534 "$work" && chmod 755 "$work"
  as_nobody wineboot -i && as_nobody wineserver -w
  setup_prefix "$work/lad2" as_nobody
  denied=$work/prefix/drive_c/windows/civ.ini && cp "$work/original" "$denied" && chmod 644 "$denied"
  # The game stored in it runs as administrator: only such a run may change its file.
  runner=as_nobody reg add "$layers" /v 'C:\NOWHERE\CIV2.EXE' /t REG_SZ /d RUNASADMIN
  out=$(nobody wine "$work/q.exe" --enable 2>&1 | tr -d '\r'; echo "exit ${PIPESTATUS[0]}")
  check "a denied original of a game run as administrator: nothing written, the command line says why and how" eval '[ "$out" = "quenbrook: civ.ini could not be changed: the game runs as administrator, so its civ.ini needs administrator rights too (C:\\Windows\\civ.ini)
To do it, run quenbrook.exe --enable again as administrator: from a Command Prompt started with \"Run as administrator\".
exit 1" ] && [ ! -e "$work/lad2/VirtualStore" ] && cmp -s "$denied" "$work/original"'
  runner=as_nobody reg delete "$layers" /v 'C:\Nowhere\civ2.exe'
  as_nobody wine "$work/q.exe" --enable
  copied() { [ "$(tr -d '\r' <"$work/lad2/VirtualStore/Windows/civ.ini")" = "$(tr -d '\r' <"$denied")"$'\n[Civilization Gold]\nSimultaneous=1' ]; }
  check "a denied original is copied with its bytes plus the key, and stays byte for byte" eval 'copied && cmp -s "$denied" "$work/original"'
  as_nobody wineserver -k
else
  echo "# the denied original needs root (to run as nobody); the unit test scripts it"
fi

# --- The window, with the copy in place.
declare -A at_x at_y
while read -r name x y; do at_x[$name]=$x at_y[$name]=$y; done < <(probe points)
chmod u+w "$store" && printf '[Civilization Gold]\r\nOther=5\r\n' >"$store"
windows() { [ "$(xdotool search --onlyvisible --name "$2" 2>/dev/null | wc -l)" "$1" "$3" ]; }
ended() { ! kill -0 "$app" 2>/dev/null; }
buttons() { [ "$(probe buttons)" = "$1" ]; }
started() { [ "$(tr -d '\r' 2>/dev/null <"$game_dir/started.txt" | paste -sd'|')" = "$1" ]; }
start_app() {
  (cd "${exe%/*}" && exec timeout 300 wine "$exe") >/dev/null 2>&1 &
  app=$!
  tries=300 wait_for windows -eq '^Quenbrook$' 1 || { echo "not ok - the window did not appear" && exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name '^Quenbrook$' | head -1)")"
  # Keys go to the window once it has given the first button the focus.
  wait_for eval '[[ $(probe buttons) == focus=View* ]]'
}
click() { xdotool mousemove "$((X + at_x[$1]))" "$((Y + at_y[$1]))" click 1; }
# A message box opens; its text goes to $text, and Return closes it.
read_message() {
  wait_for windows -ge '^Quenbrook$' 2 && text=$(probe message) && xdotool key Return && wait_for windows -eq '^Quenbrook$' 1
}
says() { read_message && [ "$text" = "$1" ]; }

start_app
check "the client area is the design's ${at_x[Form1]}x${at_y[Form1]} pixels" test "$WIDTH" = "${at_x[Form1]}" -a "$HEIGHT" = "${at_y[Form1]}"
check "the first focus alone wears the default outline, which follows Tab" eval \
  'buttons "focus=View civ.ini outlined=View civ.ini" && xdotool key Tab && wait_for buttons "focus=Exit outlined=Exit"'
while IFS=$'\t' read -r name button message; do
  click "$button"
  check "$button says its message word for word ($name)" says "$message"
done < <(grep -v '^#' "${0%/*}/../data/cases/win32_messages.txt")
check "Do It wrote the copy and locked it once its confirmation was closed" wait_for eval 'has "$store" Simultaneous=1 && ! writable "$store"'
click Command5
check "Return To Normal Atributes frees the copy" wait_for writable "$store"

# Failures: a locked civ.ini without the key, a game file that is no program.
printf '[Civ2]\r\n' >"$store" && chmod a-w "$store"
click Command1
check "a refused Do It says why, naming civ.ini once" says "Your civ.ini file could not be changed, so simultaneous turns are not set.

Reason: civ.ini is read-only
File: $win_store"
chmod u+w "$store" && printf 'not a program' >"$game_dir/Civ2.exe" && rm -f "$game_dir/started.txt"
click Command10
check "Browse hides the read-only box" wait_for eval '[ "$(probe readonly)" = hidden ]'
xdotool type --delay 20 'C:\Civ2\Civ2.exe' && xdotool key Return
check "the chosen game is saved in the copy" wait_for has "$store" 'Path=C:\Civ2\Civ2.exe'
sleep 1 && click Command7
check "a failed Launch says why in the system's words for the program, and the window stays" eval \
  'read_message && [[ $text != *%1* && $text == *"for C:\Civ2\Civ2.exe"* ]] && ! ended'
cp "$helper" "$game_dir/Civ2.exe" && click Command7
check "Launch starts the game in its folder, maximized, and ends the program" eval \
  'wait_for started "C:\Civ2|3" && wait_for ended'

# Space, as the first keystroke, presses the focused button; Return a tabbed-to one.
start_app && xdotool key space
check "Space on the first focus opens civ.ini in the editor" wait_for windows -eq civ.ini 1
probe close 'civ.ini - Notepad' && wait_for windows -eq civ.ini 0 && sleep 2
click civ2 && xdotool key Tab && sleep 0.3 && xdotool key Return
check "Tab from the path box then Return presses Launch Civ 2" wait_for ended

# A shortcut's command line has no console: with --show-failure its failure shows in a box.
printf '[Civ2]\r\n' >"$store" && chmod a-w "$store"
(cd "${exe%/*}" && exec timeout 120 wine "$exe" --enable --show-failure) >/dev/null 2>&1 </dev/null &
app=$!
check "--show-failure shows the failure in a message box, in the command line's words" eval \
  'wait_for windows -eq "^Quenbrook$" 1 && text=$(probe message) && xdotool key Return && wait_for ended &&
   [ "$text" = "civ.ini could not be changed: civ.ini is read-only ($win_store)" ]'
chmod u+w "$store"

# --- The window, for a game run as administrator whose original is denied (as nobody):
# it asks first; Yes runs quenbrook.exe --enable through runas, which under Wine (no UAC)
# gains no rights, so that run fails too and the window says so.
if [ -n "${denied:-}" ]; then
  runner=as_nobody reg add "$layers" /v 'C:\NOWHERE\CIV2.EXE' /t REG_SZ /d RUNASADMIN
  cp "$work/original" "$denied" && rm -rf "$work/lad2/VirtualStore" && cp "$helper" "$work/probe.exe"
  probe() { nobody wine "$work/probe.exe" "$@" | tr -d '\r'; }
  (cd "$work" && exec setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/home" \
    WINEPREFIX="$work/prefix" WINEARCH="${WINEARCH:-win32}" timeout 300 wine "$work/q.exe") >/dev/null 2>&1 &
  app=$!
  if tries=300 wait_for windows -eq '^Quenbrook$' 1; then
    eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name '^Quenbrook$' | head -1)")"
    sleep 1 && click Command1
    refused="Your civ.ini file could not be changed, so simultaneous turns are not set.

Reason: the game runs as administrator, so its civ.ini needs administrator rights too
File: C:\\Windows\\civ.ini"
    check "Do It for a game run as administrator asks to do it with administrator rights" says "$refused

Do it now with administrator rights?"
    check "Yes runs it through runas, and its failure is said" says "${refused%%Reason:*}Reason: run as administrator, it failed too (exit code 1)
File: C:\\Windows\\civ.ini"
    check "nothing was written meanwhile" eval '[ ! -e "$work/lad2/VirtualStore" ] && cmp -s "$denied" "$work/original"'
  else
    echo "not ok - the window did not appear for nobody" && failed=1
  fi
  kill "$app" 2>/dev/null
  as_nobody wineserver -k
fi
exit $failed
