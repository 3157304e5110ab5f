# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Completes a command line as bash would, with the cursor at its end, and prints one candidate
# a line. tst_completion runs it:
#   bash complete-typed.sh <bash_completion> <completion file> <line as typed>
# The words are split as bash splits them (an "=" is a word of its own); then the function that
# the completion file registers for the line's first word is called as bash calls it.
# shellcheck disable=SC1090
source "$1"
source "$2"
COMP_LINE=$3
COMP_POINT=${#COMP_LINE}
read -ra COMP_WORDS <<< "${COMP_LINE//=/ = }"
[[ $COMP_LINE == *[\ =] ]] && COMP_WORDS+=("")
COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
function=$(complete -p "${COMP_WORDS[0]}" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
[ -n "$function" ] || exit 3
COMPREPLY=()
"$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}"
