"""An age as a whole: its description, the page files found beside it, and
the references that run between the objects of its pages."""

from __future__ import annotations

import os
import threading
from collections.abc import Iterator, Mapping
from dataclasses import dataclass
from typing import NamedTuple

from lumivex._lumivex import (
    AgeFile,
    Key,
    PageEntry,
    PrpFile,
    PrpObject,
    _load_regular_age,
    _load_regular_page,
    _refused_pages,
)
from lumivex.errors import error_text
from lumivex.references import ReferenceWalk

__all__ = ["Age", "MissingPage", "Reference", "age_file_in"]


def age_file_in(folder: str) -> str:
    """The path of the one .age file a folder holds (any case of the
    suffix); ValueError where it holds none or several."""
    found = sorted(name for name in os.listdir(folder) if name.lower().endswith(".age"))
    if len(found) != 1:
        raise ValueError(f"{folder} holds {len(found) or 'no'} .age files, not one")
    return os.path.join(folder, found[0])


@dataclass(frozen=True)
class MissingPage:
    """A page the age lists whose file is missing or does not load."""

    name: str
    path: str
    reason: str


class Reference(NamedTuple):
    """One reference of an object: the object, where in it the reference
    lies ("texture_key", "modifier_keys[2]"), the key, and the object the key
    points at, or None."""

    source: PrpObject
    field: str
    key: Key
    target: PrpObject | None


class Pages(Mapping[str, "PrpFile | MissingPage"]):
    """The age's pages by name, in the order of the .age file; each page is
    loaded the first time it is looked up, then shared."""

    def __init__(self, age: Age) -> None:
        self._age = age

    def __getitem__(self, name: str) -> PrpFile | MissingPage:
        return self._age._page(name)

    def __iter__(self) -> Iterator[str]:
        return iter(self._age._entries)

    def __len__(self) -> int:
        return len(self._age._entries)

    def __repr__(self) -> str:
        return f"<pages of age {self._age.name!r}: {', '.join(self._age._entries)}>"


class Age:
    """An .age file and its pages, found beside it by their page file names.
    Pages load on first use and are shared; the age resolves keys to the
    objects they point at."""

    __slots__ = (
        "_description",
        "_entries",
        "_folder",
        "_index",
        "_loaded",
        "_lock",
        "_path",
        "_refusals",
        "_refused",
    )

    # The folder every page file read must lie in, as the system opens it;
    # None for anywhere.
    _inside: str | None = None

    def __init__(self, path: str, description: AgeFile) -> None:
        self._path = path
        self._folder = os.path.dirname(path)
        self._description = description
        self._entries: dict[str, PageEntry] = {}
        for entry in description.pages:
            self._entries.setdefault(entry.name, entry)
        self._refused: list[tuple[int, str, str]] = _refused_pages(description)
        self._refusals: dict[str, str] = {}
        for _, name, reason in self._refused:
            self._refusals.setdefault(name, reason)
        self._loaded: dict[str, PrpFile | MissingPage] = {}
        self._index: dict[int, list[PrpFile]] | None = None
        self._lock = threading.Lock()

    @staticmethod
    def open(path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> Age:
        """Reads an .age file; its pages are found beside it."""
        shown = os.fsdecode(os.fspath(path))
        return Age(shown, AgeFile.load(path))

    @staticmethod
    def open_regular(path: str) -> Age:
        """Reads an .age file found in a folder rather than named: only a
        regular file, so that a FIFO so named is refused, not waited on."""
        return Age(path, _load_regular_age(path))

    @property
    def name(self) -> str:
        """The age's name: its file's name without the extension."""
        return self._description.age_name

    @property
    def path(self) -> str:
        """The .age file."""
        return self._path

    @property
    def description(self) -> AgeFile:
        """The parsed .age file."""
        return self._description

    @property
    def pages(self) -> Mapping[str, PrpFile | MissingPage]:
        """Page name to its PrpFile, or to a MissingPage with the reason."""
        return Pages(self)

    def page_path(self, name: str) -> str | None:
        """Where the file of the page of that name is looked for: None when
        the age lists no such page, or when its name is not a plain file name
        and could lead out of the age's folder."""
        filename = self._description.prp_filename(name)
        if filename is None or name in self._refusals:
            return None
        return os.path.join(self._folder, filename)

    def refused_pages(self) -> list[tuple[int, str, str]]:
        """The pages whose names are not plain file names (a path separator, a
        NUL, "." or ".."), whose files are never looked for: (line of the .age
        file, name, what is wrong) in the order of the file."""
        return list(self._refused)

    def unlisted_page_files(self) -> list[str]:
        """Page files beside the .age file that are named after this age
        but not listed in it, in name order."""
        listed = {self._description.prp_filename(name) for name in self._entries}
        prefix = f"{self.name}_District_"
        try:
            names = os.listdir(self._folder or ".")
        except OSError:
            return []
        return sorted(
            os.path.join(self._folder, name)
            for name in names
            if name.startswith(prefix) and name.lower().endswith(".prp") and name not in listed
        )

    def load_page(self, name: str, path: str) -> PrpFile | MissingPage:
        """Reads the file of a page, or says why it could not. `pages` calls
        it once per page, on first use; a subclass may refuse some files.
        Only a regular file is read: a FIFO put in a page's place is refused,
        not waited on."""
        try:
            return _load_regular_page(path, inside=self._inside)
        except (OSError, ValueError) as error:
            return MissingPage(name, path, error_text(error))

    def _page(self, name: str) -> PrpFile | MissingPage:
        if name not in self._entries:
            raise KeyError(name)
        with self._lock:
            if name not in self._loaded:
                path = self.page_path(name)
                if path is None:
                    reason = f"the page name is not a plain file name: {self._refusals[name]}"
                    self._loaded[name] = MissingPage(name, "", reason)
                else:
                    self._loaded[name] = self.load_page(name, path)
            return self._loaded[name]

    def loaded_pages(self) -> list[tuple[str, PrpFile]]:
        """The pages that load, as (name, PrpFile), in the order of the .age file."""
        return [(name, page) for name, page in self.pages.items() if isinstance(page, PrpFile)]

    def objects(self) -> Iterator[PrpObject]:
        """Every object of every page that loads, page by page in the order of
        the .age file, each page's objects in index order."""
        for _, page in self.loaded_pages():
            yield from page

    def _pages_by_location(self) -> dict[int, list[PrpFile]]:
        with self._lock:
            index = self._index
        if index is not None:
            return index
        index = {}
        for _, page in self.loaded_pages():
            index.setdefault(page.header.sequence_number, []).append(page)
        with self._lock:
            self._index = index
        return index

    def holds_location(self, location_sequence: int) -> bool:
        """Whether a page of this age that loads has this sequence number."""
        return location_sequence in self._pages_by_location()

    def resolve(self, key: Key) -> PrpObject | None:
        """The object a key points at: the page whose header has the key's
        location sequence, then the object of that page with the key's class
        and name (the first of them, where several share both). None when
        there is none. The object id is not compared: `lumivex check`
        reports a key whose id differs from the index."""
        # Each page looks names up in its own compact index: nothing here
        # holds an object per object of the age.
        for page in self._pages_by_location().get(key.location_sequence, ()):
            found = page.find(key.name, key.class_type)
            if found:
                return found[0]
        return None

    def references(self) -> Iterator[Reference]:
        """Every reference of every object of a decodable class, page by page
        in the order of the .age file, objects in index order, references in
        stored order, with the object it points at as `resolve` finds it.
        Objects whose decode fails are passed over; `lumivex check` reports
        them."""
        walk = ReferenceWalk([page for _, page in self.loaded_pages()], False)
        for _, source, _, field, key, target in walk.listed():
            if key is not None:
                yield Reference(source, field, key, target)

    def __repr__(self) -> str:
        return f"Age({self.name!r}, {len(self._entries)} pages)"
