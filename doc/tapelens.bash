# bash completion for tapelens: every long option, and file names (for the
# FILE arguments and for the options that take a file or folder).
# Needs nothing beyond bash itself (no bash-completion helpers).
_tapelens() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=""
  [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
  local opts="--anon --bodyonly --bill_date --csv --common --debug --database --help --recno
    --billing_number --output= --noheader --raw --summary --summarydetail --text --types --version
    --html --xml --billrecords --detailrecords --csrrecords
    --sqlite= --postgres= --split= --xlsx=
    --lrecl= --ebcdic --ebcdic= --progress= --jobs= --block=
    --names= --names-template --json --layouts=
    --check --totals --totals=bill --balance= --compare"
  COMPREPLY=()
  if [ "$prev" = -o ]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return 0
  fi
  # The value of --opt=VALUE: one word where "=" does not break words, else
  # the words "--opt", "=" and VALUE.
  local opt="" val="" lead=""
  if [[ $cur == --*=* ]]; then
    opt=${cur%%=*} val=${cur#*=} lead="$opt="
  elif [ "$cur" = "=" ] && [[ $prev == --* ]]; then
    opt=$prev
  elif [ "$prev" = "=" ] && [ "$COMP_CWORD" -ge 2 ] && [[ ${COMP_WORDS[COMP_CWORD - 2]} == --* ]]; then
    opt=${COMP_WORDS[COMP_CWORD - 2]} val=$cur
  fi
  if [ -n "$opt" ]; then
    local kind=""
    case "$opt" in
      --progress) kind="auto always never" ;;
      --totals) kind="bill" ;;
      --output | --names | --sqlite | --balance | --xlsx) kind="-f" ;;
      --split) kind="-d" ;;
      *) return 0 ;;
    esac
    local words
    if [ "$kind" = -f ] || [ "$kind" = -d ]; then
      mapfile -t words < <(compgen "$kind" -- "$val")
    else
      mapfile -t words < <(compgen -W "$kind" -- "$val")
    fi
    local w
    for w in "${words[@]}"; do COMPREPLY+=("$lead$w"); done
    return 0
  fi
  case "$cur" in
    --*)
      mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
      # No blank after an option that takes its value after "=".
      if [ ${#COMPREPLY[@]} -eq 1 ] && [ "${COMPREPLY[0]%=}" != "${COMPREPLY[0]}" ]; then
        compopt -o nospace 2>/dev/null
      fi
      return 0
      ;;
  esac
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  return 0
}
complete -o filenames -F _tapelens tapelens
