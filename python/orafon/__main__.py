"""python3 -m orafon register|unregister MODULE: what regsvr32 does."""

import sys

from . import ComError, register_server, unregister_server


def main(argv):
    if len(argv) != 2 or argv[0] not in ("register", "unregister"):
        print("usage: python3 -m orafon register|unregister MODULE", file=sys.stderr)
        return 2
    try:
        (register_server if argv[0] == "register" else unregister_server)(argv[1])
    except ComError as error:
        print(f"orafon: {error}", file=sys.stderr)
        return 1
    return 0


sys.exit(main(sys.argv[1:]))
