# End-to-end tests of Instrument > Upgrade Firmware..., sourced by run-e2e.sh
# (with helpers.sh). Firmware files are made by srec_cat from random data.

upgrade_fw_dir=""
upgrade_list="dialog=Firmware Files List"

# A fresh firmware folder, C:\e2e-fw in the prefix, with main.hex (2000
# random bytes at 64 KiB) and set.upg loading it into sector 0 by a name in
# another case, as Windows finds it. What the upgrade writes into the flash
# is the upgrade's own (its tests against the simulator compare the sectors):
# here the window's part.
upgrade_begin() {
  upgrade_fw_dir="$WINEPREFIX/drive_c/e2e-fw"
  rm -rf "$upgrade_fw_dir"
  mkdir -p "$upgrade_fw_dir"
  head -c 2000 /dev/urandom | srec_cat - -binary -offset 65536 -o "$upgrade_fw_dir/main.hex" -intel ||
    fail "srec_cat (Debian package srecord) could not make main.hex"
  printf '%s\r\n' 'TARGET,VXM66' 'LOAD,0,MAIN.HEX' >"$upgrade_fw_dir/set.upg"
}

upgrade_open_list() {  # WINDOWS-PATH: chosen through the command's open dialog
  choose_file 32774 "Select Firmware Upgrade File" "$1"
  wait_within 15 "the list dialog" drive wait "$upgrade_list"
}

test_upgrade_firmware_from_the_instrument_menu() {
  upgrade_begin
  printf '%s\r\n' 'TARGET,VXM66' 'LOAD,0,main.hex' 'LOAD,3,missing.hex' 'LOAD,9' \
    >"$upgrade_fw_dir/blocked.upg"
  lan_session || return

  # A list with a missing file cannot be accepted.
  if upgrade_open_list 'C:\e2e-fw\blocked.upg'; then
    expect_eq "$(states "$upgrade_list" 1000)" "disabled visible" "Accept with a missing file"
    screenshot firmware-list-blocked "$upgrade_list"
    press_to_close "$upgrade_list" 2 "Cancel"
  fi
  # Enter closes the list as Cancel does: accepting an erase is a choice of its own.
  if upgrade_open_list 'C:\e2e-fw\set.upg'; then
    expect_eq "$(states "$upgrade_list" 1000)" "enabled visible" "Accept with every file there"
    ok "Enter" drive key "$upgrade_list" enter
    ok "Enter closes the list" drive gone "$upgrade_list"
    sleep 0.5
    UIDRIVER_TIMEOUT_MS=0 drive wait "dialog=Upgrade Firmware" >/dev/null && fail "Enter started the upgrade"
  fi

  # The whole upgrade.
  if upgrade_open_list 'C:\e2e-fw\set.upg'; then
    screenshot firmware-list "$upgrade_list"
    ok "Accept" drive press "$upgrade_list" 1000
    ok "progress dialog" drive wait "dialog=Upgrade Firmware"
    wait_within 5 "worker running (Cancel disabled)" \
      eval '[ "$(drive state "dialog=Upgrade Firmware" 2 | cut -d" " -f1)" = disabled ]'
    if wait_within 60 "Cancel captioned Finished" \
      eval '[ "$(drive text "dialog=Upgrade Firmware" 2)" = Finished ]'; then
      expect_eq "$(states "dialog=Upgrade Firmware" 2)" "enabled visible" "Finished button"
      expect_eq "$(drive text "dialog=Upgrade Firmware" 1005)" "Finished" "status line"
      expect_eq "$(drive text "dialog=Upgrade Firmware" 1003 | tr -d '\r')" \
        $'Instrument initialised OK\nAll sectors erased OK\nFirmware sent OK' "log"
      screenshot upgrade-finished "dialog=Upgrade Firmware"
      press_to_close "dialog=Upgrade Firmware" 2 "Finished"
    fi
  fi

  # The LAN link was opened again and polling is back: a typed command is
  # answered in the pane.
  type_command "*IDN?"
  wait_for "the instrument answers after the upgrade" pane_has "Veltmark,VXM66,10472,2.15"
  end_test
  rm -rf "$upgrade_fw_dir"
}

# The instrument answers the connection's identification (its four lines:
# *IDN?, calstr?, calver?, version?), then nothing: the upgrade's
# identification fails and the user answers No. The window then shows the
# link as it is: disconnected, with the base title, the Instrument items and
# Script grey, and nothing to type a command into.
test_upgrade_whose_identification_fails_leaves_the_window_disconnected() {
  upgrade_begin
  lan_session --mute-after 4 || return
  choose_file 32774 "Select Firmware Upgrade File" 'C:\e2e-fw\set.upg'
  if UIDRIVER_TIMEOUT_MS=15000 expect_box Parlex2 $'No instrument was detected.\n\nDo you want to try and continue with the upgrade' \
    "question"; then
    screenshot_screen upgrade-no-instrument-question
    press_to_close dialog=Parlex2 7 "No"
  fi
  wait_for "the base title after the failed identification" title_is "Parlex2 v1_4"
  expect_eq "$(states "$main" 18002 18003)" "disabled visible|disabled visible" \
    "command box and Send after the failed identification"
  expect_eq "$(drive text "$main" 18001)" "No connection" "panel after the failed identification"
  # Menu states cannot be read from another process under Wine: the
  # pictures show Script and the Instrument menu's items grey.
  screenshot upgrade-identification-failed
  menu_screenshot alt+i upgrade-identification-failed-menu
  end_test
  rm -rf "$upgrade_fw_dir"
}
