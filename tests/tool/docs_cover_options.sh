#!/usr/bin/env bash
# docs_cover_options.sh SOURCE_DIR TOKENCERT SOFTTOKEN_UTIL
# Every option a program's usage text lists has an entry (a .TP or .TQ tag)
# in its manual page and is offered by its bash completion; the pages format
# without a warning.
set -uo pipefail
doc=$1/doc failed=0
fail() { echo "$*"; failed=1; }

# The options named in a text: words that begin with - or -- after a blank.
options_in() { grep -oE -- '(^|[[:space:](])--?[a-z][-a-z0-9]*' | sed 's/^[[:space:](]*//' | sort -u; }
tags_of() { awk 'tag { gsub(/\\-/, "-"); print } { tag = ($1 == ".TP" || $1 == ".TQ") }' "$1" | options_in; }

have_completion=0
if [ -r /usr/share/bash-completion/bash_completion ]; then
  . /usr/share/bash-completion/bash_completion && . "$doc/completion/tokencert" &&
    . "$doc/completion/softtoken-util" && have_completion=1
fi
# complete WORDS...: what the completion offers for the last word.
complete_line() {
  COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE} COMPREPLY=()
  local fn=_tokencert
  [ "$1" = softtoken-util ] && fn=_softtoken_util
  "$fn" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  echo "${COMPREPLY[*]}"
}

for program in "tokencert $2 -help" "softtoken-util $3 --help"; do
  set -- $program
  page=$doc/$1.1 usage=$(timeout 10 "$2" "$3" </dev/null 2>&1)
  [ -n "$usage" ] || fail "$1: no usage text"
  tags=$(tags_of "$page")
  for option in $(options_in <<<"$usage"); do
    grep -qxe "$option" <<<"$tags" || fail "$page: no entry for $option"
    if [ $have_completion = 1 ]; then
      [[ " $(complete_line "$1" "$option") " == *" $option "* ]] || fail "$1 completion: $option not offered"
    fi
  done
done

# Options that take one of fixed values complete to them.
if [ $have_completion = 1 ]; then
  while read -r expected line; do
    got=$(complete_line $line '')
    [ "$got" = "${expected//,/ }" ] || fail "completion of '$line': '$got', not '${expected//,/ }'"
  done <<'EOF'
pem,der tokencert -outform
pem,der,pfx,p12 tokencert -inform
pass:,env:,file:,fd:,stdin tokencert -passin
pass:,env:,file:,fd:,stdin softtoken-util --new-pin-source
EOF
else
  echo "bash-completion is not installed: completion not checked"
fi

if command -v groff >/dev/null; then
  for page in "$doc"/*.[15]; do
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
  done
fi
exit $failed
