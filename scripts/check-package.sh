#!/usr/bin/env bash
# Checks the Debian package: its file list, that nothing in it points into
# the build tree, and (as root, where overlay mounts work) that it installs
# on this machine's system as seen through a throw-away overlay, runs,
# builds a program against its headers and pkg-config files, and removes and
# purges without leaving anything behind. The machine's own system is never
# touched.
#   scripts/check-package.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
work=$(mktemp -d /tmp/lumarc-package-XXXXXX)
trap 'umount -R "$work/root" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

# 1. The file list.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' > "$work/list"
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=/usr/lib/$arch
expected=(
    /usr/bin/lumarc /usr/bin/lumarc-scan /usr/bin/lumarc-ini /usr/bin/lumarc-unitsim
    /usr/bin/lumarc-regsvr /usr/bin/kicklet /usr/bin/gaugery /usr/bin/unitdesk
    "$lib/libzorvan.so.1" "$lib/libzorvan.so" "$lib/libdrovik32.so.1" "$lib/libdrovik32.so"
    "$lib/libquentysti.so" "$lib/libquentysti.tlb" "$lib/lumarc/liblumarcplatform.so.1"
    /usr/include/lumarc/zorvan.h /usr/include/lumarc/aspi.h /usr/include/lumarc/quentysti.h
    "$lib/pkgconfig/zorvan.pc" "$lib/pkgconfig/drovik32.pc" "$lib/pkgconfig/quentysti.pc"
    /usr/share/man/man1/lumarc.1.gz /usr/share/man/man1/lumarc-scan.1.gz
    /usr/share/man/man1/lumarc-ini.1.gz /usr/share/man/man1/kicklet.1.gz
    /usr/share/bash-completion/completions/lumarc
    /usr/share/bash-completion/completions/lumarc-scan
    /usr/share/bash-completion/completions/lumarc-ini
    /etc/xdg/autostart/kicklet.desktop /usr/lib/systemd/user/kicklet.service
    /usr/share/applications/unitdesk.desktop
    /usr/share/icons/hicolor/scalable/apps/unitdesk.svg
    "$lib/sane/libsane-lumarc.so.1" /etc/sane.d/lumarc.conf /etc/sane.d/dll.d/lumarc
)
for path in "${expected[@]}"; do
    grep -qxF "$path" "$work/list" || fail "the package lacks $path"
done
# Every program has its manual page.
for program in $(grep '^/usr/bin/.' "$work/list"); do
    grep -qxF "/usr/share/man/man1/$(basename "$program").1.gz" "$work/list" ||
        fail "no manual page for $program"
done
# Nothing outside /usr, the autostart entry and the SANE configuration; no
# libraries in /usr/lib itself.
if grep -v -e '^/usr/' -e '^/etc/xdg/' -e '^/etc/sane.d/' -e '^/etc/$' -e '^/$' "$work/list"; then
    fail "files outside /usr"
fi
grep -q "^/usr/lib/lib" "$work/list" && fail "a library outside the multiarch folder"
dpkg-deb -f "$deb" Depends | grep libc6 >/dev/null || fail "no dependencies recorded"

# 2. Nothing points into the build tree or to an empty search-path entry.
mkdir "$work/files"
dpkg-deb -x "$deb" "$work/files"
source_dir=$(cd "$(dirname "$0")/.." && pwd)
while IFS= read -r -d '' file; do
    if readelf -h "$file" > /dev/null 2>&1; then
        runpath=$(readelf -d "$file" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
        tr ':' '\n' <<< "$runpath" | while IFS= read -r entry; do
            [[ -z $runpath || $entry == '$ORIGIN'* ]] ||
                fail "$file searches $entry"
        done
    fi
    if grep -q -F "$source_dir" "$file"; then
        fail "$file names the source tree"
    fi
done < <(find "$work/files" -type f -print0)
echo "check-package: file list and search paths as expected"

# 3. Install, use, remove and purge, on an overlay of this machine's root.
if [[ $(id -u) -ne 0 ]] || ! unshare -m true 2> /dev/null; then
    [[ ${CI:-} == true ]] && fail "installing needs root and mount namespaces"
    echo "check-package: not root: install not tried"
    exit 0
fi
cat > "$work/consumer.c" <<'EOF'
#include <lumarc/aspi.h>
#include <lumarc/zorvan.h>
#include <stdio.h>

int main(void)
{
    UnitNameRecord name;
    Zorvan_Startup(0, 0);
    /* Not a unit: refused before any traffic. */
    printf("%u\n", (unsigned)Zorvan_GetName("", &name));
    Zorvan_Cleanup();
    return GetASPI32SupportInfo() == 0;
}
EOF
cat > "$work/inside.sh" <<EOF
set -euo pipefail
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
fail() { echo "check-package (installed): \$*" >&2; exit 1; }
# (grep reads all its input here: with -q it would stop at the first match
# and the writer's SIGPIPE would fail the pipeline.)
dpkg -i /package.deb > /dev/null
lumarc --help | grep '^Usage: lumarc' > /dev/null || fail "lumarc --help"
lumarc --version | grep '(Lumarc)' > /dev/null || fail "lumarc --version"
for program in lumarc-scan lumarc-ini lumarc-unitsim lumarc-regsvr kicklet gaugery unitdesk; do
    QT_QPA_PLATFORM=offscreen \$program --help > /dev/null || fail "\$program --help"
done
ldconfig -p | grep 'libzorvan.so.1 ' > /dev/null || fail "libzorvan.so.1 not in the linker cache"
grep -qx lumarc /etc/sane.d/dll.d/lumarc || fail "the SANE dll loader is not told of the backend"
ldd /usr/lib/$arch/sane/libsane-lumarc.so.1 | grep -q 'not found' &&
    fail "the backend lacks a library: \$(ldd /usr/lib/$arch/sane/libsane-lumarc.so.1)"
zcat /usr/share/man/man1/lumarc.1.gz | grep 'EXIT STATUS\|Exit status' > /dev/null || fail "man page"
cc -Wall -Werror -o /tmp/consumer /consumer.c \$(pkg-config --cflags --libs zorvan drovik32)
[[ \$(/tmp/consumer) == 1 ]] || fail "a program built against the package: \$(/tmp/consumer)"
dpkg -r lumarc > /dev/null
[[ -f /etc/xdg/autostart/kicklet.desktop ]] || fail "removal took the configuration file"
[[ -f /etc/sane.d/lumarc.conf ]] || fail "removal took the backend's configuration"
dpkg -P lumarc > /dev/null
while IFS= read -r path; do
    [[ -d \$path || ! -e \$path ]] || fail "\$path left behind"
done < /list
[[ -e /usr/lib/$arch/lumarc ]] && fail "private library folder left behind"
echo "check-package: installed, used, removed and purged cleanly"
EOF
mkdir -p "$work/upper" "$work/overlay-work" "$work/root"
unshare -m --propagation private bash -c '
    set -e
    work=$1 deb=$2
    mount -t overlay overlay \
        -o "lowerdir=/,upperdir=$work/upper,workdir=$work/overlay-work" "$work/root"
    for fs in dev proc sys; do mount --rbind "/$fs" "$work/root/$fs"; done
    mount -t tmpfs tmpfs "$work/root/tmp"
    cp "$deb" "$work/root/package.deb"
    cp "$work/consumer.c" "$work/list" "$work/root/"
    chroot "$work/root" bash < "$work/inside.sh"
' check-package "$work" "$deb"
