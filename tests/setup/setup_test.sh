#!/usr/bin/env bash
# Set-up's decisions when the package index fails, with a stand-in apt-get
# (and dpkg) first on PATH: nothing is installed. Each row: how update and
# the two installs answer, then the calls made and how set-up ends.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/lists"
touch "$work/lists/deb_dists_bookworm_main_binary-amd64_Packages.lz4" \
      "$work/lists/deb_dists_bookworm_main_binary-i386_Packages.lz4"
cat > "$work/bin/apt-get" <<'STANDIN'
#!/bin/sh
echo "$*" >> "$STANDIN_LOG"
case "$1" in
  update)
    [ "$STANDIN_UPDATE" = ok ] && exit 0
    echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size"
    exit 100 ;;
esac
case " $* " in *" -t "*) answer=$STANDIN_SUITE ;; *) answer=$STANDIN_INSTALL ;; esac
[ "$answer" = ok ] && exit 0
echo "E: Unable to correct problems, you have held broken packages."
exit 100
STANDIN
printf '#!/bin/sh\ncase $1 in --print-architecture) echo amd64 ;; *) echo i386 ;; esac\n' > "$work/bin/dpkg"
chmod +x "$work/bin/apt-get" "$work/bin/dpkg"

failures=0
# update install suite | calls made | exit | what the output must say
while IFS='|' read -r answers calls want_rc says; do
  read -r update install suite <<< "$answers"
  : > "$work/log"
  out=$(PATH="$work/bin:$PATH" SUDO="" VERSION_CODENAME=bookworm KESTRUM_APT_LISTS="$work/lists" \
        KESTRUM_APT_RETRY_SECONDS=0 STANDIN_LOG="$work/log" STANDIN_UPDATE=$update \
        STANDIN_INSTALL=$install STANDIN_SUITE=$suite \
        bash -c '. "$1/scripts/apt.sh"; apt_install pkg-a pkg-b' _ "$here/../.." 2>&1)
  rc=$?
  made=$(awk '{print $1 ($0 ~ / -t bookworm/ ? "-t" : "")}' "$work/log" | paste -sd' ')
  if [ "$made" != "$calls" ] || [ $((rc != 0)) -ne "$want_rc" ] || ! grep -qF -- "$says" <<< "$out"; then
    echo "FAILED: $answers: calls '$made' (want '$calls'), exit $rc, output:"
    echo "$out"
    failures=$((failures + 1))
  else
    echo "ok: $answers"
  fi
done <<'ROWS'
fail ok fail|update update update install|0|going on with the package lists in place
ok fail ok|update install install-t|0|from the release's own suite (bookworm)
fail fail fail|update update update install install-t|1|'apt-get install -t bookworm' failed for: pkg-a pkg-b; the index that could not be fetched: http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz
ROWS
exit $((failures != 0))
