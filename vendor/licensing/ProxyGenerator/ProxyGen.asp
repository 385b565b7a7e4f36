OK
