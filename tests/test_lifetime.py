"""Objects outlive their PrpFile, may be used from several threads, and are
all released again."""

import gc
import sys
import threading

import lumivex

from fixtures.builder import Obj, page
from fixtures.object_bodies import DECODERS

VIEW_TYPES = [lumivex.PrpFile, lumivex.PrpObject, type(iter(lumivex.PrpFile.from_bytes(page([]))))]


def live_instances():
    # Every instance of a class holds a reference to its class.
    gc.collect()
    return [sys.getrefcount(t) for t in VIEW_TYPES]


def decodable_page() -> bytes:
    objs = []
    for i, (method, (class_type, body)) in enumerate(sorted(DECODERS.items()) * 25):
        objs.append(Obj(class_type, f"{method}-{i}", body, object_id=i))
    return page(objs)


def test_threads_decode_while_the_page_is_dropped():
    before = live_instances()
    holder = {"file": lumivex.PrpFile.from_bytes(decodable_page())}
    holder["objects"] = holder["file"].objects()
    ready = threading.Barrier(5)
    errors = []

    def worker(seed):
        try:
            objs = list(holder["objects"])
            ready.wait()
            for _ in range(20):
                for obj in objs[seed::4]:
                    method = next(m for m, (c, _) in DECODERS.items() if c == obj.class_type)
                    repr(getattr(obj, method)())
                    assert obj.data is not None
        except Exception as e:  # collected and reported by the main thread
            errors.append(e)

    def dropper():
        ready.wait()
        holder.clear()

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(4)]
    threads.append(threading.Thread(target=dropper))
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert live_instances() == before


def test_iterator_outlives_its_file():
    before = live_instances()
    f = lumivex.PrpFile.from_bytes(decodable_page())
    it = iter(f)
    del f
    names = [obj.name for obj in it]
    assert len(names) == 25 * len(DECODERS)
    del it, names
    assert live_instances() == before


def properties(view) -> dict:
    names = [n for n, v in vars(type(view)).items() if isinstance(v, type(lumivex.PrpObject.name))]
    return {n: repr(getattr(view, n)) for n in names} | {"repr": repr(view)}


def test_views_own_their_bytes_and_leave_the_page_free():
    before = live_instances()
    f = lumivex.PrpFile.from_bytes(decodable_page())
    objects = [f.objects_of_type(class_type)[0] for class_type, _ in DECODERS.values()]
    views = [getattr(o, method)() for o, method in zip(objects, DECODERS, strict=False)]
    sizes = [len(o.data) for o in objects]
    shown = [properties(v) for v in views]
    del f, objects
    # No file or object is left alive by the views ...
    assert live_instances() == before
    # ... which still show, read afresh from their own copy, what they showed.
    assert [properties(v) for v in views] == shown
    assert all(sys.getsizeof(v) >= size for v, size in zip(views, sizes, strict=False))


def test_variables_and_pages_keep_what_they_came_from_and_are_released(tmp_path):
    classes = [
        lumivex.SdlFile,
        lumivex.SdlDescriptor,
        lumivex.SdlVariable,
        lumivex.AgeFile,
        lumivex.PageEntry,
    ]

    def live():
        gc.collect()
        return [sys.getrefcount(t) for t in classes]

    before = live()
    path = tmp_path / "a.sdl"
    path.write_text("STATEDESC A\n{\nVAR INT x[2] DEFAULT=1 DISPLAYOPTION=red\nVAR $B y\n}\n")
    sdl = lumivex.SdlFile()
    sdl.load_file(str(path))
    variables = sdl.find("A", 0).variables
    # Loads after the descriptor was handed out grow the manager's own lists.
    for _ in range(100):
        sdl.load_file(str(path))
    pages = lumivex.AgeFile.parse("Age", "Page=Hall,3,1\nPage=Yard\n").pages
    del sdl
    assert [repr(v) for v in variables] == [
        "SdlVariable('x', type=Int, count=2, default=Some(\"1\"))",
        "SdlVariable('y', type=StateDescriptor, count=1, default=None)",
    ]
    assert [(p.name, p.seq_suffix, p.flags, p.auto_load) for p in pages] == [
        ("Hall", 3, 1, False),
        ("Yard", 4, 0, True),
    ]
    del variables, pages
    assert live() == before
