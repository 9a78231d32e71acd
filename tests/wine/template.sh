#!/bin/bash
# Boots the template prefix of this test run; every Wine test copies it (CTest fixture).
source "$(dirname "$0")/lib.sh"
make_template
log "template ready in $WINE_TEMPLATE ($(du -sm "$WINE_TEMPLATE" | cut -f1) MB)"
