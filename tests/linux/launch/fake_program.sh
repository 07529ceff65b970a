#!/bin/sh
# Wine, xdg-open or a game in the process tests: writes its path, working folder, WINEPREFIX
# and arguments, each followed by |, to $QUENBROOK_FAKE_RECORD, then exits with $QUENBROOK_FAKE_EXIT
# (or "term": by SIGTERM). With $QUENBROOK_FAKE_HOLD, first its pid, process group and
# session go to $QUENBROOK_FAKE_RECORD.pid, and it waits (5 s at most) for the file named.
record=${QUENBROOK_FAKE_RECORD:?}
if [ -n "${QUENBROOK_FAKE_HOLD:-}" ]; then
    # /proc/PID/stat after the command name: state, parent, process group, session.
    group_and_session() { printf '%s\n' "$3" "$4"; }
    read -r stat < /proc/$$/stat
    { echo $$; group_and_session ${stat##*) }; } > "$record.pid.part.$$"
    mv "$record.pid.part.$$" "$record.pid"
    timeout 5 sh -c 'while [ ! -e "$0" ]; do sleep 0.02; done' "$QUENBROOK_FAKE_HOLD"
fi
printf '%s|' "$0" "$(pwd -P)" "${WINEPREFIX-(unset)}" "$@" > "$record.part.$$"
mv "$record.part.$$" "$record"
[ "${QUENBROOK_FAKE_EXIT:-0}" = term ] && kill -TERM $$
exit "${QUENBROOK_FAKE_EXIT:-0}"
