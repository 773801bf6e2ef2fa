#!/usr/bin/env bash
# The release box started on a database that a failing disk damaged past its first row, as a person
# would find it: a page of garbage at the end of a day's RECORD.db of 20,000 lines ("record-last") or in
# its middle ("record-middle"), or in ResStatistics.db ("statistics"). The box runs against the board
# simulator (a mould opening every 5 s) for the seconds given and is ended by SIGTERM; the script then
# prints what the run left: the files set aside, what the record and the statistics can read, and the
# box's log lines about them.
#
#   bench/box_damagedpage.sh <record-last|record-middle|statistics> [build dir] [seconds (40)]
# The build dir is build/release unless given.
set -euo pipefail
script=$(realpath "$0")
. "$(dirname "$script")/boxrun.sh"
boxrun_isolate "$script" "$@"

case=${1:?"which file: record-last, record-middle or statistics"}
build=$(realpath "${2:-$(dirname "$script")/../build/release}")
seconds=${3:-40}
[ -x "$build/app/mouldguard" ] || { echo "no $build/app/mouldguard: build the release first" >&2; exit 2; }
command -v sqlite3 >/dev/null || { echo "sqlite3 (the command) is needed to look at the files" >&2; exit 2; }

box=$build/damagedbox-$case
boxrun_layout "$build" "$box" 2 "$build/shipped/simcam/1" "$build/shipped/simcam/2"

# Overwrites page <n> (counted from 1) of <file> with bytes that are no page.
garbage_page() {
    local file=$1 page=$2 size
    size=$(sqlite3 "$file" 'pragma page_size')
    python3 - "$file" "$page" "$size" <<'EOF'
import sys
path, page, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(path, "r+b") as f:
    f.seek((page - 1) * size)
    f.write(b"\x5a" * size)
EOF
}

case $case in
record-last | record-middle)
    file=RECORD.db
    sqlite3 "$box/$file" "with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000)
        insert into RECORD select printf('%02d.%02d.%02d', i / 3600 % 24, i / 60 % 60, i % 60), 'Unlogged',
        'an earlier line ' || i from n"
    pages=$(sqlite3 "$box/$file" 'pragma page_count')
    if [ "$case" = record-last ]; then page=$pages; else page=$((pages / 2 + 1)); fi
    ;;
statistics)
    file=ResStatistics.db
    cp "$build/shipped/ResStatisticsNULL.db" "$box/$file"
    page=$(sqlite3 "$box/$file" 'pragma page_count')
    ;;
*)
    echo "unknown case $case" >&2
    exit 2
    ;;
esac
garbage_page "$box/$file" "$page"
echo "$file: page $page of $(sqlite3 "$box/$file" 'pragma page_count') overwritten;" \
    "quick_check: $(sqlite3 "$box/$file" 'pragma quick_check' 2>&1 | head -1)"

boxrun_start "$build" "$box" 0:1000:5000
sleep "$seconds"
boxrun_stop

cd "$box"
echo "--- after ${seconds} s and SIGTERM"
echo "set aside: $(ls -d ./*.damaged-* 2>/dev/null | tr '\n' ' ')"
echo "$file quick_check: $(sqlite3 "$file" 'pragma quick_check' 2>&1 | head -1)"
if [ "$file" = RECORD.db ]; then
    echo "RECORD.db lines: $(sqlite3 RECORD.db 'select count(*) from RECORD' 2>&1)"
    echo "lines of this run that read back: $(sqlite3 RECORD.db \
        "select count(*) from RECORD where remarks not like 'an earlier line %'" 2>&1)"
else
    echo "statistics, all cameras and slots (OK | NG by hour): $(sqlite3 ResStatistics.db \
        "select value1 || '| ' || value2 from resstatistics where name = 'C8_D8'" 2>&1)"
fi
# Repeats of a line are held back and counted in the log: those counts are shown too.
logs=(cnt_net/workspace/LOG/*.txt)
cat "${logs[@]}" | grep -E 'damaged|quick_check|lost at quit|restored from|not run: reboot|started anew' |
    cut -c1-240 || true
cat "${logs[@]}" | grep -E 'record line not written|statistics save' | sed -E 's/(waiting\):).*/\1 .../' |
    cut -c1-200 | sort | uniq -c | sort -rn | head -6 || true
