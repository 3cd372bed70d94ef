#!/usr/bin/env bash
# Builds the .deb packages from a built tree, unpacks them into a temporary
# root and checks them: the file list, every program's --version from there,
# desktop-file-validate, appstreamcli and lintian.
#   check-package.sh <build dir> <scratch dir>
set -euo pipefail
build=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

(cd "$scratch/out" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" > cpack.log 2>&1) \
  || { cat "$scratch/out/cpack.log"; exit 1; }
mapfile -t debs < <(ls "$scratch"/out/*.deb)
[ "${#debs[@]}" -ge 1 ] || { echo "FAIL: no .deb made"; exit 1; }
main=$(ls "$scratch"/out/skyvane_*.deb)
for d in "${debs[@]}"; do
  echo "== $(basename "$d")"
  dpkg-deb -f "$d" Package Version Depends
  dpkg-deb -x "$d" "$scratch/root"
done

# Runtime dependencies are Debian packages found by dpkg-shlibdeps.
depends=$(dpkg-deb -f "$main" Depends)
for lib in libqt6core6 libc6 libsystemd0; do
  grep -q "$lib" <<< "$depends" || bad "Depends lacks $lib: $depends"
done

# The image library is opened at run time: shlibdeps cannot find it.
dpkg-deb -f "$main" Recommends | grep -q libfreeimage3 || bad "Recommends lacks libfreeimage3"

r=$scratch/root
for f in \
  usr/bin/XOB_Skyvane usr/bin/XOB_Uploader usr/bin/XOB_Nephor_sim \
  usr/lib/systemd/user/skyvane.service \
  usr/share/dbus-1/services/XOB_Skyvane.Nephor.service \
  usr/share/applications/org.skyvane.Skyvane.desktop \
  usr/share/icons/hicolor/scalable/apps/org.skyvane.Skyvane.svg \
  usr/share/metainfo/org.skyvane.Skyvane.metainfo.xml \
  usr/share/doc/skyvane/manual.md usr/share/doc/skyvane/copyright \
  usr/share/man/man1/XOB_Skyvane.1.gz usr/share/man/man1/XOB_Uploader.1.gz \
  usr/share/man/man1/XOB_Updater.1.gz usr/share/man/man1/XOB_ResetParameters.1.gz \
  usr/bin/XOB_Nephor_indi usr/share/man/man1/XOB_Nephor_indi.1.gz usr/share/man/man1/XOB_Nephor_sim.1.gz \
  usr/bin/XOB_Skyvane_headless usr/share/man/man1/XOB_Skyvane_headless.1.gz usr/lib/skyvane/skyvane_sound_qt.so; do
  [ -e "$r/$f" ] || bad "missing $f"
done
# The programs that are built in this tree are in the package; each answers
# --version from there without a display.
for p in XOB_Skyvane XOB_Skyvane_headless XOB_Uploader XOB_Updater XOB_ResetParameters XOB_Nephor_indi; do
  if [ -x "$build/bin/$p" ]; then
    [ -x "$r/usr/bin/$p" ] || { bad "$p built but not packaged"; continue; }
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$r/usr/bin/$p" --version 2>&1) \
      || bad "$p --version failed: $out"
    echo "$p --version: $out"
  fi
done
# The program without a window links no widget or media library.
if ldd "$r/usr/bin/XOB_Skyvane_headless" | grep -Eq 'libQt6(Widgets|Multimedia)'; then
  bad "XOB_Skyvane_headless links Widgets or Multimedia"
fi
grep -q '^SystemdService=skyvane.service$' "$r/usr/share/dbus-1/services/XOB_Skyvane.Nephor.service" \
  || bad "the D-Bus service file does not name the unit"
grep -q '^ExecStart=/usr/bin/XOB_Skyvane --headless$' "$r/usr/lib/systemd/user/skyvane.service" \
  || bad "the unit does not start the installed program headless"
for m in "$r"/usr/share/man/man1/*.gz; do
  zcat "$m" | head -1 | grep -q '^\.TH' || bad "$m is not a man page"
done

for d in "$r"/usr/share/applications/*.desktop; do
  desktop-file-validate "$d" || bad "desktop-file-validate $d"
done
appstreamcli validate --no-net "$r"/usr/share/metainfo/*.xml || bad "appstreamcli validate"

# lintian: errors fail the test, warnings are listed for the record.
for d in "${debs[@]}"; do
  lintian --tag-display-limit 0 "$d" > "$scratch/lintian.txt" 2>&1 || true
  echo "== lintian $(basename "$d")"
  cat "$scratch/lintian.txt"
  if grep -q '^E:' "$scratch/lintian.txt"; then bad "lintian errors in $(basename "$d")"; fi
done
exit $fail
