"""Reading and pressing the program's controls through the accessibility
bus (AT-SPI). Imported once the desktop's session bus is up: the library
finds the accessibility bus through it."""

import time

import pyatspi  # python3-pyatspi, pulled in by python3-dogtail
from gi.repository import GLib

from desktop import Failure, wait_until

def app():
    desktop = pyatspi.Registry.getDesktop(0)
    for candidate in desktop:
        try:
            if candidate is not None and candidate.name.lower() == "quillon":
                return candidate
        except Exception:
            continue
    return None


# A node with more children than this is a list of entries, not where
# controls live: walking it item by item over the bus would take minutes.
MANY = 500


def walk(node, depth=0):
    yield node
    if depth > 12:
        return
    try:
        if depth > 0 and node.childCount > MANY:
            return
        children = list(node)
    except Exception:
        return
    for child in children:
        if child is not None:
            yield from walk(child, depth + 1)


def role(node):
    return node.getRoleName()


def extents(node):
    e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def showing(node):
    """On screen as a person sees it: showing, with a size."""
    try:
        state = node.getState()
        _, _, w, h = extents(node)
        return state.contains(pyatspi.STATE_SHOWING) and w > 0 and h > 0
    except Exception:
        return False


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def find_all(role_name, name=None, root=None, visible=True):
    root = root if root is not None else app()
    if root is None:
        return []
    found = []
    for node in walk(root):
        try:
            if role(node) == role_name and (name is None or node.name == name):
                if not visible or showing(node):
                    found.append(node)
        except Exception:
            continue
    return found


def find(role_name, name=None, root=None, timeout=10.0):
    """The one control of that role and name that is on screen."""
    return wait_until(f"{role_name} '{name}' on screen",
                      lambda: (find_all(role_name, name, root) or [None])[0], timeout)


def open_list_entry(desktop, combo, entry):
    """Opens the drop-down with the mouse; the entry's node once on screen."""
    x, y, w, h = extents(combo)
    desktop.click(x + w - 8, y + h // 2)
    return wait_until(f"the list entry {entry} on screen", lambda: next(
        (n for n in walk(combo) if role(n) == "list item" and n.name == entry
         and showing(n)), None))


def centre(node):
    x, y, w, h = extents(node)
    return x + w // 2, y + h // 2


def text_of(node):
    try:
        t = node.queryText()
        return t.getText(0, t.characterCount)
    except Exception:
        return node.name


def main_window():
    return (find_all("dialog", "Quillon") or [None])[0]


def alert():
    """The message box on screen, or None: (its text, its node)."""
    for node in find_all("alert"):
        labels = [n.name for n in walk(node) if role(n) == "label" and n.name]
        return node, "\n".join(labels)
    return None


_popups = []
_watching = False


def _on_showing(event):
    try:
        if event.detail1 == 1 and role(event.source) == "popup menu":
            _popups.append(event.source)
    except Exception:
        pass


def watch_popup_menus():
    """Listens for pop-up menus from now on. Call it before the program
    starts: a Qt program sends only the events that listeners had asked for
    when it learnt of them."""
    global _watching
    if not _watching:
        pyatspi.Registry.registerEventListener(_on_showing, "object:state-changed:showing")
        _watching = True


def popup_menu_after(action, timeout=5.0):
    """Runs `action` and returns the pop-up menu that comes on screen: Qt
    does not list a pop-up menu under the application, but tells of it when
    it shows."""
    context = GLib.MainContext.default()
    while context.iteration(False):  # what came before the action is not its menu
        pass
    _popups.clear()
    action()
    deadline = time.monotonic() + timeout
    while not _popups and time.monotonic() < deadline:
        if not context.iteration(False):
            time.sleep(0.02)
    if not _popups:
        raise Failure("no pop-up menu came on screen")
    return _popups[-1]
