"""Cards the tests put into the simulator's slots (scenario "slots" entries)."""

CARD_A = {"present": True, "id": "89860012345678901234", "imsi": "460001234567890", "type": 2,
          "lock": "none"}  # USIM of the target operator
CARD_B = {"present": True, "id": "89860198765432109876", "imsi": "460019876543210", "type": 1,
          "lock": "none"}  # SIM of another operator of the same country


def absent(card):
    """The slot of `card` with the card out (insert brings it in)."""
    return dict(card, present=False)
