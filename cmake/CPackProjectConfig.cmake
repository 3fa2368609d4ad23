# Read by cpack when it makes the packages. Each Debian package's description
# (CPACK_DEBIAN_<COMPONENT>_DESCRIPTION) starts with its own summary line;
# without this, CPack would put the project's summary in front of all three.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
