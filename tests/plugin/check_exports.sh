#!/bin/sh
# The plug-in's dynamic symbol table must define exactly one function:
# the load export.
set -eu
plugin="$1"
defined=$(nm -D --defined-only "$plugin" | awk '{print $3}' | sort)
if [ "$defined" != "load_vaq_clubs_public" ]; then
  echo "unexpected dynamic exports in $plugin:" >&2
  echo "$defined" >&2
  exit 1
fi
echo "only load_vaq_clubs_public is exported"
