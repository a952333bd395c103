#!/usr/bin/env bash
# Writes a man page from a template whose line @OPTIONS@ becomes the program's own --help
# option list, so that the page never lags behind the options.
# A template without that line is the whole page. Usage: manpage.sh PROGRAM TEMPLATE OUT VERSION
set -euo pipefail
program=$1 template=$2 out=$3 version=$4
help=""
if grep -qx '@OPTIONS@' "$template"; then help=$("$program" --help); fi
# "  --name ARG   text" starts an entry; deeper-indented lines continue it; other lines are
# paragraphs. Backslashes and leading dots or quotes are escaped for troff.
options=$(printf '%s\n' "$help" | awk '
  function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); return s }
  function body(s) { s = esc(s); if (s ~ /^[.\047]/) s = "\\&" s; return s }
  /^Usage:/ || NR == 2 { next }
  /^  -/ {
    line = substr($0, 3)
    split(line, parts, /  +/)
    opt = parts[1]
    text = substr(line, length(opt) + 1); sub(/^ +/, "", text)
    printf ".TP\n.B %s\n%s\n", esc(opt), body(text)
    inentry = 1; next
  }
  /^   +/ && inentry { t = $0; sub(/^ +/, "", t); print body(t); next }
  /^$/ { inentry = 0; para = 1; next }
  { if (para) { print ".PP"; para = 0 } inentry = 0; print body($0) }
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
