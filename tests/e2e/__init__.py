"""End-to-end tests: the real build/modemprep against the modem simulator (mpharness).

Run from tests/:  PYTHONPATH=../tools python3 -m unittest e2e.test_hotplug   (ctest does the same,
label e2e).
"""
