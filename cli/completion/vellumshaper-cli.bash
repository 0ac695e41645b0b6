# bash completion for vellumshaper-cli: its options, the values of
# --color, the code pages of --code-page, and a folder for BASE_DIR.
# Works with the bash-completion package's helpers and without them.

_vellumshaper_cli() {
  local cur prev words cword split=false
  if declare -F _init_completion >/dev/null; then
    _init_completion -s || return
  else
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    # Without the helpers, "--color=al" comes as "--color" "=" "al".
    if [[ $cur == = ]]; then
      cur=
    elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
      prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    if [[ $cur == --*=* ]]; then
      prev=${cur%%=*}
      cur=${cur#*=}
      split=true
    fi
  fi

  case $prev in
    --color)
      COMPREPLY=($(compgen -W 'auto always never' -- "$cur"))
      return
      ;;
    --code-page)
      # Any positive number will do; these are the common ones.
      COMPREPLY=($(compgen -W '437 850 874 932 936 949 950 1250 1251 1252
                               1253 1254 1255 1256 1257 1258 1361 65001' \
                           -- "$cur"))
      return
      ;;
    -f | --find | -r | --replace)
      return  # any text
      ;;
    --show-run | --forget)
      # The ids of the runs the journal keeps.
      local runs=${XDG_STATE_HOME:-$HOME/.local/state}/vellumshaper/runs
      local ids=$(command ls "$runs" 2>/dev/null)
      [[ $prev == --forget ]] && ids+=" all"
      COMPREPLY=($(compgen -W "$ids" -- "$cur"))
      return
      ;;
    --exclude | --include)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
  esac
  $split && return

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '-f --find= -r --replace= -i --ignore-case -w
                             --word --preserve-case -e --regex --no-subfolders
                             --no-names --no-text -n --dry-run --code-page=
                             --exclude= --include= --include-vcs --gitignore
                             --json --diff --no-wait -x --one-file-system
                             -q --quiet --stats --no-undo --undo --list-runs
                             --show-run= --forget=
                             --color= -h --help -V --version' -- "$cur"))
    # An option that takes its value after "=" wants no space after it.
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace 2>/dev/null
    return
  fi
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -d -- "$cur"))
}
complete -F _vellumshaper_cli vellumshaper-cli
