"""Opens files with Pillow in a fresh interpreter and prints, as JSON, what
each gives: format, mode, size and a digest of the pixels, or the error's
type. SCENARIO is when the plug-in is registered, if at all.
Usage: python3 report_opens.py SCENARIO FILE..."""

import hashlib
import json
import sys


def report(path):
    from PIL import Image

    try:
        with Image.open(path) as im:
            pixels = hashlib.sha256(im.tobytes()).hexdigest()
            return [im.format, im.mode, list(im.size), pixels]
    except Exception as error:  # what Pillow raises is part of its result
        return ["error", type(error).__name__]


def register(scenario, first_file):
    if scenario == "before_pillow":
        import morvellane

        morvellane.register()
    from PIL import Image

    if scenario == "before_init":
        import morvellane

        morvellane.register()
        Image.init()
    elif scenario == "after_init":
        Image.init()
        import morvellane

        morvellane.register()
        morvellane.register()
    elif scenario == "import_pillow_module":
        Image.open(first_file).close()  # Pillow has loaded its first readers
        import morvellane.pillow  # noqa: F401
    else:
        assert scenario in ("none", "before_pillow"), scenario


if __name__ == "__main__":
    register(sys.argv[1], sys.argv[2])
    print(json.dumps({path: report(path) for path in sys.argv[2:]}))
