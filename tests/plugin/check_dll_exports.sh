#!/bin/sh
# The Windows DLL's export table must name exactly one function, the load
# export, by its plain name (no stdcall decoration, no ordinal-only
# entries). Also prints the DLLs it imports from.
#   check_dll_exports.sh DLL [OBJDUMP]
set -eu
dll="$1"
objdump="${2:-i686-w64-mingw32-objdump}"
headers=$("$objdump" -p "$dll")
# The name pointer table lists every exported name, one "[   n] name" line each.
names=$(printf '%s\n' "$headers" |
  awk '/^\[Ordinal\/Name Pointer\] Table/ {inside = 1; next}
       inside && /^[ \t]*\[ *[0-9]+\]/ {print $NF; next}
       inside {inside = 0}')
# The export address table has one entry per exported function, named or not.
addresses=$(printf '%s\n' "$headers" |
  awk '/^Export Address Table/ {inside = 1; next}
       inside && /^[ \t]*\[ *[0-9]+\]/ {count++; next}
       inside {inside = 0}
       END {print count + 0}')
if [ "$names" != "load_vaq_clubs_public" ] || [ "$addresses" != 1 ]; then
  echo "unexpected exports in $dll ($addresses entries):" >&2
  echo "$names" >&2
  exit 1
fi
imports=$(printf '%s\n' "$headers" | awk '/DLL Name:/ {print $3}' | tr '\n' ' ')
echo "only load_vaq_clubs_public is exported; imports: $imports"
