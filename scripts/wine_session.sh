#!/usr/bin/env bash
# Starts the Wine session that the Windows-side tests share: a server for the
# prefix in WINEPREFIX that stays a minute after its last program ends, and
# the prefix's own services, with their output sent nowhere. Every Wine
# program of a test then starts in milliseconds; a session that a test
# started itself would hold that test's output open until the session ends,
# three seconds after the test. Nothing to do when the session is running.
wineserver -p60 > /dev/null 2>&1 < /dev/null || true
wine cmd /c exit 0 > /dev/null 2>&1 < /dev/null || true
