#!/usr/bin/env python3
"""Checks that each folder of the table engine includes only the folders below it.

Order, lowest first: files, storage, values, table, sql, components. The engine's
front (errors, database_error, engine) is usable from every folder. The one tie
upward is the cursor's filter list (table/data_cursor.cpp uses sql/filter.h).
Exits 1 and lists each include that reaches upward."""
import os, re, sys

ORDER = ['files', 'storage', 'values', 'table', 'sql', 'components']
ALLOWED_UPWARD = {('table/data_cursor.cpp', 'sql/filter.h')}
FRONT_HEADERS = {'errors.h', 'database_error.h', 'engine.h'}
root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'engine')
bad = []
for wing in ORDER:
    folder = os.path.join(root, wing)
    if not os.path.isdir(folder):
        continue
    for name in sorted(os.listdir(folder)):
        text = open(os.path.join(folder, name), encoding='utf-8').read()
        for target in re.findall(r'#include "engine/([^"]+)"', text):
            if '/' not in target:
                if target not in FRONT_HEADERS:
                    bad.append(f'{wing}/{name} -> {target}')
                continue
            tw = target.split('/')[0]
            if ORDER.index(tw) > ORDER.index(wing) and (f'{wing}/{name}', target) not in ALLOWED_UPWARD:
                bad.append(f'{wing}/{name} -> {target}')
for b in bad:
    print('upward include:', b)
sys.exit(1 if bad else 0)
