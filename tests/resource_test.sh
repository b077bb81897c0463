#!/bin/bash
# Checks the resources of a linked Windows program: it must carry exactly the
# updater's application icon and nothing else, that is one icon group, id 101,
# language 1041 (Japanese), whose two images are 32x32 and 16x16 at 8 bits per
# pixel with a 256-colour palette, and no resource types besides the icon group
# and its images. Runs on the build machine with icoutils' wrestool.
#
#   resource_test.sh PROGRAM.exe
#   resource_test.sh --expect-failure REGEX PROGRAM.exe
#
# The second form tests the check itself: it passes only when the check fails
# with a message that matches REGEX.
set -uo pipefail

fail() {
  echo "resource check: $*" >&2
  exit 1
}

# The bytes of stdin as decimal numbers, one array element per byte.
read_bytes() {
  local -n into=$1
  # shellcheck disable=SC2207
  into=($(od -An -v -tu1))
}

u16() {
  local -n b=$1
  echo $((b[$2] | b[$2 + 1] << 8))
}

u32() {
  local -n b=$1
  echo $((b[$2] | b[$2 + 1] << 8 | b[$2 + 2] << 16 | b[$2 + 3] << 24))
}

check() {
  local exe=$1
  [ -f "$exe" ] || fail "$exe does not exist"
  command -v wrestool >/dev/null || fail "wrestool (icoutils) is not installed"
  local listing
  listing=$(wrestool -l "$exe" 2>&1) || fail "wrestool cannot read $exe: $listing"

  local groups=() icons=() line type name lang
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    if [[ ! $line =~ ^--type=([^ ]+)\ --name=([^ ]+)\ --language=([^ ]+)\  ]]; then
      # wrestool reports a program without resources in words.
      [[ $line == *"contains no resources"* ]] && continue
      fail "unexpected wrestool output: $line"
    fi
    type=${BASH_REMATCH[1]} name=${BASH_REMATCH[2]} lang=${BASH_REMATCH[3]}
    case $type in
      14) groups+=("$name:$lang") ;;
      3) icons+=("$name:$lang") ;;
      *) fail "unexpected resource of type $type (name $name, language $lang); only the icon may be there" ;;
    esac
  done <<<"$listing"

  [ ${#groups[@]} -ne 0 ] || fail "no icon group in $exe"
  [ ${#groups[@]} -eq 1 ] || fail "${#groups[@]} icon groups (${groups[*]}); exactly one is expected"
  [ "${groups[0]}" = "101:1041" ] ||
    fail "the icon group is name:language ${groups[0]}; expected 101:1041"

  local group=()
  read_bytes group < <(wrestool -x --raw --type=14 --name=101 --language=1041 "$exe")
  [ ${#group[@]} -ge 6 ] || fail "the icon group is ${#group[@]} bytes, too short"
  [ "$(u16 group 2)" -eq 1 ] || fail "the icon group's type is $(u16 group 2), not 1 (icon)"
  local count
  count=$(u16 group 4)
  [ "$count" -eq 2 ] || fail "the icon group holds $count images; expected 2"
  [ ${#group[@]} -eq $((6 + 14 * count)) ] || fail "the icon group is ${#group[@]} bytes for $count images"

  local seen="" i at width height colours planes bits bytes id
  for ((i = 0; i < count; i++)); do
    at=$((6 + 14 * i))
    width=${group[at]} height=${group[at + 1]} colours=${group[at + 2]}
    planes=$(u16 group $((at + 4))) bits=$(u16 group $((at + 6)))
    bytes=$(u32 group $((at + 8))) id=$(u16 group $((at + 12)))
    [ "$width" -eq "$height" ] || fail "image $i is ${width}x${height}; expected a square"
    [ "$bits" -eq 8 ] || fail "image $i (${width}x${height}) has $bits bits per pixel; expected 8"
    [ "$colours" -eq 0 ] || fail "image $i (${width}x${height}) announces $colours colours; 256 are written as 0"
    [ "$planes" -eq 1 ] || fail "image $i (${width}x${height}) has $planes planes; expected 1"
    seen="$seen ${width}x${height}"

    printf '%s\n' "${icons[@]}" | grep -qx "$id:1041" ||
      fail "image $i names icon $id, which is not there in language 1041"
    local image=()
    read_bytes image < <(wrestool -x --raw --type=3 --name="$id" --language=1041 "$exe")
    local colour_row=$(((width + 3) / 4 * 4)) mask_row=$(((width + 31) / 32 * 4))
    local expected=$((40 + 256 * 4 + (colour_row + mask_row) * height))
    [ ${#image[@]} -eq "$bytes" ] || fail "icon $id is ${#image[@]} bytes; its group entry says $bytes"
    [ ${#image[@]} -eq "$expected" ] ||
      fail "icon $id is ${#image[@]} bytes; a ${width}x${height} image at 8 bits is $expected"
    [ "$(u32 image 0)" -eq 40 ] || fail "icon $id does not start with a BITMAPINFOHEADER"
    [ "$(u32 image 4)" -eq "$width" ] || fail "icon $id is $(u32 image 4) pixels wide; its group says $width"
    [ "$(u32 image 8)" -eq $((2 * height)) ] ||
      fail "icon $id has biHeight $(u32 image 8); expected $((2 * height)) (colour pixels and mask)"
    [ "$(u16 image 14)" -eq 8 ] || fail "icon $id has $(u16 image 14) bits per pixel; expected 8"
    [ "$(u32 image 16)" -eq 0 ] || fail "icon $id is compressed ($(u32 image 16))"
    local used
    used=$(u32 image 32)
    [ "$used" -eq 0 ] || [ "$used" -eq 256 ] || fail "icon $id uses $used palette colours; expected 256"
  done
  [ "$(echo "$seen" | tr ' ' '\n' | sort | xargs)" = "16x16 32x32" ] ||
    fail "the images are$seen; expected 32x32 and 16x16"
  [ ${#icons[@]} -eq "$count" ] ||
    fail "${#icons[@]} icon images (${icons[*]}) for a group of $count; no others may be there"
  echo "resource check: $exe carries icon group 101 (1041) with${seen} at 8 bits, 256 colours, and nothing else"
}

if [ "${1:-}" = "--expect-failure" ]; then
  [ $# -eq 3 ] || fail "usage: $0 --expect-failure REGEX PROGRAM.exe"
  output=$(check "$3" 2>&1)
  status=$?
  echo "$output"
  [ $status -ne 0 ] || fail "the check passed; it was expected to fail with /$2/"
  [[ $output =~ $2 ]] || fail "the check failed, but not with /$2/"
  echo "resource check: failed as expected"
  exit 0
fi
[ $# -eq 1 ] || fail "usage: $0 [--expect-failure REGEX] PROGRAM.exe"
check "$1"
