#!/usr/bin/env bash
# The bash completions offer every command and long option each program's
# --help lists, and nothing it does not: a command added to a program and
# forgotten in its completion fails here.
#   completion_test.sh COMPLETION_DIR BIN_DIR
set -uo pipefail
completions=$1 bin=$2
status=0

words_of() { tr -s ' \t()"$=|' '\n' < "$1" | sed -n "$2" | sort -u; }
compare() { # what, from-help, from-completion
    local missing extra
    missing=$(comm -23 <(echo "$2") <(echo "$3"))
    extra=$(comm -13 <(echo "$2") <(echo "$3"))
    if [[ -n $missing || -n $extra ]]; then
        echo "FAIL $1: missing [${missing//$'\n'/ }] not in --help [${extra//$'\n'/ }]"
        status=1
    else
        echo "ok   $1"
    fi
}

# Long options: every "--name" of --help against the completion's.
for program in lumarc lumarc-scan lumarc-ini; do
    help=$("$bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | grep -v -x -- '--settings\|--launch' | sort -u)
    [[ $program == lumarc-ini ]] && help=$(echo "$help" | grep -v -x -- '--capacity')
    completion=$(grep -o -- '--[a-z][a-z-]*' "$completions/$program" |
                 grep -v -x -- '--settings\|--launch\|--capacity' | sort -u)
    compare "$program options" "$help" "$completion"
done

# lumarc's commands: the first word of each line of the Commands list.
help=$("$bin/lumarc" --help | sed -n '/^Commands/,/^$/p' |
       sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' | sort -u)
# "name | firmware | ..." lines list several.
help=$( { echo "$help"; "$bin/lumarc" --help | sed -n 's/^  name | \(.*\)$/\1/p' | tr -d ' ' | tr '|' '\n'; } | sort -u)
completion=$(sed -n '/local commands="/,/"/p' "$completions/lumarc" |
             sed 's/.*commands="//; s/"//' | tr -s ' ' '\n' | grep . | sort -u)
compare "lumarc commands" "$help" "$completion"

# lumarc-ini's commands.
help=$("$bin/lumarc-ini" --help | sed -n 's/^  \([a-z][a-z-]*\) FILE.*/\1/p' | sort -u)
completion=$(grep -o '"get .*' "$completions/lumarc-ini" -A1 | tr -s ' "' '\n' |
             grep -v -e '^--' -e '^$' -e '--' | grep '^[a-z]' | sort -u)
compare "lumarc-ini commands" "$help" "$completion"

# Each file is valid bash that defines its completion.
for program in lumarc lumarc-scan lumarc-ini; do
    if ! bash -n "$completions/$program"; then
        echo "FAIL $program: not valid bash"
        status=1
    fi
done
exit $status
