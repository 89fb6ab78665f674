# bash completion for scrivlet
_scrivlet() {
    local cur prev verb
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    verb="${COMP_WORDS[1]}"
    if [ "$COMP_CWORD" -eq 1 ]; then
        mapfile -t COMPREPLY < <(compgen -W "show set rm find tags export import --help" -- "$cur")
        return
    fi
    case "$prev" in
        --status)
            mapfile -t COMPREPLY < <(compgen -W "none reviewed flagged approved needs-work" -- "$cur")
            return ;;
        --rating)
            mapfile -t COMPREPLY < <(compgen -W "0 1 2 3 4 5" -- "$cur")
            return ;;
        --format)
            mapfile -t COMPREPLY < <(compgen -W "jsonl csv" -- "$cur")
            return ;;
        --tag|--untag)
            local IFS=$'\n'
            mapfile -t COMPREPLY < <(compgen -W "$(scrivlet tags 2>/dev/null | cut -f2-)" -- "$cur")
            return ;;
        --under)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        --note-file)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
    esac
    local options
    case "$verb" in
        show) options="--json --help" ;;
        set) options="--rating --status --note --note-file --tag --untag --clear-tags --help" ;;
        rm|tags) options="--help" ;;
        find) options="--under --json -0 --count --help" ;;
        export) options="--under --format --help" ;;
        import) options="--dry-run --help" ;;
    esac
    if [[ "$cur" == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    elif [[ "$verb" == find || "$verb" == export ]]; then
        mapfile -t COMPREPLY < <(compgen -W "status: rating: tag: note: modified: created: and or not" -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}
complete -o filenames -o nospace -F _scrivlet scrivlet
