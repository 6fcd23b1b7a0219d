#!/bin/sh
# Runs a command inside a fresh private network namespace (see
# tests/live/netns_run.sh), or reports the test as skipped (exit 77) when the
# namespace cannot be made because we are not root.
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: creating a network namespace needs root"
  exit 77
fi
exec sh "$(dirname "$0")/../live/netns_run.sh" "$@"
