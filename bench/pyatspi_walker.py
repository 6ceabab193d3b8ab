#!/usr/bin/python3
"""The peer Tovrin's page reads are measured against: a plain pyatspi walk
of the front browser's page, with blocking calls as accessibility inspectors
make them, asking each node what a page reader needs (role, name,
description, states, attributes, extents, text, actions, children).

    pyatspi_walker.py PID NODES

Walks the page (the showing document of the process PID) in pre-order and
stops after NODES nodes; prints the count and the seconds it took.
"""
import sys
import time

import pyatspi


def find_document(app):
    stack = [app]
    while stack:
        node = stack.pop()
        try:
            if node.getRole() == pyatspi.ROLE_DOCUMENT_WEB and node.getState().contains(
                    pyatspi.STATE_SHOWING):
                return node
            stack.extend(reversed([node.getChildAtIndex(i) for i in range(node.childCount)]))
        except Exception:
            continue
    return None


def read(node):
    node.getRole()
    node.name
    node.description
    node.getState()
    node.getAttributes()
    try:
        node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    except NotImplementedError:
        pass
    try:
        text = node.queryText()
        text.getText(0, -1)
    except NotImplementedError:
        pass
    try:
        action = node.queryAction()
        for i in range(action.nActions):
            action.getName(i)
    except NotImplementedError:
        pass
    return [node.getChildAtIndex(i) for i in range(node.childCount)]


def main():
    pid, limit = int(sys.argv[1]), int(sys.argv[2])
    desktop = pyatspi.Registry.getDesktop(0)
    app = next((a for a in desktop if a is not None and a.get_process_id() == pid), None)
    if app is None:
        sys.exit("walker: no application with pid %d on the bus" % pid)
    document = find_document(app)
    if document is None:
        sys.exit("walker: no showing document")
    start = time.monotonic()
    count = 0
    stack = [document]
    while stack and count < limit:
        node = stack.pop()
        if node is None:
            continue
        try:
            children = read(node)
        except Exception:
            children = []
        count += 1
        stack.extend(reversed(children))
    print("%d nodes in %.2fs" % (count, time.monotonic() - start))


main()
