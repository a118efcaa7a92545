# Shared by the scenario scripts (sourced).

# Polls a condition for up to 10 s.
waitfor() {
    for _ in $(seq 100); do
        if eval "$1" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    return 1
}
