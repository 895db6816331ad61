radio.cfg
rild.cfg0
