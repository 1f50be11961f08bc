#!/usr/bin/env bash
# Builds the Debian packages from the release build and checks them as someone installing
# them gets them: every file where Debian expects it and nothing of this machine's build
# inside, the library package named after the soname it holds, the dependencies between
# the three, and, unpacked into a scratch root, the program starting and a program built
# through the -dev package's pkg-config file running. Then lintian, which must report no
# error.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(cd "$here/.." && pwd)"
cd "$top"
bash "$here/package.sh" >/dev/null

fail() { echo "check-packages: $*" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
arch=$(dpkg --print-architecture)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

deb_of() {
  local f=(build/package/"$1"_"$version"_"$arch".deb)
  [ -f "${f[0]}" ] || fail "no package $1 $version for $arch in build/package"
  echo "${f[0]}"
}
listing() { dpkg-deb --contents "$1" | awk '{print $6}'; }
expect_files() {
  local deb=$1; shift
  local files; files=$(listing "$deb")
  for f in "$@"; do
    grep -qx "./usr/$f" <<<"$files" || fail "$(basename "$deb") lacks /usr/$f"
  done
  local stray; stray=$(grep -v '^\./usr/' <<<"$files" | grep -vx './' || true)
  [ -z "$stray" ] || fail "$(basename "$deb") installs outside /usr: $stray"
}
depends() { dpkg-deb --field "$1" Depends; }

# The library package: its name follows the soname of the library it holds.
lib_deb=$(ls build/package/libtreelark-core[0-9]*_"$version"_"$arch".deb 2>/dev/null | head -1)
[ -n "$lib_deb" ] || fail "no library package in build/package"
lib_pkg=$(dpkg-deb --field "$lib_deb" Package)
dpkg-deb -x "$lib_deb" "$scratch/lib-only"
real_lib=$(find "$scratch/lib-only" -type f -name 'libtreelark-core.so.*' | head -1)
[ -n "$real_lib" ] || fail "$lib_pkg holds no libtreelark-core.so.*"
soname=$(objdump -p "$real_lib" | awk '$1 == "SONAME" {print $2}')
[ -L "$(dirname "$real_lib")/$soname" ] || fail "$lib_pkg has no link $soname"
name=${soname%%.so.*}
so_version=${soname#*.so.}
case "$name" in *[0-9]) wanted="$name-$so_version" ;; *) wanted="$name$so_version" ;; esac
[ "$lib_pkg" = "$wanted" ] || fail "the package holding $soname is $lib_pkg, not $wanted"
shlibs=$(dpkg-deb --ctrl-tarfile "$lib_deb" | tar -xO ./shlibs)
grep -q "^$name $so_version $lib_pkg" <<<"$shlibs" || fail "$lib_pkg has no shlibs entry for $soname: $shlibs"
libdir=$(dirname "${real_lib#"$scratch/lib-only/usr/"}")

program_deb=$(deb_of quenmoor)
dev_deb=$(deb_of libtreelark-core-dev)
expect_files "$lib_deb" "$libdir/$soname" "share/doc/$lib_pkg/copyright" "share/doc/$lib_pkg/changelog.gz"
expect_files "$dev_deb" "$libdir/libtreelark-core.so" include/treelark/ApXmlMgr.h \
  "$libdir/cmake/Treelark/TreelarkConfig.cmake" "$libdir/pkgconfig/treelark-core.pc" \
  share/doc/libtreelark-core-dev/copyright
expect_files "$program_deb" bin/quenmoor share/applications/treelark.desktop \
  share/icons/hicolor/scalable/apps/treelark.svg share/man/man1/quenmoor.1.gz \
  share/doc/quenmoor/copyright share/doc/quenmoor/changelog.gz \
  share/doc/quenmoor/examples/city_config.xml share/doc/quenmoor/examples/city_update.xml \
  share/quenmoor/FrameworkConfig.xsd
# Each file in exactly one package: the link for building only in -dev, headers only there.
if grep -q -e '\.so$' -e '/include/' <<<"$(listing "$lib_deb")"; then fail "$lib_pkg holds development files"; fi
if grep -q -e '/lib/' -e '/include/' <<<"$(listing "$program_deb")"; then fail "quenmoor holds library files"; fi

# Dependencies: -dev and the program on exactly this library; the library's own computed.
dev_depends=$(depends "$dev_deb")
program_depends=$(depends "$program_deb")
lib_depends=$(depends "$lib_deb")
grep -qF "$lib_pkg (= $version)" <<<"$dev_depends" || fail "libtreelark-core-dev: Depends: $dev_depends"
grep -qF "$lib_pkg (= $version)" <<<"$program_depends" || fail "quenmoor: Depends: $program_depends"
grep -q 'libqt6widgets6' <<<"$program_depends" || fail "quenmoor: no computed dependencies: $program_depends"
for lib in libxml2 libcurl libqt6core6; do
  grep -q "$lib" <<<"$lib_depends" || fail "$lib_pkg does not depend on $lib: $lib_depends"
done
for pair in "$program_deb:editors" "$lib_deb:libs" "$dev_deb:libdevel"; do
  [ "$(dpkg-deb --field "${pair%:*}" Section)" = "${pair##*:}" ] || fail "${pair%:*} is not in section ${pair##*:}"
done
[ "$(dpkg-parsechangelog -l packaging/changelog -S Version)" = "$version" ] ||
  fail "packaging/changelog does not start with version $version"

# An install() rule without a component would be left out of every package unnoticed.
DESTDIR="$scratch/unnamed" cmake -DCMAKE_INSTALL_COMPONENT=Unspecified -P build/release/cmake_install.cmake >/dev/null
[ ! -e "$scratch/unnamed" ] || fail "installed by no package: $(cd "$scratch/unnamed" && find . -type f | tr '\n' ' ')"

# Installed into a scratch root, as apt would lay the files out.
root="$scratch/root"
for deb in "$lib_deb" "$dev_deb" "$program_deb"; do dpkg-deb -x "$deb" "$root"; done
if grep -rlF -e "$top" -e _CPack_Packages "$root" >"$scratch/leaks"; then
  fail "files name the build machine's folders: $(tr '\n' ' ' <"$scratch/leaks")"
fi
export LD_LIBRARY_PATH="$root/usr/$libdir" QT_QPA_PLATFORM=offscreen
loaded=$(ldd "$root/usr/bin/quenmoor")
grep -qF "$soname => $root/usr/$libdir/$soname" <<<"$loaded" ||
  fail "the installed program does not load the packaged library: $loaded"
out=$("$root/usr/bin/quenmoor" --version)
[ "$out" = "Quenmoor $version" ] || fail "quenmoor --version printed: $out"

# A program built against the -dev package through its pkg-config file, the prefix moved
# into the scratch root for treelark-core alone (depth 2: the file, not what it requires,
# which comes from the system as it is). pkgconf's --define-prefix cannot do it: it takes
# the folder two above the file for the prefix, wrong for lib/<architecture>/pkgconfig.
export PKG_CONFIG_PATH="$root/usr/$libdir/pkgconfig"
own=$(pkg-config --define-variable=prefix="$root/usr" --maximum-traverse-depth=2 --cflags --libs treelark-core)
grep -qF -- "-I$root/usr/include -L$root/usr/$libdir -ltreelark-core" <<<"$own" || fail "pkg-config gave: $own"
requires=$(pkg-config --print-requires treelark-core)
flags="$own $(pkg-config --cflags --libs $requires)"
# shellcheck disable=SC2086
c++ -std=c++20 docs/first_program.cpp $flags -o "$scratch/first_program"
out=$("$scratch/first_program" examples/city_config.xml "$scratch/saved.xml")
grep -q '^inserted FrameworkConfig/ApLayers/ApLayer$' <<<"$out" || fail "first_program printed: $out"
grep -q '<ApLayer Name="Roads" Visible="1"/>' "$scratch/saved.xml" || fail "first_program saved no new layer"

# lintian: errors fail the check; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$lib_deb" "$dev_deb" "$program_deb" | tee "$scratch/lintian"
echo "packages checked: $lib_pkg libtreelark-core-dev quenmoor $version ($(grep -c '^W:' "$scratch/lintian" || true) lintian warnings)"
