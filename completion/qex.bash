# bash completion for qex, installed as share/bash-completion/completions/qex.
# Completes the switches, the command letters, and then each command's
# arguments by their kind: the archive (names ending in .qex, and folders to
# reach them), an extraction target (folders), a source (any file or
# folder) or an item inside the archive (nothing offered). The words before the cursor are read as qex reads them: switches
# anywhere until the stop switch --N, the first other word is the command.

# Argument kinds of each command, in order; a kind ending in "..." stands
# for any number of arguments of that kind. A new command is one line here.
_qex_argument_kinds() {
    case $1 in
        a) echo "archive source..." ;;
        x) echo "archive folder item..." ;;
        t) echo "archive" ;;
        l) echo "archive" ;;
    esac
}
_qex_commands="a x t l"
_qex_switches="-m -o -r --"

_qex_complete_kind() {
    local cur=$2
    # Names are completed as file names (quoted, folders given a slash);
    # outside a completion run, as in a test, there is no such option to set.
    compopt -o filenames 2>/dev/null
    case $1 in
        archive)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[qQ][eE][xX]' -- "$cur") ;;
        folder)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
        source)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        item) ;;  # paths inside the archive: nothing on disk to offer
    esac
}

_qex() {
    local cur=${COMP_WORDS[COMP_CWORD]} word command="" position=0 switches=1 i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((switches)) && [[ $word == -* ]]; then
            [[ $word == --* ]] && switches=0
            continue
        fi
        if [[ -z $command ]]; then
            command=$word
        else
            ((position++))
        fi
    done
    COMPREPLY=()
    if ((switches)) && [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_qex_switches" -- "$cur")
        return 0
    fi
    if [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_qex_commands" -- "$cur")
        return 0
    fi
    local kinds
    read -r -a kinds <<<"$(_qex_argument_kinds "$command")"
    ((${#kinds[@]})) || return 0
    local kind=${kinds[position]:-}
    if [[ -z $kind && ${kinds[-1]} == *... ]]; then
        kind=${kinds[-1]}
    fi
    _qex_complete_kind "${kind%...}" "$cur"
    return 0
}
complete -F _qex qex
