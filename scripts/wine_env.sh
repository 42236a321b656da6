# Sourced by the run scripts: a virtual X display and a persistent wineserver for the
# duration of one run, stopped again by pid at the end.
#   wine_env_start BUILD_DIR   sets DISPLAY and WINEPREFIX
#   wine_env_stop
# The kernels of these machines do not execute 32-bit Linux programs, so Debian's 32-bit Wine
# loader cannot start; the tests run as 64-bit Windows programs under Debian's 64-bit Wine.

KOVA_WINE=${KOVA_WINE:-/usr/lib/wine/wine64}
KOVA_WINESERVER=${KOVA_WINESERVER:-/usr/lib/wine/wineserver64}
export KOVA_WINE

wine_env_start() {
    local build=$1
    export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
    # Xvfb on the first display number that nobody uses.
    local n
    for n in $(seq 90 250); do
        [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    KOVA_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X${n}" ] && break
        kill -0 "$KOVA_XVFB_PID" 2>/dev/null || { echo "Xvfb did not start on :$n" >&2; return 1; }
        sleep 0.1
    done
    mkdir -p "$WINEPREFIX"
    "$KOVA_WINESERVER" -p
    if [ ! -f "$WINEPREFIX/.kova-ready" ]; then
        echo "creating the Wine prefix $WINEPREFIX"
        "$KOVA_WINE" wineboot -i >/dev/null 2>&1
        # A fresh prefix reports Windows 7; the system targets Windows 10.
        "$KOVA_WINE" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1
        # A crashing test ends at once with its exception code instead of waiting in winedbg.
        "$KOVA_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
            /t REG_SZ /d '' /f >/dev/null 2>&1
        touch "$WINEPREFIX/.kova-ready"
    else
        # The first program of a wineserver session boots the prefix; do it once here.
        "$KOVA_WINE" wineboot >/dev/null 2>&1
    fi
}

wine_env_stop() {
    "$KOVA_WINESERVER" -k >/dev/null 2>&1 || true
    if [ -n "${KOVA_XVFB_PID:-}" ]; then
        kill "$KOVA_XVFB_PID" 2>/dev/null || true
        wait "$KOVA_XVFB_PID" 2>/dev/null || true
    fi
    KOVA_XVFB_PID=
}
