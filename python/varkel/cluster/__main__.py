"""python3 -m varkel.cluster: see ``_command_line``."""

import sys

from ._command_line import main

if __name__ == "__main__":  # not when a tool walks the package, importing each module
    sys.exit(main(sys.argv[1:]))
