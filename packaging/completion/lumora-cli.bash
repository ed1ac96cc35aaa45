# bash completion for lumora-cli and lumora. Commands and options come from
# the program's own --help, element names from its settings, so they follow
# the installed version.

# The element sections of the settings the command line would use.
_lumora_cli_elements() {
  local prog=$1 args=()
  [ -n "$2" ] && args=(--ini "$2")
  "$prog" "${args[@]}" settings 2>/dev/null | sed -n 's/^\[\([^_].*\)\]$/\1/p'
}

# The names of the options an --help text lists in its Options block.
_lumora_cli_options() {
  "$@" --help 2>/dev/null | sed -n '/^Options:/,/^$/s/^  \(-[-a-z]*\).*/\1/p'
}

# Files whose names end in one of the given suffixes, and folders.
_lumora_cli_files() {
  local IFS=$'\n' pattern="@(${1})"
  COMPREPLY=($(compgen -f -X "!*$pattern" -- "$cur") $(compgen -d -- "$cur"))
  compopt -o filenames 2>/dev/null
}

_lumora_cli() {
  local cur prev prog=${COMP_WORDS[0]} ini="" command="" i spectrum=""
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --ini) ini=${COMP_WORDS[i + 1]}; ((i++)) ;;
      --element) ((i++)) ;;
      --spectrum) spectrum=1 ;;
      -*) ;;
      *) [ -z "$command" ] && command=${COMP_WORDS[i]} ;;
    esac
  done
  # A quoted or ~ path as the shell would read it, without running anything.
  ini=${ini//[\"\']/}
  ini=${ini/#\~/$HOME}

  case $prev in
    --ini) _lumora_cli_files ".ini"; return ;;
    --element)
      local IFS=$'\n'
      COMPREPLY=($(compgen -W "$(_lumora_cli_elements "$prog" "$ini")" -- "$cur"))
      return ;;
    --log | --report | --dark | --response | --series)
      # --report of fit and map takes a word, of integrate a file.
      if [ "$prev" = --report ] && [ "$command" != integrate ]; then
        COMPREPLY=($(compgen -W "results log" -- "$cur"))
      else
        _lumora_cli_files "*"
      fi
      return ;;
    --distribution) COMPREPLY=($(compgen -W "boltzmann 1s" -- "$cur")); return ;;
    --params | --pair | --density | --temperature | --count | --tn | --path | --max-iter | \
      --from-density | --to-density | --density-points | --from-temperature | \
      --to-temperature | --temperature-points | --jobs | --monte-carlo | --noise | --seed | \
      --confidence | --fwhm | --window | --shift-max | --min-snr | --saturation | --x-pattern)
      return ;;
  esac

  if [ -z "$command" ]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "$(_lumora_cli_options "$prog")" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$("$prog" --help 2>/dev/null |
        sed -n '/^Commands:/,$s/^  \([a-z][-a-z]*\).*/\1/p')" -- "$cur"))
    fi
    return
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_lumora_cli_options "$prog" "$command")" -- "$cur"))
    return
  fi
  case $command in
    fit | map)
      if [ -n "$spectrum" ]; then _lumora_cli_files ".csv|.txt|.dat|.asc"; else _lumora_cli_files ".txt"; fi ;;
    table) _lumora_cli_files ".txt" ;;
    integrate) _lumora_cli_files ".csv|.txt|.dat|.asc" ;;
    extract | convert | matrix) _lumora_cli_files "*" ;;
  esac
}
complete -F _lumora_cli lumora-cli

# The window takes one measurement (*.txt) or recording (*.recording.csv).
_lumora() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  ((COMP_CWORD == 1)) || return
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_lumora_cli_options "${COMP_WORDS[0]}")" -- "$cur"))
  else
    _lumora_cli_files ".txt|.recording.csv"
  fi
}
complete -F _lumora lumora
