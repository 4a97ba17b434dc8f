# The release version of ifMrvln.spi, shown in its version resource and in the
# name of the release package.
set(MRVLN_VERSION_MAJOR 1)
set(MRVLN_VERSION_MINOR 0)
set(MRVLN_VERSION_PATCH 0)
set(MRVLN_VERSION ${MRVLN_VERSION_MAJOR}.${MRVLN_VERSION_MINOR}.${MRVLN_VERSION_PATCH})
