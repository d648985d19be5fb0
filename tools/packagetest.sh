#!/usr/bin/env bash
# The Debian package as a user meets it. Builds it (tools/dev.sh package), has lintian check it, unpacks it
# into a temporary root, makes a demo register with the unpacked vnrdb in the data folder of a user, and runs
# the command line of the unpacked desktop entry with the unpacked vantrel as the unprivileged user nobody on
# a virtual display with a window manager (tools/xtest.sh): the register opens, the report catalogue writes a
# report, its page appears in the user's runtime folder and the viewer shows it; closing the program ends it
# with exit code 0 and removes the run's pages.
#   tools/packagetest.sh            as root (CI runs it so): it switches to nobody with setpriv
# Exits 0 when everything holds, 1 at the first thing that does not.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "packagetest: FAILED: $*" >&2
    exit 1
}

# The part that runs on the virtual display: tools/packagetest.sh --on-display WORK
if [ "${1:-}" = "--on-display" ]; then
    work=$2
    root=$work/root
    as_nobody() {
        setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$work/home" \
            XDG_DATA_HOME="$work/home/data" XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$DISPLAY" LC_ALL=C.UTF-8 "$@"
    }
    # Waits for a shown window whose name matches the pattern; prints its id.
    window() {
        local id=""
        for _ in $(seq 150); do
            id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$id" ] && break
            kill -0 "$program" 2>/dev/null || fail "vantrel ended while waiting for the window '$1'"
            sleep 0.2
        done
        [ -n "$id" ] || fail "no window '$1' within 30 seconds"
        echo "$id"
    }
    # Clicks at x y of the window's client area.
    click() {
        xdotool windowactivate --sync "$1" mousemove --window "$1" "$2" "$3" click 1
    }

    # The desktop entry's command line, with the unpacked program in place of the installed one.
    exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/vantrel.desktop")
    read -r -a command <<<"$exec_line"
    [ "${command[0]}" = vantrel ] || fail "the desktop entry starts '${command[0]}', not vantrel"
    command[0]=$root/usr/bin/vantrel
    echo "packagetest: running '$exec_line' as nobody"
    as_nobody "${command[@]}" >"$work/vantrel.log" 2>&1 &
    program=$!

    main=$(window '^Vantrel \(Read Only Mode\) $')
    # The toolbar lies centred along the bottom of the main window, its buttons as many as browser/main.cpp's
    # kToolBarButtons says; Reports is the fifth.
    buttons=$(sed -n 's/.*kToolBarButtons = \([0-9]*\);.*/\1/p' browser/main.cpp)
    [ -n "$buttons" ] || fail "cannot read the number of toolbar buttons from browser/main.cpp"
    eval "$(xdotool getwindowgeometry --shell "$main")"
    bar_left=$(((WIDTH - buttons * 123 - 4) / 2))
    bar_top=$((HEIGHT - 77 - 18))
    click "$main" $((bar_left + 2 + 4 * 123 + 61)) $((bar_top + 40))
    catalogue=$(window '^Asset Reports$')
    # "Report on items due for an electrical check": the GO button of the second box.
    click "$catalogue" 379 143
    viewer=$(window '^Results Report$')
    pages=("$work"/runtime/vantrel/run-*/~*.htm)
    [ -f "${pages[0]}" ] || fail "no report page in $work/runtime/vantrel/run-*/"
    grep -q 'Kelton Package Trust' "${pages[0]}" || fail "the report page ${pages[0]} does not name the register's company"
    [ "$(stat -c %U "${pages[0]}")" = nobody ] || fail "the report page is not the user's own"
    echo "packagetest: report page ${pages[0]#"$work"/} written, viewer shown"

    xdotool windowactivate --sync "$viewer" key Escape
    xdotool windowactivate --sync "$catalogue" key Escape
    xdotool windowactivate --sync "$main" key alt+F4
    for _ in $(seq 100); do
        kill -0 "$program" 2>/dev/null || break
        sleep 0.1
    done
    code=0
    wait "$program" || code=$?
    [ "$code" -eq 0 ] || fail "vantrel ended with exit code $code: $(cat "$work/vantrel.log")"
    ! compgen -G "$work/runtime/vantrel/run-*" >/dev/null || fail "the run's page folder was left behind"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    # Not a pass: the package was not tried. Exit code 77 says skipped, and fails a run that expects it.
    echo "packagetest: SKIPPED: run it as root; it runs the unpacked program as the user nobody" >&2
    exit 77
fi

started=$SECONDS
bash tools/dev.sh package
deb=$(ls build-pkg/vantrel_*.deb)

# Lintian's overrides travel in the package; it fails on errors only, and every tag is listed.
lintian_code=0
report=$(lintian --display-info --fail-on error "$deb" 2>&1) || lintian_code=$?
report=$(grep -v 'running with root privileges' <<<"$report" || true)
[ -z "$report" ] || echo "$report"
echo "packagetest: lintian: $(grep -c '^E:' <<<"$report") errors, $(grep -c '^W:' <<<"$report") warnings," \
    "$(grep -c '^I:' <<<"$report") info"
[ "$lintian_code" -eq 0 ] || fail "lintian reports errors"

work=$(mktemp -d /tmp/vantrel-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
dpkg -x "$deb" "$work/root"
for f in usr/bin/vantrel usr/bin/vnrdb usr/share/vantrel/reports/header.htm usr/share/vantrel/reports/footer.htm \
    usr/share/vantrel/reports/reportlogo.jpg usr/share/applications/vantrel.desktop \
    usr/share/icons/hicolor/scalable/apps/vantrel.svg usr/share/icons/hicolor/48x48/apps/vantrel.png \
    usr/share/icons/hicolor/256x256/apps/vantrel.png usr/share/man/man1/vantrel.1.gz usr/share/man/man1/vnrdb.1.gz \
    usr/share/doc/vantrel/copyright usr/share/doc/vantrel/changelog.Debian.gz; do
    [ -f "$work/root/$f" ] || fail "the package holds no /$f"
done

# The user's home, data folder and runtime folder, as a desktop session would give them.
mkdir -p "$work/home/data/vantrel" "$work/runtime"
chown -R nobody:nogroup "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
setpriv --reuid=nobody --regid=nogroup --clear-groups "$work/root/usr/bin/vnrdb" create \
    "$work/home/data/vantrel/vnrdata.mdb" --company "Kelton Package Trust" --demo 200 --seed 7 ||
    fail "the unpacked vnrdb could not make a register"

code=0
bash tools/xtest.sh bash tools/packagetest.sh --on-display "$work" || code=$?
[ "$code" -ne 77 ] || fail "no X server could be started"
[ "$code" -eq 0 ] || exit "$code"
echo "packagetest: passed in $((SECONDS - started)) s"
