#!/usr/bin/env python3
"""Writes data/decimal_cases.txt beside this script: expected results for the engine's exact
decimal, computed with Python's decimal module. Deterministic (seeded).

One case per tab-separated line (a backslash escapes tab, line feed and itself); operands in
stored form; RESULT is a stored form or a fault text:
  parse TEXT ok STORED NORMALISED | parse TEXT err MESSAGE | cmp A B -1|0|1
  add|sub|mul|div|rem A B RESULT | f64 A REPR_OF_FLOAT | u64 A VALUE|none
"""
import pathlib
import random
from decimal import ROUND_HALF_EVEN, Context, Decimal, setcontext

MAX, MAX_SCALE = 2**96 - 1, 28
FAULTS = {"add": "Addition overflowed", "sub": "Subtraction overflowed",
          "mul": "Multiplication overflowed", "div": "Division overflowed"}
rng = random.Random(20240611)


def make(coefficient, scale, negative=False):
    return Decimal((int(negative), tuple(map(int, str(coefficient))), -scale))


def scale_of(d):
    return -d.as_tuple().exponent


def coefficient_of(d):
    return int(abs(d).scaleb(scale_of(d)))


def stored(d):
    text = str(coefficient_of(d)).rjust(scale_of(d) + 1, "0")
    point = len(text) - scale_of(d)
    return "-" * d.is_signed() + text[:point] + "." * (scale_of(d) > 0) + text[point:]


def normalised(d):
    coefficient, scale = coefficient_of(d), scale_of(d)
    while scale > 0 and coefficient % 10 == 0:
        coefficient, scale = coefficient // 10, scale - 1
    return stored(make(coefficient, scale, d.is_signed() and coefficient != 0))


def round_at(numerator, denominator, scale):
    """|numerator / denominator| × 10^scale: (rounded half to even, exact?)."""
    q, r = divmod(abs(numerator).scaleb(scale), abs(denominator))
    return int(q) + (2 * r > abs(denominator) or (2 * r == abs(denominator) and q % 2 == 1)), r == 0


def operate(op, a, b):
    s1, s2 = scale_of(a), scale_of(b)
    if op in ("add", "sub", "mul"):
        numerator, denominator = (a + b if op == "add" else a - b if op == "sub" else a * b), Decimal(1)
        negative, scales = numerator.is_signed(), range(min(s1 + s2 if op == "mul" else max(s1, s2), 28), -1, -1)
    elif b == 0:
        return "Division by zero"
    elif op == "rem":
        return (a % b).quantize(Decimal(1).scaleb(-max(s1, s2)))
    else:  # the smallest exact scale from max(0, s1 - s2), else the largest that fits
        numerator, denominator, negative = a, b, a.is_signed() != b.is_signed()
        scales = range(MAX_SCALE, -1, -1)
        for scale in range(max(0, s1 - s2), MAX_SCALE + 1):
            q, exact = round_at(a, b, scale)
            if exact and q <= MAX:
                scales = [scale]
                break
    for scale in scales:
        q = round_at(numerator, denominator, scale)[0]
        if q <= MAX:
            return make(q, scale, negative)
    return FAULTS[op]


def parse(text):
    body = text[1:] if text[:1] in "+-" else text
    if not text:
        return "Invalid decimal: empty"
    for i, c in enumerate(body):  # the first offending character decides
        if c == "." and "." in body[:i]:
            return "Invalid decimal: two decimal points"
        if c not in "0123456789.":
            return "Invalid decimal: unknown character"
    if body.replace(".", "") == "":
        return "Invalid decimal: no digits found"
    d, fraction = Decimal(text), body.partition(".")[2]
    needed = len(fraction.rstrip("0"))
    if int(abs(d)) > MAX:
        return "Invalid decimal: value out of range"
    if needed > MAX_SCALE:
        return "Invalid decimal: too many fractional digits"
    for scale in range(min(len(fraction), MAX_SCALE), needed - 1, -1):
        if round_at(d, Decimal(1), scale)[0] <= MAX:
            return make(round_at(d, Decimal(1), scale)[0], scale, text.startswith("-"))
    return "Invalid decimal: too many significant digits"


def random_decimal(top_bits=96):
    coefficient = rng.choice([rng.randrange(0, 1000), MAX - rng.randrange(0, 1000),
                              10 ** rng.randrange(0, 29) + rng.randrange(-1, 2),
                              rng.randrange(1, 10**6) * 10 ** rng.randrange(0, 23)]
                             + [rng.getrandbits(rng.randrange(1, top_bits + 1))] * 4)
    scale = rng.choice([0, 28, rng.randrange(0, 29), rng.randrange(0, 29)])
    return make(min(coefficient, MAX), scale, rng.random() < 0.4)


EDGES = ["0", "-0", "0.000", "-0.00", "1", "-1", "1.50", "0.5", "-0.05", "2", "3", "7", "0.1",
         "0.0000000000000000000000000001", "-0.0000000000000000000000000005",
         "79228162514264337593543950335", "-7.9228162514264337593543950335",
         "0.7922816251426433759354395034", "18446744073709551616", "9007199254740993"]
PARSE_TEXTS = ["", "+", "-", ".", "+.", "-.", "..", "1..2", "1.2.3", "1.2.", "1..a", "a", "1a",
               "1 ", " 1", "1_000", "1e5", "--1", "+-1", "1-", "inf", "١", "1,5", "\t1", "1\n",
               "+0", "00", "-00.000", ".5", "5.", "-.5", "+5.", "0001.2300", "+1.50",
               "79228162514264337593543950336", "-79228162514264337593543950336",
               "79228162514264337593543950335.000000000000000000000000000000000",
               "79228162514264337593543950335.5", "7.9228162514264337593543950336",
               "7.92281625142643375935439503350000", "0.00000000000000000000000000001",
               "0.00000000000000000000000000010", "0.000000000000000000000000000100000",
               "1.00000000000000000000000000000", "10.000000000000000000000000000", "1" + "0" * 40, "7922816251426433759354395033.00", "-792281625142643375935439503.40",
               "-0." + "0" * 60, "1." + "0" * 60, "9999999999999999999999999999.9"]


def main():
    setcontext(Context(prec=500, rounding=ROUND_HALF_EVEN, Emax=10**6, Emin=-(10**6)))  # exact
    lines = []

    def emit(*fields):
        lines.append("\t".join(f.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")
                               for f in fields))

    operands = [Decimal(e) for e in EDGES] + [random_decimal() for _ in range(260)]
    texts = PARSE_TEXTS + [f(d) for d in operands[:120] for f in (stored, normalised)]
    for _ in range(250):  # random digit strings around the limits
        digits = ["".join(rng.choice("0123456789") for _ in range(rng.randrange(0, 32))) for _ in "ab"]
        zeros = "0" * rng.choice([0, 0, rng.randrange(0, 20)])
        point = "." * bool(digits[1] or zeros or rng.random() < 0.3)
        texts.append(rng.choice(["", "-", "+"]) + digits[0] + point + digits[1] + zeros)
    for text in texts:
        result = parse(text)
        emit("parse", text, "err", result) if isinstance(result, str) else \
            emit("parse", text, "ok", stored(result), normalised(result))

    pairs = [(Decimal(x), Decimal(y)) for x in EDGES for y in EDGES]
    pairs += [(Decimal(x), Decimal(y)) for x, y in [("1.50", "2"), ("4", "2"), ("2.0", "1"), ("100", "0.5"),
                                                     ("1", "4"), ("10", "3"), ("0", "0.01")]]
    pairs += [(rng.choice(operands), rng.choice(operands)) for _ in range(300)]
    pairs += [(random_decimal(40), random_decimal(40)) for _ in range(150)]
    for _ in range(100):  # sums just past the coefficient limit, often ties
        total = rng.randrange(MAX + 11, 2 * MAX) // 10 * 10 + rng.choice([5, 5, 4, 6])
        first, scale = rng.randrange(total - MAX, MAX + 1), rng.randrange(0, 29)
        pairs.append((make(first, scale), make(total - first, scale, rng.random() < 0.1)))
    for _ in range(80):  # products and quotients one digit past scale 28 or the limit
        five = rng.randrange(0, 10**6) * 10 + rng.choice([5, 5, 3])
        pairs.append((make(five, 28, rng.random() < 0.5), make(1, rng.choice([1, 2]))))
        pairs.append((make(five, 28), make(10, 0)))
        pairs.append((make(rng.randrange(0, 10**6) * 2 + 1, rng.randrange(0, 29)), make(2, 0)))
        x = rng.randrange(2**47, 2**49)
        pairs.append((make(x, rng.randrange(0, 3)), make(MAX // x + rng.randrange(-3, 4), rng.randrange(0, 3))))
    for k in range(1, 10):  # integer quotients at floor(2^96 / 10^k), the room for k more digits
        pairs += [(make(2**96 // 10**k * 7 + r, 0), make(7, 0)) for r in (1, 6)]
    for divisor in range(3, 40):  # quotients between 2^96 - 1/2 and 2^96 at the largest scale
        for divisor_scale in (1, 2):
            dividend = -(-(2 * MAX + 1) * divisor // (2 * 10**divisor_scale))
            if dividend <= MAX and dividend * 10**divisor_scale < (MAX + 1) * divisor:
                pairs += [(make(dividend, s), make(divisor, divisor_scale, s == 9)) for s in (0, 9, 28)]
    for op in ("add", "sub", "mul", "div", "rem"):
        for a, b in pairs:
            result = operate(op, a, b)
            emit(op, stored(a), stored(b), result if isinstance(result, str) else stored(result))
    for a, b in pairs[:500]:
        emit("cmp", stored(a), stored(b), str((a > b) - (a < b)))
        wider = coefficient_of(a) * 10 <= MAX and scale_of(a) < MAX_SCALE  # |a| with one more zero
        emit("cmp", stored(a), stored(make(coefficient_of(a) * 10 ** wider, scale_of(a) + wider)),
             str(-int(a.is_signed() and a != 0)))
    for d in operands + [random_decimal() for _ in range(300)]:
        emit("f64", stored(d), repr(float(d)))
    for d in operands + [Decimal(t) for t in ("18446744073709551615.999", "-0.5", "-1", "0.999")] + \
            [make(rng.randrange(0, 2**70), rng.randrange(0, 6), rng.random() < 0.2) for _ in range(200)]:
        emit("u64", stored(d), str(int(d)) if 0 <= int(d) < 2**64 else "none")  # int() truncates

    path = pathlib.Path(__file__).resolve().parent / "data" / "decimal_cases.txt"
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")
    print(f"{len(lines)} cases written to {path}")


if __name__ == "__main__":
    main()
