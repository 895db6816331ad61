radio.cfg
rild.cfg0
rild.cfg1
