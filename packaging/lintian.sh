#!/usr/bin/env bash
# Builds the Debian package from BUILD, a built build tree, and checks it
# with lintian: any error fails, and so does any warning not accepted below
# with its reason. Overridden tags (packaging/lintian-overrides, shipped in
# the package) and notes below warnings are shown, not counted.
# Usage: packaging/lintian.sh BUILD
set -euo pipefail
build="$(cd "$1" && pwd)"

# Warnings accepted, one tag a line, each with its reason in a comment.
accepted_warnings=(
)

command -v lintian > /dev/null || {
  echo "lintian is missing: .ci/install-deps --all installs it" >&2
  exit 1
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
test -n "$version" || { echo "no CMAKE_PROJECT_VERSION in $build/CMakeCache.txt" >&2; exit 1; }
deb="$build/tolbe_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
(cd "$build" && cpack -G DEB > /dev/null)
test -f "$deb" || { echo "cpack built no $deb" >&2; exit 1; }

# Every tag down to the pedantic ones is shown; lintian's own verdict is
# replaced by the count below.
report=$(lintian --info --pedantic --show-overrides --fail-on none "$deb" 2> /dev/null)
[[ -z $report ]] || echo "$report"
errors=$(grep -c '^E: ' <<< "$report" || true)
warnings=0
while read -r tag; do
  accepted=no
  for allowed in "${accepted_warnings[@]}"; do
    [[ $tag == "$allowed" ]] && accepted=yes
  done
  [[ $accepted == yes ]] || warnings=$((warnings + 1))
done < <(sed -n 's/^W: [^ ]* \([^ ]*\).*/\1/p' <<< "$report")
echo "lintian on $(basename "$deb"): $errors errors, $warnings warnings not accepted"
if ((errors + warnings > 0)); then
  echo "deb lint: 0 passed, 1 failed"
  exit 1
fi
echo "deb lint: 1 passed, 0 failed"
