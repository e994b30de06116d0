#!/bin/sh
# The layer check on small trees made here: a clean tree passes and counts
# its includes; an include upwards (in a header alone too), a folder the
# table does not know, a missing top folder, a link upwards and an empty
# list of links each fail, naming the fault.
# usage: layers_test.sh PATH/TO/layers.sh
set -u
check=${1:?usage: layers_test.sh PATH/TO/layers.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# A tree with the four top folders and two downward includes.
make_tree() {
    rm -rf "$work/tree"
    mkdir -p "$work/tree/platform" "$work/tree/audio/pipeline" "$work/tree/engine/include" \
        "$work/tree/player/config" "$work/tree/player/list" "$work/tree/player/core"
    echo '#pragma once' >"$work/tree/platform/paths.h"
    printf '#include "platform/paths.h"\n' >"$work/tree/player/config/Tool.h"
    printf '#include "player/config/Tool.h"\n#include "Filelist.h"\n#include "moc_x.cpp"\n' \
        >"$work/tree/player/list/Filelist.cpp"
    echo '#pragma once' >"$work/tree/player/list/Filelist.h"
    echo '#pragma once' >"$work/tree/player/core/Player.h"
}

# Runs the check on the tree; expects status 0 (passes) or 1 (fails) and,
# when given, a line of its output or errors.
expect() {
    want=$1
    line=${2:-}
    sh "$check" "$work/tree" ${3:+"$3"} >"$work/out" 2>&1
    got=$?
    [ "$got" -eq "$want" ] || fail "status $got, expected $want; output:
$(cat "$work/out")"
    if [ -n "$line" ] && ! grep -qF -- "$line" "$work/out"; then
        fail "no line '$line' in:
$(cat "$work/out")"
    fi
}

make_tree
expect 0 "2 includes between folders"
expect 0 "1  player/list -> player/config"

make_tree
printf '#pragma once\n#include "player/core/Player.h"\n' >"$work/tree/player/list/Filelist.h"
expect 1 "player/list may not include player/core"

make_tree
printf '  #  include "player/core/Player.h"\n' >>"$work/tree/player/list/Filelist.cpp"
expect 1 "player/list may not include player/core"

make_tree
mkdir -p "$work/tree/player/elsewhere"
echo '#pragma once' >"$work/tree/player/elsewhere/Thing.h"
expect 1 "a folder without a place in the table: player/elsewhere"

make_tree
rm -rf "$work/tree/audio"
expect 1 "is missing"

make_tree
echo "player/core player/list zarn_core zarn_playlist" >"$work/links"
expect 0 "1 links between folders" "$work/links"
echo "player/list player/core zarn_playlist zarn_core" >>"$work/links"
expect 1 "zarn_playlist (player/list) may not link zarn_core (player/core)" "$work/links"
: >"$work/links"
expect 1 "no links in" "$work/links"

[ "$failures" -eq 0 ] || exit 1
echo "layers_test.sh: all cases passed"
