# The package steps of scripts/setup, sourced: an index that fails to
# download (a mirror mid-sync, seen for hours on end) must not stop a set-up
# that the release's own lists can still serve. Uses `apt-get` from PATH
# and $SUDO; the tests put a stand-in first on PATH.

APT_LISTS=${KESTRUM_APT_LISTS:-/var/lib/apt/lists}
APT_RETRY_SECONDS=${KESTRUM_APT_RETRY_SECONDS:-5}
apt_failed_index=""
apt_updated=0

# The release's codename (bookworm), from /etc/os-release.
apt_codename() {
  if [ -z "${VERSION_CODENAME:-}" ] && [ -r /etc/os-release ]; then
    VERSION_CODENAME=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  fi
  echo "${VERSION_CODENAME:-}"
}

# Whether the package lists of the release itself (not its updates) are
# there for every architecture dpkg installs.
apt_release_lists() {
  local codename arch
  codename=$(apt_codename)
  [ -n "$codename" ] || return 1
  for arch in $(dpkg --print-architecture) $(dpkg --print-foreign-architectures); do
    compgen -G "$APT_LISTS/*_dists_${codename}_main_binary-${arch}_Packages*" >/dev/null || return 1
  done
}

# apt-get update, tried three times a few seconds apart. A failure that
# leaves the release's own lists in place is reported in one line and
# set-up goes on.
apt_update() {
  [ "$apt_updated" -eq 1 ] && return 0
  local log try
  log=$(mktemp)
  for try in 1 2 3; do
    $SUDO apt-get update -q 2>&1 | tee "$log"
    if [ "${PIPESTATUS[0]}" -eq 0 ]; then
      apt_updated=1
      rm -f "$log"
      return 0
    fi
    [ "$try" -lt 3 ] && sleep "$APT_RETRY_SECONDS"
  done
  apt_failed_index=$(grep -oE 'Failed to fetch [^ ]+' "$log" | head -n 1 | cut -d' ' -f4)
  rm -f "$log"
  apt_updated=1
  if apt_release_lists; then
    echo "setup: apt-get update failed 3 times (${apt_failed_index:-no index named}); going on with the package lists in place"
    return 0
  fi
  echo "setup: 'apt-get update' failed 3 times and the release's own package lists are missing; the index that could not be fetched: ${apt_failed_index:-none named}" >&2
  return 1
}

# Installs the packages named. Where that cannot resolve (a half-updated
# index offers the two architectures of one package different versions),
# once more from the release's own suite, which gives both the same.
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  apt_update || return 1
  $SUDO apt-get install -y -q --no-install-recommends "$@" && return 0
  local codename
  codename=$(apt_codename)
  if [ -n "$codename" ]; then
    echo "setup: trying the install again from the release's own suite ($codename)"
    $SUDO apt-get install -y -q --no-install-recommends -t "$codename" "$@" && return 0
  fi
  echo "setup: 'apt-get install${codename:+ -t $codename}' failed for: $*${apt_failed_index:+; the index that could not be fetched: $apt_failed_index}" >&2
  return 1
}
