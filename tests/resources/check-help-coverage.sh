#!/usr/bin/env bash
# Holds the manual page and the bash completion to what the program itself prints:
# every command, sub-command and option of `corvex --help` and `corvex COMMAND --help`
# must be in corvex(1) and be exactly what the completion offers, and both pages must
# render without warnings.
# Usage: check-help-coverage.sh CORVEX COMPLETION corvex.1 corvex-vario.1
set -uo pipefail
corvex=$1 completion=$2 manual=$3 desktop_manual=$4
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The names listed under one heading ("Commands:" or "Options:") of a help text.
listed() { awk -v heading="$1" '/^[A-Z][a-z]*:$/ { inside = ($0 == heading) } inside && /^  [a-z-]/ { print $1 }'; }

# What the completion offers for a command line whose last word is being typed.
offered() {
    bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" && shift &&
        COMP_WORDS=(corvex "$@") COMP_CWORD=$# COMP_LINE="corvex $*" && COMP_POINT=${#COMP_LINE} &&
        _corvex; printf "%s\n" "${COMPREPLY[@]}"' - "$completion" "$@" | sort
}

# The page's source with scdoc's bold and escapes taken out: "\fB--out\fR" is "--out".
page=$(sed 's/\\f[BIR]/\x01/g; s/\\&//g' "$manual")

check() { # PATH...: the words of a command path, none for the global level
    local help
    help=$("$corvex" "$@" --help) || { fail "corvex $* --help exits with $?"; return; }
    local commands options
    commands=$(listed Commands: <<<"$help" | sort)
    options=$(listed Options: <<<"$help" | sort)
    [[ -n $options ]] || fail "corvex $* --help lists no options"
    local word
    for word in $commands; do
        [[ $page == *$'\x01'"${*:+$* }$word"* ]] || fail "corvex.1 does not describe \"${*:+$* }$word\""
    done
    for word in $options; do
        [[ $page == *$'\x01'"$word"$'\x01'* ]] || fail "corvex.1 does not mention $word (corvex $*)"
    done
    [[ -z $commands || $(offered "$@" "") == "$commands" ]] \
        || fail "completion after \"corvex $*\" offers [$(offered "$@" "" | xargs)], the help lists [$(xargs <<<"$commands")]"
    [[ $(offered "$@" -) == "$options" ]] \
        || fail "completion of \"corvex $* -\" offers [$(offered "$@" - | xargs)], the help lists [$(xargs <<<"$options")]"
    for word in $commands; do
        check "$@" "$word"
    done
}
check

# The pilot-data fields: the program names them when it refuses an unknown one (before
# it looks for an instrument).
fields=$("$corvex" pilot --set no-such-field=x 2>&1 | sed -n 's/.*(fields: \(.*\))$/\1/p' | tr -d , | xargs -n1 | sort)
[[ -n $fields ]] || fail "corvex pilot --set did not name its fields"
[[ $(offered pilot --set "" | tr -d = | sort) == "$fields" ]] || fail "completion of --set offers [$(offered pilot --set "" | xargs)], not [$(xargs <<<"$fields")]"
[[ $(offered download 1 --format "") == $'igc\nkml' ]] || fail "completion of --format does not offer igc and kml"
# The contest rules: every row the program lists, and "list".
rules=$( ("$corvex" score --rules list | cut -f1; echo list) | sort)
[[ $(offered score a.igc --rules "") == "$rules" ]] || fail "completion of --rules offers [$(offered score a.igc --rules "" | xargs)], not [$(xargs <<<"$rules")]"

for file in "$manual" "$desktop_manual"; do
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$file renders with warnings: $warnings"
done

((failures == 0)) && echo "corvex.1 and the completion cover every command and option of the help"
exit $((failures > 0))
