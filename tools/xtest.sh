#!/usr/bin/env bash
# Runs one command on a display of its own: a new Xvfb server with openbox as its window manager, as a person
# would see the program on a desktop. The tests that look at what the window system shows (captions, focus,
# where windows open, what they paint) run through this.
#   tools/xtest.sh COMMAND [ARGUMENTS...]
# With XTEST_WINDOW_MANAGER=none the display has no window manager.
# Exits with the command's code, or with 77 (the skip code of the X tests) when no X server can be started.
set -u

skip() {
    echo "xtest: SKIPPED, no X server can be started here: $*" >&2
    exit 77
}

command -v Xvfb >/dev/null 2>&1 || skip "Xvfb is not installed (Debian package xvfb)"

work=$(mktemp -d "${TMPDIR:-/tmp}/xtest.XXXXXX")
xvfb=""
wm=""
cleanup() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null && wait "$wm" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The server chooses a free display itself and writes its number, so tests running side by side never meet.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
[ -s "$work/display" ] || skip "Xvfb did not start: $(tail -n 3 "$work/xvfb.log" | tr '\n' ' ')"
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

if [ "${XTEST_WINDOW_MANAGER:-openbox}" = none ]; then
    : # a bare X server, as some kiosks and remote sessions are
elif command -v openbox >/dev/null 2>&1; then
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm=$!
    # Ready once it has announced itself on the root window.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done
else
    echo "xtest: openbox is not installed; running without a window manager" >&2
fi

"$@"
