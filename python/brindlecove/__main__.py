"""Command line entry: `python3 -m brindlecove`."""

import sys

from brindlecove._brindlecove import profile_hardware


def main(argv=None):
    profile = profile_hardware()
    print(repr(profile))
    print(profile.to_json())
    return 0


if __name__ == "__main__":
    sys.exit(main())
