#!/usr/bin/env bash
# Checks the corvex boot-flash image:
#   - no undefined symbols (nothing from a C library or libgcc);
#   - no writable state at all: the image runs before RAM exists, so any
#     writable section, common symbol or writable segment is a defect;
#   - the header at offset 0 matches the ELF: magic, version, link address,
#     entry offset (where MemInitEntry really is) and image size;
# and prints the image size.
# Usage: check_image.sh corvex.elf corvex.bin corvex.map nm readelf
set -u
elf=$1 bin=$2 map=$3 nm=$4 readelf=$5

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for f in "$elf" "$bin" "$map"; do
    [ -s "$f" ] || { echo "FAIL: missing or empty: $f"; exit 1; }
done

undefined=$("$nm" -u "$elf")
[ -z "$undefined" ] || fail "undefined symbols:"$'\n'"$undefined"

common=$("$nm" "$elf" | awk '$(NF-1) == "C" || $(NF-1) == "c"')
[ -z "$common" ] || fail "common symbols:"$'\n'"$common"

# Section table: name, type and flags of every section.
sections=$("$readelf" -S -W "$elf" | sed -n 's/^ *\[ *[0-9]*\] *//p' |
    awk '$1 != "NULL" { flags = (NF >= 10) ? $7 : ""; print $1, $2, flags }')
while read -r name type flags; do
    [ -n "$name" ] || continue
    case "$name" in
        .data | .data.* | .bss | .bss.* | .sdata | .sbss | .tdata | .tbss | .got | .got.plt | \
            .init_array | .fini_array | .ctors | .dtors | .dynamic | COMMON)
            fail "section $name: writable state is not allowed" ;;
    esac
    case "$flags" in
        *W*) fail "section $name has the write flag ($flags)" ;;
    esac
    if [ "$type" = "NOBITS" ] && [[ "$flags" == *A* ]]; then
        fail "section $name occupies memory without contents"
    fi
    if [[ "$type" == REL* ]] || [ "$type" = "DYNAMIC" ] || [ "$type" = "DYNSYM" ]; then
        fail "section $name: the image must need no relocation or loader"
    fi
done <<< "$sections"

writable_segments=$("$readelf" -l -W "$elf" | awk '$1 == "LOAD" && $7 ~ /W/')
[ -z "$writable_segments" ] || fail "writable load segment:"$'\n'"$writable_segments"

# Header at offset 0 of the flat image.
read -r magic version_size link entry_offset image_size < <(
    od -An -t x4 -N 20 --endian=little "$bin" | tr -s ' \n' ' ' | sed 's/^ //')
header_version=$((0x$version_size & 0xFFFF))
header_size=$((0x$version_size >> 16))
[ "$magic" = "58565243" ] || fail "header magic is 0x$magic, not 0x58565243 (\"CRVX\")"
[ "$header_version" -eq 1 ] || fail "header version is $header_version, not 1"
[ "$header_size" -eq 20 ] || fail "header size is $header_size, not 20"

first_section=$("$readelf" -S -W "$elf" | sed -n 's/^ *\[ *[0-9]*\] *//p' |
    awk '$1 == ".corvex_header" { print $3 }')
[ -n "$first_section" ] || fail "no .corvex_header section"
[ $((0x${first_section:-0})) -eq $((0x$link)) ] ||
    fail "header link address 0x$link but the image starts at 0x$first_section"
lowest=$("$readelf" -S -W "$elf" | sed -n 's/^ *\[ *[0-9]*\] *//p' |
    awk '$7 ~ /A/ { print $3 }' | sort | head -n 1)
[ "$lowest" = "$first_section" ] || fail "the header is not the first thing in the image"

entry_symbol=$("$nm" "$elf" | awk '$3 == "MemInitEntry" && ($2 == "T" || $2 == "t") { print $1 }')
if [ -z "$entry_symbol" ]; then
    fail "MemInitEntry is not in the image"
else
    [ $((0x$entry_symbol - 0x$link)) -eq $((0x$entry_offset)) ] ||
        fail "header entry offset 0x$entry_offset, but MemInitEntry is at 0x$entry_symbol"
    elf_entry=$("$readelf" -h "$elf" | awk '/Entry point address/ { print $4 }')
    [ $((elf_entry)) -eq $((0x$entry_symbol)) ] ||
        fail "ELF entry $elf_entry is not MemInitEntry (0x$entry_symbol)"
fi

bin_size=$(stat -c %s "$bin")
[ $((0x$image_size)) -eq "$bin_size" ] ||
    fail "header image size $((0x$image_size)) but corvex.bin has $bin_size bytes"
[ $((0x$link + bin_size)) -le $((0x100000000)) ] ||
    fail "the image runs past the top of the 4 GB space"

grep -q MemInitEntry "$map" || fail "corvex.map does not list MemInitEntry"

printf 'corvex image: %d bytes (0x%X), linked at 0x%s, MemInitEntry at offset 0x%X\n' \
    "$bin_size" "$bin_size" "${link^^}" $((0x$entry_offset))

if [ "$failures" -ne 0 ]; then
    echo "$failures image check(s) failed"
    exit 1
fi
echo "image checks passed"
