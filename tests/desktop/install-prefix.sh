# Sourced by the install checks: installs the build in $build into a temporary
# prefix ($prefix, under $work, removed on exit) and gives fail(), which counts
# failures in $failures.

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

unset DESTDIR
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
}
