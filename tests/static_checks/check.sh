#!/usr/bin/env bash
# Formatting and static checks of the kit's own code, run as a test so that
# CI refuses what the compiler would let through: every C++ file as
# clang-format has it, and kelvor and corvex free of clang-tidy findings.
set -euo pipefail
source_dir=$1
build_dir=$2
cd "$source_dir"

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find kelvor corvex ravoacc32 boards tools tests -name '*.cpp' -o -name '*.h')
fi
echo "clang-format: ${#files[@]} files"
clang-format --dry-run --Werror "${files[@]}"

mapfile -t product < <(ls kelvor/*/*.cpp corvex/config/*.cpp corvex/dram/*.cpp corvex/platform/host/*.cpp)
echo "clang-tidy: ${#product[@]} files"
findings=$(printf '%s\n' "${product[@]}" | xargs -P "$(nproc)" -n 8 clang-tidy -p "$build_dir" --quiet 2>/dev/null |
           grep -E "(warning|error):" || true)
if [ -n "$findings" ]; then
    echo "$findings"
    exit 1
fi
echo "clean"
