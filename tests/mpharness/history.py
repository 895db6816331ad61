"""Where the daemon keeps its card history; tools/cardhist decodes it (--json) and writes it
(--encode) in the daemon's own layout."""

HISTORY = "/data/vantorel/radio/radio.cfg"
