"""The age and state description parsers against a plain model of their rules,
on generated text: long and short lines, every kind of white space, byte-order
marks, keywords in any case, counts, options and broken lines."""

import math
import re
import struct
import tempfile
from pathlib import Path

import lumivex
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680\u2028\u2029\u202f\u205f\u3000" + "".join(
    map(chr, range(0x2000, 0x200B))
)
TYPES = {
    "INT": "Int",
    "FLOAT": "Float",
    "BOOL": "Bool",
    "STRING32": "String32",
    "KEY": "Key",
    "PLKEY": "Key",
    "STATEDESC": "StateDescriptor",
    "CREATABLE": "Creatable",
    "DOUBLE": "Double",
    "TIME": "Time",
    "BYTE": "Byte",
    "SHORT": "Short",
    "AGETIMEOFDAY": "AgeTimeOfDay",
    "VECTOR3": "Vector3",
    "POINT3": "Point3",
    "RGB": "Rgb",
    "RGBA": "Rgba",
    "QUATERNION": "Quaternion",
    "RGB8": "Rgb8",
    "MATRIX44": "Matrix44",
}
BOM = "\ufeff"


def trim(text):
    return text.strip(WHITE_SPACE)


def words(text):
    return [w for w in re.split(f"[{re.escape(WHITE_SPACE)}]+", text) if w]


def lines(text):
    pieces = text.split("\n")
    return pieces if pieces[-1] else pieces[:-1]


def unsigned(text, largest):
    digits = text[1:] if text.startswith("+") else text
    if re.fullmatch("[0-9]+", digits) and int(digits) <= largest:
        return int(digits)
    return None


def signed32(text):
    if re.fullmatch("[+-]?[0-9]+", text) and -(2**31) <= int(text) < 2**31:
        return int(text)
    return None


def model_variable(type_word, name_word, options):
    display = TYPES.get(type_word.upper())
    name, count = name_word, 1
    if "[" in name_word:
        name, after = name_word.split("[", 1)
        count_text = after[:-1]
        count = 0 if not count_text else unsigned(count_text, 2**64 - 1)
        count = 1 if count is None else count
    if display is None:
        return (name, "StateDescriptor", count, None)
    default = None
    for word in options:
        if word.startswith("DEFAULT="):
            default = word[8:]
    return (name, display, count, default)


def model_sdl(text):
    text = text[1:] if text.startswith(BOM) else text
    finished, open_ = [], None
    for line in map(trim, lines(text)):
        if not line or line[0] == "#" or line == "{":
            continue
        if line.startswith("STATEDESC"):
            line_words = words(line)
            open_ = (line_words[1] if len(line_words) > 1 else "", [0], [])
        elif line == "}":
            if open_:
                finished.append((open_[0], open_[1][0], open_[2]))
            open_ = None
        elif open_:
            first, *rest = words(line)
            if first == "VERSION" and rest:
                open_[1][0] = unsigned(rest[0], 2**32 - 1) or 0
            elif first == "VAR" and len(rest) >= 2:
                open_[2].append(model_variable(rest[0], rest[1], rest[2:]))
    return finished


def model_day_length(value):
    if re.fullmatch(r"[+-]?(inf|infinity|nan)", value, re.IGNORECASE):
        return float(value)
    if not re.fullmatch(r"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?", value):
        return 24.0
    return struct.unpack("f", struct.pack("f", float(value)))[0]


def model_age(content):
    content = content[1:] if content.startswith(BOM) else content
    pages, counter = [], 1
    max_capacity, prefix, day_length = -1, 0, 24.0
    for line in map(trim, lines(content)):
        if not line or line[0] in "#[" or "=" not in line:
            continue
        key, value = map(trim, line.split("=", 1))
        if key == "Page":
            fields = value.split(",")
            suffix = unsigned(fields[1], 2**32 - 1) if len(fields) > 1 else None
            counter = counter if suffix is None else suffix
            flags = unsigned(fields[2], 255) if len(fields) > 2 else None
            pages.append((fields[0], counter, flags or 0))
            counter = (counter + 1) % 2**32
        elif key == "MaxCapacity":
            max_capacity = signed32(value)
            max_capacity = -1 if max_capacity is None else max_capacity
        elif key == "SequencePrefix":
            prefix = signed32(value) or 0
        elif key == "DayLength":
            day_length = model_day_length(value)
    return pages, max_capacity, prefix, day_length


SEPARATORS = [" ", " ", "  ", "\t", "\u3000", "\xa0", "\u2009", "\x85", "\u200b", "\x1c", "\r"]
TYPE_WORDS = ["int", "Int", "FLOAT", "plKey", "rgba8", "RGB8", "$Sub", "\u0131nt", "\ufb02oat"]
TYPE_WORDS += ["\xdf", "\u017fhort", "AgeTimeOfDay", "AGET\u0131MEOFDAY", "QUATERNION", "statedesc"]
NAMES = ["x", "name", "\xe9t\xe9", "a" * 40, "a" * 40 + "b", "n[3]", "n[]", "n[+7]", "n[-1]"]
NAMES += ["n[abc]", "n[5", "n[", "n[2]\u20ac", "n[18446744073709551616]", "N\x00"]
OPTIONS = ["DEFAULT=1", "DEFAULT=", "DEFAULT=(0,0)", "DEFAULTOPTION=VAULT", "DISPLAYOPTION=red"]
OPTIONS += ["DEFAULT", "=", "1", "default=2"]
NUMBERS = ["0", "1", "3", "+4", "007", "4294967295", "4294967296", "-1", "abc", ""]
KEYS = ["Page", "Page", "Page", "page", "DayLength", "MaxCapacity", "SequencePrefix", "Pa ge"]
VALUES = ["A", "Garden", "\xe9t\xe9", "b" * 50, "", "1", "+2", "-3", "255", "256", "4294967295"]
VALUES += ["4294967296", "2147483648", "0x10", "30.5", ".5", "1e3", "-0", "inf", "NaN", "1e", "="]
NOISE = ["#", "[", "{", "}", ";", "VAR", "STATEDESC", "=", ",", "\ufeff", "\u3000", "Page"]


def joined(*parts):
    """Words with a white space or other separator after each."""
    return st.tuples(*(st.tuples(part, st.sampled_from(SEPARATORS)) for part in parts)).map(
        lambda pairs: "".join(w + s for w, s in pairs)
    )


def pick(choices):
    return st.sampled_from(choices)


SDL_LINES = st.one_of(
    joined(pick(["STATEDESC", "STATEDESCx"]), pick(NAMES)),
    pick(["{", "}", " } ", "};"]),
    joined(pick(["VERSION", "version"]), pick(NUMBERS)),
    st.tuples(
        joined(pick(["VAR", "VAR", "var"]), pick(TYPE_WORDS), pick(NAMES)),
        st.lists(joined(pick(OPTIONS)), max_size=4),
    ).map(lambda parts: parts[0] + "".join(parts[1])),
    st.lists(joined(pick(NOISE + TYPE_WORDS + NAMES)), max_size=8).map("".join),
)
AGE_LINES = st.one_of(
    st.tuples(
        joined(pick(KEYS), pick(["=", "= ", "=="])),
        st.lists(pick(VALUES), min_size=1, max_size=4).map(",".join),
    ).map("".join),
    st.lists(joined(pick(NOISE + KEYS + VALUES)), max_size=8).map("".join),
)


def text_of(line):
    return st.tuples(
        st.sampled_from(["", "", "\ufeff", "\ufeff\ufeff", " \ufeff"]),
        st.lists(st.tuples(pick(["", "  ", "\t", "\u3000"]), line), max_size=40),
        st.sampled_from(["\n", "\r\n"]),
    ).map(lambda parts: parts[0] + parts[2].join(i + text for i, text in parts[1]))


def loaded(sdl):
    return [
        (d.name, d.version, [(v.name, v.var_type, v.count, v.default_value) for v in d.variables])
        for d in sdl.descriptors()
    ]


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(text_of(SDL_LINES), min_size=1, max_size=3))
def test_state_descriptions_match_the_model(texts):
    sdl = lumivex.SdlFile()
    read = []
    with tempfile.TemporaryDirectory() as directory:
        for number, text in enumerate(texts):
            path = Path(directory) / f"{number}.sdl"
            path.write_bytes(text.encode())
            assert sdl.load_file(str(path)) == len(model_sdl(text))
            read += model_sdl(text)
    in_order = [d for _, d in sorted(enumerate(read), key=lambda p: (p[1][0].encode(), p[0]))]
    assert loaded(sdl) == in_order
    for name in {d[0] for d in read}:
        versions = [d for d in read if d[0] == name]
        highest = max(d[1] for d in versions)
        found = sdl.find(name, 0)
        assert found.version == highest
        assert [d for d in versions if d[1] == highest][-1][2] == loaded_variables(found)
        for version in {d[1] for d in versions} - {0}:
            first = next(d for d in versions if d[1] == version)
            assert loaded_variables(sdl.find(name, version)) == first[2]


def loaded_variables(descriptor):
    return [(v.name, v.var_type, v.count, v.default_value) for v in descriptor.variables]


@settings(max_examples=300, deadline=None)
@given(text_of(AGE_LINES))
def test_age_descriptions_match_the_model(content):
    age = lumivex.AgeFile.parse("X", content)
    pages, max_capacity, prefix, day_length = model_age(content)
    assert [(p.name, p.seq_suffix, p.flags) for p in age.pages] == pages
    assert (age.max_capacity, age.sequence_prefix) == (max_capacity, prefix)
    assert age.day_length == day_length or (math.isnan(age.day_length) and math.isnan(day_length))
