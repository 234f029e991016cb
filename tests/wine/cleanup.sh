#!/usr/bin/env bash
# Fixture clean-up for the Wine tests: stops the keeper, the wineserver (and with
# it every Wine process of the test prefix) and the private Xvfb, each by the id
# recorded in $OVQ_WINE_STATE. The prefix stays for the next run.
#   bash tests/wine/cleanup.sh <ovq.exe> <probe.exe>
set -u
: "${OVQ_WINE_STATE:?OVQ_WINE_STATE must name the Wine state directory}"
export OVQ_USE_HOST_DISPLAY=0
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/../../scripts/wine-env.sh"
ovq_env_stop "${2:-}"
ovq_env_status
