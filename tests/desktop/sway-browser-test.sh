#!/usr/bin/env bash
# Tovrin on a sway session over a real browser running as a native Wayland
# client: keys and typing through the virtual keyboard, the browser raised
# through sway's IPC, the clipboard through wl-clipboard. Run inside
# tests/desktop/sway-session.sh.
#
#   sway-browser-test.sh TOVRIN PAGES-FOLDER chromium|firefox
#
# Every check reads what the page itself shows afterwards.
set -uo pipefail
tovrin=$1 pages=$2 browser=$3
scratch=${TOVRIN_DESKTOP_DIR:?run inside sway-session.sh}

. "$(dirname "$0")/wayland-browser-common.sh"

open_desk_page

# sway gives programs no global shortcut: the doctor gives the config lines.
doctor=$("$tovrin" doctor 2>&1)
if grep -qF 'bindsym Mod1+space exec tovrin toggle' <<<"$doctor" &&
  grep -qF 'for_window [app_id="tovrin"] floating enable' <<<"$doctor" &&
  grep -qF "Keys and typing: the virtual keyboard (wtype)" <<<"$doctor"; then
  pass "the doctor gives sway's config lines and the key route"
else
  fail "doctor: $doctor"
fi

typing_and_key_checks

# Another program's window in front: on sway Tovrin raises the browser
# itself, then types; the other window gets nothing.
if start_other_window; then
  out=$(run_json "type from-elsewhere@example.com into the email field")
  if wait_for_line "from-elsewhere@example.com" && [ ! -s "$other_record" ]; then
    pass "another window in front: the browser raised and typed into"
  else
    fail "another window in front: $out; it holds '$(cat "$other_record")'"
  fi
else
  fail "the other window never became active: $(cat "$scratch/other-window.log")"
fi
stop_other_window

# copy: tovrin returns through a pipe, and the clipboard still holds the
# page afterwards.
out=$(timeout 20 "$tovrin" run --json "copy the page" 2>/dev/null | jq -r .kind)
held=$(timeout 5 wl-paste --no-newline 2>/dev/null | head -c 200)
if [ "$out" = success ] && grep -qF "Help desk" <<<"$held"; then
  pass "copy: the clipboard holds the page after tovrin exited"
else
  fail "copy: $out; the clipboard holds '$held'"
fi

out=$(run_json "new tab")
for _ in $(seq 1 30); do page_lines | grep -qF "Help desk" || break; sleep 0.2; done
out2=$(run_json --confirm "close tab")
if wait_for_line "Help desk" 20; then pass "a new tab, closed, and the page is back"; else fail "tabs: $out / $out2"; fi
stop_browser

finish_checks
