#!/usr/bin/env python3
"""First stage of a Debian root filesystem, made without root and without debootstrap:
downloads the suite's package index, checks it against the signed release file, resolves the
packages a minimal system needs (every required and essential package, apt and fakeroot, with
their dependencies), downloads and checks them, and unpacks them into DIR. The packages stay in
DIR/var/cache/apt/archives for the second stage, which installs them properly from inside.

    bootstrap-sysroot.py SUITE DIR MIRROR
"""

import concurrent.futures
import hashlib
import lzma
import os
import shutil
import subprocess
import sys
import urllib.request
from pathlib import Path

ARCH = "amd64"
KEYRINGS = ("/usr/share/keyrings/debian-archive-keyring.gpg",
            "/usr/share/keyrings/debian-archive-keyring.pgp")
EXTRA = ("apt", "fakeroot", "usr-is-merged")


def say(text):
    print(f"dev: {text}", file=sys.stderr, flush=True)


def fetch(url, attempts=3):
    for attempt in range(attempts):
        try:
            with urllib.request.urlopen(url, timeout=60) as response:
                return response.read()
        except OSError as error:
            if attempt == attempts - 1:
                raise SystemExit(f"dev: cannot download {url}: {error}")


def checked(data, sha256, what):
    if hashlib.sha256(data).hexdigest() != sha256:
        raise SystemExit(f"dev: {what} does not match its checksum")
    return data


def release(mirror, suite, work):
    """The release file's text, its signature checked where a Debian keyring is at hand."""
    signed = work / "InRelease"
    signed.write_bytes(fetch(f"{mirror}/dists/{suite}/InRelease"))
    keyring = next((k for k in KEYRINGS if os.path.exists(k)), None)
    if keyring and shutil.which("gpgv"):
        result = subprocess.run(["gpgv", "--keyring", keyring, signed], capture_output=True)
        if result.returncode != 0:
            raise SystemExit("dev: the release file's signature does not verify:\n"
                             + result.stderr.decode(errors="replace"))
    else:
        say("no Debian keyring or gpgv on this host: the release file's signature is not checked")
    return signed.read_text()


def packages(mirror, suite, work):
    """The suite's package index: name -> its fields."""
    text = release(mirror, suite, work)
    path = f"main/binary-{ARCH}/Packages.xz"
    sums = text.split("SHA256:")[1].splitlines()
    sha256 = next(line.split()[0] for line in sums if line.split()[-1:] == [path])
    index = lzma.decompress(checked(fetch(f"{mirror}/dists/{suite}/{path}"), sha256, path))
    table, provides = {}, {}
    for stanza in index.decode().split("\n\n"):
        fields, key = {}, None
        for line in stanza.splitlines():
            if line[:1] in (" ", "\t"):
                fields[key] += "\n" + line
            elif ":" in line:
                key, _, value = line.partition(":")
                fields[key] = value.strip()
        if "Package" in fields:
            table[fields["Package"]] = fields
            for item in fields.get("Provides", "").split(","):
                if item.strip():
                    provides.setdefault(item.split()[0], []).append(fields["Package"])
    return table, provides


def resolve(table, provides):
    """Every required and essential package and EXTRA, closed over Pre-Depends and Depends. Of
    alternatives the first that exists is taken, unless another is already chosen."""
    chosen = set()
    wanted = [name for name, fields in table.items()
              if fields.get("Priority") == "required" or fields.get("Essential") == "yes"]
    wanted += EXTRA

    def candidates(alternative):
        name = alternative.split()[0].split(":")[0]
        return ([name] if name in table else []) + sorted(provides.get(name, []))

    while wanted:
        name = wanted.pop()
        if name in chosen:
            continue
        chosen.add(name)
        fields = table[name]
        for relation in (fields.get("Pre-Depends", ""), fields.get("Depends", "")):
            for group in filter(None, (g.strip() for g in relation.split(","))):
                options = [c for alt in group.split("|") for c in candidates(alt.strip())]
                if not options:
                    raise SystemExit(f"dev: {name} needs {group}, which the suite lacks")
                if not any(option in chosen for option in options):
                    wanted.append(options[0])
    return sorted(chosen)


def download(mirror, fields, archives):
    path = archives / os.path.basename(fields["Filename"])
    if not path.exists() or hashlib.sha256(path.read_bytes()).hexdigest() != fields["SHA256"]:
        data = checked(fetch(f"{mirror}/{fields['Filename']}"), fields["SHA256"],
                       fields["Filename"])
        path.write_bytes(data)
    return path


def unpack(deb, root):
    """Extracts the files of one package, following the merged /usr links that already exist."""
    if shutil.which("dpkg-deb"):
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True,
                              capture_output=True).stdout
    else:  # an ar archive: read the member data.tar.*
        blob = deb.read_bytes()
        offset, data = 8, None
        while offset < len(blob) and data is None:
            name, size = blob[offset:offset + 16].decode().strip(), int(blob[offset + 48:offset + 58])
            if name.startswith("data.tar"):
                member = blob[offset + 60:offset + 60 + size]
                data = (subprocess.run(["zstd", "-dc"], input=member, check=True,
                                       capture_output=True).stdout
                        if name.endswith(".zst") else member)
            offset += 60 + size + size % 2
    subprocess.run(["tar", "-x", "--keep-directory-symlink", "--no-same-owner", "-C", root,
                    "-f", "-"], input=data, check=True)


def main():
    suite, root, mirror = sys.argv[1], Path(sys.argv[2]), sys.argv[3].rstrip("/")
    archives = root / "var/cache/apt/archives"
    archives.mkdir(parents=True, exist_ok=True)
    for link in ("bin", "sbin", "lib", "lib64"):
        (root / "usr" / link).mkdir(parents=True, exist_ok=True)
        if not (root / link).exists():
            (root / link).symlink_to(f"usr/{link}")
    table, provides = packages(mirror, suite, root / "var/cache/apt")
    names = resolve(table, provides)
    say(f"downloading {len(names)} base packages of {suite}")
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        debs = list(pool.map(lambda name: download(mirror, table[name], archives), names))
    for deb in debs:
        unpack(deb, root)
    (root / "var/lib/dpkg/info").mkdir(parents=True, exist_ok=True)
    for name in ("status", "available"):
        (root / "var/lib/dpkg" / name).touch()
    (root / "var/lib/dpkg/arch").write_text(f"{ARCH}\n")
    (root / "etc/apt/sources.list.d").mkdir(parents=True, exist_ok=True)
    (root / "etc/apt/sources.list").write_text(f"deb {mirror} {suite} main\n")
    # The mirror may serve a snapshot whose release file is past its validity date; apt runs as
    # the only user a user namespace may hold, without dropping to its own.
    (root / "etc/apt/apt.conf.d/80velmora").write_text(
        'Acquire::Check-Valid-Until "false";\nAPT::Sandbox::User "root";\n'
        'APT::Install-Recommends "false";\n')
    # The order of the second stage: these first, as debootstrap installs them.
    (root / "var/cache/apt/archives/.first").write_text(
        "\n".join(str(deb.relative_to(root)) for deb in debs
                  if deb.name.split("_")[0] in ("base-passwd", "base-files", "dpkg", "libc6"))
        + "\n")


if __name__ == "__main__":
    main()
