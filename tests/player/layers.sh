#!/bin/sh
# The layers of the program: which folder may use which. Each folder of
# platform/, audio/, engine/ and player/ lists the folders it uses, all of
# them below it; an include of any other folder fails here, and so does a
# folder missing from the table or a loop the table would allow. The build
# cannot catch these alone: every target sees the whole tree's root as an
# include folder, so a header-only include upwards would still compile.
# Given the build's list of links between folders (layer-links.txt, written
# at configure time), a link against the table fails too.
# Prints the number of includes between each pair of folders.
#
# usage: layers.sh SOURCE_DIR [LINKS_FILE]
set -eu
root=${1:?usage: layers.sh SOURCE_DIR [LINKS_FILE]}
links=${2:-}
case $links in
"" | /*) ;;
*) links=$PWD/$links ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/table" <<'TABLE'
platform:
platform/sound: platform
platform/classesroot: platform
platform/handoff: platform
audio/pipeline: platform
audio/stage: audio/pipeline platform
audio/output: audio/pipeline platform platform/sound
audio/filter: audio/output audio/pipeline audio/stage platform platform/sound
engine/include: platform
engine: engine/include audio/filter audio/output audio/pipeline audio/stage platform platform/sound
player/loudness: platform
player/config: player/loudness engine/include platform platform/classesroot
player/mediainfo: platform
player/probe: player/mediainfo player/loudness platform
player/list: player/probe player/mediainfo player/config platform
player/bookmarks: player/list player/config platform
player/core: player/bookmarks player/list player/probe player/mediainfo player/loudness player/config engine/include platform
player/widgets: player/config platform
player/bookmarkforms: player/bookmarks player/config platform
player/playlist: player/widgets player/core player/list player/mediainfo player/config platform
player/mainform: player/widgets player/bookmarkforms player/core player/bookmarks player/list player/config engine/include platform platform/handoff
player/mpris: player/core player/list player/config platform platform/classesroot
player/export: player/loudness player/config audio/filter platform
player/shell: engine player/mainform player/playlist player/mpris player/export player/bookmarkforms player/widgets player/core player/bookmarks player/list player/probe player/loudness player/config engine/include platform platform/handoff
TABLE

# The table itself runs one way.
awk -F': *' '{ n = split($2, to, " "); print $1, $1; for (i = 1; i <= n; i++) print $1, to[i] }' \
    "$work/table" | awk '$1 != $2' >"$work/allowed"
if ! tsort "$work/allowed" >/dev/null 2>"$work/loop"; then
    echo "layers.sh: the table allows a loop:" >&2
    cat "$work/loop" >&2
    exit 1
fi

cd "$root"
for top in platform audio engine player; do
    [ -d "$top" ] || { echo "layers.sh: $root/$top is missing" >&2; exit 1; }
done
# file:line:#include "dir/name.h"  ->  "from to", for includes of another folder.
grep -rH --include='*.h' --include='*.c' --include='*.cpp' \
    '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*/' platform audio engine player |
    sed -n 's|^\(.*\)/[^/]*:[[:space:]]*#[[:space:]]*include[[:space:]]*"\(.*\)/[^/]*".*|\1 \2|p' |
    awk '$1 != $2' >"$work/edges"
files=$(find platform audio engine player -name '*.cpp' -o -name '*.c' -o -name '*.h' | wc -l)
[ "$files" -gt 0 ] || { echo "layers.sh: no sources under $root" >&2; exit 1; }

sort "$work/edges" | uniq -c | awk '{ printf "%4d  %s -> %s\n", $1, $2, $3 }'
echo "$(wc -l <"$work/edges") includes between folders in $files files"

status=0
# Every folder with sources is in the table.
find platform audio engine player \( -name '*.cpp' -o -name '*.c' -o -name '*.h' \) \
    -exec dirname {} \; | sort -u >"$work/folders"
awk -F': *' 'NR == FNR { known[$1] = 1; next } !($0 in known) { print }' \
    "$work/table" "$work/folders" >"$work/unknown"
if [ -s "$work/unknown" ]; then
    sed 's/^/layers.sh: a folder without a place in the table: /' "$work/unknown" >&2
    status=1
fi
# Every include goes to a folder its own folder may use.
awk 'NR == FNR { ok[$1 " " $2] = 1; next } !(($1 " " $2) in ok) { print }' \
    "$work/allowed" "$work/edges" | sort -u >"$work/backward"
if [ -s "$work/backward" ]; then
    awk '{ print "layers.sh: " $1 " may not include " $2 }' "$work/backward" >&2
    status=1
fi
# Every link goes to a folder its own folder may use.
if [ -n "$links" ]; then
    [ -s "$links" ] || { echo "layers.sh: no links in $links" >&2; exit 1; }
    awk 'NR == FNR { ok[$1 " " $2] = 1; next } !(($1 " " $2) in ok) { print }' \
        "$work/allowed" "$links" | sort -u >"$work/backlinks"
    if [ -s "$work/backlinks" ]; then
        awk '{ print "layers.sh: " $3 " (" $1 ") may not link " $4 " (" $2 ")" }' \
            "$work/backlinks" >&2
        status=1
    fi
    echo "$(wc -l <"$links") links between folders"
fi
exit $status
