#!/usr/bin/env bash
# Two people of one Unix group share registers in the group's setgid folder: under umask 002 each makes a
# register, a backup and a copy, the other saves assets to each, and every file carries the folder's group and
# mode -rw-rw-r--. A register made under umask 022 stays closed to the other. The users and the group exist
# only for the run, so it needs root; run by anyone else it exits 77 (skipped).
#   sharing_users.sh VNRDB
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "skipped: making users needs root"; exit 77; }

group=vnrtest-office
users=(vnrtest-ana vnrtest-ben)
fail() { echo "sharing_users.sh: $*" >&2; exit 1; }
remove_accounts() { # with the users' own groups, which an interrupted run may leave
    local name
    for name in "${users[@]}"; do
        ! getent passwd "$name" >/dev/null || userdel "$name"
    done
    for name in "${users[@]}" "$group"; do
        ! getent group "$name" >/dev/null || groupdel "$name"
    done
}

# Runs from two build folders at once would share the accounts; one left by an interrupted run goes first.
exec 9>/run/lock/vnrtest-sharing-users.lock
flock 9
remove_accounts
top=$(mktemp -d /tmp/vnrtest.XXXXXX)
trap 'remove_accounts; rm -rf "$top"' EXIT
chmod 0755 "$top" # the users pass through it to their folder
groupadd "$group"
for name in "${users[@]}"; do
    useradd --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin --groups "$group" "$name"
done
vnrdb=$top/vnrdb # the build folder may lie where the users cannot go
install -m 0755 "${1:?usage: sharing_users.sh VNRDB}" "$vnrdb"
shared=$top/office
install -d -g "$group" -m 2770 "$shared"
csv=$top/new.csv
printf 'ASSETID,ItemGroup,Make\r\nSHARED1,1,Saved by the other\r\n' >"$csv"
chmod 0644 "$csv"

as() { # user umask command...
    runuser -u "$1" -- sh -c 'umask "$0" && exec "$@"' "$2" "${@:3}"
}
expect() { # file owner mode
    local got
    got=$(stat -c '%U %G %A' "$1")
    [ "$got" = "$2 $group $3" ] || fail "$1 is '$got', not '$2 $group $3'"
}
holds_saved() { # user umask file
    as "$1" "$2" "$vnrdb" export "$3" | grep -q '^SHARED1,'
}

for maker in "${users[@]}"; do
    other=${users[0]}
    [ "$maker" != "$other" ] || other=${users[1]}
    made=("$shared/$maker.mdb" "$shared/$maker-backup.mdb" "$shared/$maker-copy.mdb")
    as "$maker" 002 "$vnrdb" create "${made[0]}" >/dev/null || fail "$maker could not make ${made[0]}"
    as "$maker" 002 "$vnrdb" backup "${made[0]}" "${made[1]}" >/dev/null || fail "$maker could not back up"
    as "$maker" 002 "$vnrdb" copy "${made[0]}" "${made[2]}" >/dev/null || fail "$maker could not copy"
    for file in "${made[@]}"; do
        expect "$file" "$maker" -rw-rw-r--
        as "$other" 002 "$vnrdb" import "$file" "$csv" >/dev/null || fail "$other could not save to $file"
        holds_saved "$maker" 002 "$file" || fail "$file does not hold what $other saved"
        expect "$file" "$maker" -rw-rw-r--
    done
done

# The other is refused, and nothing is saved.
private=$shared/private.mdb
as "${users[0]}" 022 "$vnrdb" create "$private" >/dev/null || fail "${users[0]} could not make $private"
expect "$private" "${users[0]}" -rw-r--r--
! as "${users[1]}" 002 "$vnrdb" import "$private" "$csv" >/dev/null 2>&1 || fail "${users[1]} saved to $private"
! holds_saved "${users[0]}" 022 "$private" || fail "$private holds what ${users[1]} was refused"
echo "registers made under umask 002 are shared by the group; under 022 they are not"
