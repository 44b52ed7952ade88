#!/bin/bash
# Refreshes apt's package indexes, tolerating a mirror that is briefly
# inconsistent (one index mid-sync fails the whole `apt-get update`).
# Retries with a pause; if an index still fails, warns and goes on, since the
# other indexes are fresh and the install that follows fails plainly if a
# package it needs really cannot be found.
# Usage: apt-update.sh (as root, or with sudo in front).
set -uo pipefail

for attempt in 1 2 3; do
  if apt-get -o Acquire::Retries=3 update; then
    exit 0
  fi
  ((attempt < 3)) || break
  echo "apt-update: index refresh failed (attempt $attempt of 3); retrying in $((attempt * 10)) s" >&2
  sleep $((attempt * 10))
done
echo "apt-update: some package indexes could not be refreshed; going on with the others" >&2
exit 0
