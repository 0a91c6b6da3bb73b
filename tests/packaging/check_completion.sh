#!/usr/bin/env bash
# The bash completion offers what the program has, read from its help: every command,
# every option of each command, and the values of options by their placeholder.
# usage: check_completion.sh TRACKLOOM COMPLETION_FILE
set -uo pipefail
PATH="$(dirname "$(realpath "$1")"):$PATH"
source "$(realpath "$2")"
cd "$(mktemp -d)" && mkdir -p tracks && touch film.mp4 && trap 'rm -rf "$PWD"' EXIT
failures=0

# Completes the words given (the last is the one being typed) into $COMPREPLY.
complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _trackloom; }
expect() {  # expect "WORDS..." "EXPECTED..." : every expected word is offered
  local -a words
  read -ra words <<<"$1"
  [[ $1 == *" " ]] && words+=("")
  complete_words "${words[@]}"
  for w in $2; do
    [[ " ${COMPREPLY[*]} " == *" $w "* ]] ||
      { echo "'$1<TAB>' offers '${COMPREPLY[*]}', not $w" >&2; failures=$((failures + 1)); }
  done
}

commands=$(trackloom --help | awk '/^Commands:/ {on = 1; next} on && /^  [a-z]/ {print $1}')
expect "trackloom " "$commands"
for command in $commands; do
  [ "$command" = help ] && continue
  expect "trackloom $command --" \
    "$(trackloom "$command" --help | awk '/^ +--[a-z]/ {print $1}; /^ +-[a-z], --/ {print $2}' | tr -d ,)"
done

# words typed                              offered
cases=(
  "trackloom de|demo decode"
  "trackloom help en|encode"
  "trackloom encode --fit |letterbox crop stretch"
  "trackloom decode --view |pixels panel"
  "trackloom disc -o fi|film.mp4"
  "trackloom encode --dither |ordered none"
  "trackloom encode film.mp4 -o tr|tracks"
  "trackloom encode --audio fi|film.mp4"
  "trackloom encode f|film.mp4"
)
for c in "${cases[@]}"; do expect "${c%%|*}" "${c#*|}"; done
exit $((failures > 0))
