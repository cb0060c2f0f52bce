#!/usr/bin/env python3
"""Copies a type with its modules and their terminal rows between catalogues.

    copy_type.py SOURCE TARGET MANUFACTURER SERIES TYPE

Either catalogue may be a file or a postgresql:// URI.  The type is added
to TARGET (with its manufacturer and series when they are missing); a type
that TARGET lists already is refused (kivplc.Duplicate).
"""
import sys

import kivplc


def main(source, target, manufacturer, series, type_name):
    with kivplc.open(source) as src, kivplc.open(target) as dst:
        original = src.type(manufacturer, series, type_name)
        copy = dst.add_type(manufacturer, series, type_name)
        fields = [c.lower() for c, _ in kivplc.SPEC_COLUMNS if c != "CODE"]
        if not copy.has_category or not original.has_category:
            fields.remove("category")
        count = 0
        for module in original:
            copy.add_module(module.code, module.terminals, **{f: getattr(module, f) for f in fields})
            count += 1
    print(f"copied {count} modules of {manufacturer} / {series} / {type_name}")


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    try:
        main(*sys.argv[1:])
    except kivplc.Error as e:  # a refusal is a message, not a traceback
        sys.exit(f"{sys.argv[0]}: {e}")
