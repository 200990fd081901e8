#!/usr/bin/env python3
# An application folder of many small files, made by code: 24,000 files of 1
# to 7 KB (text, incompressible resources, pieces of programs) in 600 folders,
# plus three programs of 6 MB (about 110 MB in all).
#   bench/gen-manyfiles.py FOLDER
import os, random, sys
root = sys.argv[1]
rnd = random.Random(7)
words = "alpha beta gamma delta icon theme locale plugin style module data".split()
elf = []
for d in ("/usr/bin", "/usr/lib/x86_64-linux-gnu"):
    for f in sorted(os.listdir(d)):
        p = os.path.join(d, f)
        if os.path.isfile(p) and not os.path.islink(p) and os.path.getsize(p) > 200000:
            elf.append(p)
blob = b"".join(open(p, "rb").read() for p in elf[:60])
for k in range(600):
    folder = os.path.join(root, "res", "group%02d" % (k // 40), "set%03d" % k)
    os.makedirs(folder)
    for i in range(40):
        n = rnd.randint(1024, 7168)
        kind = i % 4
        if kind == 3:
            start = rnd.randrange(0, len(blob) - n)
            data = blob[start:start + n]
        elif kind == 2:
            data = os.urandom(n)
        else:
            data = " ".join(rnd.choice(words) for _ in range(n // 5)).encode()[:n]
        open(os.path.join(folder, "f%02d.%s" % (i, ("txt", "json", "png", "dll")[kind])), "wb").write(data)
for i in range(3):
    start = rnd.randrange(0, max(1, len(blob) - (6 << 20)))
    open(os.path.join(root, "program%d.exe" % i), "wb").write(blob[start:start + (6 << 20)])
