"""lumivex Python module."""

import builtins
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from typing import Literal, NamedTuple, SupportsIndex, final, overload, type_check_only

import PIL.Image
from _typeshed import ReadableBuffer, StrOrBytesPath, SupportsRead
from typing_extensions import Buffer

from lumivex.texture import MipmapLevel

# What replace() takes for a colour and for a list of keys.
_Color = list[float] | tuple[float, float, float, float]
_Keys = list[Key] | tuple[Key, ...]

__all__ = [
    "PrpFile",
    "PrpObject",
    "PageHeaderInfo",
    "SceneObject",
    "Mipmap",
    "Material",
    "Layer",
    "PythonFileMod",
    "PythonParam",
    "ResponderMod",
    "PhysicalData",
    "SoundInfo",
    "AgeFile",
    "PageEntry",
    "SdlFile",
    "SdlDescriptor",
    "SdlVariable",
    "Key",
    "PageBuilder",
    "LintProblem",
    "class_name",
    "save_file",
    "save_files",
    "enable_logging",
    "disable_logging",
]

def enable_logging(level: Literal["error", "warn", "info", "debug", "trace"] = "warn") -> None:
    """Forward the records of the readers at this level and the more severe ones ('error', 'warn', 'info', 'debug' or 'trace') to Python's logging: to the logger 'lumivex' and its children named after the emitting module, as 'lumivex.sdl.descriptor'."""

def disable_logging() -> None:
    """Stop forwarding records: nothing is logged, as before enable_logging."""

def class_name(class_type: int) -> str:
    """Lookup class type names by ID."""

def _float_text(value: float, /) -> str | None:
    """The shortest positional text that reads back as the same
    single-precision value ('0.5', '3', '0.00001', 'NaN', 'inf'); None for a
    float that no single-precision value equals."""

def _paired_objects(a: PrpFile, b: PrpFile) -> tuple[list[tuple[int, int]], list[int], list[int]]:
    """The objects of two PrpFiles paired by class and name, several of one class and name in index order: ([(index in a, index in b)] of the pairs whose bytes or keys differ, in a's order; the indexes of the objects only in a; those only in b)."""

def _refused_pages(age: AgeFile) -> list[tuple[int, str, str]]:
    """The pages of an AgeFile whose names are not plain file names, so that
    no page file is looked for: [(line, name, reason)] in list order."""

def _load_regular_page(path: StrOrBytesPath, inside: StrOrBytesPath | None = None) -> PrpFile:
    """Load a page as PrpFile.load does, but open the file without waiting
    and refuse anything but a regular file, so that a file replaced by a FIFO
    never blocks. With inside, a folder, refuse a file whose real path, as
    the system opened it, lies outside it."""

def _load_regular_age(path: StrOrBytesPath, inside: StrOrBytesPath | None = None) -> AgeFile:
    """Load an .age file as AgeFile.load does, but open the file without
    waiting and refuse anything but a regular file. With inside, a folder,
    refuse a file whose real path, as the system opened it, lies outside it."""

def _load_regular_sdl(path: StrOrBytesPath, inside: StrOrBytesPath | None = None) -> SdlFile:
    """A new SdlFile with one file loaded as load_file does, but open the
    file without waiting and refuse anything but a regular file. With inside,
    a folder, refuse a file whose real path, as the system opened it, lies
    outside it."""

def save_file(path: StrOrBytesPath, data: ReadableBuffer) -> None:
    """Write bytes to a file as PrpFile.save writes a page: through a new file
    renamed over the old one where it can be, else in place, leaving the old
    content whole on any failure it sees."""

def save_files(
    files: Sequence[tuple[StrOrBytesPath, ReadableBuffer]],
    *,
    in_place: bool = False,
    dry_run: bool = False,
) -> None:
    """Write several files, given as (path, data) pairs, as one change as nearly as the file system allows: every new file is written and synced beside its target before the first is renamed over it, so that a failure up to there changes nothing; a failure after it names the files replaced and those left as they were. A file that could only be written in place (other hard links, a folder that takes no new files, an owner that cannot be kept) is refused before anything is written, unless in_place. With dry_run, only what comes before the writing: every file is checked and its new file made and removed, so that a save that would be refused is, and nothing is written; a file that is not a regular one is checked for the right to write it, not opened. A failure of the system is the OSError of its errno, whose filename is the path of the file it is about."""

# The class each decoder is for, mapped to the PrpObject method that runs it,
# in the order of the methods.
decoder_methods: Mapping[int, str]

def _resolve_references(
    pages: Sequence[PrpFile],
    problems_only: bool,
    shared: Callable[[list[tuple[int, PrpObject, int]]], object],
    each: Callable[[list[tuple[int, PrpObject, str, str, Key | None, PrpObject | None]]], object],
) -> int:
    """Decode every object of the pages whose class a decoder is for and resolve each reference it reads among the pages' keys. Calls shared once with [(page index, first object, count)], the objects of a page that share a location, class and name; then each with lists of (page index, source, status, field, key, target), a stretch of references at a time, in page and index order, with status 'found', 'other id', 'missing', 'outside' or 'undecodable' (then field is the decode's error and key is None); with problems_only, found references are only counted. Returns the number of references."""

@final
class PrpFile:
    """A loaded .prp (Plasma Resource Page) file."""
    def __copy__(self) -> PrpFile: ...
    def __deepcopy__(self, memo: object, /) -> PrpFile: ...
    @staticmethod
    def load(path: StrOrBytesPath) -> PrpFile:
        """Load a PRP file from disk."""
    @staticmethod
    def from_bytes(data: bytes) -> PrpFile:
        """Load a PRP file from bytes."""
    @staticmethod
    def from_buffer(obj: Buffer) -> PrpFile:
        """Load a PRP file from any object with the buffer protocol (bytearray, memoryview, mmap)."""
    @staticmethod
    def from_file(fileobj: SupportsRead[Buffer]) -> PrpFile:
        """Load a PRP file from a binary file object, read to its end."""
    def save(self, path: StrOrBytesPath) -> None:
        """Save the PRP file to disk (byte-identical round-trip)."""
    def to_bytes(self) -> bytes:
        """Serialize to bytes."""
    @property
    def age_name(self) -> str:
        """Age name from the page header."""
    @property
    def page_name(self) -> str:
        """Page name from the page header."""
    def objects(self) -> list[PrpObject]:
        """Get all objects as a list."""
    def objects_of_type(self, class_type: int) -> list[PrpObject]:
        """Get objects by class type ID."""
    def objects_by_name(self, class_name: str) -> list[PrpObject]:
        """Get objects by class type name (e.g., "plSceneObject", "plDrawableSpans")."""
    def count_by_type(self) -> dict[str, int]:
        """Count objects by class type."""
    @property
    def header(self) -> PageHeaderInfo:
        """Get the page header info."""
    @property
    def lost_keys(self) -> int:
        """Keys the index announced but that could not be read (0 when none was lost)."""
    def find(self, name: str, class_type: int | str | None = None) -> list[PrpObject]:
        """The objects with this name, in index order: of every class, or of one class given by its id or its name."""
    def __len__(self) -> int: ...
    def __iter__(self) -> ObjectIterator: ...
    @overload
    def __getitem__(self, item: SupportsIndex | Key, /) -> PrpObject: ...
    @overload
    def __getitem__(self, item: slice, /) -> list[PrpObject]: ...
    def __contains__(self, item: object, /) -> bool: ...

@final
@type_check_only
class ObjectIterator:
    def __iter__(self) -> ObjectIterator: ...
    def __next__(self) -> PrpObject: ...

@final
class PageHeaderInfo:
    def __copy__(self) -> PageHeaderInfo: ...
    def __deepcopy__(self, memo: object, /) -> PageHeaderInfo: ...
    @property
    def version(self) -> int:
        """Format version (always 6)."""
    @property
    def sequence_number(self) -> int:
        """Location sequence number of the page."""
    @property
    def flags(self) -> int:
        """Location flags of the page."""
    @property
    def age_name(self) -> str:
        """Age name."""
    @property
    def page_name(self) -> str:
        """Page name."""
    @property
    def major_version(self) -> int:
        """Major version of the engine that wrote it."""
    @property
    def checksum(self) -> int:
        """Checksum, as stored (never verified)."""
    @property
    def data_start(self) -> int:
        """Offset of the object data region."""
    @property
    def index_start(self) -> int:
        """Offset of the key index."""
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PrpObject:
    """A single object in a PRP file."""
    def __copy__(self) -> PrpObject: ...
    def __deepcopy__(self, memo: object, /) -> PrpObject: ...
    @property
    def name(self) -> str:
        """Object name."""
    @property
    def class_type(self) -> int:
        """Class type ID."""
    @property
    def class_name(self) -> str:
        """Human-readable class type name."""
    @property
    def object_id(self) -> int:
        """Object ID."""
    @property
    def location_sequence(self) -> int:
        """Location sequence number."""
    @property
    def data(self) -> bytes | None:
        """Raw object data as bytes."""
    @property
    def data_len(self) -> int:
        """Data length in bytes."""
    @property
    def key(self) -> Key:
        """The object's own key, from the page's index."""
    @property
    def page(self) -> PrpFile:
        """The PrpFile the object belongs to."""
    @property
    def index(self) -> int:
        """The object's position in its page's index."""
    def as_scene_object(self) -> SceneObject:
        """Parse as a SceneObject (if class_type matches)."""
    def as_mipmap(self) -> Mipmap:
        """Parse as a Mipmap texture."""
    def as_material(self) -> Material:
        """Parse as a Material (hsGMaterial)."""
    def as_layer(self) -> Layer:
        """Parse as a Layer (plLayer)."""
    def as_python_file_mod(self) -> PythonFileMod:
        """Parse as a PythonFileMod."""
    def as_responder(self) -> ResponderMod:
        """Parse as a ResponderModifier."""
    def as_physical(self) -> PhysicalData:
        """Parse as a plPXPhysical."""
    def as_sound(self) -> SoundInfo:
        """Parse as a plWin32Sound."""
    def references(self) -> list[tuple[str, Key]]:
        """The references this object's decoder reads, as (field, Key) pairs in stored order; an empty list for a class no decoder is for."""
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class SceneObject:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> SceneObject: ...
    def __deepcopy__(self, memo: object, /) -> SceneObject: ...
    @property
    def name(self) -> str:
        """Object name."""
    @property
    def draw_interface_names(self) -> list[str]:
        """Names of the drawable interfaces (none or one)."""
    @property
    def coord_interface_name(self) -> str | None:
        """Name of the coordinate interface, or None."""
    @property
    def modifier_names(self) -> list[str]:
        """Names of the modifiers, in stored order."""
    @property
    def draw_interface_keys(self) -> list[Key]:
        """Keys of the drawable interfaces (none or one)."""
    @property
    def coord_interface_key(self) -> Key | None:
        """Key of the coordinate interface, or None."""
    @property
    def modifier_keys(self) -> list[Key]:
        """Keys of the modifiers, in stored order."""
    def to_bytes(self) -> bytes:
        """The object's bytes, as the view was decoded from or replace() made them."""
    def replace(
        self,
        *,
        draw_interface_keys: _Keys = ...,
        coord_interface_key: Key | None = ...,
        modifier_keys: _Keys = ...,
    ) -> SceneObject:
        """A new view with the given properties changed and every other byte of the object as it was. A value equal to the one shown keeps its stored bytes."""
    def __replace__(
        self,
        *,
        draw_interface_keys: _Keys = ...,
        coord_interface_key: Key | None = ...,
        modifier_keys: _Keys = ...,
    ) -> SceneObject: ...

@final
class Mipmap:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> Mipmap: ...
    def __deepcopy__(self, memo: object, /) -> Mipmap: ...
    @property
    def name(self) -> str:
        """Texture name."""
    @property
    def width(self) -> int:
        """Width of the top level in pixels."""
    @property
    def height(self) -> int:
        """Height of the top level in pixels."""
    @property
    def num_levels(self) -> int:
        """Number of levels."""
    @property
    def compression_type(self) -> int:
        """Compression: 0 uncompressed, 1 block-compressed (DXT)."""
    @property
    def dxt_type(self) -> int:
        """Block format (1 DXT1, 5 DXT5), or pixel format when uncompressed (0: 32-bit B,G,R,A)."""
    @property
    def total_size(self) -> int:
        """Size of every level's pixels, as stored."""
    @property
    def pixel_data(self) -> bytes:
        """Stored bytes of every level, the top level first."""
    @property
    def levels(self) -> list[MipmapLevel]:
        """Each level stored whole as (width, height, data), the full-size level first; none for a format whose levels are not known."""
    def to_image(self, level: int = 0) -> PIL.Image.Image:
        """A level as an RGBA Pillow image (Pillow comes with the images extra)."""
    def to_bytes(self) -> bytes:
        """The object's bytes, as the view was decoded from or replace() made them."""
    def replace(self) -> Mipmap:
        """A new view with the given properties changed and every other byte of the object as it was. A value equal to the one shown keeps its stored bytes."""
    def __replace__(self) -> Mipmap: ...
    @classmethod
    def from_image(
        cls,
        name: str,
        image: PIL.Image.Image | StrOrBytesPath,
        *,
        format: Literal["dxt1", "dxt5", "argb"] = "dxt5",
        levels: int | None = None,
    ) -> Mipmap:
        """A new texture made from a Pillow image or an image file: 'dxt1' (no alpha), 'dxt5' or 'argb' (32-bit B,G,R,A), with every level down to 1x1 unless levels says how many, each downscaled from the one before. Width and height must be powers of two. Its own key is of location 0 and object id 0; bits per pixel, the block size and the bytes per row are stored as the format has them, the space, flags and modified time as 0."""

@final
class Material:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> Material: ...
    def __deepcopy__(self, memo: object, /) -> Material: ...
    @property
    def layer_names(self) -> list[str]:
        """Names of the material's layers, in stored order."""
    @property
    def layer_keys(self) -> list[Key]:
        """Keys of the material's layers, in stored order."""
    def to_bytes(self) -> bytes:
        """The object's bytes, as the view was decoded from or replace() made them."""
    def replace(self, *, layer_keys: _Keys = ...) -> Material:
        """A new view with the given properties changed and every other byte of the object as it was. A value equal to the one shown keeps its stored bytes."""
    def __replace__(self, *, layer_keys: _Keys = ...) -> Material: ...

@final
class Layer:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> Layer: ...
    def __deepcopy__(self, memo: object, /) -> Layer: ...
    @property
    def name(self) -> str:
        """Layer name."""
    @property
    def texture_name(self) -> str | None:
        """Name of the layer's texture, or None."""
    @property
    def blend_flags(self) -> int:
        """Blend flags."""
    @property
    def shade_flags(self) -> int:
        """Shade flags."""
    @property
    def misc_flags(self) -> int:
        """Miscellaneous flags."""
    @property
    def z_flags(self) -> int:
        """Depth-buffer flags."""
    @property
    def uv_channel(self) -> int:
        """UV channel (the low byte of the UVW source)."""
    @property
    def opacity(self) -> float:
        """Opacity, 0.0 to 1.0."""
    @property
    def preshade_color(self) -> list[float]:
        """Preshade colour: red, green, blue, alpha."""
    @property
    def runtime_color(self) -> list[float]:
        """Runtime colour: red, green, blue, alpha."""
    @property
    def ambient_color(self) -> list[float]:
        """Ambient colour: red, green, blue, alpha."""
    @property
    def specular_color(self) -> list[float]:
        """Specular colour: red, green, blue, alpha."""
    @property
    def texture_key(self) -> Key | None:
        """Key of the layer's texture, or None."""
    def to_bytes(self) -> bytes:
        """The object's bytes, as the view was decoded from or replace() made them."""
    def replace(
        self,
        *,
        blend_flags: int = ...,
        shade_flags: int = ...,
        misc_flags: int = ...,
        z_flags: int = ...,
        uv_channel: int = ...,
        opacity: float = ...,
        preshade_color: _Color = ...,
        runtime_color: _Color = ...,
        ambient_color: _Color = ...,
        specular_color: _Color = ...,
        texture_key: Key | None = ...,
    ) -> Layer:
        """A new view with the given properties changed and every other byte of the object as it was. A value equal to the one shown keeps its stored bytes."""
    def __replace__(
        self,
        *,
        blend_flags: int = ...,
        shade_flags: int = ...,
        misc_flags: int = ...,
        z_flags: int = ...,
        uv_channel: int = ...,
        opacity: float = ...,
        preshade_color: _Color = ...,
        runtime_color: _Color = ...,
        ambient_color: _Color = ...,
        specular_color: _Color = ...,
        texture_key: Key | None = ...,
    ) -> Layer: ...

@final
class PythonFileMod:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> PythonFileMod: ...
    def __deepcopy__(self, memo: object, /) -> PythonFileMod: ...
    @property
    def name(self) -> str:
        """Object name."""
    @property
    def python_file(self) -> str:
        """Name of the script file, without extension."""
    @property
    def receiver_names(self) -> list[str]:
        """Names of the objects that receive the script's messages."""
    @property
    def receiver_keys(self) -> list[Key]:
        """Keys of the objects that receive the script's messages."""
    @property
    def params(self) -> list[PythonParam]:
        """The script's parameters, in stored order."""
    def to_bytes(self) -> bytes:
        """The object's bytes, as the view was decoded from or replace() made them."""
    def replace(
        self,
        *,
        python_file: str = ...,
        receiver_keys: _Keys = ...,
        params: list[PythonParam] | tuple[PythonParam, ...] = ...,
    ) -> PythonFileMod:
        """A new view with the given properties changed and every other byte of the object as it was. A value equal to the one shown keeps its stored bytes."""
    def __replace__(
        self,
        *,
        python_file: str = ...,
        receiver_keys: _Keys = ...,
        params: list[PythonParam] | tuple[PythonParam, ...] = ...,
    ) -> PythonFileMod: ...

@final
class PythonParam:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> PythonParam: ...
    def __deepcopy__(self, memo: object, /) -> PythonParam: ...
    @property
    def id(self) -> int:
        """Parameter id."""
    @property
    def param_type(self) -> str:
        """The value with its kind, as Int(3) or String("s")."""
    @property
    def value(self) -> str:
        """The value as text."""
    @property
    def kind(self) -> Literal["Int", "Float", "Bool", "String", "Key", "None"]:
        """The kind of value: Int, Float, Bool, String, Key or None."""
    @property
    def typed_value(self) -> int | float | bool | str | Key | None:
        """The value as an int, float, bool, str or Key; None for an absent key or no value."""
    def replace(self, *, typed_value: int | float | bool | str | Key | None = ...) -> PythonParam:
        """A new parameter of the same id and kind with this value: an int, float, bool or str, a Key or None, as the kind holds."""
    def __replace__(
        self, *, typed_value: int | float | bool | str | Key | None = ...
    ) -> PythonParam: ...

@final
class ResponderMod:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> ResponderMod: ...
    def __deepcopy__(self, memo: object, /) -> ResponderMod: ...
    @property
    def name(self) -> str:
        """Object name."""
    @property
    def num_states(self) -> int:
        """Number of states."""
    @property
    def cur_state(self) -> int:
        """Index of the current state."""
    @property
    def enabled(self) -> bool:
        """Whether the responder is enabled."""
    @property
    def receiver_keys(self) -> list[Key]:
        """Keys of every receiver of every command, in stored order."""
    def to_bytes(self) -> bytes:
        """The object's bytes, as the view was decoded from or replace() made them."""
    def replace(
        self, *, cur_state: int = ..., enabled: bool = ..., receiver_keys: _Keys = ...
    ) -> ResponderMod:
        """A new view with the given properties changed and every other byte of the object as it was. A value equal to the one shown keeps its stored bytes."""
    def __replace__(
        self, *, cur_state: int = ..., enabled: bool = ..., receiver_keys: _Keys = ...
    ) -> ResponderMod: ...

@final
class PhysicalData:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> PhysicalData: ...
    def __deepcopy__(self, memo: object, /) -> PhysicalData: ...
    @property
    def name(self) -> str:
        """Object name."""
    @property
    def mass(self) -> float:
        """Mass (0.0 for a static object)."""
    @property
    def friction(self) -> float:
        """Friction coefficient."""
    @property
    def restitution(self) -> float:
        """Restitution (bounciness)."""
    @property
    def group(self) -> str:
        """Collision group, by name."""
    @property
    def bounds_type(self) -> str:
        """Shape of the collision bounds, by name."""
    @property
    def num_verts(self) -> int:
        """Number of vertices of a hull or mesh shape (0 for other shapes)."""
    @property
    def num_faces(self) -> int:
        """Number of triangles of a mesh shape (0 for other shapes)."""
    @property
    def reference_keys(self) -> list[Key]:
        """Keys of the four references after the collision group, those present, in stored order."""
    def to_bytes(self) -> bytes:
        """The object's bytes, as the view was decoded from or replace() made them."""
    def replace(
        self,
        *,
        mass: float = ...,
        friction: float = ...,
        restitution: float = ...,
        reference_keys: _Keys = ...,
    ) -> PhysicalData:
        """A new view with the given properties changed and every other byte of the object as it was. A value equal to the one shown keeps its stored bytes."""
    def __replace__(
        self,
        *,
        mass: float = ...,
        friction: float = ...,
        restitution: float = ...,
        reference_keys: _Keys = ...,
    ) -> PhysicalData: ...

@final
class SoundInfo:
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> SoundInfo: ...
    def __deepcopy__(self, memo: object, /) -> SoundInfo: ...
    @property
    def name(self) -> str:
        """Sound name."""
    @property
    def sound_file(self) -> str:
        """Name of the sound's file."""
    @property
    def volume(self) -> float:
        """Volume, 0.0 to 1.0."""
    @property
    def is_3d(self) -> bool:
        """Whether the sound is placed in 3D space."""
    @property
    def auto_start(self) -> bool:
        """Whether the sound starts on load."""
    @property
    def looping(self) -> bool:
        """Whether the sound loops."""
    @property
    def min_distance(self) -> float:
        """Distance within which it plays at full volume."""
    @property
    def max_distance(self) -> float:
        """Distance beyond which it is not heard."""
    @property
    def sound_file_key(self) -> Key | None:
        """Key of the buffer that holds the sound's file, or None."""
    def to_bytes(self) -> bytes:
        """The object's bytes, as the view was decoded from or replace() made them."""
    def replace(
        self,
        *,
        volume: float = ...,
        is_3d: bool = ...,
        auto_start: bool = ...,
        looping: bool = ...,
        min_distance: float = ...,
        max_distance: float = ...,
        sound_file_key: Key | None = ...,
    ) -> SoundInfo:
        """A new view with the given properties changed and every other byte of the object as it was. A value equal to the one shown keeps its stored bytes."""
    def __replace__(
        self,
        *,
        volume: float = ...,
        is_3d: bool = ...,
        auto_start: bool = ...,
        looping: bool = ...,
        min_distance: float = ...,
        max_distance: float = ...,
        sound_file_key: Key | None = ...,
    ) -> SoundInfo: ...

@final
class AgeFile:
    """Parsed .age file."""
    def __copy__(self) -> AgeFile: ...
    def __deepcopy__(self, memo: object, /) -> AgeFile: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def age_name(self) -> str:
        """Age name: the file's name without its extension."""
    @property
    def sequence_prefix(self) -> int:
        """The age's sequence prefix (SequencePrefix)."""
    @property
    def max_capacity(self) -> int:
        """Most players at once (MaxCapacity; -1 when not set)."""
    @property
    def day_length(self) -> float:
        """Length of the age's day (DayLength; 24.0 when not set)."""
    @property
    def start_date_time(self) -> int:
        """When the age's time starts, in seconds since 1970 (StartDateTime; 0 when not set)."""
    @property
    def linger_time(self) -> int:
        """Seconds the age stays loaded once empty (LingerTime; -1 when not set)."""
    @property
    def release_version(self) -> int:
        """The age's release version (ReleaseVersion; 0 when not set)."""
    @property
    def pages(self) -> list[PageEntry]:
        """The age's pages, in file order."""
    @staticmethod
    def load(path: StrOrBytesPath) -> AgeFile:
        """Load an .age file from disk."""
    @staticmethod
    def parse(age_name: str, content: str) -> AgeFile:
        """Parse .age content string."""
    @staticmethod
    def lint(path: StrOrBytesPath) -> list[LintProblem]:
        """List the problems of an .age file: each line the parser skips, guesses or defaults, as LintProblem(line, text, reason) in line order; a file that is no age description at all is one problem of line 0."""
    @staticmethod
    def lint_text(age_name: str, content: str) -> list[LintProblem]:
        """List the problems of .age content, as lint does for a file; age_name is taken as parse takes it."""
    def prp_filename(self, page_name: str) -> str | None:
        """Get the .prp filename for a page."""

@final
class PageEntry:
    def __copy__(self) -> PageEntry: ...
    def __deepcopy__(self, memo: object, /) -> PageEntry: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str:
        """Page name."""
    @property
    def seq_suffix(self) -> int:
        """The page's sequence suffix within the age."""
    @property
    def flags(self) -> int:
        """Page flags (bit 0: not loaded automatically)."""
    @property
    def auto_load(self) -> bool:
        """Whether the page is loaded with the age."""

@final
class LintProblem(NamedTuple):
    """A line of a description that its parser skips, guesses or defaults: its number, its text as written and the reason."""

    line: int
    """Line number, from 1; 0 for the file as a whole."""
    text: str
    """The line as written, without its line end; empty for line 0."""
    reason: str
    """What is wrong, and what the parser does with the line."""

@final
class SdlFile:
    """SDL state descriptor manager."""

    def __init__(self) -> None: ...
    def load_file(self, path: StrOrBytesPath) -> int:
        """Load a single .sdl file."""
    def load_directory(self, path: StrOrBytesPath) -> int:
        """Load all .sdl files from a directory."""
    def find(self, name: str, version: int) -> SdlDescriptor | None:
        """Find a descriptor by name. Returns None if not found."""
    @staticmethod
    def lint(path: StrOrBytesPath) -> list[LintProblem]:
        """List the problems of an .sdl file: each line the parser skips, guesses or defaults, as LintProblem(line, text, reason) in line order; a file that is no state description at all is one problem of line 0."""
    @staticmethod
    def lint_text(content: str) -> list[LintProblem]:
        """List the problems of .sdl content, as lint does for a file."""
    def versions(self, name: str) -> list[SdlDescriptor]:
        """Every descriptor of a name, the oldest version first."""
    def descriptors(self) -> list[SdlDescriptor]:
        """Get every descriptor, sorted by name, each name's versions in the order they were read."""
    @property
    def by_name(self) -> SdlNames:
        """A read-only mapping from each name to its newest descriptor, which follows what is loaded."""
    def __len__(self) -> int: ...

@final
@type_check_only
class SdlNames(Mapping[str, SdlDescriptor]):
    def __getitem__(self, key: str, /) -> SdlDescriptor: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...

@final
class SdlDescriptor:
    def __copy__(self) -> SdlDescriptor: ...
    def __deepcopy__(self, memo: object, /) -> SdlDescriptor: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str:
        """Descriptor name."""
    @property
    def version(self) -> int:
        """Descriptor version."""
    @property
    def variables(self) -> list[SdlVariable]:
        """The descriptor's variables, in file order."""

@final
class SdlVariable:
    def __copy__(self) -> SdlVariable: ...
    def __deepcopy__(self, memo: object, /) -> SdlVariable: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str:
        """Variable name."""
    @property
    def var_type(self) -> str:
        """Type name: Int, Float, Bool, String32, ..."""
    @property
    def count(self) -> int:
        """Number of elements (0 for a list of any length)."""
    @property
    def default_value(self) -> str | None:
        """Default value as written, or None."""

@final
class Key:
    """A reference to an object: where it lives, its class, id and name. Keys with the same fields are equal."""
    def __copy__(self) -> Key: ...
    def __deepcopy__(self, memo: object, /) -> Key: ...
    @property
    def location_sequence(self) -> int:
        """Sequence number of the page (location) the object belongs to."""
    @property
    def location_flags(self) -> int:
        """Flags of that location."""
    @property
    def load_mask(self) -> int:
        """Load-mask byte (0xFF when the key has none)."""
    @property
    def class_type(self) -> int:
        """Class type ID of the object."""
    @property
    def class_name(self) -> str:
        """Human-readable class type name."""
    @property
    def object_id(self) -> int:
        """Object ID."""
    @property
    def name(self) -> str:
        """Object name."""
    @property
    def clone_id(self) -> int:
        """Clone ID (0 when not a clone)."""
    @property
    def clone_player_id(self) -> int:
        """Clone player ID (0 when not a clone)."""
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PageBuilder:
    """A page put together object by object, then built into a new PrpFile. A new page has version 6, major version 70, checksum 0 and no class versions; objects of a class are kept together, in their order, new ones last."""

    def __new__(
        cls, age_name: str, page_name: str, sequence_number: int, *, flags: int = 0
    ) -> PageBuilder: ...
    @classmethod
    def from_page(cls, page: PrpFile) -> PageBuilder:
        """A builder holding every object of a PrpFile, in its order, and its header."""
    @property
    def rewritten(self) -> int:
        """References to the renamed object that the last rename or rename_references rewrote (to the renamed objects, after rename_all), the object's own key in its bytes not counted; 0 before any rename."""
    @property
    def unsearched(self) -> int:
        """Objects that may still refer to the old name after the last rename: those whose bytes hold it, stored as a name, where no key was read (of classes lumivex does not decode, whose bytes do not decode or decode only in part, or that store it otherwise); 0 before any rename."""
    @overload
    def add(self, class_type: int, name: str, data: Buffer) -> Key:
        """Add an object of the page's location with the next free id of its class and return its Key; data is any bytes-like object, copied. The own key the bytes hold, if any, becomes that Key, and bytes of another class are a ValueError. add(view) adds a view's object: its class and name are the view's, and its own key in its bytes becomes the new key."""
    @overload
    def add(self, class_type: _View, /) -> Key: ...
    def set(self, obj_or_key: Key | PrpObject, data: Buffer | _View) -> None:
        """Replace the bytes of an object by bytes (any bytes-like object, copied), or by a view of its class, whose own key then becomes the object's; bytes or a view of another class are a ValueError."""
    def remove(self, obj_or_key: Key | PrpObject) -> None:
        """Remove an object; the others keep their ids, and references to it are left dangling."""
    def rename(self, obj_or_key: Key | PrpObject, new_name: str) -> Key:
        """Rename an object: its key, its own key in its bytes and every reference to it a decoder finds in the page. Returns the new Key; rewritten then counts those references, and unsearched the objects that may still refer to the old name."""
    def rename_references(self, key: Key | PrpObject, new_name: str) -> int:
        """Follow the rename of an object of another page: rewrite every reference to its key that a decoder finds in this page. Returns the number of references rewritten; unsearched then counts the objects that may still refer to the old name."""
    def rename_all(
        self,
        renames: Mapping[Key, str]
        | Mapping[PrpObject, str]
        | Mapping[Key | PrpObject, str]
        | Iterable[tuple[Key | PrpObject, str]],
    ) -> list[tuple[Key, int, int]]:
        """Rename several objects at once, in one pass over the page: renames gives each object or key its new name, as a mapping or as pairs. An object of this page is renamed as rename() renames it; a key of another page has its references here followed, as rename_references() follows them. The names change together, so objects may swap names or pass them along; an object given twice, or a name two objects of a class would hold, is a ValueError and nothing changes. Returns (new Key, references rewritten, objects that may still refer to the old name) for each, in order; rewritten and unsearched then hold their sums."""
    def build(self) -> PrpFile:
        """A new PrpFile of the objects, in the writer's normal form."""
    def save(self, path: StrOrBytesPath) -> None:
        """Build the page and save it as PrpFile.save does."""
    def __copy__(self) -> PageBuilder:
        """A new builder of the same objects and header, whose changes leave this one as it is."""
    def __deepcopy__(self, memo: object, /) -> PageBuilder:
        """As __copy__: the objects' bytes never change, so they are shared."""
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Key]: ...
    def __contains__(self, item: object, /) -> bool: ...

# The views, which PageBuilder.add and set take.
_View = (
    SceneObject
    | Mipmap
    | Material
    | Layer
    | PythonFileMod
    | ResponderMod
    | PhysicalData
    | SoundInfo
)

# What a failure of the system raises: the built-in class, with the message as
# its text and errno, strerror and filename set.
class OSError(builtins.OSError): ...
class BlockingIOError(builtins.BlockingIOError): ...
class ChildProcessError(builtins.ChildProcessError): ...
class ConnectionError(builtins.ConnectionError): ...
class BrokenPipeError(builtins.BrokenPipeError): ...
class ConnectionAbortedError(builtins.ConnectionAbortedError): ...
class ConnectionRefusedError(builtins.ConnectionRefusedError): ...
class ConnectionResetError(builtins.ConnectionResetError): ...
class FileExistsError(builtins.FileExistsError): ...
class FileNotFoundError(builtins.FileNotFoundError): ...
class InterruptedError(builtins.InterruptedError): ...
class IsADirectoryError(builtins.IsADirectoryError): ...
class NotADirectoryError(builtins.NotADirectoryError): ...
class PermissionError(builtins.PermissionError): ...
class ProcessLookupError(builtins.ProcessLookupError): ...
class TimeoutError(builtins.TimeoutError): ...
