# Bash completion for the modemprep host tools. Options come from each program's own --help, and
# the values of --target and --format from the program itself (its refusal of an empty value
# lists them), so that nothing here repeats what the programs know.
_modemprep_tools() {
  local program=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev=
  [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
  if [[ $cur == -* ]]; then
    local options
    options=$("$program" --help 2>/dev/null </dev/null | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi
  case $prev in
    --target | --format)
      local values
      values=$("$program" "$prev" "" 2>&1 </dev/null | sed -n 's/^.*"": \(.*\) (try --help)$/\1/p' |
        sed 's/,\| or / /g')
      mapfile -t COMPREPLY < <(compgen -W "$values" -- "$cur")
      return
      ;;
    --root | --build | --out)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
  esac
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -o filenames -F _modemprep_tools modemprep radioplan modemsim propctl cardhist ueventsend \
  modemprep-replay
