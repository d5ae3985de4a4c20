#!/usr/bin/env bash
# Makes docs/tour.png: examples/tour.py run in a real terminal (xterm on a
# virtual X display), the window captured as the X server drew it.
# Needs (Debian): xvfb xterm x11-apps netpbm fonts-dejavu-core fonts-noto-cjk
# Usage: tools/tour_picture.sh [python with qel installed]
set -euo pipefail
cd "$(dirname "$0")/.."
python=${1:-python}
display=:${QEL_PICTURE_DISPLAY:-57}
work=$(mktemp -d)
trap 'kill "${xvfb:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

Xvfb "$display" -screen 0 1100x1700x24 -nolisten tcp &
xvfb=$!
sleep 1

# The prompt line is printed the way a shell would show the command; then the
# tour runs on the terminal itself, so xterm draws exactly what it writes.
cat > "$work/run.sh" <<SCRIPT
printf '\033[1;32m\$\033[0m python examples/tour.py\n'
"$python" examples/tour.py
printf '\033[?25l'  # hide the cursor for the picture
touch "$work/done"
SCRIPT

DISPLAY=$display xterm -title qel-tour -geometry 108x89+0+0 \
  -fa 'DejaVu Sans Mono' -fd 'Noto Sans Mono CJK SC' -fs 10 \
  -bg '#1e1e1e' -fg '#d8d8d8' -bd '#1e1e1e' -b 8 +sb -u8 \
  -xrm 'XTerm*cursorColor: #1e1e1e' -xrm 'XTerm*color4: #4a7dff' \
  -hold -e bash "$work/run.sh" &
xterm_pid=$!

for _ in $(seq 100); do [ -e "$work/done" ] && break; sleep 0.2; done
[ -e "$work/done" ] || { echo "the tour did not finish" >&2; exit 1; }
sleep 1
xwd -display "$display" -name qel-tour -silent | xwdtopnm 2>/dev/null | pnmtopng -compression 9 > docs/tour.png
kill "$xterm_pid"
echo "wrote docs/tour.png"
