# What the Wayland browser tests share (sourced): starting and stopping a
# native Wayland browser, reading the page back, and the tally. The caller
# sets tovrin, browser and scratch.
failures=0 passes=0

fail() { echo "FAIL [$browser] $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok   [$browser] $*"; passes=$((passes + 1)); }

start_browser() {  # URL
  local profile
  profile=$(mktemp -d "$scratch/profile.XXXXXX")
  case $browser in
    chromium)
      chromium --ozone-platform=wayland --no-sandbox --disable-gpu --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --disable-features=Translate --password-store=basic --force-renderer-accessibility \
        --user-data-dir="$profile" "$1" >"$scratch/$browser.log" 2>&1 &
      ;;
    firefox)
      MOZ_ENABLE_WAYLAND=1 firefox-esr --no-remote --profile "$profile" "$1" \
        >"$scratch/$browser.log" 2>&1 &
      ;;
    gnome-web)
      # Its first-run question turned off in a key file of its own profile.
      mkdir -p "$profile/config/glib-2.0/settings"
      printf '[org/gnome/epiphany]\nask-for-default=false\n' >"$profile/config/glib-2.0/settings/keyfile"
      GDK_BACKEND=wayland GSETTINGS_BACKEND=keyfile XDG_CONFIG_HOME="$profile/config" \
        epiphany --profile="$profile" "$1" >"$scratch/$browser.log" 2>&1 &
      ;;
  esac
  browser_pid=$!
}

stop_browser() {
  kill "$browser_pid" 2>/dev/null
  for _ in $(seq 1 100); do kill -0 "$browser_pid" 2>/dev/null || break; sleep 0.05; done
  kill -9 "$browser_pid" 2>/dev/null
  pkill -KILL -f "$scratch/profile" 2>/dev/null
  wait "$browser_pid" 2>/dev/null
}

# The page's lines as Tovrin reads them, one a line.
page_lines() { "$tovrin" snapshot --json 2>/dev/null | jq -r '.lines[]?.text' 2>/dev/null; }

# Waits until the page shows a line holding TEXT (a page repaints and runs
# its handlers after the event that changed it); false after SECONDS.
wait_for_line() {  # TEXT [SECONDS]
  local until=$((SECONDS + ${2:-15}))
  while [ $SECONDS -le $until ]; do
    page_lines | grep -qF -- "$1" && return 0
    sleep 0.2
  done
  return 1
}

run_json() { "$tovrin" run --json "$@" 2>"$scratch/run.err"; }
kind_of() { jq -r '.kind // .outcome' <<<"$1" 2>/dev/null; }

# Starts the other-window helper and waits until it is the active window;
# sets other_pid and other_record (the file holding what it was typed).
# Given TEXT, the window also puts TEXT on the clipboard.
start_other_window() {  # [TEXT]
  other_record="$scratch/other-window.txt"
  exec {other}< <(/usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/other-window.py" "$other_record" "$@" 2>"$scratch/other-window.log")
  other_pid=$!
  local line=""
  read -r -t 20 -u "$other" line || true
  [ "$line" = ready ]
}

stop_other_window() {
  kill "$other_pid" 2>/dev/null
  wait "$other_pid" 2>/dev/null
}

# Opens the help desk page and waits until Tovrin reads it; ends the script
# with the browser's log when it never shows.
open_desk_page() {
  start_browser "file://$pages/desk.html"
  if ! wait_for_line "Help desk" 90; then
    fail "the page never showed in the accessibility tree (or no window was active)"
    cat "$scratch/$browser.log" >&2
    stop_browser
    finish_checks
    exit 1
  fi
  pass "front browser found and its page read"
}

# Typing and keys on the help desk page, read back from the page: ASCII,
# text outside the keymap ("Zoë Ångström 東京 😀"), Tab, and Return
# submitting the form.
typing_and_key_checks() {
  local out text
  out=$(run_json "type hello.world@example.com into the email field")
  if wait_for_line "email is hello.world@example.com"; then pass "typing ASCII"; else fail "typing ASCII: $out"; fi
  text="Zoë Ångström 東京 😀"
  out=$(run_json "type $text into the notes field")
  if wait_for_line "notes is $text"; then pass "typing outside the keymap"; else fail "typing outside the keymap: $out"; fi
  out=$(run_json "press tab")
  if wait_for_line "Focus on"; then pass "Tab moves the focus"; else fail "Tab: $out"; fi
  run_json "click the full name field" >/dev/null
  out=$(run_json "press return")
  if wait_for_line "Sent by"; then pass "Return submits the form"; else fail "Return: $out"; fi
}

finish_checks() {
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}
