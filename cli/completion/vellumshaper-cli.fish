# fish completion for vellumshaper-cli: its options, the values of
# --color, the code pages of --code-page, and a folder for BASE_DIR.

complete -c vellumshaper-cli -f -a '(__fish_complete_directories)'

# The ids of the runs the undo journal keeps.
function __vellumshaper_cli_runs
    set state $XDG_STATE_HOME
    test -n "$state"; or set state ~/.local/state
    for run in $state/vellumshaper/runs/*/
        basename $run
    end
end

complete -c vellumshaper-cli -s f -l find -x -d 'The text to find'
complete -c vellumshaper-cli -s r -l replace -x -d 'The text to put in its place'
complete -c vellumshaper-cli -s i -l ignore-case -d 'Match letters in either case'
complete -c vellumshaper-cli -s w -l word -d 'Match whole words only'
complete -c vellumshaper-cli -l preserve-case -d 'With -i: give the replacement the case of the match'
complete -c vellumshaper-cli -s e -l regex -d 'The find text is a regular expression'
complete -c vellumshaper-cli -l no-subfolders -d 'Leave the subfolders of BASE_DIR alone'
complete -c vellumshaper-cli -l no-names -d 'Leave file names alone'
complete -c vellumshaper-cli -l no-text -d 'Leave the text in the files alone'
complete -c vellumshaper-cli -s n -l dry-run -d 'List what would change, but change nothing'
complete -c vellumshaper-cli -l code-page -x -d 'Match characters of this code page' \
  -a '437 850 874 932 936 949 950 1250 1251 1252 1253 1254 1255 1256 1257 1258 1361 65001'
complete -c vellumshaper-cli -l exclude -r -F -d 'Leave alone what GLOB matches'
complete -c vellumshaper-cli -l include -r -F -d 'Work only on what GLOB matches'
complete -c vellumshaper-cli -l include-vcs -d "Walk version control's own folders too"
complete -c vellumshaper-cli -l gitignore -d 'Leave alone what git ignores'
complete -c vellumshaper-cli -l json -d 'Write JSON Lines instead of the listing'
complete -c vellumshaper-cli -l diff -d 'Write a unified diff instead of the listing'
complete -c vellumshaper-cli -l no-wait -d 'Exit at once when another run works in this tree'
complete -c vellumshaper-cli -s x -l one-file-system -d 'Leave alone the folders on other file systems'
complete -c vellumshaper-cli -s q -l quiet -d 'Write nothing on standard output'
complete -c vellumshaper-cli -l stats -d "Write the run's numbers on standard error at the end"
complete -c vellumshaper-cli -l no-undo -d 'Keep no undo journal of this run'
complete -c vellumshaper-cli -l undo -d 'Undo the latest run not undone yet, or RUN'
complete -c vellumshaper-cli -l list-runs -d 'List the runs the undo journal keeps'
complete -c vellumshaper-cli -l show-run -x -a '(__vellumshaper_cli_runs)' -d 'List what a past run changed'
complete -c vellumshaper-cli -l forget -x -a '(__vellumshaper_cli_runs) all' -d 'Delete a run from the undo journal'
complete -c vellumshaper-cli -l color -x -a 'auto always never' -d 'Colour the listing and the diff'
complete -c vellumshaper-cli -s h -l help -d 'Print the help and exit'
complete -c vellumshaper-cli -s V -l version -d 'Print the version and exit'
