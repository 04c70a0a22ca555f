;;element AND gi=1 i=1
ldi r16,1
lds r17,$0100
and r16,r17
sts $0102,r16
ret
