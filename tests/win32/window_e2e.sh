#!/usr/bin/env bash
# The native window under Wine on an X display: clicks the places the layout gives,
# answers the message boxes with Return, and checks civ.ini on disk after each step.
#   window_e2e.sh QUENBROOK_EXE LAYOUT_POINTS RECORD_START_EXE
# Needs WINEPREFIX (an initialised prefix) and DISPLAY. Prints "ok - ..." or
# "not ok - ..." per check and exits non-zero when any check failed.
set -uo pipefail
exe=$1
points_tool=$2
recorder=$3
ini=$WINEPREFIX/drive_c/windows/civ.ini
failed=0
app_pid=

declare -A at_x at_y
while read -r name x y; do
  at_x[$name]=$x
  at_y[$name]=$y
done < <("$points_tool")

check() {  # check NAME COMMAND...: one line of the report per check
  local name=$1
  shift
  if "$@"; then
    echo "ok - $name"
  else
    echo "not ok - $name"
    failed=1
  fi
}

# Waits up to 20 s until COMMAND succeeds.
wait_for() {
  local i
  for ((i = 0; i < 100; i++)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

visible_windows() { xdotool search --onlyvisible --name '^Quenbrook$' 2>/dev/null | wc -l; }
message_open() { [ "$(visible_windows)" -ge 2 ]; }
message_closed() { [ "$(visible_windows)" -eq 1 ]; }
dialog_open() { xdotool search --onlyvisible --name '^Open$' >/dev/null 2>&1; }
dialog_closed() { ! dialog_open; }
app_running() { kill -0 "$app_pid" 2>/dev/null; }
app_gone() { ! app_running; }
writable() { [ -n "$(find "$ini" -perm -u=w)" ]; }
read_only() { [ -e "$ini" ] && ! writable; }
has_line() { tr -d '\r' < "$ini" | grep -qxF "$1"; }
key_in_section() {  # key_in_section SECTION LINE: LINE inside [SECTION]
  tr -d '\r' < "$ini" | awk -v s="[$1]" -v l="$2" '
    /^\[/ { inside = ($0 == s) } inside && $0 == l { found = 1 } END { exit !found }'
}

origin_x=0
origin_y=0
start_app() {
  (cd "$(dirname "$exe")" && exec timeout 300 wine "$exe") >/dev/null 2>&1 &
  app_pid=$!
  if ! wait_for message_closed; then
    echo "not ok - the window did not appear"
    failed=1
    return 1
  fi
  local window
  window=$(xdotool search --onlyvisible --name '^Quenbrook$' | head -1)
  eval "$(xdotool getwindowgeometry --shell "$window")"
  origin_x=$X
  origin_y=$Y
  # The client area is the design's size at 96 dpi.
  check "the window's client area is ${at_x[Form1]}x${at_y[Form1]} pixels" \
    test "$WIDTH" = "${at_x[Form1]}" -a "$HEIGHT" = "${at_y[Form1]}"
  sleep 0.5
}

click() {  # click CONTROL: the centre of the control as the layout places it
  xdotool mousemove "$((origin_x + at_x[$1]))" "$((origin_y + at_y[$1]))" click 1
}

close_message() {
  xdotool key Return
  wait_for message_closed
}

stop_app() {
  app_running && kill "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
}
trap stop_app EXIT

game='C:\Games\Civ2\civ2.exe'

rm -f "$ini"
printf '[Civilization Gold]\r\nOther=5\r\n' > "$ini"
start_app || exit 1

# "Do It" (leave the file alone): the key is written before the confirmation shows.
click Command1
check "Do It shows its confirmation" wait_for message_open
check "Do It wrote Simultaneous=1 into [Civilization Gold]" key_in_section 'Civilization Gold' 'Simultaneous=1'
check "Do It kept the section's other key" key_in_section 'Civilization Gold' 'Other=5'
check "Do It left civ.ini writable" writable
check "Return closes the confirmation" close_message

# "Do It" (read-only): the lock comes only after the user has read the message.
printf '[Civilization Gold]\r\nOther=5\r\n' > "$ini"
click Command6
check "the read-only Do It shows its confirmation" wait_for message_open
check "the read-only Do It wrote the key" key_in_section 'Civilization Gold' 'Simultaneous=1'
check "civ.ini is still writable while the confirmation is open" writable
check "Return closes the confirmation" close_message
check "civ.ini has no write bit once the confirmation is closed" wait_for read_only

# "Return To Normal Atributes".
click Command5
check "Return To Normal Atributes makes civ.ini writable again" wait_for writable
check "no message follows a successful return to normal" bash -c "sleep 1; [ \$(xdotool search --onlyvisible --name '^Quenbrook\$' | wc -l) -eq 1 ]"

# A typed path is kept by Exit.
click civ2
sleep 0.3
xdotool type --delay 20 "$game"
sleep 0.3
click Command4
check "Exit ends the program" wait_for app_gone
check "Exit saved the typed path in [Civ2]" key_in_section Civ2 "Path=$game"

# Browse: a cancelled dialog changes nothing; a chosen game is kept at once.
start_app || exit 1
game_dir=$WINEPREFIX/drive_c/Civ2
mkdir -p "$game_dir"
cp "$recorder" "$game_dir/Civ2.exe"
rm -f "$game_dir/started.txt"
before=$(md5sum < "$ini")
click Command10
check "Browse opens the file dialog" wait_for dialog_open
xdotool key Escape
check "Escape closes the file dialog" wait_for dialog_closed
check "a cancelled Browse saved nothing" test "$(md5sum < "$ini")" = "$before"
click Command10
check "Browse opens the file dialog again" wait_for dialog_open
sleep 0.5
xdotool type --delay 20 'C:\Civ2\Civ2.exe'
xdotool key Return
check "the chosen game is saved in [Civ2]" wait_for key_in_section Civ2 'Path=C:\Civ2\Civ2.exe'
check "the file dialog has closed" wait_for dialog_closed
sleep 1

# Launch starts the game in its folder, maximized, and ends the program.
click Command7
check "Launch ends the program" wait_for app_gone
check "the game was started" wait_for test -s "$game_dir/started.txt"
sleep 0.3
check "the game started in its own folder, maximized" \
  test "$(tr -d '\r' < "$game_dir/started.txt" 2>/dev/null | head -2 | paste -sd'|')" = 'C:\Civ2|3'

# The close box saves nothing: the edited path is dropped.
start_app || exit 1
before=$(md5sum < "$ini")
click civ2
xdotool key End shift+Home
xdotool type --delay 20 'C:\Other\civ2.exe'
sleep 0.3
xdotool key alt+F4
check "the close box ends the program" wait_for app_gone
check "the close box saved nothing" test "$(md5sum < "$ini")" = "$before"


# The keyboard: the focus starts on "View civ.ini" and Tab goes on to "Exit" as the
# design orders them; Space presses it.
start_app || exit 1
xdotool key Tab
sleep 0.3
xdotool key space
check "Tab from the first focus reaches Exit" wait_for app_gone

exit $failed
