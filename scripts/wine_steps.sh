# Wine start-up under a time limit, and the one way the test prefixes are
# made. Sourced by lib.sh and by the test and bench scripts that make
# prefixes of their own.
#
# Wine's start-up is where a run can hang, above all when its 32-bit
# programs run under emulation: a step that does not end in time is ended
# (its own process group, then the prefix's own server with all its
# processes) and tried again, three tries in all (KESTRUM_STEP_TRIES sets
# another count). A step that fails every try appends one line to
# $KESTRUM_STEP_FAILURES, which the test command prints above its summary.

# A crash must never wait for a debugger: under emulation winedbg itself
# hangs.
case "${WINEDLLOVERRIDES:-}" in
  *winedbg.exe=d*) ;;
  "") export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" ;;
  *) export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winedbg.exe=d" ;;
esac

wine_step() { # NAME SECONDS COMMAND [ARGS...]
  local name=$1 limit=$2 try tries=${KESTRUM_STEP_TRIES:-3} rc=0 why=""
  shift 2
  for try in $(seq "$tries"); do
    timeout -k 10 "$limit" "$@" && return 0
    rc=$?
    if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then why="hung (no end after $limit s)"
    else why="failed (exit code $rc)"; fi
    echo "Wine start-up step '$name' $why, try $try of $tries" >&2
    wineserver -k >/dev/null 2>&1 || true
  done
  if [ -n "${KESTRUM_STEP_FAILURES:-}" ]; then
    echo "Wine start-up step '$name' $why $tries times" >> "$KESTRUM_STEP_FAILURES"
  fi
  return $rc
}

# Makes a Chinese prefix answering as VERSION (winxp, winxp64) from
# nothing; the caller gives WINEPREFIX and WINEARCH. One try; run it
# through wine_step.
make_prefix() { # VERSION
  local version=$1
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i && wineserver -w && wine cmd /c exit || return 1
  # Without a window manager Wine waits about 2 s on every message box
  # unless its windows are unmanaged.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Like the systems that have a dllcache folder: Chinese XP answers version
  # 5.1 (XP x64 5.2), and its SimSun has 12-13 px lines at 9 pt where
  # WenQuanYi Micro Hei has 16 (the advertisement's last line would not
  # fit). AR PL UMing is a Song face of SimSun's height.
  wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null 2>&1 || return 1
  local face
  for face in SimSun 宋体 NSimSun 新宋体 'MS Shell Dlg' 'MS Shell Dlg 2'; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'AR PL UMing CN' /f \
      >/dev/null 2>&1 || return 1
  done
  wineserver -w
}

# The prefix once, under a time limit: nothing to do when it is ready.
ensure_prefix_at() { # VERSION LOG
  local ready="$WINEPREFIX/.kestrum-ready-$1"
  if [ -f "$ready" ]; then return 0; fi
  echo "Creating the $WINEARCH Wine prefix in $WINEPREFIX ..."
  if ! KESTRUM_STEP_FAILURES="" wine_step "prefix creation" 300 \
       bash -c '. "$0"; make_prefix "$1"' "${BASH_SOURCE[0]}" "$1" >"$2" 2>&1; then
    echo "Wine start-up step 'prefix creation': the Wine prefix could not be made:" \
         "$(grep -v '^$' "$2" | tail -n 1)"
    return 1
  fi
  touch "$ready"
}

# A server kept alive for the whole run, and Wine's own processes started,
# before anything seeds dllcache (Wine empties it whenever its server
# starts).
start_server() {
  wine_step "server start and warm-up" 120 \
    bash -c 'wineserver -p && wine cmd /c exit >/dev/null 2>&1'
}
