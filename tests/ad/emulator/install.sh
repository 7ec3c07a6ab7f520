#!/usr/bin/env bash
# Installs the scripted server with its pinned npm packages into a folder of
# the build: install.sh SOURCE-DIR TARGET-DIR. Does nothing when the target
# is up to date with the lock file.
set -euo pipefail
source=$1 target=$2
command -v node >/dev/null || { echo "install: node is not installed (Debian: apt-get install nodejs)" >&2; exit 1; }
command -v npm >/dev/null || { echo "install: npm is not installed (Debian: apt-get install npm)" >&2; exit 1; }
mkdir -p "$target"
cp "$source/server.js" "$target/"
if [[ -d $target/node_modules ]] && cmp -s "$source/package-lock.json" "$target/package-lock.json"; then
    exit 0
fi
cp "$source/package.json" "$source/package-lock.json" "$target/"
cd "$target"
npm ci --no-audit --no-fund --loglevel=error
