"""Reads `objdump -d` of a 32-bit DLL on standard input and checks that each
named export returns with `ret $N`, N being the bytes of its arguments
(__stdcall): NAME=N arguments. The export's decorated name _NAME@N must say
the same. An export that tail-calls a member function (jmp) is judged by the
returns of that function. Exits 1 naming each export that differs."""
import re
import sys

want = dict(a.split("=") for a in sys.argv[1:])
funcs, cur = {}, None
for line in sys.stdin:
    m = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
    if m:
        cur = m.group(1)
        funcs[cur] = []
    elif cur is not None and "\t" in line:
        funcs[cur].append(line.rstrip("\n").split("\t")[-1].strip())


def returns(name, depth=0):
    body = funcs.get(name, [])
    found = [i for i in body if re.match(r"^ret[lw]?\b", i)]
    if found or depth > 3:
        return found
    for i in reversed(body):
        m = re.match(r"^jmp\s+[0-9a-f]+ <([^>+]+)>$", i)
        if m:
            return returns(m.group(1), depth + 1)
        if not i.startswith(("nop", "lea", "xchg")):
            break
    return found


bad = 0
for name, n in want.items():
    syms = [f for f in funcs if f.startswith("_" + name + "@")]
    if syms != ["_%s@%s" % (name, n)]:
        print("    %s: decorated as %s, not _%s@%s" % (name, syms or "nothing", name, n))
        bad += 1
        continue
    expect = {"ret", "ret    $0x0"} if n == "0" else {"ret    $0x%x" % int(n)}
    found = returns(syms[0])
    if not found or set(found) - expect:
        print("    %s returns with %s, not %s" % (name, sorted(set(found)) or "no ret", min(expect)))
        bad += 1
sys.exit(1 if bad else 0)
