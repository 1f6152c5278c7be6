#!/usr/bin/env bash
# The command's exit codes for usage errors: 2 with the usage text on
# standard error.
set -u
vorn=$1
fail=0
expect() {
  local want=$1
  shift
  local err
  err=$("$vorn" "$@" 2>&1 >/dev/null)
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "vorn $*: exit $got, expected $want"
    fail=1
  elif [ "$want" = 2 ] && ! grep -q '^usage: vorn' <<<"$err"; then
    echo "vorn $*: no usage text on standard error"
    fail=1
  fi
}
expect 2
expect 2 no-such-command
expect 2 version extra
expect 2 make-transparent
expect 2 make-transparent a.gif b.gif
expect 2 save-jpeg only-one.ppm
expect 2 wav2au a.wav
expect 2 show-file dir
expect 2 make-cab dir
expect 2 copy-to-clipboard
expect 0 --help
exit $fail
