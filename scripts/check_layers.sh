#!/usr/bin/env bash
# check_layers.sh [ROOT] - checks that every #include "..." in the editor's
# folders, kvl/, widgets/, mis/ and protocol/ points down the layers written
# up in docs/architecture.md, and fails naming each one that does not.
#
#   app/                                   the wiring: may include everything below
#   tree/ config/ meta/ objects/ prefs/ help/
#                                          features: their own folder, a lower layer,
#                                          or another feature's published *_api.h,
#                                          with no loop among the features
#   ui/                                    windows: core/ and below
#   core/                                  shared state: kvl/ and widgets/
#   kvl/  widgets/                         nothing of the editor
#   mis/                                   nothing of the editor, kvl/ or widgets/
#   protocol/                              header-only, shared by mis/ and kvl/;
#                                          the editor never includes it
#
# An include of a bare file name ("XiOutline.h") is taken from the includer's
# own folder when it is there, else from the first checked folder that holds
# it; one that none holds is a system or generated file and is not checked.
set -uo pipefail

root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
cd "$root" || exit 2

features="tree config meta objects prefs help"
checked="app core ui $features kvl widgets mis protocol"

is_feature() { case " $features " in *" $1 "*) return 0 ;; esac; return 1; }
is_checked() { case " $checked " in *" $1 "*) return 0 ;; esac; return 1; }

# The folders a folder's files may include besides their own; a feature's
# right to other features' *_api.h headers is checked apart.
lower_of() {
    case $1 in
    app) echo "core ui $features kvl widgets" ;;
    tree | config | meta | objects | prefs | help) echo "ui core kvl widgets" ;;
    ui) echo "core kvl widgets" ;;
    core) echo "kvl widgets" ;;
    kvl | mis) echo "protocol" ;;
    *) echo "" ;;
    esac
}

# What a folder's files may include, in words.
may_include() {
    local lower
    lower=$(lower_of "$1" | sed 's/\([a-z][a-z]*\)/\1\//g; s/ /, /g')
    if is_feature "$1"; then
        echo "$1/ may include its own folder, $lower and other features' *_api.h"
    elif [ -n "$lower" ]; then
        echo "$1/ may include its own folder and $lower"
    else
        echo "$1/ may include nothing but its own folder"
    fi
}

# The checked folder that holds each file name: the first in the order of
# $checked, as the compiler's search path would find it.
declare -A folder_of_name
for dir in $checked; do
    [ -d "$dir" ] || continue
    while IFS= read -r name; do
        [ -n "${folder_of_name[$name]:-}" ] || folder_of_name[$name]=$dir
    done < <(find "$dir" -type f -printf '%f\n')
done

failures=0
feature_edges=$(mktemp)
trap 'rm -f "$feature_edges"' EXIT

fail() {
    echo "$1" >&2
    failures=$((failures + 1))
}

for from in $checked; do
    [ -d "$from" ] || continue
    allowed=" $(lower_of "$from") "
    while IFS= read -r file; do
        while IFS=: read -r line target; do
            if [[ $target == */* ]]; then
                to=${target%%/*}
                # A path that starts with no folder of ours is a system header.
                [ -d "$to" ] || continue
            elif [ -e "$(dirname "$file")/$target" ]; then
                continue
            else
                to=${folder_of_name[$target]:-}
                [ -n "$to" ] || continue
            fi
            [ "$to" = "$from" ] && continue
            if ! is_checked "$to"; then
                fail "$file:$line: #include \"$target\": $to/ is no library of the program"
            elif [[ $allowed == *" $to "* ]]; then
                :
            elif is_feature "$from" && is_feature "$to" && [[ $target == */*_api.h ]]; then
                echo "$from $to" >>"$feature_edges"
            else
                fail "$file:$line: #include \"$target\" points up or across: $(may_include "$from")"
            fi
        done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
                 sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
    done < <(find "$from" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' \
                                      -o -name '*.cpp' \) | sort)
done

# Features that include one another's *_api.h must not do it in a loop.
if [ -s "$feature_edges" ]; then
    if ! loop=$(sort -u "$feature_edges" | tsort 2>&1 >/dev/null) || [ -n "$loop" ]; then
        fail "features include one another's *_api.h in a loop: $(echo "$loop" | sed -n 's/^tsort: \([a-z]*\)$/\1/p' | tr '\n' ' ')"
    fi
fi

if [ "$failures" -gt 0 ]; then
    echo "check_layers: $failures include(s) break the layers (docs/architecture.md)" >&2
    exit 1
fi
echo "check_layers: every include points down the layers"
