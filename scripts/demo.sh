#!/bin/sh
# The main job: a simulated unit in a private network namespace, shown with
# the lumarc command. It arrives with the management library.
echo "demo: the main job is not available yet; it arrives with the management library" >&2
echo "demo: and the simulated unit. Today: ./scripts/setup.sh && cmake --workflow --preset default" >&2
exit 0
