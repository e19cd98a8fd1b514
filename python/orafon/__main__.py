"""python3 -m orafon register|unregister [MODULE...]: what regsvr32 does.

Without a module, the automation servers that come with the package (listed
in servers.txt beside it) are the ones registered."""

import pathlib
import sys

from . import ComError, register_server, unregister_server


def bundled_servers():
    here = pathlib.Path(__file__).resolve().parent
    listing = here / "servers.txt"
    if not listing.exists():
        return []
    return [str(here / line.strip()) for line in listing.read_text().splitlines() if line.strip()]


def main(argv):
    if not argv or argv[0] not in ("register", "unregister"):
        print("usage: python3 -m orafon register|unregister [MODULE...]", file=sys.stderr)
        return 2
    modules = argv[1:] or bundled_servers()
    if not modules:
        print("orafon: no module given and none comes with the package", file=sys.stderr)
        return 2
    action = register_server if argv[0] == "register" else unregister_server
    for module in modules:
        try:
            action(module)
        except ComError as error:
            print(f"orafon: {error}", file=sys.stderr)
            return 1
        print(f"{argv[0]}ed {module}")
    return 0


sys.exit(main(sys.argv[1:]))
