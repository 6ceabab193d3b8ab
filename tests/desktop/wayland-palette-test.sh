#!/usr/bin/env bash
# The desktop application on a GNOME Wayland session, as a person uses it:
# the palette opened by `tovrin toggle`, commands typed into it on the
# seat's keyboard (tests/desktop/type-keys.py), Return, and what the page
# itself shows afterwards. Run inside tests/desktop/wayland-session.sh.
#
#   wayland-palette-test.sh TOVRIN chromium|firefox PAGES-FOLDER
set -uo pipefail
tovrin=$1 browser=$2 pages=$3
scratch=${TOVRIN_DESKTOP_DIR:?run inside wayland-session.sh}
here=$(cd "$(dirname "$0")" && pwd)

. "$here/wayland-browser-common.sh"

keys() { /usr/bin/python3 "$here/type-keys.py" "$@"; }
log="$scratch/app.log"
# The application's trace: lines since the mark MARK was put in.
since() { sed -n "/^--- $1\$/,\$p" "$log"; }
mark() { echo "--- $1" >>"$log"; }
wait_in_log() {  # MARK TEXT [SECONDS]
  local until=$((SECONDS + ${3:-15}))
  while [ $SECONDS -le $until ]; do
    since "$1" | grep -qF -- "$2" && return 0
    sleep 0.1
  done
  return 1
}

# GNOME's settings in a file of this session's own, with a shortcut the
# user made: Tovrin reports its own missing one and leaves theirs alone.
export GSETTINGS_BACKEND=keyfile
user_entry=/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/
gsettings set org.gnome.settings-daemon.plugins.media-keys custom-keybindings "['$user_entry']"
gsettings set "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:$user_entry" command 'gnome-terminal'

doctor=$("$tovrin" doctor 2>&1)
if grep -q "no GNOME keyboard shortcut runs “tovrin toggle” yet" <<<"$doctor" &&
  grep -q "tick “Add it to GNOME's keyboard shortcuts”" <<<"$doctor"; then
  pass "the doctor says how to open the palette on this GNOME"
else
  fail "doctor: $(grep -A1 'Opening the palette' <<<"$doctor")"
fi

open_desk_page

# No QT_QPA_PLATFORM: Qt picks Wayland by itself, as on the user's desktop.
mark start
TOVRIN_TRACE=1 "$tovrin" >>"$log" 2>&1 &
app=$!
if wait_in_log start "focus: Tovrin" 30; then
  pass "the application starts as a Wayland client and its palette takes the keyboard"
else
  fail "the palette never had the focus: $(tail -n 20 "$log")"
fi
told=$(grep -c "^tovrin: .*isn't set up" "$log")
if [ "$told" = 1 ] && grep -q "Add Alt+Space to GNOME's keyboard shortcuts" "$log"; then
  pass "the missing hotkey is told once on standard error, with the fix"
else
  fail "the hotkey problem was told $told times: $(grep '^tovrin:' "$log")"
fi
if [ "$(gsettings get "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:$user_entry" command)" = "'gnome-terminal'" ] &&
  [ "$(gsettings get org.gnome.settings-daemon.plugins.media-keys custom-keybindings)" = "['$user_entry']" ]; then
  pass "the user's own GNOME shortcuts are untouched"
else
  fail "GNOME's shortcuts changed: $(gsettings get org.gnome.settings-daemon.plugins.media-keys custom-keybindings)"
fi

mark escape
keys '<Escape>'
if wait_in_log escape "palette: hidden" 10; then pass "Escape hides the palette"; else fail "Escape: $(since escape)"; fi

# The token a launcher gave `tovrin toggle` goes with the request.
mark toggle
XDG_ACTIVATION_TOKEN=tovrin-test-token "$tovrin" toggle
if wait_in_log toggle "shown with an activation token" 10 && wait_in_log toggle "focus: Tovrin" 10; then
  pass "tovrin toggle with an activation token opens the palette with the keyboard"
else
  fail "toggle: $(since toggle)"
fi

# Typing from the palette: it steps aside, the browser gets the keyboard
# back, the text arrives, and the palette returns with the outcome.
mark typing
keys 'type hello@example.com into the email field' '<Return>'
if wait_for_line "email is hello@example.com" 20; then
  pass "a command typed into the palette types into the page"
else
  fail "typing from the palette: $(since typing)"
fi
# The palette stepped aside, then had the keyboard again (that may be told
# just before or after the result line).
back() { since typing | sed -n '/palette: hidden/,$p' | grep -q "focus: Tovrin"; }
if wait_in_log typing "palette: result: ✓ Typed" 10 && { back || { sleep 2; back; }; }; then
  pass "the palette comes back with the outcome and the keyboard"
else
  fail "after typing: $(since typing)"
fi

# Text beyond the keyboard's keymap: the person pastes it into the palette
# from a window they copied it in; Tovrin types it into the page.
text="Zoë Ångström 東京 😀"
mark closing
keys '<Escape>'
wait_in_log closing "palette: hidden" 3 || keys '<Escape>'
wait_in_log closing "palette: hidden" 5 || fail "the palette did not close: $(since closing)"
if start_other_window "$text"; then
  mark paste
  "$tovrin" toggle
  wait_in_log paste "focus: Tovrin" 10
  keys 'type ' '<Control+v>' ' into the notes field'
  stop_other_window
  keys '<Return>'
  wait_in_log paste "palette: result:" 30
  if wait_for_line "notes is $text" 20; then
    pass "text outside the keymap typed from the palette"
  else
    fail "outside the keymap: $(since paste) / $(cat "$scratch/other-window.log")"
  fi
else
  fail "the other window never became active: $(cat "$scratch/other-window.log")"
fi

# Settings: the GNOME shortcut ticked on the keyboard (Tab from the preset
# to the box, Space) is added beside the user's own, and unticked, removed.
list() { gsettings get org.gnome.settings-daemon.plugins.media-keys custom-keybindings; }
ours=/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/tovrin/
mark settings
"$tovrin" settings
if wait_in_log settings "focus: Tovrin Settings" 10; then
  # Each key once the widget it is for has the keyboard.
  wait_in_log settings "focus: on preset" 5 || keys '<Tab>'
  keys '<Tab>'
  wait_in_log settings "focus: on desktopShortcut" 5
  keys ' '
  for _ in $(seq 1 50); do [ "$(list)" = "['$user_entry', '$ours']" ] && break; sleep 0.1; done
  added=$(list)
  binding=$(gsettings get "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:$ours" binding)
  keys ' '
  for _ in $(seq 1 50); do [ "$(list)" = "['$user_entry']" ] && break; sleep 0.1; done
  if [ "$added" = "['$user_entry', '$ours']" ] && [ "$binding" = "'<Alt>space'" ] &&
    [ "$(list)" = "['$user_entry']" ]; then
    pass "Settings adds GNOME's shortcut beside the user's and takes it out again"
  else
    fail "GNOME shortcut from Settings: added $added ($binding), then $(list); $(since settings)"
  fi
else
  fail "Settings never had the keyboard: $(since settings)"
fi

"$tovrin" quit
for _ in $(seq 1 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null
stop_browser
finish_checks
