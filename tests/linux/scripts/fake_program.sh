#!/bin/sh
# Stands in for wine, xdg-open or a game in the process tests. It writes how it was
# started to $QUENBROOK_FAKE_RECORD, a line each: its path, working folder, WINEPREFIX,
# then each argument; then ends as $QUENBROOK_FAKE_EXIT says (a number, or "term": by
# SIGTERM). With $QUENBROOK_FAKE_HOLD set it first writes its pid, process group and
# session to $QUENBROOK_FAKE_RECORD.pid and waits (at most 5 s) for the file that names.
record=${QUENBROOK_FAKE_RECORD:?}
if [ -n "${QUENBROOK_FAKE_HOLD:-}" ]; then
    # /proc/PID/stat after the command name: state, parent, process group, session.
    group_and_session() { printf '%s\n' "$3" "$4"; }
    read -r stat < /proc/$$/stat
    { echo $$; group_and_session ${stat##*) }; } > "$record.pid.part.$$"
    mv "$record.pid.part.$$" "$record.pid"
    timeout 5 sh -c 'while [ ! -e "$0" ]; do sleep 0.02; done' "$QUENBROOK_FAKE_HOLD"
fi
printf '%s\n' "$0" "$(pwd -P)" "${WINEPREFIX-(unset)}" "$@" > "$record.part.$$"
mv "$record.part.$$" "$record"
[ "${QUENBROOK_FAKE_EXIT:-0}" = term ] && kill -TERM $$
exit "${QUENBROOK_FAKE_EXIT:-0}"
