#!/usr/bin/env bash
# The manual page keeps step with the help texts: every command that
# `varkel-host --help` lists has a section (.SS) in the page, every option that
# `varkel-host COMMAND --help` prints is described in that command's section
# or under OPTIONS, every option of the top-level help appears in the page,
# and every option the page describes as an item (.TP) of a command still
# exists in that command's help.
# Usage: man_page_test.sh VARKEL_HOST PAGE
set -euo pipefail
host=$1
page=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Option names (--long, -x) in a text; hyphens inside words (plug-in,
# 32-bit) are not options.
options_in() {
  grep -oE '(^|[^A-Za-z0-9-])--?[A-Za-z][A-Za-z0-9-]*' | sed -E 's/^[^-]//' | sort -u || true
}

# True when the text on stdin holds the option as a whole word.
mentions() {
  grep -qE "(^|[^A-Za-z0-9-])$1(\$|[^A-Za-z0-9-])"
}

# The page as text: no comments, no font changes, \- as -.
plain=$(grep -v '^\.\\"' "$page" | sed -E 's/\\f(\[[^]]*\]|\(..|.)//g; s/\\-/-/g; s/\\e/\\/g')

# The lines of one .SH or .SS section, by its first word.
section() {
  awk -v name="$1" '
    /^\.(SH|SS)[ \t]/ { word = $2; gsub(/"/, "", word); inside = (word == name); next }
    inside' <<<"$plain"
}

# The item tags (the line after .TP) of one section.
section_tags() {
  section "$1" | awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }'
}

top=$("$host" --help) || fail "varkel-host --help exits with $?"

# Commands: usage lines "varkel-host COMMAND ...", or the entries of a
# "Commands:"/"Subcommands:" list.
commands=$({
  grep -oE '^ *varkel-host [a-z][a-z0-9-]*' <<<"$top" | awk '{ print $2 }'
  awk 'tolower($0) ~ /^[a-z ]*commands:$/ { on = 1; next }
       /^[^ ]/ || /^$/ { on = 0 }
       on && /^ +[a-z]/ { print $1 }' <<<"$top"
} | sort -u)
[ -n "$commands" ] || fail "no commands found in varkel-host --help"

general=$(section OPTIONS)
checked=0
for option in $(options_in <<<"$top"); do
  mentions "$option" <<<"$plain" || fail "$option (varkel-host --help) is not in the page"
  checked=$((checked + 1))
done

for command in $commands; do
  help=$("$host" "$command" --help) || fail "varkel-host $command --help exits with $?"
  # A help text with every command's usage: keep this command's part.
  if [ "$(grep -cE '^ *varkel-host [a-z]' <<<"$help")" -gt 1 ]; then
    help=$(awk -v c="$command" '$1 == "varkel-host" { on = ($2 == c) } /^$/ { on = 0 } on' <<<"$help")
  fi
  text=$(section "$command")
  if [ -z "$text" ]; then
    fail "command $command has no section (.SS $command) in the page"
    continue
  fi
  help_options=$(options_in <<<"$help")
  for option in $help_options; do
    mentions "$option" <<<"$text" || mentions "$option" <<<"$general" ||
      fail "$option (varkel-host $command --help) is not in the page's $command section or OPTIONS"
    checked=$((checked + 1))
  done
  for option in $(section_tags "$command" | options_in); do
    mentions "$option" <<<"$help_options" ||
      fail "the page describes $option for $command, but varkel-host $command --help does not list it"
  done
done

echo "man page: $(wc -w <<<"$commands") commands, $checked options checked, $failures failures"
[ "$failures" -eq 0 ]
