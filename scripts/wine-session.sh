# Sourced by the test and demo scripts: one Wine session in a prefix of its own
# under the build tree, its server persistent while the session lasts.
#   wine_session_start <prefix dir> <log file>   wine_session_stop
# Debian 12 has no wine64 on the PATH and its wine wrapper may pick the 32-bit
# loader, which cannot run here: the 64-bit loader is named directly.
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# No "-i": the first process of a session runs "wineboot --init" by itself,
# and a second init starts a second services.exe, whose own service database
# then answers every other request to the service manager.
wine_session_boot() {
  "$WINESERVER" -p </dev/null >/dev/null 2>>"$1"
  "$WINE64" wineboot </dev/null >/dev/null 2>>"$1"
}

wine_session_start() {
  export WINEPREFIX="$1"
  export WINELOADER="$WINE64"
  # No Mono or Gecko install prompts. msvcr71 native only: Wine's built-in one
  # would let a runtime's jvm.dll load from anywhere, where Windows has none.
  export WINEDLLOVERRIDES="mscoree,mshtml=;msvcr71=n"
  export WINEDEBUG="${WINEDEBUG:--all,err+eventlog}"
  unset DISPLAY
  mkdir -p "$WINEPREFIX" "$(dirname "$2")"
  # stdin and stdout on /dev/null: the background system processes inherit the
  # first process's pipes, and a reader of those would wait for ever.
  if ! wine_session_boot "$2"; then
    echo "wine: wineboot failed, rebuilding the prefix $WINEPREFIX" >&2
    "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wine_session_boot "$2"
  fi
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
  fi
}
