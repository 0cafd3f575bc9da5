#!/usr/bin/env bash
# Runs a command with one registry value of the test prefix set, and
# deletes the value again afterwards:
#   with_registry_value.sh KEY NAME TYPE DATA COMMAND [ARGS...]
set -euo pipefail
key=$1 name=$2 type=$3 data=$4
shift 4
trap 'wine reg delete "$key" /v "$name" /f >/dev/null 2>&1 || true' EXIT
wine reg add "$key" /v "$name" /t "$type" /d "$data" /f >/dev/null 2>&1
"$@"
