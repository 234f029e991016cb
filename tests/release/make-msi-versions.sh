#!/usr/bin/env bash
# installer/make-msi.sh over a table of program versions: each one it accepts
# makes a package whose version, and the version above it that the package's
# upgrade table names, are valid Windows Installer versions (255.255.65535 at
# most) and are what the program version maps to; each one it refuses is
# refused with a non-zero exit code, one line that says why, and no package.
#   tests/release/make-msi-versions.sh
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
make_msi=$here/../../installer/make-msi.sh
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8
unset LANGUAGE

ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failed=1; }

# The files a package holds: any bytes will do for the versions.
printf 'MZ program' >"$work/ovq.exe"
printf 'MZ action' >"$work/endcopy.dll"
printf 'licence\r\n' >"$work/LICENSE.txt"
commit=0123456789abcdef0123456789abcdef01234567

# valid VERSION: a version Windows Installer takes (three fields, 255.255.65535).
valid() {
    [[ $1 =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] &&
        ((BASH_REMATCH[1] <= 255 && BASH_REMATCH[2] <= 255 && BASH_REMATCH[3] <= 65535))
}

# program version | package version it makes, and the one above it; or "refused"
while IFS='|' read -r version expected; do
    trim() { sed 's/^[[:space:]]*//; s/[[:space:]]*$//' <<<"$1"; }
    version=$(trim "$version") expected=$(trim "$expected")
    [[ -z $version || $version == \#* ]] && continue
    [[ $version == "''" ]] && version=
    out=$work/out.msi
    rm -f "$out"
    rc=0
    "$make_msi" x64 "$version" "$commit" 1700000000 "$work/ovq.exe" "$work/endcopy.dll" "$work/LICENSE.txt" "$out" \
        >"$work/stdout" 2>"$work/stderr" || rc=$?
    if [[ $expected == refused ]]; then
        lines=$(grep -c . "$work/stderr")
        if ((rc != 0)) && ((lines == 1)) && [[ ! -e $out ]]; then
            ok "'$version' refused (exit code $rc): $(cat "$work/stderr")"
        else
            fail "'$version': expected a refusal in one line and no package; exit code $rc, $lines lines, package $([[ -e $out ]] && echo made || echo none): $(head -c 300 "$work/stderr")"
        fi
        continue
    fi
    if ((rc != 0)) || [[ ! -s $out ]]; then
        fail "'$version': expected a package; exit code $rc: $(head -c 300 "$work/stderr")"
        continue
    fi
    product=$(msiinfo export "$out" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
    # The upgrade table: the row that finds every earlier version ends at the
    # version above this one; the row that finds newer ones starts at this one.
    upgrade=$(msiinfo export "$out" Upgrade | tr -d '\r' | awk -F'\t' 'NR > 3 { print $7 "|" $2 "|" $3 }')
    above=$(awk -F'|' '$1 == "PREVIOUSFOUND" { print $3 }' <<<"$upgrade")
    newer=$(awk -F'|' '$1 == "NEWERFOUND" { print $2 }' <<<"$upgrade")
    got="$product $above"
    if [[ $got == "$expected" ]] && valid "$product" && valid "$above" && [[ $newer == "$product" ]]; then
        ok "'$version' makes package version $product; the one above it, $above, ends the upgrade range"
    else
        fail "'$version': expected '$expected', got '$got' (newer from '$newer'; valid: $(valid "$product" && echo yes || echo no) $(valid "$above" && echo yes || echo no))"
    fi
done <<'TABLE'
# The program's own kind of version, and shorter ones.
0.2.8.4         | 0.2.8004 0.2.8005
1               | 1.0.0 1.0.1
1.2             | 1.2.0 1.2.1
1.2.3           | 1.2.3000 1.2.3001
0.0.0.999       | 0.0.999 0.0.1000
007.08.09.010   | 7.8.9010 7.8.9011
# The edges: each field at its largest, the third with room for the one above.
255.255.65.534  | 255.255.65534 255.255.65535
0.0.65.0        | 0.0.65000 0.0.65001
# Over the edges.
0.0.65.535      | refused
0.0.66.0        | refused
256.0.0.0       | refused
0.256.0.0       | refused
0.0.0.1000      | refused
# Not versions, or too long to count.
''              | refused
1.2.3.4.5       | refused
1..2            | refused
1.2.            | refused
a.b             | refused
-1.0            | refused
99999999999999999999.0 | refused
000001.0        | refused
TABLE
exit $failed
