#!/usr/bin/env bash
# Writes a man page from a template whose line @OPTIONS@ becomes the program's own --help
# option list, so that the page never lags behind the options.
# A template without that line is the whole page. Usage: manpage.sh PROGRAM TEMPLATE OUT VERSION
set -euo pipefail
program=$1 template=$2 out=$3 version=$4
help=""
if grep -qx '@OPTIONS@' "$template"; then help=$("$program" --help); fi
# The --help text as troff: the usage line is left out (the template has the synopsis);
# "Name:" lines become subsections; "  --name ARG   text" starts an option entry and deeper
# indented lines continue it; other indented lines (a table of commands) stay as they are
# laid out; the rest are paragraphs. Backslashes, dashes and leading dots are escaped.
options=$(printf '%s\n' "$help" | awk '
  function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); if (s ~ /^[.\047]/) s = "\\&" s; return s }
  function endpre() { if (pre) { print ".fi"; pre = 0 } }
  /^[Uu]sage:/ { next }
  /^[A-Z][A-Za-z ]*:$/ { endpre(); entry = 0; print ".SS " esc(substr($0, 1, length($0) - 1)); next }
  /^  -/ {
    endpre()
    line = substr($0, 3)
    split(line, parts, /  +/)
    opt = parts[1]
    text = substr(line, length(opt) + 1); sub(/^ +/, "", text)
    printf ".TP\n.B %s\n%s\n", esc(opt), esc(text)
    entry = 1; next
  }
  /^   +/ && entry { t = $0; sub(/^ +/, "", t); print esc(t); next }
  /^  / { entry = 0; if (!pre) { print ".nf"; pre = 1 } print esc($0); next }
  /^$/ { endpre(); entry = 0; para = 1; next }
  { endpre(); if (para) { print ".PP"; para = 0 } entry = 0; print esc($0) }
  END { endpre() }
')
{
  while IFS= read -r line; do
    if [ "$line" = "@OPTIONS@" ]; then
      printf '%s\n' "$options"
    else
      printf '%s\n' "${line//@VERSION@/$version}"
    fi
  done <"$template"
} >"$out"
