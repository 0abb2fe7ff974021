#!/usr/bin/env bash
# Screenshots of the window for the documentation, taken under Xvfb with a sample project:
#   docs/main-window.png, docs/config-dialog.png, docs/about-box.png, docs/window-running.png,
#   docs/window-after-run.png
#   tools/screenshots.sh            (uses the build in build/, or VELLUM_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VELLUM_BUILD_DIR:-build}
corpus=${VELLUM_CORPUS:-$PWD/../shared/corpus}
docs=$PWD/docs
[[ -x "$build/vellum" ]] || { echo "build the program first (tools/setup.sh)" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (package xvfb)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/home"
# Links, not copies: the decks stay where they are.
for deck in SampleShow.pptx OverlappingRelations.pptx 52244.ppt 44296.ppt 54722.ppt 63200.pptx \
            Password_Protected-np-hello.ppt EmbeddedAudio.pptx; do
  [[ -e "$corpus/poi/$deck" ]] && ln -s "$corpus/poi/$deck" "$work/in/$deck"
done
project="$work/sample.batch-vellum"
printf 'Source=%s/in/*.ppt?\r\nSubdir=False\r\nTarget=%s/out/\r\nThreadsCount=1\r\n' "$work" "$work" >"$project"

mkdir -p "$docs"
HOME="$work/home" XDG_CACHE_HOME="$work/home/.cache" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config" \
  VELLUM_SCREENSHOT="$docs" timeout 300 \
  xvfb-run -a -s "-screen 0 1400x800x24" "$build/vellum" "$project"
ls -1 "$docs"/main-window.png "$docs"/config-dialog.png "$docs"/about-box.png "$docs"/window-running.png "$docs"/window-after-run.png
