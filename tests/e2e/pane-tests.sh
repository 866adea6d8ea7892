# End-to-end tests of the results pane's time stamps and scrollback, sourced
# by run-e2e.sh (with helpers.sh).

pane_scrollback=10000  # the lines the pane's edit control holds at most

# Seconds since midnight of a pane time stamp "HH:MM:SS.mmm" and of now.
stamp_seconds() { awk -F'[:. ]' '{ print ($1 * 3600 + $2 * 60 + $3) }' <<<"$1"; }
now_seconds() { date +%H:%M:%S | awk -F: '{ print ($1 * 3600 + $2 * 60 + $3) }'; }

test_time_stamps_begin_lines_and_echoes_and_are_kept() {
  lan_session || return
  ok "Configure > Time Stamps" drive post "$main" 32785
  wait_for "switch kept in the settings" grep -q '^TimeStamps=1' "$ini"
  menu_screenshot alt+c menu-configure-time-stamps

  local before pane stamp after
  before=$(now_seconds)
  type_command "volt?"
  wait_for "reply to volt?" pane_has "1.234"
  sleep 0.3
  pane=$(drive text "$main" 18000)
  after=$(now_seconds)
  [[ "$pane" =~ ^([0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3})\ \>\ volt\?$'\n'([0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3})\ 1\.234$ ]] ||
    fail "stamped pane: '$pane'"
  for stamp in "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"; do
    [ -n "$stamp" ] || continue
    (( $(stamp_seconds "$stamp") >= before - 1 && $(stamp_seconds "$stamp") <= after + 1 )) ||
      fail "stamp $stamp is not the computer's time ($before..$after)"
  done
  screenshot pane-time-stamps
  end_test
}

# A stream past the scrollback: the pane shows the newest lines, no more than
# the scrollback; Save to File writes every line since the pane was cleared,
# each ending CR LF, and its last lines are the pane's, line by line.
test_pane_keeps_its_scrollback_and_saves_every_line() {
  lan_session --stream 20000 || return
  local target=$((pane_scrollback * 5 / 2)) newest last shown first pane_lines saved i
  type_command "stream on"
  ok "stream past the scrollback" drive probe "$main" 18000 $target
  type_command "stream off"
  last=-1
  for i in $(seq 1 20); do
    newest=$(drive watch "$main" 18000 1000 | cut -d' ' -f1)
    [ "$newest" = "$last" ] && break
    last=$newest
  done
  screenshot pane-scrollback
  shown=$(drive verifystream "$main" 18000) || fail "the pane's stream lines: $shown"
  read -r first last <<<"$shown"
  pane_lines=$(drive text "$main" 18000 | wc -l)
  (( pane_lines <= pane_scrollback )) || fail "the pane holds $pane_lines lines"
  (( first > 1 && last >= target )) || fail "the pane shows stream lines $first to $last"

  save_results e2e-scrollback.txt
  local check
  check=$(tr -d '\r' <"$saved" | awk '
    /^stream,/ {
      split($0, f, ",")
      if (f[2] != n + 1 || f[3] != "1.234") { print "line " NR ": " $0; exit }
      n = f[2]
    }
    END { print n + 0 }' | tail -1)
  expect_eq "$check" "$last" "the saved file's stream lines 1 to N"
  printf '%s\n' "$(drive text "$main" 18000)" >"$saved.pane"
  tail -n "$(wc -l <"$saved.pane")" "$saved" | diff -q - <(sed 's/$/\r/' "$saved.pane") >/dev/null ||
    fail "the saved file does not end with the pane's lines, each ending CR LF"
  rm -f "$saved" "$saved.pane"
  end_test
}
