#!/usr/bin/env bash
# The manual page documents what the program has: every command in 'trackloom --help',
# every option and exit status in each 'trackloom COMMAND --help', and it renders
# without a warning. A failure names what to add to packaging/trackloom.1.pod.
# usage: check_manual_page.sh TRACKLOOM POD MANUAL
set -uo pipefail
trackloom=$1 pod=$2 manual=$3
failures=0
missing() { echo "trackloom.1.pod lacks $*" >&2; failures=$((failures + 1)); }

# The text of the pod from "=head2 trackloom COMMAND" to the next heading.
section() { awk -v c="$1" '/^=head/ {on = ($0 ~ "^=head2 trackloom " c "( |$)")} on' "$pod"; }

commands=$("$trackloom" --help | awk '/^Commands:/ {on = 1; next} on && /^  [a-z]/ {print $1}')
[ -n "$commands" ] || { echo "no commands found in 'trackloom --help'" >&2; exit 1; }
for command in $commands; do
  text=$(section "$command")
  [ -n "$text" ] || { missing "a section '=head2 trackloom $command'"; continue; }
  grep -q "^B<trackloom> B<$command>" "$pod" || missing "a SYNOPSIS line for $command"
  [ "$command" = help ] && continue
  help=$("$trackloom" "$command" --help)
  # The options its Usage line shows and those that begin the lines of its option list.
  options=$(awk '/^Usage:/ {for (i = 2; i <= NF; i++) {w = $i; gsub(/[][|]/, "", w); if (w ~ /^--?[A-Za-z]/) print w}; next}
                 /^ +--?[A-Za-z]/ {for (i = 1; i <= NF && $i ~ /^--?[A-Za-z]/; i++) {w = $i; sub(/,$/, "", w); sub(/=.*/, "", w); print w}}' <<<"$help" | sort -u)
  for option in $options; do
    [ "$option" = -h ] || [ "$option" = --help ] && continue
    grep -qF "B<$option>" <<<"$text" || missing "option $option of $command"
  done
  # "Exit status: 0 done, 1 failed ..., 2 bad options, 130 interrupted."
  statuses=$(awk '/^Exit status:/ {on = 1} on && /^$/ {on = 0} on' <<<"$help" |
    tr '\n' ' ' | sed 's/^Exit status://' | grep -oE '(^|, |: ) *[0-9]+ ' | grep -oE '[0-9]+')
  for status in $statuses; do
    awk '/^=head1 EXIT STATUS/ {on = 1; next} /^=head1/ {on = 0} on' "$pod" |
      grep -qx "=item B<$status>" || missing "exit status $status (from $command --help)"
  done
done

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "the manual page renders with warnings:" >&2; echo "$warnings" >&2; failures=$((failures + 1)); }
exit $((failures > 0))
