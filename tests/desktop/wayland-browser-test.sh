#!/usr/bin/env bash
# Tovrin on a GNOME Wayland session over a real browser running as a native
# Wayland client: run inside tests/desktop/wayland-session.sh.
#
#   wayland-browser-test.sh TOVRIN chromium|firefox|gnome-web PAGES-FOLDER
#
# Every check reads what the page itself shows afterwards (its status line,
# its fields), through a fresh `tovrin snapshot`, not only Tovrin's result.
set -uo pipefail
tovrin=$1 browser=$2 pages=$3
scratch=${TOVRIN_DESKTOP_DIR:?run inside wayland-session.sh}

. "$(dirname "$0")/wayland-browser-common.sh"

# --- the help desk page: finding, reading, pressing, typing, keys, scrolling, copy
open_desk_page

out=$(run_json --confirm "click send")
if wait_for_line "Sent by Old Name"; then pass "click: the page says Sent by Old Name"; else fail "click: $out"; fi

# Text outside the keymap is pasted from the remote-desktop session's
# clipboard, and the user's clipboard is put back afterwards.
typing_and_key_checks

out=$(run_json "scroll to reviews")
# The page's last line names the section in the upper half of the view.
for _ in $(seq 1 30); do [ "$(page_lines | tail -n 1)" = "Reviews" ] && break; sleep 0.2; done
if [ "$(page_lines | tail -n 1)" = "Reviews" ]; then
  pass "scrolling to a section: the page says Reviews is in view"
else
  fail "after scrolling the page says: $(page_lines | tail -n 1) ($out)"
fi

out=$(run_json "what does the warranty cover?")
if [ "$(kind_of "$out")" != failure ] && grep -qi "zip" <<<"$out"; then pass "answers"; else fail "answer: $out"; fi

# copy: the pipe closes when tovrin exits, not when the clipboard keeper does.
start=$SECONDS
out=$(timeout 20 "$tovrin" run --json "copy the page" 2>/dev/null | jq -r .kind)
if [ "$out" = success ] && [ $((SECONDS - start)) -lt 15 ]; then pass "copy returns through a pipe"; else fail "copy through a pipe: $out"; fi
run_json "type x into the notes field" >/dev/null
run_json "select all" >/dev/null
out=$(run_json "paste")
if wait_for_line "notes is # Help desk Start here"; then
  pass "the copied page pastes after tovrin exited"
elif [ "$browser" = gnome-web ] && [ -n "${TOVRIN_SANITIZED:-}" ]; then
  # Seen in every sanitizer run here and in no plain one: GNOME Web's paste
  # of the kept copy never arrives. Told, not counted.
  echo "skip [$browser] the copied page pastes after tovrin exited (sanitizer build)"
else
  fail "paste of the copy: $out"
fi

# Another program's window in front: Tovrin cannot raise the browser here,
# says so, and nothing is typed into that window or the page.
if start_other_window; then
  out=$(run_json "type should-not-arrive into the email field")
  sleep 1
  if [ "$(kind_of "$out")" = failure ] && [ ! -s "$scratch/other-window.txt" ] &&
    ! page_lines | grep -qF "should-not-arrive"; then
    pass "another window in front: nothing typed there ($(jq -r .headline <<<"$out"))"
  else
    fail "another window in front: $out; it holds '$(cat "$scratch/other-window.txt")'"
  fi
else
  fail "the other window never became active: $(cat "$scratch/other-window.log")"
fi
stop_other_window

out=$(run_json "new tab")
for _ in $(seq 1 30); do page_lines | grep -qF "Help desk" || break; sleep 0.2; done
out2=$(run_json --confirm "close tab")
if wait_for_line "Help desk" 20; then pass "a new tab, closed, and the page is back"; else fail "tabs: $out / $out2"; fi
stop_browser

# --- the shop page: a risky press declined and confirmed, a numbered choice
start_browser "file://$pages/shop.html"
if wait_for_line "Welcome to Acme" 90 || wait_for_line "Acme" 30; then
  out=$(run_json --decline "click buy now")
  sleep 1
  if [ "$(jq -r .outcome <<<"$out")" = confirm ] && ! page_lines | grep -qx "Purchased"; then
    pass "a risky press asks first, and declined does nothing"
  else
    fail "decline: $out"
  fi
  out=$(run_json --confirm "click buy now")
  if wait_for_line "Purchased"; then pass "a risky press confirmed"; else fail "confirm: $out"; fi
  out=$(run_json --pick 2 "click add to cart")
  if wait_for_line "to the cart"; then pass "a numbered choice, picked"; else fail "choice: $out"; fi
  # The replies of a Wayland session (an active frame, window-relative
  # extents) recorded and replayed; TOVRIN_REGENERATE=1 keeps the recording
  # in tests/recorded for the offline replays.
  recording="$scratch/wayland-$browser-shop.atspi"
  [ -n "${TOVRIN_REGENERATE:-}" ] && recording="$(dirname "$(dirname "$pages")")/tests/recorded/wayland-$browser-shop.atspi"
  rm -f "$recording"
  live=$("$tovrin" snapshot --lines --record "$recording" 2>&1)
  replayed=$("$tovrin" snapshot --lines --replay "$recording" 2>&1)
  # The first line holds counts and times; the third column, element ids.
  strip_ids() { tail -n +2 | cut -f1,2,4-; }
  if [ -n "$live" ] && [ "$(strip_ids <<<"$live")" = "$(strip_ids <<<"$replayed")" ]; then
    pass "recorded replies replay as they were read"
  else
    fail "recording: live and replayed readings differ"
  fi
else
  fail "the shop page never showed"
fi
stop_browser

# --- nothing is typed when no browser is in front
out=$(run_json "type should-not-arrive into the email field")
if [ "$(kind_of "$out")" = failure ] && jq -e .headline <<<"$out" >/dev/null; then
  pass "no browser in front: a failure result, in JSON"
else
  fail "no browser in front: $out"
fi

finish_checks
