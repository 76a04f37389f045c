# Sourced by run.sh and test.sh.
# quietly LOG COMMAND...: runs a build step with its output in LOG, and shows the end of the log
# only when the step fails.
quietly() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  if ! "$@" >"$log" 2>&1; then
    tail -n 80 "$log" >&2
    echo "'$*' failed; the whole log is in $log" >&2
    return 1
  fi
}
