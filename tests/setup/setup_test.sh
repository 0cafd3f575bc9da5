#!/usr/bin/env bash
# Set-up's decisions when the package index fails, with a stand-in apt-get
# (and dpkg) first on PATH: nothing is installed. Each row: how update and
# the two installs answer, then the calls made, the exit and what it says.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd) work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/lists"
touch "$work/lists/x_dists_bookworm_main_binary-"{amd64,i386}_Packages.lz4
cat > "$work/bin/apt-get" <<'STANDIN'
#!/bin/sh
echo "$1$(case " $* " in *" -t bookworm "*) echo -t ;; esac)" >> "$STANDIN_LOG"
case "$1 $*" in
  update*) answer=$UPDATE ;; *" -t "*) answer=$SUITE ;; *) answer=$INSTALL ;;
esac
[ "$answer" = ok ] && exit 0
echo "E: Failed to fetch http://mirror/bookworm-security/i386/Packages.xz  File has unexpected size"
exit 100
STANDIN
printf '#!/bin/sh\n[ "$1" = --print-architecture ] && echo amd64 || echo i386\n' > "$work/bin/dpkg"
chmod +x "$work/bin/"*
failures=0
while IFS='|' read -r UPDATE INSTALL SUITE calls want_rc says; do
  : > "$work/log"
  out=$(export PATH="$work/bin:$PATH" SUDO="" VERSION_CODENAME=bookworm UPDATE INSTALL SUITE \
        KESTRUM_APT_LISTS="$work/lists" KESTRUM_APT_RETRY_SECONDS=0 STANDIN_LOG="$work/log"
        bash -c '. "$1/scripts/apt.sh"; apt_install pkg-a pkg-b' _ "$root" 2>&1)
  rc=$? made=$(paste -sd' ' "$work/log")
  if [ "$made" = "$calls" ] && [ $((rc != 0)) -eq "$want_rc" ] && grep -qF -- "$says" <<< "$out"; then
    echo "ok: $UPDATE $INSTALL $SUITE"
  else
    printf 'FAILED: %s %s %s: calls "%s", exit %s\n%s\n' "$UPDATE" "$INSTALL" "$SUITE" "$made" "$rc" "$out"
    failures=$((failures + 1))
  fi
done <<'ROWS'
fail|ok|fail|update update update install|0|going on with the package lists in place
ok|fail|ok|update install install-t|0|from the release's own suite (bookworm)
fail|fail|fail|update update update install install-t|1|'apt-get install -t bookworm' failed for: pkg-a pkg-b; the index that could not be fetched: http://mirror/bookworm-security/i386/Packages.xz
ROWS
exit $((failures != 0))
