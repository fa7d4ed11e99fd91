#!/usr/bin/env bash
# test_check_layers.sh - check_layers.sh passes a tree whose includes point
# down the layers and names every include of one that breaks them.
set -uo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check_layers.sh"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

put() {     # put FILE INCLUDE...: FILE with one #include line per INCLUDE
    local file=$1
    shift
    mkdir -p "$tree/$(dirname "$file")"
    : >"$tree/$file"
    for inc in "$@"; do echo "#include \"$inc\"" >>"$tree/$file"; done
}

put app/main.cpp core/globals.h ui/main_win.h tree/navigator.h config/config_win_ops.h
put core/globals.h kvl/kvl.h
put ui/main_win.h core/globals.h XiOutline.h
put tree/navigator.h tree/data_object.h ui/main_win.h
put tree/data_object.h
put tree/tree_api.h tree/data_object.h
put config/config_win_ops.h tree/tree_api.h ui/main_win.h
put kvl/kvl.h protocol/wire.h kvl_private.h
put kvl/kvl_private.h
put widgets/XiOutline.h
put mis/server.cpp protocol/wire.h log.h
put mis/log.h
put protocol/wire.h

out=$(bash "$check" "$tree" 2>&1) || { echo "FAIL: a clean tree fails:"; echo "$out"; exit 1; }

put ui/dialogs.cpp tree/navigator.h                 # ui/ above a feature
put core/catalog.h ui/main_win.h                    # core/ above ui/
put config/pending.cpp tree/data_object.h           # a feature's own header, not its *_api.h
put prefs/prefs_win.cpp protocol/wire.h             # the editor knows no wire protocol
put ui/bare.cpp navigator.h                         # a bare name found in tree/
put kvl/image.cpp core/globals.h                    # kvl/ knows nothing of the editor
put widgets/XiHierarchy.cpp ui/xd_widgets.h         # nor do the widgets
put mis/store.cpp kvl/kvl.h                         # mis/ knows nothing of kvl/
put tree/loop.h config/config_api.h                 # config/ already uses tree/tree_api.h
put config/config_api.h

if out=$(bash "$check" "$tree" 2>&1); then
    echo "FAIL: a tree with upward includes passes"
    exit 1
fi
status=0
for want in ui/dialogs.cpp:1 core/catalog.h:1 config/pending.cpp:1 prefs/prefs_win.cpp:1 \
            ui/bare.cpp:1 kvl/image.cpp:1 widgets/XiHierarchy.cpp:1 mis/store.cpp:1 \
            "in a loop"; do
    if ! grep -q "$want" <<<"$out"; then
        echo "FAIL: not named: $want"
        status=1
    fi
done
[ "$status" -eq 0 ] || echo "$out"
exit $status
