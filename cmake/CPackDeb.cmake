# CPack reads this when it makes the Debian package: the times of the package's members
# and of the package itself are the release's (packaging/changelog's date), not the
# build's.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_KELTA_RELEASE_EPOCH})
