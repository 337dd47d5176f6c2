"""The steps of scripts/release.sh that a shell does poorly, each the same bytes every time.

    release_tools.py windows-text SRC DST VERSION
        SRC as a Windows text file: @PROJECT_VERSION@ filled in, CRLF line ends, and a UTF-8
        byte order mark when it holds anything beyond ASCII (so that Notepad of every
        Windows version reads it as UTF-8, not in the ANSI code page).
    release_tools.py zip OUT FOLDER EPOCH
        OUT holds FOLDER (its name as the top folder) with its files in name order, every
        entry dated EPOCH (seconds, UTC), the same attributes for every file, deflated at
        level 9: no trace of the build's time, owner or umask.
    release_tools.py deb-root DEB ROOT
        ROOT holds the package's files and those of every package in the closure of its
        Depends as this machine has them installed, and nothing else: a root in which
        `chroot ROOT` runs the package with only what it declares.
"""
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile


def windows_text(src, dst, version):
    with open(src, encoding="utf-8") as f:
        text = f.read().replace("@PROJECT_VERSION@", version)
    data = text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")
    if any(b > 0x7F for b in data):
        data = b"\xef\xbb\xbf" + data
    with open(dst, "wb") as f:
        f.write(data)


def make_zip(out, folder, epoch):
    # A zip entry's time is a local date without zone: UTC is what every build agrees on.
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]  # no zip date before 1980
    top = os.path.basename(os.path.normpath(folder))
    names = []
    for base, dirs, files in os.walk(folder):
        dirs.sort()
        for name in files:
            names.append(os.path.relpath(os.path.join(base, name), folder).replace(os.sep, "/"))
    with zipfile.ZipFile(out, "w") as z:
        entry = zipfile.ZipInfo(top + "/", stamp)
        entry.create_system = 0  # MS-DOS attributes, as Windows writes them
        entry.external_attr = 0x10  # a folder
        z.writestr(entry, b"")
        for name in sorted(names):
            entry = zipfile.ZipInfo(top + "/" + name, stamp)
            entry.create_system = 0
            entry.external_attr = 0x20  # an archive file
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                z.writestr(entry, f.read(), compresslevel=9)


def installed_packages():
    """{name: {arch: (depends, provides)}} of what dpkg has installed."""
    out = subprocess.run(
        ["dpkg-query", "-W", "-f=${db:Status-Abbrev}\t${Package}\t${Architecture}\t"
         "${Pre-Depends}, ${Depends}\t${Provides}\n"],
        capture_output=True, text=True, check=True).stdout
    packages, providers = {}, {}
    for line in out.splitlines():
        status, name, arch, depends, provides = line.split("\t")
        if not status.startswith("ii"):
            continue
        packages.setdefault(name, {})[arch] = depends
        for p in provides.split(","):
            p = re.sub(r"\s*\(.*\)", "", p).strip()
            if p:
                providers.setdefault(p, []).append((name, arch))
    return packages, providers


def closure(depends, arch):
    """The installed packages (name, arch) that `depends` needs, recursively."""
    packages, providers = installed_packages()

    def resolve(alternatives, want):
        for alt in alternatives.split("|"):
            name = re.sub(r"\s*[\(\[].*", "", alt).strip()
            name = name.split(":")[0]  # foo:any, foo:native
            for a in (want, "all"):
                if a in packages.get(name, {}):
                    return (name, a)
            for provider in providers.get(name, []):
                if provider[1] in (want, "all"):
                    return provider
        return None

    seen, todo, missing = set(), [(depends, arch)], []
    while todo:
        field, want = todo.pop()
        for alternatives in field.split(","):
            if not alternatives.strip():
                continue
            found = resolve(alternatives, want)
            if found is None:
                missing.append(alternatives.strip())
            elif found not in seen:
                seen.add(found)
                todo.append((packages[found[0]][found[1]], want if found[1] == "all" else found[1]))
    return seen, missing


def deb_root(deb, root):
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    fields = subprocess.run(["dpkg-deb", "-f", deb, "Pre-Depends", "Depends", "Architecture"],
                            capture_output=True, text=True, check=True).stdout
    info = dict(re.findall(r"^([\w-]+): (.*)$", fields, re.M))
    depends = ", ".join(v for k, v in info.items() if k in ("Pre-Depends", "Depends"))
    needed, missing = closure(depends, info["Architecture"])
    if missing:
        sys.exit("deb-root: not installed here: " + "; ".join(missing))
    # The merged /usr of Debian 12: /lib, /bin, /sbin and /lib64 are links into /usr.
    for link in ("bin", "sbin", "lib", "lib64"):
        if os.path.islink("/" + link) and not os.path.lexists(os.path.join(root, link)):
            os.makedirs(os.path.join(root, "usr", link), exist_ok=True)
            os.symlink(os.readlink("/" + link), os.path.join(root, link))
    for name, arch in sorted(needed):
        listed = subprocess.run(["dpkg-query", "-L", "%s:%s" % (name, arch)],
                                capture_output=True, text=True, check=True).stdout
        for path in listed.splitlines():
            if not path.startswith("/") or path.startswith("/etc/alternatives"):
                continue
            target = root + path
            if os.path.islink(path):
                os.makedirs(os.path.dirname(target), exist_ok=True)
                if not os.path.lexists(target):
                    os.symlink(os.readlink(path), target)
            elif os.path.isdir(path):
                os.makedirs(target, exist_ok=True)
            elif os.path.isfile(path):
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copy2(path, target)
    print("deb-root: %d packages: %s" % (len(needed), " ".join(sorted(n for n, _ in needed))))


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "windows-text":
        windows_text(*args)
    elif command == "zip":
        make_zip(*args)
    elif command == "deb-root":
        deb_root(*args)
    else:
        sys.exit(__doc__)
