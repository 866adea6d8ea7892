#!/bin/sh
# Makes the demo firmware set for parlex2-sim from data with srec_cat (Debian
# package srecord). The files in this folder were made by exactly these
# commands; run it again (from anywhere) to make them anew, or with a folder
# as its argument to make them there.
#
#   A1_DEMO.HEX   main firmware   sector 0   1024 bytes at 0x0000
#   DSP_DEMO.HEX  DSP firmware    sector 2    512 bytes at 0x0000
#   FPG_DEMO.HEX  FPGA image      sector 1    256 bytes at 0x0000
#
# The data is a repeated text, so the flash the simulator writes (--flash) is
# easy to recognise. Each file ends with an end-of-file record and carries no
# start address, as the instrument's boot loader expects.
set -eu
out=${1:-$(dirname "$0")}
make_hex() {  # FILE SIZE TEXT
  srec_cat -generate 0x0000 "$2" -repeat-string "$3" \
    -disable=exec-start-address -output "$out/$1" -intel -line-length=44
}
make_hex A1_DEMO.HEX 0x0400 "VXM66 demo main firmware 2.16. "
make_hex DSP_DEMO.HEX 0x0200 "VXM66 demo DSP code 2.16. "
make_hex FPG_DEMO.HEX 0x0100 "VXM66 demo FPGA image 2.16. "
