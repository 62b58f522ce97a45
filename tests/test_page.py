"""Loading pages: header, key index and its recovery rules; the writer's normal form."""

import errno
import os
import subprocess
import sys

import lumivex
import pytest

from fixtures.builder import Group, Obj, index_entry, page, page_header, safe_string, u8, u16, u32


def scene(name, body=b"\x01\x00body", **kw):
    return Obj(1, name, body, **kw)


def layer(name, body=b"\x06\x00layer", **kw):
    return Obj(6, name, body, **kw)


SAMPLE = [scene("Foo", object_id=1), layer("Lay", object_id=2), scene("Bar", object_id=3)]


def load(data):
    return lumivex.PrpFile.from_bytes(data)


def names(f):
    return [o.name for o in f]


# --- header ---------------------------------------------------------------


def test_header_values():
    data = page(
        SAMPLE,
        age="Demo",
        page_name="Town",
        sequence_number=0x1234,
        flags=3,
        major_version=71,
        checksum=0xDEADBEEF,
        class_versions=[(1, 2), (6, 9)],
    )
    h = load(data).header
    assert (h.version, h.sequence_number, h.flags, h.major_version, h.checksum) == (
        6,
        0x1234,
        3,
        71,
        0xDEADBEEF,
    )
    assert (h.age_name, h.page_name) == ("Demo", "Town")
    assert 0 < h.data_start <= h.index_start < len(data)


@pytest.mark.parametrize(
    "data",
    [
        b"",
        b"\x06\x00\x00",
        u32(5) + b"\0" * 40,
        page(SAMPLE)[:10],
        u32(6) + u32(0) + u16(0) + u16(3),
    ],
    ids=["empty", "three-bytes", "version-5", "cut-header", "cut-string"],
)
def test_header_failures_from_bytes(data):
    with pytest.raises(OSError) as info:
        load(data)
    assert str(info.value) == "Failed to parse PRP header from bytes"


def test_header_failures_from_file(tmp_path):
    path = tmp_path / 'we"ird\tname.prp'
    path.write_bytes(u32(5) + b"\0" * 40)
    with pytest.raises(OSError) as info:
        lumivex.PrpFile.load(str(path))
    assert str(info.value) == f'Failed to parse header of "{tmp_path}/we\\"ird\\tname.prp"'


def test_missing_file_and_directory(tmp_path):
    missing = str(tmp_path / "missing.prp")
    with pytest.raises(OSError) as info:
        lumivex.PrpFile.load(missing)
    assert str(info.value) == f'Failed to read "{missing}"'
    with pytest.raises(OSError) as info:
        lumivex.PrpFile.load(str(tmp_path))
    assert str(info.value) == f'Failed to read "{tmp_path}"'


def test_data_start_zero_reads_no_class_versions():
    data = page(SAMPLE, no_data_start=True, class_versions=[(1, 1)])
    f = load(data)
    assert f.header.data_start == 0
    assert names(f) == ["Foo", "Bar", "Lay"]
    assert [o.data for o in f][0] == b"\x01\x00body"


# --- key index ------------------------------------------------------------


def test_group_count_zero():
    f = load(page([]))
    assert len(f) == 0 and f.objects() == [] and f.count_by_type() == {}


def test_group_with_no_keys_and_duplicate_groups():
    groups = [
        Group(1, [scene("A")]),
        Group(0x49, []),
        Group(1, [scene("B")]),
    ]
    f = load(page(groups=groups))
    assert names(f) == ["A", "B"]
    # A class is written once, under its first group, with all its keys.
    again = load(f.to_bytes())
    assert names(again) == ["A", "B"]
    assert again.to_bytes() == f.to_bytes()


def test_group_length_ends_before_its_keys():
    objs = [scene("A"), scene("B"), scene("C")]
    entry_len = len(index_entry(objs[0], 0, 0))
    # The length covers the flags, the count and one key and a half: the test
    # is made before each key only, so the second key is read whole.
    f = load(page(groups=[Group(1, objs, length=5 + entry_len + entry_len // 2)]))
    assert names(f) == ["A", "B"]
    f = load(page(groups=[Group(1, objs, length=5 + entry_len)]))
    assert names(f) == ["A"]


def test_truncated_third_key_then_next_group():
    objs = [scene("A"), scene("B"), scene("C")]
    entry_len = len(index_entry(objs[0], 0, 0))
    # Third key cut inside its name: 2 entries + 12 bytes of the third.
    damaged = Group(1, objs, truncate_entries_to=2 * entry_len + 12)
    damaged.length = 5 + 2 * entry_len + 12
    data = page(groups=[damaged, Group(6, [layer("L")])])
    f = load(data)
    assert names(f) == ["A", "B", "L"]
    assert f.objects()[2].data == b"\x06\x00layer"


@pytest.mark.parametrize("cut", [1, 3, 6, 10])
def test_group_header_cut_fails(cut):
    data = page(SAMPLE)
    index_start = load(data).header.index_start
    with pytest.raises(OSError) as info:
        load(data[: index_start + 4 + cut])
    assert str(info.value) == "failed to fill whole buffer"
    assert str(info.value.__cause__) == (
        f"the key index, from byte {index_start}, runs past the end of the page's "
        f"{index_start + 4 + cut} bytes"
    )


def test_index_start_beyond_end():
    data = page(SAMPLE, header_overrides={"index_start": 10_000})
    with pytest.raises(OSError) as info:
        load(data)
    assert str(info.value) == "failed to fill whole buffer"
    assert isinstance(info.value.__cause__, ValueError)
    assert str(info.value.__cause__) == (
        f"the key index starts at byte 10000, past the end of the page's {len(data)} bytes"
    )


def test_huge_counts_with_tiny_data():
    # Four billion groups announced, one present: the parse fails at the
    # second group instead of reserving room for them all.
    data = page(SAMPLE)
    index_start = load(data).header.index_start
    bad = data[:index_start] + u32(0xFFFFFFFF) + data[index_start + 4 :]
    with pytest.raises(OSError):
        load(bad)
    one_group = u16(1) + u32(5) + u8(0) + u32(0xFFFFFFFF)
    f = load(data[:index_start] + u32(1) + one_group)
    assert len(f) == 0


def test_key_data_outside_the_file():
    objs = [scene("In"), scene("Out", data_offset=10, data_len=0xFFFFFFF0)]
    f = load(page(objs))
    inside, outside = f.objects()
    assert inside.data == b"\x01\x00body"
    assert outside.data is None and outside.data_len == 0xFFFFFFF0


def test_key_class_type_is_not_compared_with_its_group():
    f = load(page(groups=[Group(1, [scene("S"), layer("L")])]))
    assert [o.class_type for o in f] == [1, 6]


# --- writer ---------------------------------------------------------------


def normal_page():
    return page(
        [
            scene("Foo", object_id=1, load_mask=0x12),
            layer("Lay", object_id=2, clone_id=3, clone_player_id=4),
            scene("Bar", object_id=3, clone_id=0, clone_player_id=9),
            Obj(0x49, "Snd", b"\x49\x00", location_sequence=7, location_flags=2),
        ],
        class_versions=[(1, 3)],
        checksum=77,
    )


def test_round_trip_is_byte_identical(tmp_path):
    data = normal_page()
    f = load(data)
    assert f.to_bytes() == data
    path = tmp_path / "out.prp"
    f.save(str(path))
    assert path.read_bytes() == data
    loaded = lumivex.PrpFile.load(str(path))
    assert loaded.to_bytes() == data
    # Saving over the file a page was loaded from.
    loaded.save(str(path))
    assert path.read_bytes() == data


@pytest.mark.parametrize(
    "strings", [{"inverted": False}, {"nul": True}, {"top": 0x1}], ids=["plain", "nul", "top-bits"]
)
def test_header_strings_are_written_inverted(strings):
    data = page(SAMPLE, header_overrides={"strings": strings})
    f = load(data)
    assert (f.age_name, f.page_name) == ("Age", "Page")
    out = f.to_bytes()
    assert safe_string("Age") + safe_string("Page") in out
    # The header got shorter or changed bytes; data_start still pads it out.
    assert out != data and len(out) == len(data)
    assert load(out).to_bytes() == out


def test_gap_is_written_as_zeros():
    data = page(SAMPLE, gap=b"\xaa\xbb\xcc")
    out = load(data).to_bytes()
    assert len(out) == len(data)
    assert b"\xaa\xbb\xcc" not in out and out == page(SAMPLE, gap=b"\0\0\0")


@pytest.mark.parametrize(
    "obj_kwargs",
    [
        {"contents": 0x01},
        {"contents": 0x02, "load_mask": 0xFF},
        {"contents": 0x03, "load_mask": 0xFF},
    ],
)
def test_contents_flags_are_derived_again(obj_kwargs):
    data = page([scene("K", **obj_kwargs)])
    f = load(data)
    out = f.to_bytes()
    assert out == page([scene("K")])[: len(out)] or load(out).objects()[0].name == "K"
    assert len(out) < len(data)
    assert load(out).to_bytes() == out


def test_reserved_clone_field_is_written_as_zero():
    from fixtures.builder import key_record

    plain = key_record("K", 1, 0, clone_id=2, clone_player_id=3)
    odd = key_record("K", 1, 0, clone_id=2, clone_player_id=3, reserved=0x5555)
    data = page([scene("K", clone_id=2, clone_player_id=3)])
    damaged = data.replace(plain, odd)
    assert damaged != data
    assert load(damaged).to_bytes() == data


def test_trailing_bytes_are_dropped():
    data = page(SAMPLE)
    assert load(data + b"junk").to_bytes() == data


def test_key_of_no_group_is_not_written():
    groups = [Group(1, [scene("A"), layer("Stray")])]
    out = load(page(groups=groups)).to_bytes()
    assert names(load(out)) == ["A"]


def test_bytes_shorter_than_index_start_get_no_data_region():
    data = page(SAMPLE)
    f = load(data)
    index_start = f.header.index_start
    # Point index_start past the end while the index is still readable there:
    # rebuild the header with a larger index_start and put the index at it.
    header = page_header(
        age="Age",
        page="Page",
        sequence_number=f.header.sequence_number,
        major_version=70,
        data_start=f.header.data_start,
        index_start=len(data) + 100,
    )
    assert len(header) == f.header.data_start
    shorter = header + data[len(header) :]
    out_f = lumivex.PrpFile.from_bytes(shorter + b"\0" * 100 + data[index_start:])
    out = out_f.to_bytes()
    assert out.startswith(header)
    assert out[len(header) :].startswith(data[f.header.data_start : index_start])


def test_index_before_data_start_is_refused():
    data = page(SAMPLE)
    f = load(data)
    bad = page(SAMPLE, header_overrides={"data_start": f.header.index_start + 1})
    g = load(bad)
    with pytest.raises(OSError):
        g.to_bytes()


def test_save_failures_leave_target_alone(tmp_path):
    f = load(normal_page())
    with pytest.raises(OSError) as info:
        f.save(str(tmp_path))
    assert str(info.value) == f'Failed to write "{tmp_path}"'
    missing_dir = str(tmp_path / "no" / "such.prp")
    with pytest.raises(OSError) as info:
        f.save(missing_dir)
    assert str(info.value) == f'Failed to write "{missing_dir}"'
    assert os.listdir(tmp_path) == []


def test_failed_save_keeps_the_existing_file(tmp_path):
    target = tmp_path / "page.prp"
    target.write_bytes(b"previous contents")
    data = page(SAMPLE)
    bad = load(page(SAMPLE, header_overrides={"data_start": load(data).header.index_start + 1}))
    with pytest.raises(OSError):
        bad.save(str(target))
    assert target.read_bytes() == b"previous contents"
    assert os.listdir(tmp_path) == ["page.prp"]
    load(data).save(str(target))
    assert target.read_bytes() == data
    assert os.listdir(tmp_path) == ["page.prp"]


def test_path_with_nul_is_refused(tmp_path):
    with pytest.raises(OSError):
        lumivex.PrpFile.load(str(tmp_path / "a\0b"))
    with pytest.raises(OSError):
        load(page(SAMPLE)).save(str(tmp_path / "a\0b"))
    assert os.listdir(tmp_path) == []


def test_load_from_a_pipe(tmp_path):
    data = page(SAMPLE)
    source = tmp_path / "source"
    source.write_bytes(data * 3000)
    fifo = tmp_path / "pipe.prp"
    os.mkfifo(fifo)
    # Loading holds the interpreter lock, so the writer is another process.
    writer = subprocess.Popen(["cp", str(source), str(fifo)])
    f = lumivex.PrpFile.load(str(fifo))
    assert writer.wait() == 0
    assert names(f) == ["Foo", "Bar", "Lay"]
    assert f.to_bytes() == data


# Reads what a stream that is no page or description gives, in a child whose
# memory stops far below 4 GiB: reading on would run out of it.
READ_ENDLESS = """
import errno, os, resource, sys, lumivex
# AddressSanitizer reserves terabytes of address space for itself.
if "libasan" not in os.environ.get("LD_PRELOAD", ""):
    resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
for load in (lumivex.PrpFile.load, lumivex.AgeFile.load, lumivex.SdlFile().load_file):
    try:
        load(sys.argv[1])
    except OSError as error:
        cause = error.__cause__
        print(errno.errorcode.get(getattr(cause, "errno", None) or 0, "-"), cause)
    except MemoryError:
        print("MemoryError")
"""


def test_a_stream_that_is_not_a_page_is_refused_at_once():
    if not os.path.exists("/dev/zero"):
        pytest.skip("no /dev/zero")
    result = subprocess.run(
        [sys.executable, "-c", READ_ENDLESS, "/dev/zero"], capture_output=True, timeout=120
    )
    too_large = f"EFBIG [Errno {errno.EFBIG}] {os.strerror(errno.EFBIG)}: '/dev/zero'"
    assert result.stdout.decode().splitlines() == [
        "- Unsupported .prp version: 0 (expected 6)",
        too_large,
        too_large,
    ], result.stderr.decode()


@pytest.mark.parametrize("size, loads", [(64 << 20, True), ((64 << 20) + 1, False)])
def test_descriptions_past_64_mib_are_refused(tmp_path, size, loads):
    for name in ("Big.age", "big.sdl"):
        path = tmp_path / name
        with open(path, "wb") as f:
            f.truncate(size)
    readers = [
        lambda: lumivex.AgeFile.load(tmp_path / "Big.age"),
        lambda: lumivex.AgeFile.lint(tmp_path / "Big.age"),
        lambda: lumivex.SdlFile().load_file(tmp_path / "big.sdl"),
    ]
    for read in readers:
        if loads:
            read()
            continue
        with pytest.raises(OSError) as info:
            read()
        assert info.value.__cause__.errno == errno.EFBIG


def test_a_page_that_is_not_a_regular_file_is_refused_without_waiting(tmp_path):
    fifo = tmp_path / "pipe.prp"
    os.mkfifo(fifo)
    regular = tmp_path / "page.prp"
    regular.write_bytes(page(SAMPLE))
    # Without a writer, a FIFO's open would wait for ever; the read of a scan does not.
    scanned = subprocess.run(
        [
            sys.executable,
            "-c",
            "import sys; from lumivex.cli.scan.pages import scan_page\n"
            "for path in sys.argv[1:]: print(scan_page(path).error)",
            str(fifo),
            "/dev/null",
            str(regular),
        ],
        capture_output=True,
        timeout=60,
    )
    assert scanned.stdout.decode().splitlines() == [
        f'Failed to read "{fifo}": not a regular file',
        'Failed to read "/dev/null": not a regular file',
        "None",
    ], scanned.stderr.decode()


def test_repeated_groups_do_not_multiply_the_output():
    # One key, then its class named again by thousands of empty groups: each
    # group used to be written with every key of its class.
    groups = [Group(1, [scene(f"K{i}") for i in range(20)])] + [Group(1, [])] * 3000
    data = page(groups=groups)
    f = load(data)
    out = f.to_bytes()
    assert len(out) <= len(data)
    again = load(out)
    assert names(again) == names(f) == [f"K{i}" for i in range(20)]
    assert again.to_bytes() == out


@pytest.mark.parametrize(
    "raw,shown",
    [
        (b"Caf\xe9", "Caf\ufffd"),
        (b"\xff\xfe\x00x", "\ufffd\ufffd\x00x"),
        (b"\xe9" * 4095, "\ufffd" * 4095),
    ],
    ids=["latin-1", "mixed", "longest"],
)
def test_names_that_are_not_utf8_round_trip(raw, shown):
    data = page([Obj(1, raw, b"\x01\x00")], age=raw, page_name=raw[::-1])
    f = load(data)
    assert f.to_bytes() == data
    assert f.objects()[0].name == shown
    assert f.age_name == shown and f.header.age_name == shown
    assert repr(f).startswith(f"PrpFile('{shown}'")


def test_latin1_page_saves_byte_for_byte(tmp_path):
    data = page([Obj(1, b"Caf\xe9", b"\x01\x00")], age=b"\xc0ge", page_name=b"P\xe2ge")
    f = load(data)
    assert f.to_bytes() == data
    f.save(str(tmp_path / "p.prp"))
    assert (tmp_path / "p.prp").read_bytes() == data


def test_lost_keys_count_what_the_index_announced():
    objs = [scene("A"), scene("B"), scene("C")]
    entry_len = len(index_entry(objs[0], 0, 0))
    assert load(page(objs)).lost_keys == 0
    # The group ends after one key: two announced keys are not read.
    assert load(page(groups=[Group(1, objs, length=5 + entry_len)])).lost_keys == 2
    # The third key is cut short.
    damaged = Group(1, objs, truncate_entries_to=2 * entry_len + 12)
    damaged.length = 5 + 2 * entry_len + 12
    assert load(page(groups=[damaged, Group(6, [layer("L")])])).lost_keys == 1
    # A count far beyond what the group holds.
    assert load(page(groups=[Group(1, [], key_count=0xFFFFFFFF)])).lost_keys == 0xFFFFFFFF
