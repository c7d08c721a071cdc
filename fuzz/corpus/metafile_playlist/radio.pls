[playlist]
NumberOfEntries=2
File1=http://127.0.0.1:8000/a
Title1=Station A
Length1=-1
File2: http://127.0.0.1:8000/b
Title2=Station B
Length2=60
Version=2
