"""Writes the Python package's reference as HTML, from its docstrings, with pydoc.

    python3 docs/python_reference.py WHEEL OUT_DIR

The package is imported from the wheel itself (unpacked into a temporary
folder), so the reference describes what users install. Every public module,
class, function, method and property the package defines must have a
docstring: one without fails, naming it, and nothing is written.
"""

import importlib
import inspect
import pydoc
import re
import sys
import tempfile
import zipfile
from pathlib import Path

PACKAGE = "qx480"


def public_modules(package):
    """The package and its Python modules whose names do not start with an underscore."""
    sources = sorted(Path(package.__file__).parent.glob("*.py"))
    names = [PACKAGE] + [f"{PACKAGE}.{s.stem}" for s in sources if not s.stem.startswith("_")]
    return [importlib.import_module(name) for name in names]


def defined_here(obj, module):
    return getattr(obj, "__module__", None) == module.__name__


def undocumented(module):
    """The qualified names of the public members that the module defines and that have no docstring."""
    missing = [] if inspect.getdoc(module) else [module.__name__]
    for name, obj in vars(module).items():
        if name.startswith("_") or not defined_here(obj, module):
            continue
        if inspect.isfunction(obj) and not obj.__doc__:
            missing.append(f"{module.__name__}.{name}")
        elif inspect.isclass(obj):
            if not obj.__doc__:
                missing.append(f"{module.__name__}.{name}")
            for member_name, member in vars(obj).items():
                is_method = inspect.isfunction(member) or isinstance(member, (staticmethod, classmethod, property))
                if member_name.startswith("_") or not is_method:
                    continue
                function = member.fget if isinstance(member, property) else getattr(member, "__func__", member)
                if not (function and function.__doc__):
                    missing.append(f"{module.__name__}.{name}.{member_name}")
    return missing


def main(wheel, out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as unpacked:
        zipfile.ZipFile(wheel).extractall(unpacked)
        sys.path.insert(0, unpacked)
        modules = public_modules(importlib.import_module(PACKAGE))
        missing = [name for module in modules for name in undocumented(module)]
        if missing:
            sys.exit("no docstring: " + ", ".join(missing))
        for module in modules:
            page = pydoc.html.page(pydoc.describe(module), pydoc.html.document(module, module.__name__))
            # pydoc links each module to its file, which the reference does not hold: name it instead.
            page = re.sub(f'<a href="file:{re.escape(unpacked)}/([^"]*)">[^<]*</a>', r"\1", page)
            (out / f"{module.__name__}.html").write_text(page, encoding="utf-8")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: python_reference.py WHEEL OUT_DIR")
    main(sys.argv[1], sys.argv[2])
