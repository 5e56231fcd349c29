#!/usr/bin/env bash
# Starts the demo panel on a private X display with a private accessibility
# bus, presses its button through AT-SPI and checks that the callback ran.
# Exit 77 (skip) only when the tools for this are not installed.
set -u
demo=$1
press=$2
python=/usr/bin/python3

for tool in Xvfb dbus-run-session timeout; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
if ! "$python" -c 'import pyatspi' 2>/dev/null; then
    echo "SKIP: python3-pyatspi is not installed"
    exit 77
fi

work=$(mktemp -d)
xvfb_pid=
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT

# One attempt: a fresh display and bus. Returns 0 on success, 2 when the
# display went away under the program (worth one more try), 1 otherwise.
attempt() {
    rm -f "$work"/*
    # Xvfb picks a free display and writes its number to fd 3 once it listens.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    if [ ! -s "$work/display" ]; then
        echo "FAIL: Xvfb did not start within 10 s"; cat "$work/xvfb.log"; return 1
    fi
    DISPLAY=":$(cat "$work/display")"
    export DISPLAY
    export QT_QPA_PLATFORM=xcb
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    export QT_ACCESSIBILITY=1
    unset WAYLAND_DISPLAY

    # shellcheck disable=SC2016  # the inner bash expands its own arguments
    timeout 60 dbus-run-session -- bash -c '
        "$1" > "$4/demo.out" 2> "$4/demo.err" &
        demo_pid=$!
        "$2" "$3" "$5" "Press Me" 30 > "$4/press.out" 2>&1
        echo $? > "$4/press.rc"
        # The press ends the program; give it a bounded time to do so.
        for _ in $(seq 100); do
            kill -0 $demo_pid 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 $demo_pid 2>/dev/null; then
            kill $demo_pid; echo 124 > "$4/demo.rc"
        else
            wait $demo_pid; echo $? > "$4/demo.rc"
        fi
    ' _ "$demo" "$python" "$press" "$work" "$(basename "$demo")"
    local session_rc=$?
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=

    cat "$work/press.out" 2>/dev/null
    echo "--- program output"; cat "$work/demo.out" 2>/dev/null
    if grep -qE "could not connect to display|cannot open display" "$work/demo.err" 2>/dev/null; then
        echo "the program lost its display $DISPLAY"; return 2
    fi
    if [ "$session_rc" -ne 0 ] || [ ! -f "$work/demo.rc" ]; then
        echo "FAIL: the accessibility session did not finish (status $session_rc)"
        cat "$work/demo.err" 2>/dev/null; return 1
    fi
    if [ "$(cat "$work/press.rc")" != 0 ]; then
        echo "FAIL: the button could not be pressed through AT-SPI"
        cat "$work/demo.err"; return 1
    fi
    if [ "$(cat "$work/demo.rc")" != 0 ]; then
        echo "FAIL: the program did not end after the press (status $(cat "$work/demo.rc"))"
        cat "$work/demo.err"; return 1
    fi
    if ! grep -q "button callback ran: panel 1 control 2 event 1" "$work/demo.out"; then
        echo "FAIL: the button's callback did not run"; return 1
    fi
    echo "PASS: pressed through AT-SPI, callback ran"
    return 0
}

attempt
rc=$?
if [ "$rc" -eq 2 ]; then
    echo "--- trying once more on a fresh display"
    attempt
    rc=$?
fi
[ "$rc" -eq 0 ] && exit 0
[ "$rc" -eq 2 ] && echo "FAIL: the program could not keep a display twice"
exit 1
