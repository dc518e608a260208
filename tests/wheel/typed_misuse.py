"""Type-checked, never run: one wrong-type call that mypy must report."""

import orvik

orvik.Client("127.0.0.1", port="2327")
