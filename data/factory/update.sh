#!/bin/sh
# Factory reset. The reset archive 20clearsh.tar.gz carries only this script; the boot unpacks it into
# the program directory and the next start runs it once. It puts the factory parameter and camera
# serial databases of the factory group back and removes itself, so that it does not run again.
# Everything else (operation record, statistics, parameter groups, templates) is kept.
cd "$(dirname "$0")" || exit 1
for db in PARAM.db SN.db; do
    if [ -f "paraGroup/default/$db" ]; then
        # A copy beside the database first: a power cut during the copy leaves the old one whole.
        cp -f "paraGroup/default/$db" "$db.factory" && mv -f "$db.factory" "$db"
    fi
done
sync
rm -f update.sh
