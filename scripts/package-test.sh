#!/usr/bin/env bash
# Builds the Debian packages from a configured and built tree and tests them:
#   - each package holds exactly the files it should;
#   - lintian finds no error or warning beyond the overrides;
#   - as root: tracelet and tracelet-virtual-scanner install with dpkg -i, the
#     installed tracelet-session scans through the installed data source with
#     the log switched on, and removing both leaves nothing behind.
# The install test leaves the machine as it found it, also when it fails.
#
#   scripts/package-test.sh <build folder>
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/package-test.sh <build folder>}

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "${build}/CMakeCache.txt"; }
ds_dir=$(cache_value TRACELET_INSTALL_DS_DIR)
companion=$(cache_value TRACELET_COMPANION_PATH)
log_dir=$(cache_value TRACELET_LOG_DIR)

echo "=== packages: build"
rm -f "${build}"/*.deb
cmake --build "${build}" --target package >"${build}/package.log" || { cat "${build}/package.log"; exit 1; }
version=$(dpkg-deb -f "${build}"/tracelet_*.deb Version)
arch=$(dpkg --print-architecture)
deb() { echo "${build}/$1_${version}_${arch}.deb"; }

# The files (not folders) a package holds, as absolute paths, sorted.
files_of() { dpkg-deb --fsys-tarfile "$(deb "$1")" | tar -t | grep -v '/$' | sed 's|^\./|/|' | LC_ALL=C sort; }
# What every package carries for Debian besides its contents.
debian_files() {
    printf '%s\n' "/usr/share/doc/$1/changelog.gz" "/usr/share/doc/$1/copyright"
    if [ -f "packaging/debian/$1.lintian-overrides" ]; then echo "/usr/share/lintian/overrides/$1"; fi
}
expected_files() {
    case $1 in
        tracelet)
            printf '%s\n' "${ds_dir}/Tracelet.ds" /usr/bin/tracelet-log /usr/bin/tracelet-session \
                /usr/share/doc/tracelet/README.md /usr/share/doc/tracelet/log-format.md \
                /usr/share/man/man1/tracelet-log.1.gz /usr/share/man/man1/tracelet-session.1.gz ;;
        tracelet-dev)
            for header in include/tracelet/*.h; do echo "/usr/${header}"; done
            printf '/usr/lib/cmake/Tracelet/%s\n' TraceletConfig.cmake TraceletConfigVersion.cmake TraceletTargets.cmake ;;
        tracelet-virtual-scanner)
            echo "${companion}" ;;
        tracelet-passthrough|tracelet-playback)
            printf '%s\n' "${companion}" "${companion%.*}.conf" ;;
    esac
    debian_files "$1"
}

echo "=== packages: contents"
failed=0
for package in tracelet tracelet-dev tracelet-virtual-scanner tracelet-passthrough tracelet-playback; do
    if ! diff -u --label "${package}: expected" --label "${package}: packaged" \
            <(expected_files "${package}" | LC_ALL=C sort) <(files_of "${package}"); then
        failed=1
    fi
done
# Control fields: each companion needs tracelet of its own version and
# conflicts with the others; the configuration files of the pass-through and
# playback companions are conffiles.
check_field() {
    local actual
    actual=$(dpkg-deb -f "$(deb "$1")" "$2")
    case ${actual} in
        $3) ;;
        *) echo "$1: $2 is '${actual}', expected '$3'"; failed=1 ;;
    esac
}
check_field tracelet-virtual-scanner Depends "tracelet (= ${version}),*"
check_field tracelet-passthrough Depends "tracelet (= ${version}),*"
check_field tracelet-playback Depends "tracelet (= ${version}),*"
check_field tracelet-virtual-scanner Conflicts "tracelet-passthrough, tracelet-playback"
check_field tracelet-passthrough Conflicts "tracelet-virtual-scanner, tracelet-playback"
check_field tracelet-playback Conflicts "tracelet-virtual-scanner, tracelet-passthrough"
check_field tracelet Depends "*libstdc++6*"
check_field tracelet Description "*mkdir -p*${log_dir}*"
for package in tracelet-passthrough tracelet-playback; do
    conffiles=$(dpkg-deb --ctrl-tarfile "$(deb "${package}")" | tar -xO ./conffiles)
    if [ "${conffiles}" != "${companion%.*}.conf" ]; then
        echo "${package}: conffiles is '${conffiles}'"
        failed=1
    fi
done
[ "${failed}" = 0 ] || { echo "packages: contents differ from what they should hold"; exit 1; }

echo "=== packages: lintian"
lintian --fail-on error,warning \
    "$(deb tracelet)" "$(deb tracelet-dev)" "$(deb tracelet-virtual-scanner)" "$(deb tracelet-passthrough)" \
    "$(deb tracelet-playback)"

if [ "$(id -u)" != 0 ]; then
    echo "=== packages: install test skipped (needs root)"
    exit 0
fi

echo "=== packages: install, scan, remove"
installed=(tracelet tracelet-virtual-scanner)
for package in "${installed[@]}" tracelet-passthrough tracelet-playback; do
    if dpkg-query -W -f='${Status}' "${package}" 2>/dev/null | grep -q ' installed$'; then
        echo "packages: ${package} is installed on this machine already; not touching it"
        exit 1
    fi
done
if [ -e "${log_dir}" ]; then
    echo "packages: ${log_dir} exists already; not touching it"
    exit 1
fi
# The first folder of the log folder's path that mkdir -p creates: cleaning
# up removes it and all below it.
log_root=${log_dir}
while [ ! -e "$(dirname "${log_root}")" ]; do log_root=$(dirname "${log_root}"); done

work=$(mktemp -d)
cleanup() {
    dpkg --purge "${installed[@]}" >/dev/null 2>&1 || true
    rm -rf "${log_root}" "${work}"
}
trap cleanup EXIT

# Everything the two packages put on the machine: their files, none of which
# may exist yet, and their folders that do not exist yet.
for package in "${installed[@]}"; do
    dpkg-deb --fsys-tarfile "$(deb "${package}")" | tar -t | sed 's|^\./|/|' | grep -v '^/$'
done | LC_ALL=C sort -u >"${work}/paths"
while IFS= read -r path; do
    case ${path} in
        */) [ -e "${path}" ] || echo "${path%/}" ;;
        *) if [ -e "${path}" ]; then echo "packages: ${path} exists already; not installing over it" >&2; exit 1; fi
           echo "${path}" ;;
    esac
done <"${work}/paths" >"${work}/new-paths"

dpkg -i "$(deb tracelet)" "$(deb tracelet-virtual-scanner)"
if [ -e "${log_dir}" ]; then
    echo "packages: installing tracelet created the log folder ${log_dir}"
    exit 1
fi
mkdir -p "${log_dir}"
pages=2
# Without --ds and --log-dir the installed session uses the installed data
# source and its log folder.
(cd "${work}" && tracelet-session --pages "${pages}" --output "${work}/scans" --no-log-print)
scanned=$(find "${work}/scans" -type f | wc -l)
logs=$(find "${log_dir}" -name 'Twainlog_*.txt' -size +0 | wc -l)
if [ "${scanned}" != "${pages}" ] || [ "${logs}" = 0 ]; then
    echo "packages: the installed session saved ${scanned} of ${pages} pages and left ${logs} log files"
    exit 1
fi
tracelet-log summary "${log_dir}" >/dev/null

dpkg --purge "${installed[@]}"
left=$(while IFS= read -r path; do
    [ ! -e "${path}" ] || echo "${path}"
done <"${work}/new-paths")
if [ -n "${left}" ]; then
    printf 'packages: left behind after removal:\n%s\n' "${left}"
    exit 1
fi
echo "=== packages: passed"
