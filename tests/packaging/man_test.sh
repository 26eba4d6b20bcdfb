#!/bin/bash
# The manual pages render without a warning, and say what the code does:
# tvx-pack(1) names every option tvx-pack --help names, and tvx-settings(5)
# describes every settings key the launcher reads, every key the README
# lists, and every service option of the command line.
#   man_test.sh SOURCE_DIR BUILD_DIR
source "$(dirname "$0")/checks.sh"
src=$1 build=$2
pages=("$src/docs/man/tvx-pack.1" "$src/docs/man/tvx-settings.5")

for page in "${pages[@]}"; do
  name=$(basename "$page")
  warnings=$(groff -ww -man -z "$page" 2>&1)
  check "groff -ww $name is silent" [ -z "$warnings" ] || echo "$warnings" >&2
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  check "man --warnings $name is silent" [ -z "$warnings" ] || echo "$warnings" >&2
  text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
  check "$name renders" contains "$text" "SEE ALSO"
done

# Every option of --help, in tvx-pack(1) as an option heading or in the synopsis.
page=$(cat "$src/docs/man/tvx-pack.1")
for option in $("$build/bin/tvx-pack" --help | grep -oE '(^| |\[)--?[a-z]+' | tr -d ' [' | sort -u); do
  check "tvx-pack(1) names $option" contains "$page" "${option//-/\\-}"
done

# The heading words of the settings page's list items (".TP" then ".B key" or
# ".BR key1 , key2").
keys=$(awk '/^\.SH SETTINGS/ {on = 1; next} /^\.SH / {on = 0}
            on && prev == ".TP" {for (i = 2; i <= NF; i++) print $i} {prev = $0}' "$src/docs/man/tvx-settings.5" |
       tr -d '",' | grep -E '^[a-z_]+$' | sort -u)
check "settings page lists keys" [ "$(wc -w <<<"$keys")" -ge 20 ]
described() { grep -qx "$1" <<<"$keys" || { echo "  key '$1' is not described in tvx-settings(5)" >&2; return 1; }; }

# Keys the launcher reads: the literal names given to the settings lookups.
read_keys=$(cd "$src" && grep -rhoE '(GetCommon|GetAll|EnumLines)\((second \? )?"[a-z_]+"( : "[a-z_]+")?' \
              base settings launch instances service redirect | grep -oE '"[a-z_]+"' | tr -d '"' | sort -u)
check "found the launcher's keys" [ "$(wc -w <<<"$read_keys")" -ge 20 ]
for key in $read_keys; do check "launcher key $key described" described "$key"; done

# Keys of the README's settings table.
readme_keys=$(awk '/^\| Key \| Meaning \|/ {on = 1; next} on && !/^\|/ {exit} on' "$src/README.md" |
              cut -d'|' -f2 | grep -oE '`[a-z_]+`' | tr -d '`' | sort -u)
check "found the README's keys" [ -n "$readme_keys" ]
for key in $readme_keys; do check "README key $key described" described "$key"; done

# Service options: the dashed names of the launcher's option list.
settings_page=$(cat "$src/docs/man/tvx-settings.5")
options=$(grep -A2 '"|-install' "$src/service/run_service.cpp" | grep -oE '\|-[a-z-]+' | tr -d '|' | sort -u)
check "found the service options" [ -n "$options" ]
for option in $options; do
  check "tvx-settings(5) names $option" contains "$settings_page" "${option//-/\\-}"
done
finish
