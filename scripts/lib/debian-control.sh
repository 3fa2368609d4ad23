# Sourced by the scripts that check the Debian packages.
# debian_control_fault DEB prints what is wrong with the package's control
# files, or nothing: the library and its development files are Multi-Arch:
# same and the tool is not; no package has maintainer scripts (dpkg's
# ldconfig trigger does their work).
debian_control_fault() {
  local deb=$1 package multiarch expected=no  # what dpkg-deb says without the field
  package=$(dpkg-deb --field "$deb" Package)
  multiarch=$(dpkg-deb --field "$deb" Multi-Arch)
  case $package in liborn-dataparser*) expected=same ;; esac
  if [ "$multiarch" != "$expected" ]; then
    echo "$package has Multi-Arch '$multiarch', not '$expected'"
  elif dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E '(pre|post)(inst|rm)$' >/dev/null; then
    echo "$package has maintainer scripts"
  fi
}
