# Sourced by the benchmarks that open one big page in both browsers: their
# command lines, each with a fresh profile under the private desktop's
# scratch folder. Needs `page` (a file) and `profiles` (a name) set.
mkdir -p "$TOVRIN_DESKTOP_DIR/$profiles-firefox"
echo 'user_pref("browser.aboutwelcome.enabled", false); user_pref("datareporting.policy.firstRunURL", "");' \
  >"$TOVRIN_DESKTOP_DIR/$profiles-firefox/user.js"
# shellcheck disable=SC2034  # used by the script that sources this one
chromium_on_page=(chromium --no-sandbox --disable-gpu --no-first-run --no-default-browser-check
  --disable-background-networking --disable-component-update --disable-sync --password-store=basic
  --window-position=0,0 --window-size=1280,900 --user-data-dir="$TOVRIN_DESKTOP_DIR/$profiles-chromium"
  --force-renderer-accessibility "file://$page")
# shellcheck disable=SC2034
firefox_on_page=(firefox-esr --no-remote --profile "$TOVRIN_DESKTOP_DIR/$profiles-firefox"
  -width 1280 -height 900 "file://$page")
