# End-to-end tests of Instrument > Upgrade Firmware..., sourced by run-e2e.sh
# (with helpers.sh). Firmware files are made by srec_cat from random data.

upgrade_fw_dir=""

# A fresh firmware folder, C:\e2e-fw in the prefix; with ONE-FILE, main.hex of
# 200 bytes and set.upg loading it into sector 0.
upgrade_begin() {  # [one-file]
  upgrade_fw_dir="$WINEPREFIX/drive_c/e2e-fw"
  rm -rf "$upgrade_fw_dir"
  mkdir -p "$upgrade_fw_dir"
  [ -z "${1:-}" ] && return
  upgrade_make_hex main 200 0
  printf '%s\r\n' 'TARGET,VXM66' 'LOAD,0,main.hex' >"$upgrade_fw_dir/set.upg"
}

# NAME SIZE OFFSET: random bytes NAME.bin and their Intel HEX file NAME.hex
# at OFFSET in the prefix's C:\e2e-fw (extended linear address records above
# 64 KiB).
upgrade_make_hex() {
  head -c "$2" /dev/urandom >"$upgrade_fw_dir/$1.bin"
  srec_cat "$upgrade_fw_dir/$1.bin" -binary -offset "$3" -o "$upgrade_fw_dir/$1.hex" -intel ||
    fail "srec_cat (Debian package srecord) could not make $1.hex"
}

# FLASH SECTOR: the sector's programmed bytes from the simulator's flash dump,
# as upper-case hexadecimal, one a line; the first line is the first address.
upgrade_sector_bytes() {
  awk -v want="sector $2 " '
    /^sector / { on = index($0, want) == 1; next }
    on && /^[0-9A-F]+:/ { if (!shown) { print "@" substr($1, 1, length($1) - 1); shown = 1 }
                          for (i = 2; i <= NF; i++) print $i }' "$1"
}

upgrade_file_bytes() {  # BIN OFFSET: what upgrade_sector_bytes should give
  printf '@%08X\n' "$2"
  od -An -v -tx1 "$1" | tr -s ' \n' '\n' | grep -v '^$' | tr a-f A-F
}

upgrade_choose_file() {  # WINDOWS-PATH: through the open dialog of the command
  choose_file 32774 "Select Firmware Upgrade File" "$1"
}

test_upgrade_firmware_from_the_instrument_menu() {
  upgrade_begin
  local flash="$upgrade_fw_dir/flash.txt"
  upgrade_make_hex main 2000 65536
  upgrade_make_hex dsp 700 131072
  printf '%s\r\n' 'TARGET,VXM66' 'LOAD,0,MAIN.HEX' 'LOAD,2,dsp.hex' >"$upgrade_fw_dir/set.upg"
  printf '%s\r\n' 'TARGET,VXM66' 'LOAD,0,main.hex' 'LOAD,3,missing.hex' 'LOAD,9' \
    >"$upgrade_fw_dir/blocked.upg"
  lan_session --flash "$flash" || return

  # A list with a missing file cannot be accepted.
  upgrade_choose_file 'C:\e2e-fw\blocked.upg'
  if wait_within 15 "the list dialog" drive wait "dialog=Firmware Files List"; then
    expect_eq "$(drive state "dialog=Firmware Files List" 1000 | awk '{print $1}')" disabled \
      "Accept with a missing file"
    sleep 0.3
    screenshot firmware-list-blocked "dialog=Firmware Files List"
    press_to_close "dialog=Firmware Files List" 2 "Cancel"
  fi
  sim_received_has $'\x19' && fail "the boot loader was woken for a list that was not accepted"

  # The whole upgrade.
  upgrade_choose_file 'C:\e2e-fw\set.upg'
  if wait_within 15 "the list dialog" drive wait "dialog=Firmware Files List"; then
    expect_eq "$(drive state "dialog=Firmware Files List" 1000 | awk '{print $1}')" enabled \
      "Accept with every file there"
    sleep 0.3
    screenshot firmware-list "dialog=Firmware Files List"
    ok "Accept" drive press "dialog=Firmware Files List" 1000
    ok "progress dialog" drive wait "dialog=Upgrade Firmware"
    wait_within 5 "worker running (Cancel disabled)" \
      eval '[ "$(drive state "dialog=Upgrade Firmware" 2 | cut -d" " -f1)" = disabled ]'
    if wait_within 60 "Cancel captioned Finished" \
      eval '[ "$(drive text "dialog=Upgrade Firmware" 2)" = Finished ]'; then
      expect_eq "$(drive state "dialog=Upgrade Firmware" 2 | cut -d' ' -f1)" enabled "Finished button"
      expect_eq "$(drive text "dialog=Upgrade Firmware" 1005)" "Finished" "status line"
      expect_eq "$(drive text "dialog=Upgrade Firmware" 1003 | tr -d '\r')" \
        $'Instrument initialised OK\nAll sectors erased OK\nFirmware sent OK' "log"
      sleep 0.3
      screenshot upgrade-finished "dialog=Upgrade Firmware"
      press_to_close "dialog=Upgrade Firmware" 2 "Finished"
    fi
  fi

  # The LAN link was opened again and polling is back: a typed command is
  # answered in the pane.
  type_command "*IDN?"
  wait_for "the instrument answers after the upgrade" pane_has "Veltmark,VXM66,10472,2.15"
  end_test

  expect_eq "$(upgrade_sector_bytes "$flash" 0)" "$(upgrade_file_bytes "$upgrade_fw_dir/main.bin" 65536)" \
    "sector 0 holds main.hex"
  expect_eq "$(upgrade_sector_bytes "$flash" 2)" "$(upgrade_file_bytes "$upgrade_fw_dir/dsp.bin" 131072)" \
    "sector 2 holds dsp.hex"
  expect_eq "$(grep -c '^sector 3 erases 0' "$flash")" 1 "sector 3 untouched"
  rm -rf "$upgrade_fw_dir"
}

# The instrument answers the connection's identification, then nothing: the
# upgrade's identification fails and the user answers No. The window then
# shows the link as it is: disconnected, with the base title, the Instrument
# items and Script grey, and nothing to type a command into.
test_upgrade_whose_identification_fails_leaves_the_window_disconnected() {
  upgrade_begin one-file
  lan_session --mute-after 4 || return

  upgrade_choose_file 'C:\e2e-fw\set.upg'
  if wait_within 15 "the no-instrument question" drive wait dialog=Parlex2; then
    expect_eq "$(drive text dialog=Parlex2 0xFFFF | tr -d '\r')" \
      $'No instrument was detected.\n\nDo you want to try and continue with the upgrade' "question"
    screenshot_screen upgrade-no-instrument-question
    local before
    before=$(sim_received | grep -c 'IDN?')
    press_to_close dialog=Parlex2 7 "No"
    wait_for "the base title" title_is "Parlex2 v1_4"
    sleep 0.5
    expect_eq "$(sim_received | grep -c 'IDN?')" "$before" "*IDN? sent after the No"
  fi
  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title after the failed identification"
  expect_eq "$(state_word 18002 1)" disabled "command box after the failed identification"
  expect_eq "$(state_word 18003 1)" disabled "Send after the failed identification"
  expect_eq "$(drive text "$main" 18001)" "No connection" "panel after the failed identification"
  sim_received_has $'\x19' && fail "the boot loader was woken"
  # Menu states cannot be read from another process under Wine: the
  # pictures show Script and the Instrument menu's items grey.
  screenshot upgrade-identification-failed
  menu_screenshot alt+i upgrade-identification-failed-menu
  end_test
  rm -rf "$upgrade_fw_dir"
}

# Enter in the Proposed Operation closes it as Cancel does: accepting an
# erase is a choice of its own.
test_enter_in_the_firmware_list_does_not_accept() {
  upgrade_begin one-file
  lan_session || return
  upgrade_choose_file 'C:\e2e-fw\set.upg'
  if wait_within 15 "the list dialog" drive wait "dialog=Firmware Files List"; then
    expect_eq "$(drive state "dialog=Firmware Files List" 1000 | cut -d' ' -f1)" enabled \
      "Accept with every file there"
    sleep 0.3
    screenshot firmware-list-cancel-default "dialog=Firmware Files List"
    ok "Enter" drive key "dialog=Firmware Files List" enter
    ok "Enter closes the list" drive gone "dialog=Firmware Files List"
    sleep 0.5
    UIDRIVER_TIMEOUT_MS=0 wine "$driver" wait "dialog=Upgrade Firmware" >/dev/null 2>&1 &&
      fail "Enter started the upgrade"
  fi
  sim_received_has $'\x19' && fail "Enter woke the boot loader"
  end_test
  rm -rf "$upgrade_fw_dir"
}
