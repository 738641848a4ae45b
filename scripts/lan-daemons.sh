# Shared by testlan.sh and loadlan.sh (sourced): the daemons one network DIR ($dir) started.

# Pids of the daemons that belong to $dir: from their pid files, checked against /proc.
our_pids() {
    local f pid
    for f in "$dir"/hosts/*/pid/*.pid; do
        [ -f "$f" ] || continue
        pid=$(tr -dc 0-9 < "$f")
        [ -n "$pid" ] || continue
        if [ -r "/proc/$pid/cmdline" ] && { tr '\0' ' ' < "/proc/$pid/cmdline"; } 2>/dev/null | grep -q -- "$dir/hosts/"; then
            echo "$pid"
        fi
    done
}

stop_all() {
    local pids n=0
    pids=$(our_pids | sort -u)
    [ -n "$pids" ] || return 0
    kill -TERM $pids 2>/dev/null || true
    while [ $n -lt 50 ]; do
        pids=$(for p in $pids; do if [ -d "/proc/$p" ]; then echo "$p"; fi; done)
        [ -n "$pids" ] || return 0
        sleep 0.1; n=$((n + 1))
    done
    kill -KILL $pids 2>/dev/null || true
}
