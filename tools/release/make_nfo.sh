#!/bin/sh
# Turns the UTF-8 source of the .nfo into what demo viewers expect: code
# page 437 bytes with CRLF line ends. usage: make_nfo.sh in.txt out.nfo
set -eu
iconv -f UTF-8 -t CP437 "$1" | sed 's/$/\r/' > "$2.tmp"
mv "$2.tmp" "$2"
