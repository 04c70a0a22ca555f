;;d
dw 65535
dw $1234
movw r24,r26
adiw r24,63
end1:
