#!/usr/bin/env bash
# quenbrook.exe's command line under Wine, through pipes as a script would use it:
# output, exit codes, and what lands in civ.ini.
#   cli_e2e.sh QUENBROOK_EXE RECORD_START_EXE   (needs WINEPREFIX, an initialised prefix)
# Prints "ok - ..." or "not ok - ..." per check; exits non-zero when any failed.
set -uo pipefail
exe=$1
recorder=$2
ini=$WINEPREFIX/drive_c/windows/civ.ini
failed=0

check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok - $name"
  else
    echo "not ok - $name"
    failed=1
  fi
}

# run ARGS...: sets out, err (without CRs) and code.
run() {
  local o e
  o=$(mktemp) e=$(mktemp)
  timeout 120 wine "$exe" "$@" >"$o" 2>"$e" </dev/null
  code=$?
  out=$(tr -d '\r' <"$o")
  err=$(tr -d '\r' <"$e")
  rm -f "$o" "$e"
}
writable() { [ -n "$(find "$ini" -perm -u=w)" ]; }

rm -f "$ini"
run --version
check "--version prints 1.00 through a pipe" test "$out" = "1.00" -a "$code" = 0
run --help
check "--help lists the options and exits 0" bash -c '[[ $1 == *--enable* && $1 == *--unlock* && $2 == 0 ]]' _ "$out" "$code"
run --enabel
check "an unknown option is a usage error (exit 2)" bash -c '[[ $2 == 2 && $1 == *--enabel* ]]' _ "$err" "$code"
run --lock
check "--lock without --enable is a usage error" test "$code" = 2
run --status
check "--status on a missing civ.ini fails and says why" bash -c '[[ $2 == 1 && $1 == *"no civ.ini"* ]]' _ "$err" "$code"
run --enable
check "--enable writes the option" bash -c '[[ $1 == 0 ]] && tr -d "\r" < "$2" | grep -qx "Simultaneous=1"' _ "$code" "$ini"
run --enable --lock
check "--enable --lock succeeds" bash -c '[[ $1 == 0 ]]' _ "$code"
check "civ.ini is read-only after --lock" bash -c '[ -z "$(find "$1" -perm -u=w)" ]' _ "$ini"
run --status
check "--status reports the lock" bash -c '[[ $1 == *"read-only: yes"* && $1 == *"Simultaneous=1: yes"* ]]' _ "$out"
run --unlock
check "--unlock makes civ.ini writable" bash -c '[[ $1 == 0 ]] && [ -n "$(find "$2" -perm -u=w)" ]' _ "$code" "$ini"
run --launch
check "--launch without a stored game fails with a reason (exit 1)" bash -c '[[ $2 == 1 && $1 == *"no game path"* ]]' _ "$err" "$code"

# A stored game in a folder with a blank starts there, maximized.
game_dir="$WINEPREFIX/drive_c/Civ Games"
mkdir -p "$game_dir"
cp "$recorder" "$game_dir/civ2.exe"
rm -f "$game_dir/started.txt"
printf '[Civ2]\r\nPath=C:\\Civ Games\\civ2.exe\r\n' >> "$ini"
run --launch
check "--launch starts the stored game" test "$code" = 0
for _ in $(seq 100); do [ -s "$game_dir/started.txt" ] && break; sleep 0.2; done
sleep 0.2
check "the game started in its own folder, maximized" \
  test "$(tr -d '\r' < "$game_dir/started.txt" 2>/dev/null | head -2 | paste -sd'|')" = 'C:\Civ Games|3'
exit $failed
