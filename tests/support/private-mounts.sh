#!/bin/sh
# Runs a test in a mount namespace of its own, where its FullDisk fixture
# (fulldisk.h) may mount a small tmpfs that nobody else sees and that goes
# with the test. Root (CI) gets a plain mount namespace; others a user
# namespace too where the system allows one. Failing both, the test runs as
# it is and its full-disk cases skip with the reason.
if unshare --mount --propagation private true 2>/dev/null; then
    exec unshare --mount --propagation private "$@"
fi
if unshare --user --map-root-user --mount --propagation private true 2>/dev/null; then
    exec unshare --user --map-root-user --mount --propagation private "$@"
fi
exec "$@"
