#!/usr/bin/env bash
# Installs puppeteer-core VERSION (which drives an installed Firefox over WebDriver BiDi and
# downloads no browser) once into the cache folder, in npm-puppeteer-core-VERSION; one installer
# at a time, the others wait and find it there.
#   tests/web/install-puppeteer.sh VERSION
set -euo pipefail
version=$1
cache=${VELMORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora}
target=$cache/npm-puppeteer-core-$version
installed() { [ -f "$target/node_modules/puppeteer-core/package.json" ]; }
installed && exit 0
mkdir -p "$cache"
exec 9>"$cache/.lock-npm-puppeteer-core"
flock 9
installed && exit 0
# A host whose connections go through a proxy that signs with its own authority names that
# authority's certificates in NODE_EXTRA_CA_CERTS; in the build environment the host's files
# are below /run/host.
if [ -n "${NODE_EXTRA_CA_CERTS:-}" ] && [ -f "/run/host$NODE_EXTRA_CA_CERTS" ]; then
  export NODE_EXTRA_CA_CERTS=/run/host$NODE_EXTRA_CA_CERTS
fi
rm -rf "$target.partial"
mkdir -p "$target.partial"
PUPPETEER_SKIP_DOWNLOAD=1 npm install --prefix "$target.partial" --no-save --no-audit \
  --no-fund --cache "$target.partial/.npm" "puppeteer-core@$version"
rm -rf "$target.partial/.npm"
mv "$target.partial" "$target"
echo "installed puppeteer-core $version in $target"
