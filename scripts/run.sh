#!/usr/bin/env bash
# One command for a newcomer: installs what is needed, builds Quillon.vst3, installs it into
# ~/.vst3 and renders the demo through it with the project's own headless host.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"

bundle="$root/build/plugin/Quillon_artefacts/Release/VST3/Quillon.vst3"
mkdir -p "$HOME/.vst3"
rm -rf "$HOME/.vst3/Quillon.vst3"
cp -r "$bundle" "$HOME/.vst3/"
echo "Installed $HOME/.vst3/Quillon.vst3"
echo

"$root/build/tools/quillon-render/quillon-render" --plugin "$HOME/.vst3/Quillon.vst3" "$@"
