#!/usr/bin/env bash
# Makes the release of the commit checked out here: one zip for Windows users.
#
#   ./release.sh          ->  dist/ovq-<version>.zip, and its SHA-256 on stdout
#
# Refuses, before anything else, a work tree with uncommitted changes to tracked
# files: every release names the one commit it was built from. Then installs
# what is missing (scripts/install-deps.sh), builds both Windows flavours with
# their presets (win32 and win64, configured afresh), runs their exe checks
# (ctest's exe.shape: size, imports, header flags, resources) and writes the
# zip. <version> is the one of project(ovq VERSION ...) in CMakeLists.txt. The
# zip holds one folder, ovq-<version>/, with:
#   ovq.exe       the 32-bit program, the one every Windows runs (build/win32)
#   x64/ovq.exe   the 64-bit one (build/win64)
#   README.txt    the user's part of README.md as plain text, with the version
#                 and the commit (scripts/readme-txt.sh)
#   SHA256SUMS    the SHA-256 of the three files above, as sha256sum -c reads it
# Made again from the same commit, here or in any other clone, the zip is the
# same bytes: its entries in a fixed order, all dated at the commit's time in
# UTC, with fixed modes and no extra fields.
#
# OVQ_RELEASE_BUILDS=DIR packages DIR/win32/ovq.exe and DIR/win64/ovq.exe,
# builds of these same sources made elsewhere, instead of building here (the
# release test so reuses the builds of ./test.sh); their exe checks still run.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")" && pwd -P) # as git names it, links resolved
cd "$ROOT"
say() { printf 'release.sh: %s\n' "$*" >&2; }

# The commit.
if [[ $(git rev-parse --show-toplevel 2>/dev/null) != "$ROOT" ]]; then
    say "$ROOT is not a git work tree: a release names the commit it is built from"
    exit 1
fi
changed=$(git status --porcelain --untracked-files=no)
if [[ -n $changed ]]; then
    files=$(cut -c4- <<<"$changed" | head -n 3 | paste -sd, | sed 's/,/, /g')
    (($(wc -l <<<"$changed") <= 3)) || files+=", ..."
    say "uncommitted changes to tracked files ($files): commit or stash them, since a release names one commit"
    exit 1
fi
commit=$(git rev-parse HEAD)
commit_time=$(git log -1 --format=%ct HEAD)
commit_date=$(TZ=UTC0 git log -1 --date=format-local:%Y-%m-%d --format=%cd HEAD)

# The version, from its one place.
version=$(sed -n 's/^[[:space:]]*project([[:space:]]*ovq[[:space:]]\+VERSION[[:space:]]\+\([^[:space:])]*\).*/\1/p' CMakeLists.txt)
if ! [[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]]; then
    say "no version in CMakeLists.txt (project(ovq VERSION x.y.z.w ...)): found '${version//$'\n'/ }'"
    exit 1
fi
name=ovq-$version

scripts/install-deps.sh

# The two programs, built and checked.
if [[ -n ${OVQ_RELEASE_BUILDS:-} ]]; then
    builds=$(realpath "$OVQ_RELEASE_BUILDS")
    say "packaging the builds in $builds"
else
    builds=$ROOT/build
    for preset in win32 win64; do
        cmake --preset "$preset" --fresh
        cmake --build --preset "$preset"
    done
fi
for preset in win32 win64; do
    if ! ctest --test-dir "$builds/$preset" -R '^exe\.shape$' --no-tests=error --output-on-failure; then
        say "the exe checks of $builds/$preset/ovq.exe failed"
        exit 1
    fi
done

# The folder the zip holds, in a staging directory.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
top=$stage/$name
mkdir -p "$top/x64"
cp "$builds/win32/ovq.exe" "$top/ovq.exe"
cp "$builds/win64/ovq.exe" "$top/x64/ovq.exe"
scripts/readme-txt.sh README.md "$version" "$commit" "$commit_date" >"$top/README.txt"
(cd "$top" && sha256sum ovq.exe x64/ovq.exe README.txt >SHA256SUMS)

# Fixed modes and times; zip writes local time, so it runs in UTC. ZIPOPT
# and ZIP would add options of the caller's.
entries=("$name/" "$name/README.txt" "$name/SHA256SUMS" "$name/ovq.exe" "$name/x64/" "$name/x64/ovq.exe")
(
    cd "$stage"
    for entry in "${entries[@]}"; do
        if [[ -d $entry ]]; then chmod 755 "$entry"; else chmod 644 "$entry"; fi
        touch -d "@$commit_time" "$entry"
    done
    env -u ZIPOPT -u ZIP TZ=UTC0 zip -q -X -9 "$name.zip" "${entries[@]}"
)
[[ $(unzip -Z1 "$stage/$name.zip" | paste -sd' ') == "${entries[*]}" ]] ||
    { say "the zip does not hold the expected entries in their order"; exit 1; }

mkdir -p dist
mv "$stage/$name.zip" "dist/$name.zip"
say "dist/$name.zip: $(stat -c %s "dist/$name.zip") bytes, version $version, commit $commit of $commit_date"
(cd dist && sha256sum "$name.zip")
