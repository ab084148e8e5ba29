#!/usr/bin/env python3
"""The real tools/tvl_publish.py publish, held before it copies each file
until the file HOLD goes away: a publish caught in the middle, for tests.

  held_publish.py HOLD BUILD_DIR SITE_DIR
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import tvl_publish  # noqa: E402
from publisher import copying  # noqa: E402

hold, build, site = sys.argv[1:]
place = copying.place_file


def held(*args):
    while os.path.exists(hold):
        time.sleep(0.05)
    return place(*args)


copying.place_file = held
sys.argv = ["tvl_publish.py", "publish", build, "--site", site]
sys.exit(tvl_publish.main())
