#!/bin/bash
# Every option a program's --help names (and each command's help for the
# driver) is offered by its bash completion, through bash-completion itself.
# usage: completion_test.sh BIN_DIR PACKAGING_DIR
set -u
bin=$1
packaging=$2
if [ ! -r /usr/share/bash-completion/bash_completion ]; then
    echo "bash-completion is not installed: skipped"
    exit 77
fi
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
PATH=$bin:$PATH
failures=0

# The words bash completes for the command line "$@" (the last word is the
# one being completed).
complete_words() {
    local tool=$1
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    local function
    function=$(complete -p "$tool" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
    # compopt speaks only inside a completion bash runs itself.
    "$function" "$tool" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}"
}

# Each --option of the help text HELP must be offered after WORDS... --.
expect_options() {
    local help=$1
    shift
    local offered option
    offered=$(complete_words "$@" --)
    # The options are the help's lines that begin with one (after -x, ).
    for option in $(grep -oE -- '^ +(-[a-zA-Z], )?--[a-z][a-z0-9-]+' <<<"$help" |
        grep -oE -- '--[a-z0-9-]+' | sort -u); do
        if ! grep -qxF -- "$option" <<<"$offered"; then
            echo "FAIL: $* -- does not offer $option"
            failures=$((failures + 1))
        fi
    done
}

for tool in ipcountry-batch ipcountry-make-ip-db ipcountry-update-data; do
    # shellcheck disable=SC1090
    source "$packaging/$tool.bash-completion"
done

for command in find formatted unformatted stats report networks; do
    expect_options "$(ipcountry-batch help "$command")" ipcountry-batch "$command"
done
expect_options "$(ipcountry-make-ip-db --help)" ipcountry-make-ip-db
expect_options "$(ipcountry-update-data --help)" ipcountry-update-data

# Values: the formats of each command, the commands, the sources.
check() {
    local want=$1
    shift
    if ! complete_words "$@" | grep -qxF -- "$want"; then
        echo "FAIL: $* does not offer $want"
        failures=$((failures + 1))
    fi
}
check networks ipcountry-batch ''
check nft ipcountry-batch networks --format ''
check json ipcountry-batch find --format ''
check as ipcountry-batch unformatted --by ''
check iptoasn ipcountry-update-data --asn ''
check iptoasn= ipcountry-update-data --url ''
check registries ipcountry-update-data ''

[ "$failures" -eq 0 ] && echo "every option is completed"
exit $((failures != 0))
