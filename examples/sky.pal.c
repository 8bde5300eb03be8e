const unsigned short master_Palette[256]={

r: A, g: 28, b: 78
r: 1B, g: 38, b: 84
r: 2C, g: 48, b: 90
r: 3D, g: 59, b: 9C
r: 4F, g: 69, b: A9
r: 60, g: 79, b: B5
r: 71, g: 8A, b: C1
r: 82, g: 9A, b: CD
r: 94, g: AA, b: DA
r: A5, g: BB, b: E6
r: B6, g: CB, b: F2
r: C8, g: DC, b: FF
r: FF, g: C8, b: 78
r: FA, g: 8C, b: 3C
r: DC, g: 50, b: 28
r: 78, g: 1E, b: 3C
