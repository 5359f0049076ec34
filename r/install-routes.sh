#!/usr/bin/env bash
# Installs the R package by R's standard routes from a clean copy of the
# repository (its tracked files and new ones not ignored, so that copies
# left by earlier builds cannot hide a failure), each into a temporary
# library, then loads it and runs one correction:
#   R CMD build r, then R CMD INSTALL of the tarball;
#   R CMD INSTALL r.
# Also checks that neither route leaves in r/ a file git does not ignore.
# Usage: r/install-routes.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/repo" "$work/build" "$work/from-tarball" "$work/from-folder"
git -C "$root" ls-files -z --cached --others --exclude-standard |
  (cd "$root" && while IFS= read -r -d '' file; do
    if [[ -e "$file" || -L "$file" ]]; then printf '%s\0' "$file"; fi
  done) |
  (cd "$root" && tar --null -T - -cf -) | (cd "$work/repo" && tar -xf -)
git -C "$work/repo" init -q
untracked() { git -C "$work/repo" ls-files --others --exclude-standard r; }
before="$(untracked)"

passed=0
failed=0
route() {  # name, library, command...
  local name="$1" library="$2"
  shift 2
  if ! "$@" > "$work/$name.log" 2>&1; then
    cat "$work/$name.log"
    echo "FAILED: $name"
    failed=$((failed + 1))
    return
  fi
  if ! Rscript -e "library(tolbe, lib.loc = '$library')" -e '
      v <- matrix(c(25.311, -1.6725, 13.0447, 5.0939, -1.6725, 17.7073, -10.7549, 9.468,
                    13.0447, -10.7549, 1372.0356, 52.7834, 5.0939, 9.468, 52.7834, 351.5625), 4,
                  dimnames = rep(list(c("x1", "x2", "y1", "y2")), 2))
      s <- matrix(c(36.4816, 6.1608, 6.1608, 16.6464), 2, dimnames = rep(list(c("x1", "x2")), 2))
      fit <- lawley(v, s)
      stopifnot(abs(fit$cor["x1", "x2"] - 0.25) < 5e-9, fit$diagnostics$sign_changes == 1L)' \
      > "$work/$name-run.log" 2>&1; then
    cat "$work/$name-run.log"
    echo "FAILED: $name (loading it and correcting)"
    failed=$((failed + 1))
    return
  fi
  if [[ "$(untracked)" != "$before" ]]; then
    echo "FAILED: $name left files in r/ that git does not ignore:"
    diff <(echo "$before") <(untracked) || true
    failed=$((failed + 1))
    return
  fi
  echo "ok: $name"
  passed=$((passed + 1))
}

build_and_install() {
  (cd "$work/build" && R CMD build --no-build-vignettes "$work/repo/r") || return 1
  if tar -tvzf "$work"/build/tolbe_*.tar.gz | grep -q '^l'; then
    echo "the tarball holds symbolic links"
    return 1
  fi
  R CMD INSTALL -l "$work/from-tarball" "$work"/build/tolbe_*.tar.gz
}
route "R CMD build r, then R CMD INSTALL of the tarball" "$work/from-tarball" build_and_install
route "R CMD INSTALL r" "$work/from-folder" R CMD INSTALL -l "$work/from-folder" "$work/repo/r"

echo "R install routes: $passed passed, $failed failed"
((failed == 0))
