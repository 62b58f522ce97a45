"""lumivex Python module."""

from lumivex._lumivex import (
    AgeFile,
    Key,
    Layer,
    LintProblem,
    Material,
    Mipmap,
    PageEntry,
    PageHeaderInfo,
    PhysicalData,
    PrpFile,
    PrpObject,
    PythonFileMod,
    PythonParam,
    ResponderMod,
    SceneObject,
    SdlDescriptor,
    SdlFile,
    SdlVariable,
    SoundInfo,
    class_name,
    save_file,
)
from lumivex.age import Age
from lumivex.diff import Change, diff

__version__ = "0.1.0"

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
    "Age",
    "LintProblem",
    "class_name",
    "save_file",
    "Change",
    "diff",
]
