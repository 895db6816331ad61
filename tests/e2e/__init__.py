"""End-to-end tests: the real build/modemprep against the modem simulator (mpharness).

Run from tests/:  python3 -m unittest e2e.test_startup   (ctest does the same, label e2e).
"""
