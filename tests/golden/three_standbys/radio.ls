radio.cfg
rild.cfg0
rild.cfg1
rild.cfg2
