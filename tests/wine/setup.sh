#!/usr/bin/env bash
# Fixture set-up for the Wine tests: starts the private Xvfb, creates the Wine
# prefix (first time only), starts the persistent wineserver and the keeper
# window that keeps the virtual desktop with its taskbar alive for the whole run.
# Everything runs detached (setsid) with its output in files under
# $OVQ_WINE_STATE, so nothing holds ctest's output pipes.
#   bash tests/wine/setup.sh <ovq.exe> <probe.exe>
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
start=$(date +%s%3N)
wt_init "$@"
wt_log "environment ready after $(($(date +%s%3N) - start)) ms"
[[ -f $OVQ_WINE_STATE/prefix.ready ]] && wt_log "prefix: $(tail -n1 "$OVQ_WINE_STATE/prefix.ready")"
wt_shot desktop
