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
# npm trusts the authorities the host trusts as well as its own: a host whose connections go
# through a proxy that signs with its own authority has it there (or names it in
# NODE_EXTRA_CA_CERTS). In the build environment the host's files are below /run/host.
for bundle in "${NODE_EXTRA_CA_CERTS:-}" /etc/ssl/certs/ca-certificates.crt; do
  if [ -n "$bundle" ] && [ -f "/run/host$bundle" ]; then
    export NODE_EXTRA_CA_CERTS=/run/host$bundle
    break
  fi
done
rm -rf "$target.partial"
mkdir -p "$target.partial"
PUPPETEER_SKIP_DOWNLOAD=1 npm install --prefix "$target.partial" --no-save --no-audit \
  --no-fund --cache "$target.partial/.npm" "puppeteer-core@$version"
rm -rf "$target.partial/.npm"
mv "$target.partial" "$target"
echo "installed puppeteer-core $version in $target"
