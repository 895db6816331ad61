# Bash completion for the modemprep host tools. Everything offered comes from the program itself,
# so that nothing here repeats what the programs know: options and subcommands from its --help
# (the lower-case words of its "Usage:" lines, "ctl" then its verbs), the values of --target and
# --format from its refusal of an empty value, the card kinds of --slot0/--slot1 from its matrix.

# The subcommands the usage lines offer after the ones already typed ($2...).
_modemprep_commands() {
  "$1" --help 2>/dev/null </dev/null | sed -n 's/^ *\(Usage\|or\): *[^ ]* *//p' |
    sed 's/\[[^]]*\]//g' | awk -v typed="${*:2}" '
      { lines[NR] = $0; for (i = 1; i <= NF; i++) if ($i ~ /^[a-z][a-z|-]*$/) {
          n = split($i, alt, "|"); for (j = 1; j <= n; j++) vocabulary[alt[j]] = 1 } }
      END {
        m = split(typed, given, " "); n = 0
        for (i = 1; i <= m; i++) if (given[i] in vocabulary) words[++n] = given[i]
        for (l = 1; l <= NR; l++) {
          k = 0; split(lines[l], field, " ")
          for (i = 1; i in field; i++) {
            if (field[i] !~ /^[a-z][a-z|-]*$/) continue
            if (++k <= n) { if (index("|" field[i] "|", "|" words[k] "|") == 0) break; continue }
            gsub(/\|/, " ", field[i]); print field[i]; break
          }
        }
      }'
}

_modemprep_tools() {
  local program=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev= values
  [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
  if [[ $cur == -* ]]; then
    values=$("$program" --help 2>/dev/null </dev/null | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
    mapfile -t COMPREPLY < <(compgen -W "$values" -- "$cur")
    return
  fi
  case $prev in
    --target | --format)
      values=$("$program" "$prev" "" 2>&1 </dev/null | sed -n 's/^.*"": \(.*\) (try --help)$/\1/p' |
        sed 's/,\| or / /g')
      mapfile -t COMPREPLY < <(compgen -W "$values" -- "$cur")
      return
      ;;
    --slot0 | --slot1)
      values=$("$program" --matrix --msms 111 2>/dev/null </dev/null | sed -n 's/^Kinds: //p' |
        tr ';' '\n' | sed 's/ = .*//')
      mapfile -t COMPREPLY < <(compgen -W "$values sim: usim:" -- "$cur")
      return
      ;;
    --root | --build | --out)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
  esac
  local typed=() word
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do [[ $word == -* ]] || typed+=("$word"); done
  values=$(_modemprep_commands "$program" "${typed[@]}")
  if [ -n "$values" ]; then
    mapfile -t COMPREPLY < <(compgen -W "$values" -- "$cur")
    return
  fi
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -o filenames -F _modemprep_tools modemprep radioplan modemsim propctl cardhist ueventsend \
  modemprep-replay
