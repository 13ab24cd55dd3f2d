# bash completion for quellmark-cli

_quellmark_cli()
{
    local cur prev words cword
    _init_completion || return

    local commands="apps crawl files volumes"
    if ((cword == 1)); then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    case $prev in
        -o | --output)
            _filedir
            return
            ;;
        --mac-root)
            _filedir -d
            return
            ;;
        --image | --password-file)
            _filedir
            return
            ;;
        --threads | --volume | --agent | --since | --until | --exclude | --max-depth)
            return
            ;;
        --format)
            case ${words[1]} in
                files) COMPREPLY=($(compgen -W "text jsonl timeline bodyfile" -- "$cur")) ;;
                *) COMPREPLY=($(compgen -W "csv jsonl timeline bodyfile" -- "$cur")) ;;
            esac
            return
            ;;
    esac

    local options
    case ${words[1]} in
        apps) options="--help --output --format --mac-root" ;;
        crawl) options="--help --quarantine --apps --no-sidecars --threads --output --where-froms --agent --since --until --exclude --one-file-system --max-depth --format --mac-root --image --volume --password-file" ;;
        files) options="--help --apps --no-sidecars --format --mac-root --image --volume --password-file" ;;
        volumes) options="--help" ;;
        *) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ ${words[1]} == crawl ]]; then
        _filedir -d
    elif [[ ${words[1]} == files || ${words[1]} == volumes ]]; then
        _filedir
    fi
} &&
    complete -F _quellmark_cli quellmark-cli
