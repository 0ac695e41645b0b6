#!/usr/bin/env bash
# Prints, one a line, what bash completion offers for a command line.
#   bash_complete.sh COMPLETION_FILE 'LINE UP TO THE CURSOR'
# Loads the bash-completion package's helpers first, as an interactive
# shell has them, when they are installed.
set -u
file=$1 line=$2
helpers=/usr/share/bash-completion/bash_completion
if [[ -r $helpers ]]; then
  # shellcheck source=/dev/null
  . "$helpers"
fi
# shellcheck source=/dev/null
. "$file"
COMP_LINE=$line
COMP_POINT=${#line}
# The words as readline splits them: at blanks, with '=' a word of its own.
read -ra COMP_WORDS <<<"${line//=/ = }"
if [[ $line == *" " || $line == *"=" ]]; then COMP_WORDS+=(""); fi
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
COMPREPLY=()
function=$(complete -p "${COMP_WORDS[0]}" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
"$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" \
  "${COMP_WORDS[COMP_CWORD - 1]}"
if ((${#COMPREPLY[@]})); then printf '%s\n' "${COMPREPLY[@]}"; fi
