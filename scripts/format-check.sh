#!/usr/bin/env bash
# Checks that the C and C++ lines changed since a base commit follow the
# committed .clang-format. Only the changed lines are looked at, so older
# code need not be reformatted first. Changes not yet committed count too,
# once git knows the file (a new file must have been added).
#
# The base, in this order:
#   1. $KV_FORMAT_BASE when it is set (any name git takes for a commit);
#   2. where this branch left origin/main (or main, without a remote) when
#      HEAD is not on that line;
#   3. otherwise, on main itself (CI checks a fresh clone of main), the
#      commit before HEAD.
# Without any base (not a git checkout, a shallow clone, the first commit)
# it says so and passes.
#
# On a failure it prints the changes that would fix the format; apply them
# with:  git clang-format <base>
set -euo pipefail
cd "$(dirname "$0")/.."

if ! git rev-parse --verify --quiet HEAD >/dev/null 2>&1; then
  echo "format check: not a git checkout with a commit, skipped"
  exit 0
fi
if ! command -v git-clang-format >/dev/null; then
  echo "format check: git-clang-format is missing (scripts/deps.sh test installs clang-format)"
  exit 1
fi

commit_of() { git rev-parse --verify --quiet "$1^{commit}" 2>/dev/null; }

base=
if [ -n "${KV_FORMAT_BASE:-}" ]; then
  base=$(commit_of "$KV_FORMAT_BASE") || {
    echo "format check: KV_FORMAT_BASE=$KV_FORMAT_BASE names no commit"
    exit 1
  }
else
  head=$(git rev-parse HEAD)
  for ref in origin/main main; do
    if main=$(commit_of "$ref"); then
      fork=$(git merge-base HEAD "$main" 2>/dev/null || true)
      if [ -n "$fork" ] && [ "$fork" != "$head" ]; then
        base=$fork
      fi
      break
    fi
  done
  if [ -z "$base" ]; then
    base=$(commit_of HEAD~1) || base=
  fi
fi
if [ -z "$base" ]; then
  echo "format check: no base commit to compare with, skipped"
  exit 0
fi

status=0
out=$(git clang-format --binary clang-format --extensions c,h,cc,cpp,hpp,cxx,hxx \
        --diff "$base" 2>&1) || status=$?
short=$(git rev-parse --short "$base")
# Older git-clang-format versions exit with 0 whatever they find: the diff
# they print is what tells.
if grep -q '^diff --git' <<<"$out"; then
  echo "$out"
  echo "format check against $short: the lines above need formatting (git clang-format $short)"
  exit 1
elif [ "$status" -ne 0 ]; then
  echo "$out"
  echo "format check: git clang-format failed"
  exit 1
fi
echo "format check against $short: clean"
