"""python3 -m varkel.cluster: see ``_command_line``."""

import sys

from ._command_line import main

sys.exit(main(sys.argv[1:]))
