# The one place that holds the program's product version. It feeds the Windows
# version record and the version compiled into the POSIX build.
set(TESSEL_VERSION_1 2)
set(TESSEL_VERSION_2 14186)
set(TESSEL_VERSION_3 0)
set(TESSEL_VERSION_4 0)
set(TESSEL_VERSION_DOTTED "${TESSEL_VERSION_1}.${TESSEL_VERSION_2}.${TESSEL_VERSION_3}.${TESSEL_VERSION_4}")
