# bash completion for qex, installed as share/bash-completion/completions/qex.
# Completes the switches, the command letters, and then each command's
# arguments by their kind: the archive (names ending in .qex, and folders to
# reach them), an extraction target (folders), a source (any file or
# folder) or an item inside the archive (nothing offered). The words before
# the cursor are read as qex reads them: switches anywhere until the stop
# switch ("--" alone or with a number), the word after a switch that takes
# a value (-x, -T, --exclude, --exclude-from, --files-from) is its value,
# the first other word is the command. The no-op switches -m, -o and -r are
# accepted by qex but not offered.

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
_qex_switches="-h --help -V --version -q --quiet -x --exclude --exclude-from --exclude-vcs -T --files-from --null -f --force --"

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
    local cur=${COMP_WORDS[COMP_CWORD]} word command="" position=0 switches=1 value="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $value ]]; then  # a switch's value (bash splits --switch=value at the "=")
            [[ $word == "=" ]] || value=""
            continue
        fi
        if ((switches)) && [[ $word == -* ]]; then
            case $word in
                -- | --[0-9]*) switches=0 ;;
                -x | --exclude) value=pattern ;;
                -T | --files-from | --exclude-from) value=file ;;
            esac
            continue
        fi
        if [[ -z $command ]]; then
            command=$word
        else
            ((position++))
        fi
    done
    COMPREPLY=()
    if [[ -n $value ]]; then
        [[ $value == file ]] && _qex_complete_kind source "$cur"
        return 0
    fi
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
