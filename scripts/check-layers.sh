#!/usr/bin/env bash
# Checks that the engine's folders stay layers: a file includes headers of its
# own folder and of lower folders only, never of a higher one nor of a sibling
# on the same level. Lowest first:
#
#   foundation
#   datasources
#   requests
#   transfers, net              (siblings)
#   local, ftp, http, ssh       (siblings)
#   root
#
# A lower layer that must reach up calls an interface it declares and the
# upper layer implements (the informer accessor of foundation, the root
# interfaces of datasources and requests); it does not include the upper
# header. The few includes that still go up are listed below, each with its
# reason; an entry that no longer matches an include fails too, so that the
# list only shrinks. A folder of engine/ that is missing from the order
# fails, so that a new folder is given its place.
#
# Exits 0 when every include holds, 1 with one line per offending include.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A rank=(
  [foundation]=0
  [datasources]=1
  [requests]=2
  [transfers]=3 [net]=3
  [local]=4 [ftp]=4 [http]=4 [ssh]=4
  [root]=5
)

# "<including file> <included header>  # reason"
allowed=$(sed -e 's/[[:space:]]*#.*$//' -e '/^[[:space:]]*$/d' <<'EOF'
# None today. An entry looks like this, its reason in comment lines above it:
# engine/datasources/kv_example.cpp net/kv_example.h
EOF
)

fail=0
for dir in engine/*/; do
  d=${dir%/}
  d=${d#engine/}
  if [ -z "${rank[$d]+x}" ]; then
    echo "engine/$d: folder without a place in the layer order (scripts/check-layers.sh)"
    fail=1
  fi
done

ranks=""
for d in "${!rank[@]}"; do ranks+="$d=${rank[$d]} "; done

# One pass over every include of a folder-qualified header.
grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z]+/' engine --include='*.h' --include='*.cpp' |
  awk -v ranks="$ranks" -v allowed="$allowed" '
    BEGIN {
      n = split(ranks, r, " ")
      for (i = 1; i <= n; i++) { split(r[i], kv, "="); rank[kv[1]] = kv[2] }
      n = split(allowed, a, "\n")
      for (i = 1; i <= n; i++) if (a[i] != "") ok[a[i]] = 0
      bad = 0
    }
    {
      split($0, parts, ":"); file = parts[1]
      match($0, /"[^"]+"/); header = substr($0, RSTART + 1, RLENGTH - 2)
      split(file, f, "/"); from = f[2]
      split(header, h, "/"); to = h[1]
      if (to == from || !(to in rank) || !(from in rank) || rank[to] < rank[from]) next
      if ((file " " header) in ok) { ok[file " " header] = 1; next }
      why = rank[to] == rank[from] ? "a sibling of" : "above"
      print file " includes " header ": " to " is " why " " from
      bad = 1
    }
    END {
      for (e in ok) if (!ok[e]) {
        print "listed but no longer included (remove it from scripts/check-layers.sh): " e
        bad = 1
      }
      exit bad
    }' || fail=1

if [ "$fail" -ne 0 ]; then
  echo "layer check: failed"
  exit 1
fi
echo "layer check: clean"
