# bash completion of orvbackup: commands, their options, option values and
# backup files (*.dat) or directories where a path is expected.
_orvbackup() {
  local cur prev words cword
  _init_completion 2>/dev/null || {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  }
  local commands="backup restore list verify sql repair --version --help"
  if ((cword == 1)); then
    COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    return
  fi
  case $prev in
    --to-dir | --to)
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
    --into)
      COMPREPLY=($(compgen -f -X '!*.[dD][aA][tT]' -- "$cur") $(compgen -d -- "$cur"))
      return
      ;;
    --overwrite)
      COMPREPLY=($(compgen -W "ask always never" -- "$cur"))
      return
      ;;
    --name | --size-limit | --exclude | --only)
      return
      ;;
  esac
  local options
  case ${words[1]} in
    backup) options="--to-dir --into --name --size-limit --compress --changed-to-new-file --exclude --dry-run --help" ;;
    restore) options="--to --overwrite --only --dry-run --keep-going --help" ;;
    list) options="--long --json --help" ;;
    verify) options="--json --help" ;;
    *) options="--help" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [[ ${words[1]} == backup ]]; then
    COMPREPLY=($(compgen -d -- "$cur"))
  else
    COMPREPLY=($(compgen -f -X '!*.[dD][aA][tT]' -- "$cur") $(compgen -d -- "$cur"))
  fi
}
complete -F _orvbackup orvbackup
