#!/usr/bin/env bash
# Checks a udev rules file: with `udevadm verify` where udev has it, else by
# the rules grammar (comma-separated KEY[{attr}]OP"value" pairs, at least one
# match and one assignment a line). Then checks that exactly the readers the
# card library takes and the two sensors are opened to the seat's user.
# Usage: check_udev_rules.sh RULES_FILE
set -uo pipefail
rules=$1
status=0

if udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$rules" || status=1
else
  line_no=0
  while IFS= read -r line || [ -n "$line" ]; do
    line_no=$((line_no + 1))
    [[ "$line" =~ ^[[:space:]]*(#|$) ]] && continue
    matches=0 assignments=0
    rest="$line"
    while [ -n "$rest" ]; do
      if [[ "$rest" =~ ^[[:space:]]*([A-Z_]+(\{[^}\"]+\})?)(==|!=|\+=|-=|:=|=)\"([^\"\\]|\\.)*\"[[:space:]]*(,|$)(.*)$ ]]; then
        case "${BASH_REMATCH[3]}" in
          ==|!=) matches=$((matches + 1)) ;;
          *) assignments=$((assignments + 1)) ;;
        esac
        rest="${BASH_REMATCH[6]}"
        [ "${BASH_REMATCH[5]}" = "," ] && [ -z "${rest// /}" ] && { echo "$rules:$line_no: trailing comma"; status=1; break; }
      else
        echo "$rules:$line_no: cannot parse: $rest"; status=1; break
      fi
    done
    if [ "$matches" -eq 0 ] || [ "$assignments" -eq 0 ]; then
      echo "$rules:$line_no: a rule needs a match and an assignment"; status=1
    fi
  done <"$rules"
fi

uaccess=$(grep -v '^[[:space:]]*#' "$rules" | grep 'TAG+="uaccess"')
devices=$(sed -E 's/.*idVendor\}=="([0-9a-f]{4})"(, ATTR\{idProduct\}=="([0-9a-f]{4})")?.*/\1:\3/' <<<"$uaccess" | sort)
want=$(printf '%s\n' 0400: 0525:a4a8 1b55:0120 1b55:0124 | sort)
if [ "$devices" != "$want" ]; then
  echo "$rules: seat access for"; echo "$devices"; echo "expected"; echo "$want"; status=1
fi
grep -q 'SUBSYSTEM=="usb"' <<<"$uaccess" || { echo "$rules: rules not limited to USB devices"; status=1; }
exit $status
