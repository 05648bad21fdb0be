#!/usr/bin/env bash
# Packs the Debian packages from a build tree, unpacks them into a scratch
# root and checks what a station installed from them gets: the files, the
# libraries the program loads, the desktop files, the device rules, and that
# the unpacked program starts on a virtual camera and saves a photo.
# Usage: package_test.sh BUILD_DIR SHUTTER_PRESS_LIBRARY
# Environment: DOCSTATION_DEB_ARCH, the packages' architecture (default this
# machine's); for cross-built packages DOCSTATION_TEST_EMULATOR (command that
# runs a program of that architecture) and DOCSTATION_TEST_SYSROOT (its root).
set -uo pipefail
build=$(readlink -f "$1")
shutter=$(readlink -f "$2")
here=$(dirname "$(readlink -f "$0")")

work=$(mktemp -d)
station_pid=""
cleanup() {
  if [ -n "$station_pid" ]; then kill "$station_pid" 2>/dev/null; wait "$station_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
need() { command -v "$1" >/dev/null || { echo "FAIL: $1 missing (scripts/setup.sh installs it)" >&2; exit 1; }; }
for tool in cpack dpkg-deb ldd desktop-file-validate appstreamcli; do need "$tool"; done
emulator=${DOCSTATION_TEST_EMULATOR:-}
deb_arch=${DOCSTATION_DEB_ARCH:-$(dpkg --print-architecture)}
multiarch=$(dpkg-architecture -a"$deb_arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
private=usr/lib/$multiarch/docstation

# --- pack
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; echo "FAIL: cpack" >&2; exit 1
fi
station_deb=$(ls "$work"/out/docstation_*.deb 2>/dev/null)
dev_deb=$(ls "$work"/out/libqxident-dev_*.deb 2>/dev/null)
[ -f "$station_deb" ] && [ -f "$dev_deb" ] || { ls "$work/out"; echo "FAIL: packages missing" >&2; exit 1; }

# --- Debian policy: lintian reports no error
if command -v lintian >/dev/null; then
  lintian --fail-on error "$station_deb" "$dev_deb" >"$work/lintian.log" 2>&1 \
    || { cat "$work/lintian.log"; fail "lintian reports errors"; }
else
  echo "note: lintian not installed, policy check skipped (scripts/setup.sh installs it)"
fi

# --- control fields: the architecture built for, dependencies computed from the binaries
for deb in "$station_deb" "$dev_deb"; do
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$deb_arch" ] || fail "$(basename "$deb") is not for $deb_arch"
done
depends=$(dpkg-deb -f "$station_deb" Depends)
for dep in libqt5widgets5 libusb-1.0-0 libc6; do
  grep -q "$dep" <<<"$depends" || fail "docstation does not depend on $dep: $depends"
done
grep -q "libopencv" <<<"$depends" || fail "docstation does not depend on OpenCV: $depends"
grep -q "docstation (= " <<<"$(dpkg-deb -f "$dev_deb" Depends)" || fail "libqxident-dev does not depend on docstation"
# What the binaries cannot tell: the OCR languages, "arecord", the desktop's opener.
recommends=$(dpkg-deb -f "$station_deb" Recommends)
for rec in tesseract-ocr-chi-sim tesseract-ocr-eng alsa-utils xdg-utils fonts-wqy-microhei; do
  grep -q "$rec" <<<"$recommends" || fail "docstation does not recommend $rec: $recommends"
done

# --- unpack and check the file list
root=$work/root
dpkg -x "$station_deb" "$root" && dpkg -x "$dev_deb" "$root" || { echo "FAIL: dpkg -x" >&2; exit 1; }
expected=(
  usr/bin/docstation
  "$private/bin/docstation"
  "$private/bin/Resources/tavel.png"
  "$private/bin/Resources/icon/icon_snap_32.png"
  "$private/bin/Resources/face/haarcascade_frontalface_default.xml"
  "$private/lib/libqxident.so.1"
  "$private/lib/libqxfpcap.so"
  usr/lib/udev/rules.d/60-docstation.rules
  usr/share/applications/docstation.desktop
  usr/share/metainfo/org.docstation.Station.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/docstation.svg
  usr/share/icons/hicolor/48x48/apps/docstation.png
  usr/share/icons/hicolor/256x256/apps/docstation.png
  etc/xdg/autostart/docstation.desktop
  usr/share/docstation/Resources/tavel.png
  usr/share/docstation/Resources/tavel-web/wsVideoDemo.html
  usr/share/docstation/Resources/tavel-web/docstation-client.js
  usr/share/doc/docstation/protocol.md
  usr/share/man/man1/docstation.1.gz
  usr/share/doc/docstation/copyright
  usr/share/doc/docstation/changelog.gz
  usr/include/qxident/qxident.h
  "$private/lib/libqxident.so"
  "usr/lib/$multiarch/pkgconfig/qxident.pc"
  usr/share/doc/libqxident-dev/copyright
)
for path in "${expected[@]}"; do
  [ -e "$root/$path" ] || fail "not installed: /$path"
done
[ -x "$root/usr/bin/docstation" ] || fail "/usr/bin/docstation is not executable"
# The unversioned link belongs to the -dev package only.
dpkg-deb -c "$station_deb" | grep -q 'lib/libqxident\.so ' && fail "docstation ships the libqxident.so link"
# Simulators and stand-ins never leave the build tree; nor do the tests.
strays=$(cd "$root" && find . \( -name 'libqxsensorcore*' -o -name 'libusb*' -o -name 'libwlt*' \
  -o -name 'libqxfp.*' -o -name 'libqxfp.so*' -o -name '*sim*' -o -name '*test*' -o -name '*alt*' \) -print)
[ -z "$strays" ] || fail "packed files that must stay out: $strays"
outside=$(cd "$root" && find . -type f | grep -Ev '^\./(usr/(bin|include|share|lib/udev/rules.d|lib/'"$multiarch"')|etc/xdg/autostart)/' || true)
[ -z "$outside" ] || fail "files outside the layout: $outside"

# --- the program loads only installed or system libraries
list_libraries() {  # FILE: what the dynamic loader of its architecture loads
  if [ -n "$emulator" ]; then
    # As ldd asks the loader: in tracing mode it names a missing library
    # "not found" and goes on, where --list gives up on a library's first.
    $emulator -E LD_TRACE_LOADED_OBJECTS=1 "$DOCSTATION_TEST_SYSROOT/lib/ld-linux-aarch64.so.1" "$1"
  else
    ldd "$1"
  fi
}
check_ldd() {  # FILE ALLOWED_MISSING_REGEX
  local out
  out=$(list_libraries "$1" 2>&1) || { fail "ldd $1: $out"; return; }
  local missing
  missing=$(grep 'not found' <<<"$out" | grep -Ev "${2:-^$}" || true)
  [ -z "$missing" ] || fail "$(basename "$1") misses libraries: $missing"
  local foreign
  foreign=$(grep -F -e "$build" -e "$here" <<<"$out" || true)
  [ -z "$foreign" ] || fail "$(basename "$1") loads from the build tree: $foreign"
}
check_ldd "$root/$private/bin/docstation"
found=$(list_libraries "$root/$private/bin/docstation" | awk '$1 == "libqxident.so.1" { print $3 }')
[ -n "$found" ] && [ "$(readlink -f "$found")" = "$(readlink -f "$root/$private/lib/libqxident.so.1")" ] \
  || fail "docstation does not find the installed libqxident: $found"
# The sensor plug-in is opened by name from the program: it must lie in the
# directory the program's run path names.
[ -f "$(dirname "$(readlink -f "$found")")/libqxfpcap.so" ] || fail "libqxfpcap.so is not on the program's run path"
check_ldd "$root/$private/lib/libqxident.so.1"
# The sensor plug-in needs the sensor maker's library, installed with the sensor's driver.
check_ldd "$root/$private/lib/libqxfpcap.so" 'libqxsensorcore\.so'
grep -qx "libdir=/$private/lib" "$root/usr/lib/$multiarch/pkgconfig/qxident.pc" || fail "qxident.pc points elsewhere"

# --- desktop files and metainfo
for entry in usr/share/applications/docstation.desktop etc/xdg/autostart/docstation.desktop; do
  desktop-file-validate "$root/$entry" || fail "invalid desktop file /$entry"
done
grep -q '^Name\[zh_CN\]=' "$root/usr/share/applications/docstation.desktop" || fail "no Chinese name"
grep -q '^Hidden=true$' "$root/etc/xdg/autostart/docstation.desktop" || fail "autostart entry not disabled"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.docstation.Station.metainfo.xml" >"$work/appstream.log" 2>&1 \
  || { cat "$work/appstream.log"; fail "metainfo does not validate"; }

# --- device rules
rules=$root/usr/lib/udev/rules.d/60-docstation.rules
"$here/check_udev_rules.sh" "$rules" || fail "udev rules"
# The check itself tells a broken rule and a missing device.
sed '0,/=="0525"/s//=="0525/' "$rules" >"$work/broken.rules"
"$here/check_udev_rules.sh" "$work/broken.rules" >/dev/null 2>&1 && fail "a rule with an open quote passes the check"
grep -v '"0124"' "$rules" >"$work/short.rules"
"$here/check_udev_rules.sh" "$work/short.rules" >/dev/null 2>&1 && fail "rules without the second sensor pass the check"

# --- the unpacked station starts on a virtual camera and saves a photo
home=$work/home
mkdir -p "$home" "$work/tmp"
cd "$work"
launcher=$root/usr/bin/docstation
preload=(LD_PRELOAD="$shutter")
polls=120
if [ -n "$emulator" ]; then
  # This machine cannot start a foreign program by itself: the launcher's
  # last step goes through the emulator, and only the emulated program
  # preloads the shutter press. Emulated start-up is slow (the window is up
  # long before the camera's first frame): wait much longer.
  sed "s|^exec |exec $emulator |" "$launcher" >"$launcher.emulated"
  chmod +x "$launcher.emulated"
  launcher=$launcher.emulated
  preload=(QEMU_SET_ENV=LD_PRELOAD="$shutter")
  polls=1200
fi
# TMPDIR holds the single-instance socket: a station of its own, beside any
# other running on this machine.
env TMPDIR="$work/tmp" HOME="$home" QT_QPA_PLATFORM=offscreen DOCSTATION_VIRTUAL_CAMERAS=synthetic \
  "${preload[@]}" "$launcher" >"$work/station.log" 2>&1 &
station_pid=$!
photo=""
for _ in $(seq 1 "$polls"); do
  photo=$(find "$home" -name '*.jpg' -size +1k 2>/dev/null | head -n 1)
  [ -n "$photo" ] && break
  kill -0 "$station_pid" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$photo" ]; then
  tail -n 40 "$work/station.log"
  fail "the installed station saved no photo"
else
  [ "$(head -c 2 "$photo" | od -An -tx1 | tr -d ' ')" = "ffd8" ] || fail "$photo is not a JPEG"
  case "$photo" in "$home/VarEvuZu/"*) ;; *) fail "photo saved outside the documents folder: $photo" ;; esac
  echo "photo: ${photo#"$work"/}"
fi
grep -q "shutterpress: logo=1 icon=1" "$work/station.log" \
  || fail "the installed station did not load its Resources/: $(grep shutterpress "$work/station.log")"
kill -0 "$station_pid" 2>/dev/null || fail "the station stopped: $(tail -n 20 "$work/station.log")"
[ -f "$home/.docstation/system.ini" ] && [ ! -e "$work/system.ini" ] \
  || fail "settings not kept in ~/.docstation: $(find "$work" -name system.ini)"

if [ "$failures" -ne 0 ]; then echo "$failures failure(s)" >&2; exit 1; fi
echo "package test passed"
