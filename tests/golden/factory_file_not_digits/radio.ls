radio.cfg
