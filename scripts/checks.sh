# The checks of the Windows and the Debian stage: sourced by both.
#   check WHAT COMMAND...    runs COMMAND and counts it as passed or failed
#   within SECONDS COMMAND   true as soon as COMMAND is, polled every 0.2 s
#   equals ACTUAL EXPECTED, contains TEXT PART   with a line that says why not
passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "  ok      $what"
    passed=$((passed + 1))
  else
    echo "  FAILED  $what"
    failed=$((failed + 1))
  fi
}
within() {
  local deadline=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}
equals() { [ "$1" = "$2" ] || { echo "    expected [$2], got [$1]"; return 1; }; }
contains() { [[ "$1" == *"$2"* ]] || { echo "    [$1] lacks [$2]"; return 1; }; }
