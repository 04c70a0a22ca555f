;;a
x: rjmp y
breq x
y: ldil r30,x
ldih r31,x
rcall x
ret
