#!/usr/bin/env bash
# Builds the help and the .deb, unpacks the package into a temporary root and runs the installed program
# as an unprivileged user whose program folder is not writable, on a sample deck.
#   test_package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'pkill -KILL -u nobody -f soffice 2>/dev/null || true; rm -rf "$work"' EXIT
chmod 755 "$work"

cmake --build "$build" --target help_pdf >/dev/null
test -s "$build/vellum.pdf"
# Read whole before matching: grep -q leaves early, and the writer's broken pipe would fail the pipeline.
help_text=$(pdftotext "$build/vellum.pdf" -)
grep -q "OfficeRestart (200)" <<<"$help_text"

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/*.deb)
grep -q libreoffice-impress <<<"$(dpkg-deb -f "$deb" Depends)"
# The regular office core: the -nogui one cannot print.
grep -q "libreoffice-core," <<<"$(dpkg-deb -f "$deb" Depends)"
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/vellum usr/share/applications/vellum.desktop usr/share/icons/hicolor/scalable/apps/vellum.svg \
         usr/share/man/man1/vellum.1 usr/share/doc/vellum/vellum.pdf usr/share/doc/vellum/vellum.html \
         usr/share/metainfo/org.vellum.Converter.metainfo.xml usr/share/vellum/translations/vellum_de.qm \
         usr/lib/systemd/system/vellum-office-server.service usr/lib/systemd/user/vellum-watch@.service; do
  test -e "$work/root/$f" || { echo "missing in package: $f"; exit 1; }
done
desktop-file-validate "$work/root/usr/share/applications/vellum.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.vellum.Converter.metainfo.xml"
grep -q "OfficeRestart (200)" "$work/root/usr/share/doc/vellum/vellum.html"
# The installed program under a real window manager: its keys, F1 opening the installed help, the close
# prompt and the state kept for the next start.
"$source/tests/gui/test_desktop.sh" "$work/root/usr/bin/vellum" "$source" \
  "$work/root/usr/share/doc/vellum/vellum.html"
grep -q "Vellum Converter" <<<"$("$work/root/usr/bin/vellum" --version)"

# A normal user with a home of its own; the program folder belongs to root and is not writable.
home="$work/home"
mkdir -p "$home" "$work/in" "$work/out"
cp "$(ls "$source"/samples/*.ppt* | head -n 1)" "$work/in/"
chown -R nobody "$home" "$work/in" "$work/out"
# Started from a folder the user may not enter, as a service or a sudo -u from root's home would be.
locked="$work/locked"
mkdir -m 700 "$locked"
(cd "$locked" && runuser -u nobody -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  "$work/root/usr/bin/vellum" "-P:Source=$work/in/*.ppt?;Target=$work/out;PureConsole=True;LogFile=$work/out/run.log")
pdf=$(ls "$work"/out/*.pdf)
pages=$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')
test "$pages" -ge 1
grep -q "^Success => " "$work/out/run.log"
test -d "$home/.local/share/vellum"
# Nothing was written beside the installed program.
test -z "$(find "$work/root" -newer "$deb" -type f)"
# An account without a usable home (cron, services) converts too: its per-user files go to a private
# folder of its own below the temporary folder.
mkdir -m 1777 "$work/tmp" "$work/out2"
chown nobody "$work/out2"
for nohome in /nonexistent ""; do
  rm -f "$work"/out2/*.pdf
  (cd "$locked" && runuser -u nobody -- env -i ${nohome:+HOME=$nohome} TMPDIR="$work/tmp" PATH=/usr/bin:/bin \
    LANG=C.UTF-8 "$work/root/usr/bin/vellum" "-P:Source=$work/in/*.ppt?;Target=$work/out2;PureConsole=True")
  pdf2=$(ls "$work"/out2/*.pdf)
  test "$(pdfinfo "$pdf2" | awk '/^Pages:/ {print $2}')" = "$pages"
  private="$work/tmp/vellum-$(id -u nobody)"
  test "$(stat -c '%U %a' "$private")" = "nobody 700" || { echo "private folder: $(stat -c '%U %a' "$private")"; exit 1; }
done
if pgrep -u nobody -f soffice >/dev/null; then echo "office process left behind"; exit 1; fi
echo "package installed and converted $pdf ($pages pages)"
