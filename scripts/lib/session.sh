# Shared by scripts/demo and bench/startup: a private X server, the development service, a user's folders and the
# clicks a user makes. Source it; every process started here is recorded and stopped by orvel_stop_all.
# shellcheck shell=bash

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    echo "scripts/lib/session.sh is a library: source it from a bash script (see scripts/demo)." >&2
    [[ ${1:-} == -h || ${1:-} == --help ]] && exit 0
    exit 2
fi

ORVEL_PIDS=()
ORVEL_FBDIR=

orvel_log() { printf '%s\n' "$*" >&2; }

orvel_stop_all() {
    local pid
    for pid in "${ORVEL_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${ORVEL_PIDS[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    done
    ORVEL_PIDS=()
ORVEL_FBDIR=
}

# Starts Xvfb on a display number it picks itself (no collisions with other servers) and exports DISPLAY.
# The screen is also kept as a file, which is what screenshots read.
orvel_start_xvfb() {
    local screen=${1:-1280x800x24} numberfile
    numberfile=$(mktemp)
    ORVEL_FBDIR=$(mktemp -d)
    Xvfb -displayfd 3 -noreset -nolisten tcp -fbdir "$ORVEL_FBDIR" -screen 0 "$screen" 3>"$numberfile" 2>/dev/null &
    ORVEL_PIDS+=($!)
    for _ in $(seq 150); do
        [[ -s $numberfile ]] && grep -q '^[0-9]' "$numberfile" && break
        sleep 0.1
    done
    [[ -s $numberfile ]] || { orvel_log "Xvfb did not start"; return 1; }
    export DISPLAY=":$(head -n 1 "$numberfile")"
    rm -f "$numberfile"
}

# Translucent windows need a compositor, or their transparent parts show black.
orvel_start_compositor() {
    xsetroot -solid '#5a5a66' 2>/dev/null || true
    xcompmgr >/dev/null 2>&1 &
    ORVEL_PIDS+=($!)
    sleep 0.3
}

# orvel_start_service BIN STATE LOG [ARGS...]: starts OrvelDevService on a free port and exports the
# ORVEL_* values it prints (service URLs, connect page, CA file).
orvel_start_service() {
    local bin=$1 state=$2 log=$3
    shift 3
    local out="$log.out"
    : >"$out"
    "$bin/OrvelDevService" --state "$state" --port 0 "$@" >"$out" 2>"$log" &
    ORVEL_PIDS+=($!)
    for _ in $(seq 300); do
        grep -q '^ORVEL_DEV_SERVICE_PORT=' "$out" && break
        kill -0 "${ORVEL_PIDS[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    grep -q '^ORVEL_DEV_SERVICE_PORT=' "$out" || { orvel_log "OrvelDevService did not start:"; cat "$log" >&2; return 1; }
    local line
    while IFS= read -r line; do
        [[ $line == ORVEL_*=* ]] && export "${line?}"
    done <"$out"
}

# orvel_install_build BIN BUILDS VERSION APPDIR: a fresh installation of one build with its manifest.
orvel_install_build() {
    local bin=$1 builds=$2 version=$3 app=$4
    rm -rf "$app"
    mkdir -p "$app"
    cp -a "$builds/$version/." "$app/"
    "$bin/OrvelDevService" --manifest "$version=$builds/$version" >"$app/liveupdate.json"
}

# orvel_write_app_settings CONFIG_HOME KEY=VALUE...: the launcher's ("Orvel", "App") store, as Qt keeps it.
orvel_write_app_settings() {
    local config=$1
    shift
    mkdir -p "$config/Orvel"
    {
        printf '[General]\n'
        local pair value
        for pair in "$@"; do
            value=${pair#*=}
            value=${value//\\/\\\\}
            value=${value//\"/\\\"}
            printf '%s="%s"\n' "${pair%%=*}" "$value"
        done
    } >"$config/Orvel/App.conf"
}

# orvel_wait_window TITLE SECONDS: prints the id of the first visible window with exactly this title.
orvel_wait_window() {
    local title=$1 seconds=${2:-20} id
    for _ in $(seq $((seconds * 10))); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1)
        [[ -n $id ]] && { printf '%s\n' "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# orvel_click WINDOW X Y: a left click at a point inside the window.
orvel_click() {
    local window=$1 x=$2 y=$3 X Y
    eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y)=')"
    xdotool mousemove --sync $((X + x)) $((Y + y))
    sleep 0.1
    xdotool click 1
}

# orvel_wait_line FILE TEXT SECONDS: waits until the file holds the text.
orvel_wait_line() {
    local file=$1 text=$2 seconds=${3:-20}
    for _ in $(seq $((seconds * 20))); do
        grep -qF -- "$text" "$file" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# What the compositor put on the screen. (Asking the server with xwd -root would copy translucent windows in
# opaquely, their transparent parts black.)
orvel_screenshot() {
    convert "xwd:$ORVEL_FBDIR/Xvfb_screen0" "png:$1"
}
