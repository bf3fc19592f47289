#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks moravel-cli's manual page and
# bash completion there: the page is where man looks, renders without a warning
# and names every command and option that `moravel-cli --help` names; the
# completion is where bash-completion looks, and completes commands, options,
# option values, file names and TREEPATHs (these from the installed moravel-cli
# reading a sample disk), both with bash-completion's helpers and without them,
# and never runs the program when no --disk or --floppy is on the line.
#
#   check-cli-man-completion.sh BUILD_DIR SAMPLE_DISK_MAKER
set -euo pipefail

build=$1
make_sample=$2

# shellcheck source=install-prefix.sh
. "$(dirname "$0")/install-prefix.sh"

program=$prefix/bin/moravel-cli
page=$prefix/share/man/man1/moravel-cli.1
completion=$prefix/share/bash-completion/completions/moravel-cli
for file in "$program" "$page" "$completion"; do
    [ -f "$file" ] || fail "${file#"$prefix"/} is not installed"
done
if [ "$failures" -ne 0 ]; then
    (cd "$prefix" && find . ! -type d | sort) >&2
    exit 1
fi

"$program" --help >"$work/help.txt"

# --- The manual page.

# man finds it under the prefix.
found=$(MANPATH="" man -M "$prefix/share/man" -w moravel-cli 2>&1) || true
[ "$found" = "$page" ] || fail "man -M PREFIX/share/man -w moravel-cli gives '$found', not $page"

# Rendered at several widths, neither man nor groff has a remark.
for width in 80 60 120; do
    MANWIDTH=$width man --warnings -l "$page" >"$work/page-$width.txt" 2>"$work/warnings.txt" ||
        fail "man -l fails on the page at width $width"
    if [ -s "$work/warnings.txt" ]; then
        cat "$work/warnings.txt" >&2
        fail "man --warnings has remarks on the page at width $width"
    fi
done
if ! groff -man -ww -z "$page" 2>"$work/warnings.txt" || [ -s "$work/warnings.txt" ]; then
    cat "$work/warnings.txt" >&2
    fail "groff -man -ww has remarks on the page"
fi
if command -v mandoc >/dev/null; then
    mandoc -Tlint -Wwarning "$page" >&2 || fail "mandoc -Tlint has remarks on the page"
fi
# whatis and apropos read the NAME section.
whatis=$(lexgrog "$page" 2>&1) || true
case $whatis in
    *': "moravel-cli - '?*'"') ;;
    *) fail "lexgrog cannot read the page's NAME: $whatis" ;;
esac

# Every option and command of the usage text is in the page.
text=$work/page-80.txt
options=$(grep -oE -- '(^|[[ ,|])--?[a-z][a-z-]*' "$work/help.txt" | grep -oE -- '--?[a-z][a-z-]*' | sort -u)
commands=$(grep -E 'moravel-cli' "$work/help.txt" | tr ' ' '\n' | grep -xE '[a-z]+' | sort -u)
[ -n "$options" ] && [ -n "$commands" ] || fail "no options or commands found in moravel-cli --help"
for option in $options; do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" "$text" || fail "the page does not name $option"
done
for command in $commands; do
    sed -n '/^SYNOPSIS/,/^DESCRIPTION/p' "$text" | grep -qw -- "$command" ||
        fail "the page's synopsis lacks the command $command"
done

# --- The completion.

# A folder of files to complete, the sample disk among them (its name with a blank).
files=$work/files
mkdir -p "$files/images" "$work/home"
: >"$files/disk2.img"
"$make_sample" "$files/sample disk.img" >/dev/null

# A stand-in moravel-cli that only notes that it ran, for the lines where the
# completion must not start the program.
mkdir -p "$work/stand-in"
cat >"$work/stand-in/moravel-cli" <<EOF
#!/bin/sh
echo "\$*" >>"$work/stand-in.log"
EOF
chmod +x "$work/stand-in/moravel-cli"

cat >"$work/driver.bash" <<'DRIVER'
# driver.bash MODE PREFIX WORK: MODE "helpers" loads the completion the way
# bash-completion does, "plain" sources it alone.
mode=$1 prefix=$2 work=$3
failures=0
fail() {
    echo "FAIL ($mode): $*" >&2
    failures=$((failures + 1))
}

if [ "$mode" = helpers ]; then
    # Only the prefix's completions, not the user's or /usr/local's.
    export BASH_COMPLETION_USER_DIR=$work/no-user-completions XDG_DATA_DIRS=$prefix/share
    source /usr/share/bash-completion/bash_completion
    __load_completion moravel-cli || fail "bash-completion does not find moravel-cli's completion"
else
    source "$prefix/share/bash-completion/completions/moravel-cli"
    declare -F _init_completion >/dev/null && fail "bash-completion's helpers are loaded"
fi
registered=$(complete -p moravel-cli 2>/dev/null)
function=$(sed -n 's/.* -F \([^ ]*\) .*/\1/p' <<<"$registered")
[ -n "$function" ] || {
    fail "no completion function for moravel-cli: '$registered'"
    exit 1
}

# complete WORD... : what TAB offers at the end of the line of these words, sorted,
# one a line. Words are given as bash splits them ("=" alone); the line is the
# words with a blank between, none around "=".
complete_words() {
    local line="" word previous=""
    for word in "$@"; do
        if [ -z "$line" ]; then
            line=$word
        elif [ "$word" = "=" ] || [ "$previous" = "=" ]; then
            line+=$word
        else
            line+=" $word"
        fi
        previous=$word
    done
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMP_TYPE=9 COMP_KEY=9
    COMPREPLY=()
    "$function" moravel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
    return 0
}

# expect 'WANTED LINES' WORD...
expect() {
    local wanted=$1 got
    shift
    got=$(complete_words "$@")
    wanted=$(printf '%s\n' "$wanted" | sed '/^$/d' | LC_ALL=C sort)
    [ "$got" = "$wanted" ] || fail "$(printf '%q ' "$@")offers [${got//$'\n'/|}], not [${wanted//$'\n'/|}]"
}

# expect_some 'WANTED LINE' WORD...: WANTED is among the offers.
expect_some() {
    local wanted=$1 got
    shift
    got=$(complete_words "$@")
    grep -qxF -- "$wanted" <<<"$got" || fail "$(printf '%q ' "$@")offers [${got//$'\n'/|}], without $wanted"
}

cd "$work/files"
export PATH=$prefix/bin:$PATH

# Commands and options.
expect 'list' moravel-cli li
expect 'list
copy
check
info
mount
thumbnail' moravel-cli ''
expect 'check
copy' moravel-cli --disk x.img c
expect '--split' moravel-cli copy --sp
expect '--skip-existing
--split' moravel-cli copy --s
expect '--recursive' moravel-cli list --r
expect '--json' moravel-cli info --j
expect '--fill
--floppy
--foreground' moravel-cli mount --f
expect '' moravel-cli check --j
expect '--help' moravel-cli --he
expect '--disk' moravel-cli list --di
expect '--floppy' moravel-cli copy --split auto --fl
expect '--bios-services' moravel-cli check x --bi
expect '--codepage' moravel-cli info --co
expect 'auto
always' moravel-cli copy --split ''
expect 'always' moravel-cli copy --split = al
expect 'always' moravel-cli --disk x.img copy --split al
expect_some '850' moravel-cli --codepage ''
expect '437' moravel-cli list --codepage = 43
expect '1250
1251
1252' moravel-cli --codepage 125

# Disks and DEST are files.
expect 'disk2.img
images
sample disk.img' moravel-cli --disk ''
expect 'disk2.img' moravel-cli list --floppy di
expect 'images' moravel-cli --disk = im
expect 'images' moravel-cli --disk 'sample disk.img' copy 'Hard Disk 1/#1/Root Directory/RECORDS' im

# TREEPATHs, from the installed moravel-cli reading the sample disk. Words are
# given as typed, quoted; the offers are the names themselves, which bash then
# quotes on the line as it does file names.
q() { printf '%q' "$1"; }
disk=(--disk 'sample\ disk.img')
expect 'Hard Disk 1/' moravel-cli "${disk[@]}" list ''
expect 'Hard Disk 1/32-Bit FAT Disk/
Hard Disk 1/16-Bit FAT Disk/
Hard Disk 1/Extended DOS Partition/' moravel-cli "${disk[@]}" list '"Hard Disk 1/'
# Short names without their padding; the disk option after the command, with "=".
expect 'Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDIN.GS
Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/' \
    moravel-cli copy --disk = "'sample disk.img'" "$(q 'Hard Disk 1/32-Bit FAT Disk/Root Directory/RE')"
# The folder is kept as typed.
expect 'hard disk 1/#1/root directory/RECORDS/Nature 2004-05-16.ts
hard disk 1/#1/root directory/RECORDS/NEWS0518.TS' \
    moravel-cli check --disk "$(q "$PWD/sample disk.img")" "'hard disk 1/#1/root directory/RECORDS/N"
# A disk given by ~/..., after a floppy.
expect_some 'Hard Disk 1/#1/Root Directory/RECORDS/Film Night 2004-05-15.ts' \
    moravel-cli --floppy disk2.img --disk '~/../files/sample\ disk.img' info "$(q 'Hard Disk 1/#1/Root Directory/RECORDS/F')"
expect '' moravel-cli "${disk[@]}" list "$(q 'Hard Disk 1/Nothing here/')"
# copy's later operands are TREEPATHs and files alike.
expect 'Hard Disk 1/
disk2.img
images
sample disk.img' moravel-cli "${disk[@]}" copy "$(q 'Hard Disk 1/#1/Root Directory/RECORDS')" ''
# One TREEPATH for list, check and info.
expect '' moravel-cli "${disk[@]}" list "$(q 'Hard Disk 1')" ''

# Without a disk option, or with one the shell would have to expand, the program
# is not started.
export PATH=$work/stand-in:$PATH
rm -f "$work/stand-in.log"
expect '' moravel-cli list ''
expect '' moravel-cli --codepage 850 check 'Hard Disk 1/'
expect '' moravel-cli --disk '$(touch '"$work"'/ran)' list ''
expect '' moravel-cli --disk '"`touch '"$work"'/ran`"' list ''
expect '' moravel-cli --disk 'sample*' list ''
expect '' moravel-cli --disk '$PWD/sample\ disk.img' list ''
[ ! -e "$work/stand-in.log" ] || fail "moravel-cli was started: $(cat "$work/stand-in.log")"
[ ! -e "$work/ran" ] || fail "a word on the line was run"
# The stand-in does start once a disk is named, so the check above can fail.
expect '' moravel-cli --disk 'sample disk.img' list ''
[ -s "$work/stand-in.log" ] || fail "the stand-in moravel-cli was not started for a line with --disk"

exit $((failures != 0))
DRIVER

modes=(plain)
if [ -f /usr/share/bash-completion/bash_completion ]; then
    modes+=(helpers)
else
    echo "bash-completion is not installed: completion checked without its helpers only"
fi
for mode in "${modes[@]}"; do
    echo "completion, $mode"
    env -i HOME="$work/home" PATH="$PATH" LANG=C.UTF-8 \
        bash --norc --noprofile "$work/driver.bash" "$mode" "$prefix" "$work" ||
        fail "the completion ($mode) offers what it should not, or misses what it should"
done

# Every option and command of the usage text is offered somewhere.
offers=$(env -i HOME="$work/home" PATH="$PATH" LANG=C.UTF-8 bash --norc --noprofile -c '
    source "$1/share/bash-completion/completions/moravel-cli"
    for command in "" list copy check info mount thumbnail; do
        COMP_WORDS=(moravel-cli $command -)
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        _moravel_cli
        printf "%s\n" "${COMPREPLY[@]}"
    done
    COMP_WORDS=(moravel-cli "") COMP_CWORD=1 COMPREPLY=()
    _moravel_cli
    printf "%s\n" "${COMPREPLY[@]}"' bash "$prefix")
for word in $options $commands; do
    grep -qxF -- "$word" <<<"$offers" || fail "the completion never offers $word"
done

# Every code page offered is one that moravel-cli takes, and one it does not take
# is told apart.
codepages=$(env -i PATH="$PATH" bash --norc --noprofile -c '
    source "$1/share/bash-completion/completions/moravel-cli"
    COMP_WORDS=(moravel-cli --codepage "") COMP_CWORD=2 COMPREPLY=()
    _moravel_cli
    printf "%s\n" "${COMPREPLY[@]}"' bash "$prefix")
[ -n "$codepages" ] || fail "no code pages offered"
for page_number in $codepages 99999; do
    if "$program" --codepage "$page_number" --disk "$files/sample disk.img" list >/dev/null 2>&1; then
        [ "$page_number" != 99999 ] || fail "moravel-cli takes code page 99999"
    else
        [ "$page_number" = 99999 ] || fail "the completion offers code page $page_number, which moravel-cli refuses"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "The manual page and the bash completion are installed and work."
