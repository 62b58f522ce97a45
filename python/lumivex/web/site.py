"""What a served PATH holds: its ages, pages and state description files,
found once when the server starts, and what is read from them on demand and
kept: pages, the objects of each page, where references lead and where they
come from, and texture images.

A name that comes in a request is only ever looked up among the files found
here, never joined to a path. A file is served only when it is a regular
file whose real path lies inside the served folder: a link that leads out of
it, a FIFO or a device is listed as not served, with the reason. A file is
read only where the real path of the file the system opened lies inside the
served folder, so that a link swapped in after the check leads nowhere."""

from __future__ import annotations

import io
import os
import stat
import threading
from collections import OrderedDict
from collections.abc import Callable, Hashable, Iterator
from dataclasses import dataclass
from typing import Generic, NamedTuple, TypeVar

import lumivex
from lumivex import folders
from lumivex.age import Age, MissingPage
from lumivex.errors import error_text
from lumivex.references import ReferenceWalk
from lumivex.shapes import printable_text
from lumivex.texture import Layout, TextureError, layout_of, level_image

AGE_SUFFIX, PAGE_SUFFIX, SDL_SUFFIX = ".age", ".prp", ".sdl"
# A folder of this name beside an age may hold its state descriptions.
SDL_FOLDER = "sdl"
# Texture images kept in memory, by their encoded size.
IMAGE_CACHE_BYTES = 64 << 20

Key = TypeVar("Key", bound=Hashable)
Value = TypeVar("Value")


def shown_name(relative: str) -> str:
    """A file's name under the served folder as a request reaches it, with
    forward slashes: bytes that are not UTF-8 become U+FFFD, as they do when
    a request's percent-escapes are decoded."""
    return os.fsencode(relative).decode("utf-8", "replace").replace(os.sep, "/")


@dataclass(frozen=True)
class Unreadable:
    """A file that was found but cannot be shown, and why."""

    reason: str


class Location(NamedTuple):
    """An object of the site: the name of its page and its place in the
    page's index."""

    page: str
    position: int


class Memo(Generic[Key, Value]):
    """Values made once per key and kept. Threads asking for the same key at
    once share one making: the first makes it, the others wait for it; when
    the making fails, the next in line makes it again."""

    def __init__(self, make: Callable[[Key], Value]) -> None:
        self._make = make
        self._values: dict[Key, Value] = {}
        self._making: dict[Key, threading.Lock] = {}
        self._lock = threading.Lock()

    def __call__(self, key: Key) -> Value:
        with self._lock:
            if key in self._values:
                return self._values[key]
            making = self._making.setdefault(key, threading.Lock())
        with making:
            with self._lock:
                if key in self._values:
                    return self._values[key]
            value = self._make(key)
            with self._lock:
                self._values[key] = value
                self._making.pop(key, None)
            return value


class ImageCache:
    """Encoded images by what they show; the least recently used go first
    once they pass a total size."""

    def __init__(self, limit: int) -> None:
        self._limit = limit
        self._size = 0
        self._images: OrderedDict[tuple[str, int, int], bytes] = OrderedDict()
        self._lock = threading.Lock()

    def get(self, key: tuple[str, int, int], make: Callable[[], bytes]) -> bytes:
        with self._lock:
            image = self._images.get(key)
            if image is not None:
                self._images.move_to_end(key)
                return image
        image = make()
        with self._lock:
            if key not in self._images and len(image) <= self._limit:
                self._images[key] = image
                self._size += len(image)
                while self._size > self._limit:
                    _, dropped = self._images.popitem(last=False)
                    self._size -= len(dropped)
        return image


class ServedAge(Age):
    """An age whose pages are read only where the site serves their files: a
    page whose file leads out of the served folder, or is not a regular
    file, is a missing page with that reason."""

    def __init__(self, path: str, description: lumivex.AgeFile, site: Site) -> None:
        super().__init__(path, description)
        self._site = site
        self._inside = site.root

    def load_page(self, name: str, path: str) -> lumivex.PrpFile | MissingPage:
        if os.path.lexists(path):
            refused = self._site.refusal(path)
            if refused is not None:
                return MissingPage(name, path, refused)
        return super().load_page(name, path)


class PageObjects:
    """A page's objects in index order, and the first index of each class
    and name."""

    def __init__(self, page: lumivex.PrpFile) -> None:
        self.objects = page.objects()
        self._first: dict[tuple[int, str], int] | None = None

    def first(self, class_type: int, name: str) -> int | None:
        if self._first is None:
            first: dict[tuple[int, str], int] = {}
            for index, obj in enumerate(self.objects):
                first.setdefault((obj.class_type, obj.name), index)
            self._first = first
        return self._first.get((class_type, name))


class Reached(NamedTuple):
    """One reference of an object: where in the object it lies, its key, and
    the object it finds, or why it finds none."""

    field: str
    key: lumivex.Key
    target: Location | None
    missing: str | None


class Scope:
    """The pages a reference can reach from a page: the pages of its age that
    load, or the page alone. Keys are resolved through the age where there is
    one. Nothing is kept per object: a key is looked up in its page's own
    name index, and the objects that refer to one are found by a walk."""

    def __init__(self, site: Site, age: Age | None, pages: list[tuple[str, lumivex.PrpFile]]):
        self._site = site
        self._age = age
        self._pages = pages
        self._sequences = {page.header.sequence_number for _, page in pages}
        # The pages by identity: an object's page is the very page loaded.
        self._names = {id(page): name for name, page in pages}

    def resolve(self, key: lumivex.Key) -> lumivex.PrpObject | None:
        if self._age is not None:
            return self._age.resolve(key)
        for _, page in self._pages:
            if page.header.sequence_number == key.location_sequence:
                found = page.find(key.name, key.class_type)
                return found[0] if found else None
        return None

    def location(self, obj: lumivex.PrpObject) -> Location | None:
        """Where an object of one of the scope's pages is served."""
        name = self._names.get(id(obj.page))
        return None if name is None else Location(name, obj.index)

    def reach(self, references: list[tuple[str, lumivex.Key]]) -> list[Reached]:
        reached = []
        for field, key in references:
            target = self.resolve(key)
            location = None if target is None else self.location(target)
            missing = None
            if location is None:
                missing = (
                    "finds no object"
                    if key.location_sequence in self._sequences
                    else f"in location 0x{key.location_sequence:08X}, which "
                    + ("no page of this age holds" if self._age else "is not this page's")
                )
            reached.append(Reached(field, key, location, missing))
        return reached

    def referrers(self, location: Location) -> Iterator[tuple[Location, str]]:
        """The objects whose references find the object at that location,
        with the field of each reference, in the order of the pages and of
        their indexes, as they are found. Each call walks every reference of
        the scope, holding a stretch of them at a time."""
        walk = ReferenceWalk([page for _, page in self._pages], False)
        for _, source, _, field, _, target in walk.listed():
            if target is not None and self.location(target) == location:
                source_location = self.location(source)
                assert source_location is not None
                yield source_location, field

    def page_names(self) -> dict[int, str]:
        """The page name in the header of each location the scope's pages
        hold, by its sequence number."""
        names: dict[int, str] = {}
        for _, page in self._pages:
            names.setdefault(page.header.sequence_number, page.header.page_name)
        return names


class Site:
    """The files a PATH holds: an age with its pages and the state
    descriptions beside it, every age, page and state description file under
    a folder (links to folders are not followed), or one page."""

    def __init__(self, path: str) -> None:
        self.path = path
        mode = os.stat(path).st_mode
        folder = stat.S_ISDIR(mode)
        self._base = path if folder else os.path.dirname(path)
        self.root = os.path.realpath(self._base or ".")
        self.ages: dict[str, str] = {}
        self.pages: dict[str, str] = {}
        self.sdl_files: dict[str, str] = {}
        self.not_served: dict[str, str] = {}
        # The name of the age or page PATH names.
        self.start: str | None = None
        self.age = Memo(self._load_age)
        self._page = Memo(self._load_page)
        self.page_objects = Memo(self._list_objects)
        self.sdl = Memo(self._load_sdl)
        self._scope = Memo(self._make_scope)
        self._owners: dict[str, tuple[str, str]] | None = None
        self._lock = threading.Lock()
        self.images = ImageCache(IMAGE_CACHE_BYTES)
        # What PATH is, in the words of the JSON answers: "folder", "age" or "page".
        self.kind = "folder" if folder else "age" if path.lower().endswith(AGE_SUFFIX) else "page"
        if folder:
            self._find_under(path)
        elif self.kind == "age":
            self.start = self._add(path)
            age = self.age(self.start) if self.start is not None else None
            if isinstance(age, ServedAge):
                for page_name in age.pages:
                    page_path = age.page_path(page_name)
                    if page_path is not None and os.path.lexists(page_path):
                        self._add(page_path)
                for page_path in age.unlisted_page_files():
                    self._add(page_path)
            self._find_sdl_beside(self._base)
        else:
            self.start = self._add(path, PAGE_SUFFIX)

    def refusal(self, path: str) -> str | None:
        """Why a file is not served, or None when it is."""
        try:
            mode = os.stat(path).st_mode
        except OSError as error:
            return error.strerror or str(error)
        if not stat.S_ISREG(mode):
            return "not a regular file"
        real = os.path.realpath(path)
        if os.path.commonpath([self.root, real]) != self.root:
            return "it leads outside the served folder"
        return None

    def _add(self, path: str, suffix: str | None = None) -> str | None:
        """Adds a file found under the served folder by its suffix, or as the
        suffix given; returns its name, or None when it is not served."""
        relative = os.path.relpath(path, self._base or ".")
        name = shown_name(relative)
        refused = self.refusal(path)
        if refused is not None:
            self.not_served.setdefault(name, refused)
            return None
        kind = suffix or os.path.splitext(path)[1].lower()
        found = {AGE_SUFFIX: self.ages, PAGE_SUFFIX: self.pages, SDL_SUFFIX: self.sdl_files}[kind]
        known = found.setdefault(name, path)
        if os.path.relpath(known, self._base or ".") != relative:
            # Names whose bytes are not UTF-8 may show as one: the file
            # found first is served, the others listed by their bytes.
            self.not_served.setdefault(
                printable_text(relative),
                "another file served shows the same name (bytes that are not UTF-8 show as U+FFFD)",
            )
            return None
        return name

    def _find_under(self, top: str) -> None:
        for folder, entries in folders.walk(top):
            if isinstance(entries, OSError):
                continue
            for entry in entries:
                kind = os.path.splitext(entry.name)[1].lower()
                if kind not in (AGE_SUFFIX, PAGE_SUFFIX, SDL_SUFFIX):
                    continue
                if not folders.leads_to_folder(entry):
                    self._add(os.path.join(folder, entry.name))

    def _find_sdl_beside(self, folder: str) -> None:
        """The state description files in the folder, then those of its
        folders named sdl, and of theirs, however deep."""
        pending = [folder]
        while pending:
            folder = pending.pop()
            try:
                entries = sorted(os.scandir(folder or "."), key=lambda entry: entry.name)
            except OSError:
                continue
            inner = []
            for entry in entries:
                path = os.path.join(folder, entry.name)
                if entry.name.lower().endswith(SDL_SUFFIX):
                    self._add(path)
                elif entry.name.lower() == SDL_FOLDER and folders.is_folder(entry):
                    inner.append(path)
            pending += reversed(inner)

    def sdl_beside(self, age_name: str) -> list[str]:
        """The state description files beside an age, and in a folder named
        sdl beside it."""
        folder = os.path.dirname(age_name)
        return [
            name
            for name in self.sdl_files
            if os.path.dirname(name) == folder
            or (
                os.path.dirname(os.path.dirname(name)) == folder
                and os.path.basename(os.path.dirname(name)).lower() == SDL_FOLDER
            )
        ]

    def _load_age(self, name: str) -> ServedAge | Unreadable:
        path = self.ages[name]
        try:
            return ServedAge(path, lumivex._lumivex._load_regular_age(path, inside=self.root), self)
        except (OSError, ValueError) as error:
            return Unreadable(error_text(error))

    def owners(self) -> dict[str, tuple[str, str]]:
        """Each page that an age lists, by name: the name of the age and the
        page's name in it."""
        with self._lock:
            if self._owners is not None:
                return self._owners
        owners: dict[str, tuple[str, str]] = {}
        for age_name in self.ages:
            age = self.age(age_name)
            if not isinstance(age, ServedAge):
                continue
            for page_name in age.pages:
                page_path = age.page_path(page_name)
                if page_path is not None:
                    relative = os.path.relpath(page_path, self._base or ".")
                    found = shown_name(relative)
                    # Only the very file served under the name the page shows.
                    served = self.pages.get(found)
                    if (
                        served is not None
                        and os.path.relpath(served, self._base or ".") == relative
                    ):
                        owners.setdefault(found, (age_name, page_name))
        with self._lock:
            self._owners = owners
        return owners

    def page(self, name: str) -> lumivex.PrpFile | Unreadable:
        """A page the site serves, loaded through its age where an age lists it."""
        owner = self.owners().get(name)
        if owner is None:
            return self._page(name)
        age = self.age(owner[0])
        assert isinstance(age, ServedAge)
        page = age.pages[owner[1]]
        return Unreadable(page.reason) if isinstance(page, MissingPage) else page

    def _load_page(self, name: str) -> lumivex.PrpFile | Unreadable:
        path = self.pages[name]
        refused = self.refusal(path)
        if refused is not None:
            return Unreadable(refused)
        # A page swapped for a FIFO since it was found is refused, not waited on.
        try:
            return lumivex._lumivex._load_regular_page(path, inside=self.root)
        except (OSError, ValueError) as error:
            return Unreadable(error_text(error))

    def _list_objects(self, name: str) -> PageObjects:
        page = self.page(name)
        assert not isinstance(page, Unreadable)
        return PageObjects(page)

    def _load_sdl(self, name: str) -> lumivex.SdlFile | Unreadable:
        path = self.sdl_files[name]
        refused = self.refusal(path)
        if refused is not None:
            return Unreadable(refused)
        try:
            return lumivex._lumivex._load_regular_sdl(path, inside=self.root)
        except OSError as error:
            return Unreadable(error_text(error))

    def object(self, name: str, index: int) -> lumivex.PrpObject | None:
        """The object at a place of a page, or None when there is none."""
        page = self.page(name) if name in self.pages else None
        if page is None or isinstance(page, Unreadable):
            return None
        return page[index] if 0 <= index < len(page) else None

    def scope(self, name: str) -> Scope:
        """The pages references from a page can reach."""
        owner = self.owners().get(name)
        return self._scope(owner[0] if owner is not None else name)

    def _make_scope(self, name: str) -> Scope:
        age = self.age(name) if name in self.ages else None
        if not isinstance(age, ServedAge):
            page = self.page(name)
            assert not isinstance(page, Unreadable)
            return Scope(self, None, [(name, page)])
        served = {owner: page for page, owner in self.owners().items() if owner[0] == name}
        pages = []
        for page_name in age.pages:
            found = served.get((name, page_name))
            if found is not None:
                page = self.page(found)
                if not isinstance(page, Unreadable):
                    pages.append((found, page))
        return Scope(self, age, pages)

    def texture(self, name: str, index: int) -> tuple[lumivex.Mipmap, Layout]:
        """The texture at a place of a page and how its levels are stored;
        TextureError when it does not decode or cannot be converted."""
        obj = self.object(name, index)
        if obj is None or obj.class_name != "plMipmap":
            raise LookupError(f"no texture at {index} in {name}")
        try:
            mipmap = obj.as_mipmap()
        except (OSError, ValueError) as error:
            raise TextureError(
                f"cannot decode texture {obj.name!r}: {error_text(error)}"
            ) from error
        return mipmap, layout_of(mipmap)

    def level_png(self, name: str, index: int, level: int) -> bytes:
        """A level of a texture as PNG, kept in the image cache."""

        def encode() -> bytes:
            mipmap, layout = self.texture(name, index)
            if not 0 <= level < max(1, mipmap.num_levels):
                raise LookupError(f"texture {mipmap.name!r} has no level {level}")
            out = io.BytesIO()
            image = level_image(mipmap, layout, level)
            # Fast compression: these images are made for the screen, now.
            image.save(out, "PNG", compress_level=1)
            return out.getvalue()

        return self.images.get((name, index, level), encode)
