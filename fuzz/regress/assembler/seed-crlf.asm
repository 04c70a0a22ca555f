;;c
ldi r16,255
rjmp end
end:
