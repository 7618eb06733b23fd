# Shared by the scripts, the benchmarks and packaging/check: medians, seeded files, the development service, a private
# X server, a user's folders, the launcher's events and the clicks a user makes. Source it; every process started here
# is recorded in ORVEL_PIDS and stopped by orvel_stop_all.
# shellcheck shell=bash

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    echo "scripts/lib.sh is a library: source it from a bash script (see scripts/demo)." >&2
    [[ ${1:-} == -h || ${1:-} == --help ]] && exit 0
    exit 2
fi

ORVEL_PIDS=()
ORVEL_FBDIR=
# The launcher's lines with their time and category, so that orvel_event_ms can tell when an event happened.
ORVEL_MESSAGE_PATTERN='%{time yyyy-MM-dd HH:mm:ss.zzz} %{if-category}%{category}: %{endif}%{message}'

orvel_log() { printf '%s\n' "$*" >&2; }

# The comment block at the top of the calling script: its --help.
orvel_usage() { sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0"; }

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
    [[ -n $ORVEL_FBDIR ]] && rm -rf "$ORVEL_FBDIR"
    ORVEL_FBDIR=
}

# orvel_median [NUMBER...]: the median of the arguments, or of the numbers on standard input, one a line.
orvel_median() {
    if [[ $# -gt 0 ]]; then printf '%s\n' "$@"; else cat; fi | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# orvel_seeded_file FILE SIZE SEED: SIZE incompressible bytes (AES-CTR keystream) that depend only on SEED and SIZE.
orvel_seeded_file() {
    mkdir -p "$(dirname "$1")"
    head -c "$2" /dev/zero | openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f \
        -iv "$(printf '%032x' "$3")" >"$1"
}

# orvel_seeded_files DIR: one seeded file under DIR for each "SIZE<TAB>PATH" line on standard input (the line number
# is its seed); prints each PATH.
orvel_seeded_files() {
    local size path n=0
    while IFS=$'\t' read -r size path; do
        orvel_seeded_file "$1/$path" "$size" $((n++))
        printf '%s\n' "$path"
    done
}

# orvel_tree_sizes FILES MEGABYTES SEED: "SIZE<TAB>PATH" lines of an application build: a hundredth of the files
# large (a third of the bytes), the others sized by a seeded generator, in nested folders with blanks in their names.
orvel_tree_sizes() {
    local files=$1 total=$(($2 * 1024 * 1024)) i size dir weights=() sum=0
    local large=$((files / 100 > 0 ? files / 100 : 1))
    local large_size=$((total / 3 / large)) small=$((files - large))
    RANDOM=$3
    for ((i = 0; i < small; i++)); do
        weights+=($((RANDOM % 1000 + 1)))
        sum=$((sum + weights[i]))
    done
    for ((i = 0; i < files; i++)); do
        if ((i < small)); then size=$(((total - large * large_size) * weights[i] / sum)); else size=$large_size; fi
        dir="Data $((i % 6))/Set $((i % 9))"
        ((i % 4 == 0)) && dir="$dir/more $((i % 5))"
        ((i % 13 == 0)) && dir="Plugins"
        printf '%s\t%s/item %d.bin\n' "$size" "$dir" "$i"
    done
}

# orvel_start_service PROGRAM STATE LOG [ARGS...]: starts OrvelDevService on a free port, waits for its KEY=value
# lines (the port comes last; publishing large builds takes a while) and exports them (service URLs, connect page,
# CA file) and ORVEL_DEV_SERVICE_PID. Its access log goes to LOG.
orvel_start_service() {
    local program=$1 state=$2 log=$3
    shift 3
    local out="$log.out" line
    : >"$out"
    "$program" --state "$state" --port 0 "$@" >"$out" 2>"$log" &
    ORVEL_PIDS+=($!)
    ORVEL_DEV_SERVICE_PID=$!
    for _ in $(seq 6000); do
        grep -q '^ORVEL_DEV_SERVICE_PORT=' "$out" && break
        kill -0 "$ORVEL_DEV_SERVICE_PID" 2>/dev/null || break
        sleep 0.1
    done
    grep -q '^ORVEL_DEV_SERVICE_PORT=' "$out" || { orvel_log "OrvelDevService did not start:"; cat "$log" >&2; return 1; }
    while IFS= read -r line; do
        [[ $line == ORVEL_*=* ]] && export "${line?}"
    done <"$out"
    export ORVEL_DEV_SERVICE_PID
}

# orvel_start_xvfb [SCREEN]: a private X server on a display number it picks itself (no collisions with other
# servers); exports DISPLAY. The screen is also kept as a file (ORVEL_FBDIR), which is what orvel_screenshot reads.
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
    DISPLAY=":$(head -n 1 "$numberfile")"
    export DISPLAY
    rm -f "$numberfile"
}

# Translucent windows need a compositor, or their transparent parts show black. The root is grey, so that black
# areas stand out.
orvel_start_compositor() {
    xsetroot -solid '#5a5a66' 2>/dev/null || true
    xcompmgr >/dev/null 2>&1 &
    ORVEL_PIDS+=($!)
    sleep 0.3
}

# orvel_screenshot FILE.png: what the compositor put on the screen. (Asking the server with xwd -root would copy
# translucent windows in opaquely, their transparent parts black, and leave out a later modal dialog.)
orvel_screenshot() {
    convert "xwd:$ORVEL_FBDIR/Xvfb_screen0" "png:$1"
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
    local config=$1 pair value
    shift
    mkdir -p "$config/Orvel"
    {
        printf '[General]\n'
        for pair in "$@"; do
            value=${pair#*=}
            value=${value//\\/\\\\}
            value=${value//\"/\\\"}
            printf '%s="%s"\n' "${pair%%=*}" "$value"
        done
    } >"$config/Orvel/App.conf"
}

# orvel_user_session DIR: a user of the headless flow whose folders all live in DIR (home, config, runtime, logs), with
# the stand-in browser (tests/e2e/browser) that signs in through the service's form. Call after orvel_start_service.
orvel_user_session() {
    local dir=$1 here
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    mkdir -p "$dir"/{home,config,runtime,logs}
    chmod 700 "$dir/runtime"
    export HOME=$dir/home XDG_CONFIG_HOME=$dir/config XDG_RUNTIME_DIR=$dir/runtime QT_QPA_PLATFORM=xcb
    export QT_MESSAGE_PATTERN=$ORVEL_MESSAGE_PATTERN
    export PATH="$here/tests/e2e/browser:$PATH" BROWSER="$here/tests/e2e/browser/xdg-open"
    export ORVEL_BROWSER_LOG=$dir/logs/browser.log ORVEL_BROWSER_CA=${ORVEL_CA_CERTIFICATES:-}
    unset QT_SCALE_FACTOR QT_LOGGING_RULES
}

# orvel_wait_alone [SECONDS]: waits until no OrvelLauncher or Orvel runs on this machine (the launcher refuses to start
# beside one, whoever started it); false when one still runs after SECONDS (default 60).
orvel_wait_alone() {
    for _ in $(seq $((${1:-60} * 5))); do
        [[ -z $(find /proc/[0-9]*/exe -maxdepth 0 \( -lname '*/OrvelLauncher' -o -lname '*/Orvel' \
            -o -lname '*/OrvelLauncher (deleted)' -o -lname '*/Orvel (deleted)' \) 2>/dev/null) ]] && return 0
        sleep 0.2
    done
    return 1
}

# orvel_start_launcher PROGRAM OUT LOG: starts the launcher (standard output to OUT, error output to LOG) once no
# other launcher or application runs, and waits for its first event. A launcher that ends at once without one was
# refused beside a program some other run started meanwhile: it starts again once that has ended. Sets
# ORVEL_LAUNCHER_PID.
orvel_start_launcher() {
    local program=$1 out=$2 log=$3
    for _ in 1 2 3 4 5; do
        orvel_wait_alone 120 || { orvel_log "another OrvelLauncher or Orvel keeps running on this machine"; return 1; }
        "$program" >"$out" 2>"$log" &
        ORVEL_LAUNCHER_PID=$!
        ORVEL_PIDS+=("$ORVEL_LAUNCHER_PID")
        for _ in $(seq 1200); do
            grep -q 'orvel\.events: ' "$log" && return 0
            kill -0 "$ORVEL_LAUNCHER_PID" 2>/dev/null || break
            sleep 0.1
        done
        grep -q 'orvel\.events: ' "$log" && return 0
        kill -0 "$ORVEL_LAUNCHER_PID" 2>/dev/null && return 1 # no event within two minutes
        wait "$ORVEL_LAUNCHER_PID" || return 1                # failed rather than refused
        orvel_log "the launcher was refused beside another run's launcher or application; starting it again"
    done
    return 1
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

# orvel_wait_event LOG NAME [SECONDS]: waits until the launcher's error output LOG holds the event NAME
# ("orvel.events: NAME": window-shown, update-started, update-installed, update-failed, signed-in,
# application-started, ...).
orvel_wait_event() {
    local seconds=${3:-20}
    for _ in $(seq $((seconds * 20))); do
        grep -q -- "orvel\.events: $2\$" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# orvel_event_ms LOG NAME: when the event happened, in milliseconds since the epoch (needs ORVEL_MESSAGE_PATTERN).
orvel_event_ms() {
    date -d "$(grep -m 1 -- "orvel\.events: $2\$" "$1" | cut -c1-23)" +%s%3N
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
